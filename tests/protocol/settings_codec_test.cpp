#include "protocol/settings_codec.h"

#include "tests/protocol/fake_controls.h"

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace glowstep {
namespace {

using fakes::FakeControls;

using F = TSettingsField;

std::string Hex(const std::uint8_t* bytes, std::size_t n) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    if (i) out += ' ';
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
  return out;
}

bool ZeroFrom(const SettingsReport& r, std::size_t from) {
  for (std::size_t i = from; i < r.size(); ++i) {
    if (r[i] != 0) return false;
  }
  return true;
}

SettingsReport Encoded(const StairSettings& s) {
  SettingsReport r;
  r.fill(0xAA);
  EncodeWriteReport(s, r);
  return r;
}

TEST(WriteReport, DefaultsGiveTheKnownBytes) {
  FakeControls controls;
  TSettingsCodec codec;
  codec.BuildWriteReport(controls);
  const SettingsReport& r = codec.Report();
  EXPECT_EQ(Hex(r.data(), 21), "00 77 0A 3C 01 00 FF FF FF 30 30 00 F4 01 77 01 02 0A 00 64 00");
  EXPECT_TRUE(ZeroFrom(r, 21));
  EXPECT_EQ(r.size(), 65U);
}

TEST(ReadRequest, IsTheLetterRAndZeros) {
  TSettingsCodec codec;
  codec.BuildWriteReport(FakeControls{});
  codec.BuildReadRequest();
  EXPECT_EQ(codec.Report()[0], 0);
  EXPECT_EQ(codec.Report()[1], 0x72);
  EXPECT_TRUE(ZeroFrom(codec.Report(), 2));
}

struct OnTimeCase {
  int stairs, leds;
  Extended seconds;
  int wire;
};

// Printed by its values: the default printer would dump the row's bytes, padding included, which
// puts indeterminate bytes into the test's listing.
void PrintTo(const OnTimeCase& c, std::ostream* os) {
  *os << c.stairs << " stairs x " << c.leds << " LEDs, " << c.seconds.ToDouble() << " s -> "
      << c.wire;
}

class OnTimeRule : public ::testing::TestWithParam<OnTimeCase> {};

TEST_P(OnTimeRule, EncodesByTheTotalNumberOfLeds) {
  const OnTimeCase c = GetParam();
  StairSettings s;
  s.Stairs_count = c.stairs;
  s.LEDs_in_one_stair = c.leds;
  s.ON_time = c.seconds;
  const SettingsReport r = Encoded(s);
  EXPECT_EQ(r[12] + r[13] * 256, c.wire);
}

INSTANTIATE_TEST_SUITE_P(Cases,
                         OnTimeRule,
                         ::testing::Values(OnTimeCase{10, 120, 20, 500},  // N = 1200, plain
                                           OnTimeCase{6, 201, 20, 471},   // N = 1206, k 1.06128
                                           OnTimeCase{20, 100, 20, 284},  // N = 2000, k 1.76
                                           OnTimeCase{250, 240, 1, 0},    // N = 60000, k 52.8
                                           OnTimeCase{250, 240, 20, 9},
                                           OnTimeCase{10, 60, 300, 7500},  // largest plain value
                                           OnTimeCase{10, 60, 1.24_ext, 31}),
                         [](const auto& row) {
                           const OnTimeCase& c = row.param;
                           return std::to_string(c.stairs) + "x" + std::to_string(c.leds) + "_" +
                                  std::to_string(c.wire);
                         });

TEST(OnTimeRule, DecodesWithTheSameFactor) {
  EXPECT_EQ(DecodeOnTime(471, 6, 201), 20);
  EXPECT_EQ(DecodeOnTime(284, 20, 100), 20);
  EXPECT_EQ(DecodeOnTime(9, 250, 240), 19);
  EXPECT_EQ(DecodeOnTime(31, 10, 60), 1.24_ext);
  EXPECT_EQ(DecodeOnTime(500, 10, 120), 20);
}

TEST(WriteReport, TruncatesTheSensorTimeOfItsNearestExtendedValue) {
  // Every two-decimal text from 0.00 to 2.50 is sent as the truncation of its exact product with
  // 25, except 2.12 and 2.36, whose nearest extended values lie just below the decimal.
  for (int hundredths = 0; hundredths <= 250; ++hundredths) {
    StairSettings s;
    s.Sensor_time = *TextToFloat(FormatFixed(Extended{hundredths} / 100, 2, TNumberFormat{}), u'.');
    int expected = hundredths / 4;
    if (hundredths == 212 || hundredths == 236) expected -= 1;
    EXPECT_EQ(Encoded(s)[16], expected) << hundredths;
  }
}

TEST(WriteReport, EncodesTheLargestValuesOfEveryField) {
  StairSettings s;
  s.Stairs_count = 250;
  s.LEDs_in_one_stair = 240;
  s.Idle_LEDs = 120;
  s.MainColorValue = 0x123456;  // blue 12, green 34, red 56
  s.IdleColorValue = 0xABCDEF;
  s.Delay_time = 300;
  s.Sensor_time = 2.5_ext;
  s.Photo_time = 1800;
  s.PhotoLevel = 1000;
  const SettingsReport r = Encoded(s);
  EXPECT_EQ(Hex(&r[2], 3), "FA F0 78");
  EXPECT_EQ(Hex(&r[5], 7), "00 34 56 12 CD EF AB");
  EXPECT_EQ(Hex(&r[14], 7), "4C 1D 3E 08 07 E8 03");
  EXPECT_TRUE(ZeroFrom(r, 21));
}

TEST(ApplyReply, DefaultWriteReportReadsBackAsTheDefaults) {
  FakeControls written;
  TSettingsCodec codec;
  codec.BuildWriteReport(written);
  SettingsReport reply = codec.Report();

  FakeControls controls;
  for (auto& [field, f] : controls.fields_) f.text = u"1";
  controls.level_ = 0;
  TSettingsCodec receiver;
  receiver.SetMainColorValue(0);
  receiver.SetIdleColorValue(0);
  ASSERT_TRUE(receiver.ApplyReply(&reply[1], 64, controls));

  EXPECT_EQ(controls.Text(F::Stairs_count), "10");
  EXPECT_EQ(controls.Text(F::LEDs_in_one_stair), "60");
  EXPECT_EQ(controls.Text(F::Idle_LEDs), "1");
  EXPECT_EQ(controls.Text(F::ON_time), "20");
  EXPECT_EQ(controls.Text(F::Delay_time), "15");
  EXPECT_EQ(controls.Text(F::Sensor_time), "0.08");  // 0.1 s went out as 2 ticks
  EXPECT_EQ(controls.Text(F::Photo_time), "10");
  EXPECT_EQ(controls.level_, 100);
  EXPECT_EQ(receiver.MainColorValue(), 0xFFFFFFU);
  EXPECT_EQ(receiver.IdleColorValue(), 0x003030U);
  EXPECT_EQ(controls.swatches_[TColorSwatch::MainColor], 0xFFFFFFU);
  EXPECT_EQ(controls.swatches_[TColorSwatch::IdleColor], 0x00FFFFU);
}

TEST(ApplyReply, SetsTheControlsInTheControllersOrder) {
  SettingsReport reply{};
  FakeControls controls;
  TSettingsCodec codec;
  ASSERT_TRUE(codec.ApplyReply(&reply[1], 64, controls));
  const std::vector<F> expected{F::Stairs_count, F::LEDs_in_one_stair, F::Idle_LEDs,
                                F::ON_time,      F::Delay_time,        F::Sensor_time,
                                F::Photo_time,   F::PhotoLevel};
  EXPECT_EQ(controls.order_, expected);
}

TEST(ApplyReply, DecodesOnTimeWithTheCountsTheControlsGaveBack) {
  // 5 stairs of 241 LEDs would be 1205 LEDs (factor rule), but the LED field clamps to 240, so
  // 1200 LEDs count and the plain rule applies: 500 ticks are 20 s, not 21 s.
  SettingsReport reply{};
  reply[2] = 5;
  reply[3] = 241;
  reply[12] = 500 % 256;
  reply[13] = 500 / 256;
  FakeControls controls;
  TSettingsCodec codec;
  ASSERT_TRUE(codec.ApplyReply(&reply[1], 64, controls));
  EXPECT_EQ(controls.Text(F::LEDs_in_one_stair), "240");
  EXPECT_EQ(controls.Text(F::ON_time), "20");
}

TEST(ApplyReply, HandsOverRealValuesThatTheFieldsRound) {
  SettingsReport reply{};
  reply[2] = 10;
  reply[3] = 60;
  reply[12] = 31;  // 1.24 s, shown by the integer field as 1
  reply[16] = 62;  // 2.48 s
  FakeControls controls;
  TSettingsCodec codec;
  ASSERT_TRUE(codec.ApplyReply(&reply[1], 64, controls));
  EXPECT_EQ(controls.Text(F::ON_time), "1");
  EXPECT_EQ(controls.Text(F::Sensor_time), "2.48");
  codec.BuildWriteReport(controls);
  EXPECT_EQ(codec.Report()[12], 25);  // 1 s
  EXPECT_EQ(codec.Report()[16], 62);
}

TEST(ApplyReply, SensorTicksOf53And59ComeBackOneLower) {
  for (auto [ticks, resent] : {std::pair{53, 52}, std::pair{59, 58}, std::pair{62, 62}}) {
    SettingsReport reply{};
    reply[2] = 10;
    reply[3] = 60;
    reply[16] = static_cast<std::uint8_t>(ticks);
    FakeControls controls;
    TSettingsCodec codec;
    ASSERT_TRUE(codec.ApplyReply(&reply[1], 64, controls));
    codec.BuildWriteReport(controls);
    EXPECT_EQ(codec.Report()[16], resent) << ticks;
  }
}

TEST(ApplyReply, IgnoresAPayloadTooShortToHoldTheSettings) {
  SettingsReport reply{};
  reply[2] = 50;
  FakeControls controls;
  TSettingsCodec codec;
  EXPECT_FALSE(codec.ApplyReply(&reply[1], TSettingsCodec::kReplySettingsSize - 1, controls));
  EXPECT_FALSE(codec.ApplyReply(nullptr, 64, controls));
  EXPECT_TRUE(controls.order_.empty());
  EXPECT_EQ(codec.MainColorValue(), 0xFFFFFFU);
}

TEST(NormalizeColor, ScalesTheLargestChannelToFullBrightness) {
  EXPECT_EQ(NormalizeColor(0x003030), 0x00FFFFU);
  EXPECT_EQ(NormalizeColor(0x000064), 0x0000FEU);  // red 100 becomes 254
  EXPECT_EQ(NormalizeColor(100 | (20 << 8) | (10 << 16)), 254U | (50U << 8) | (25U << 16));
  EXPECT_EQ(NormalizeColor(0x808080), 0xFFFFFFU);
  EXPECT_EQ(NormalizeColor(0xFFFFFF), 0xFFFFFFU);
  EXPECT_EQ(NormalizeColor(0x0000FF), 0x0000FFU);
  EXPECT_EQ(NormalizeColor(0x10FF20), 0x10FF20U);  // a full channel leaves the colour as it is
  EXPECT_EQ(NormalizeColor(0), 0U);                // black stays black
}

TEST(NormalizeColor, GivesTwoFiftyFourFor110ChannelValues) {
  int count = 0;
  for (unsigned m = 1; m <= 255; ++m) {
    const TColor grey = NormalizeColor(m | (m << 8) | (m << 16));
    const unsigned top = grey & 0xFF;
    ASSERT_TRUE(top == 255 || top == 254) << m;
    if (top == 254) ++count;
  }
  EXPECT_EQ(count, 110);
  for (unsigned m : {9U, 25U, 100U, 200U}) EXPECT_EQ(NormalizeColor(m) & 0xFF, 254U) << m;
}

}  // namespace
}  // namespace glowstep
