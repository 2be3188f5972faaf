#include "protocol/settings_codec.h"

#include <algorithm>

namespace glowstep {

namespace {

constexpr Extended kTicksPerSecond = 25;  // one tick is 40 ms
constexpr unsigned kPlainRuleMaxLeds = 1200;

std::uint8_t LowByte(std::int64_t value) { return static_cast<std::uint8_t>(value & 0xFF); }

std::uint8_t Red(TColor c) { return static_cast<std::uint8_t>(c & 0xFF); }
std::uint8_t Green(TColor c) { return static_cast<std::uint8_t>((c >> 8) & 0xFF); }
std::uint8_t Blue(TColor c) { return static_cast<std::uint8_t>((c >> 16) & 0xFF); }

TColor MakeColor(unsigned red, unsigned green, unsigned blue) {
  return red | (green << 8) | (blue << 16);
}

// The total number of LEDs, truncated and taken as an unsigned 16-bit number.
unsigned LedCount(Extended stairs, Extended ledsPerStair) {
  return static_cast<std::uint16_t>(Trunc(ledsPerStair * stairs));
}

// k = N * 0.88 / 1000 in extended precision, then rounded to double.
Extended OnTimeFactor(unsigned leds) { return RoundToDouble(Extended{leds} * 0.88_ext / 1000); }

// A colour travels as green, red, blue.
void PutColor(SettingsReport& report, std::size_t at, TColor color) {
  report[at] = Green(color);
  report[at + 1] = Red(color);
  report[at + 2] = Blue(color);
}

TColor TakeColor(const std::uint8_t* payload, std::size_t at) {
  return MakeColor(payload[at + 1], payload[at], payload[at + 2]);
}

unsigned Word(const std::uint8_t* payload, std::size_t at) {
  return payload[at] + payload[at + 1] * 256U;
}

}  // namespace

TColor NormalizeColor(TColor color) {
  const unsigned r = Red(color);
  const unsigned g = Green(color);
  const unsigned b = Blue(color);
  const unsigned m = std::max({r, g, b});
  if (m == 0) return 0;
  const Extended scale = RoundToDouble(Extended{255} / m);
  // channel (8 bits) times scale (53 bits) fits the 64-bit mantissa, so the product is exact
  auto scaled = [scale](unsigned channel) { return static_cast<unsigned>(Trunc(channel * scale)); };
  return MakeColor(scaled(r), scaled(g), scaled(b));
}

std::uint16_t EncodeOnTime(Extended seconds, Extended stairs, Extended ledsPerStair) {
  const unsigned leds = LedCount(stairs, ledsPerStair);
  std::int64_t wire = 0;
  if (leds <= kPlainRuleMaxLeds) {
    wire = Trunc(seconds * kTicksPerSecond);
  } else {
    wire = RoundHalfEven(seconds * kTicksPerSecond / OnTimeFactor(leds));
  }
  return static_cast<std::uint16_t>(wire & 0xFFFF);
}

Extended DecodeOnTime(std::uint16_t wireValue, Extended stairs, Extended ledsPerStair) {
  const unsigned leds = LedCount(stairs, ledsPerStair);
  if (leds <= kPlainRuleMaxLeds) return wireValue / kTicksPerSecond;
  return static_cast<Extended>(RoundHalfEven(wireValue * OnTimeFactor(leds) / kTicksPerSecond));
}

void EncodeWriteReport(const StairSettings& s, SettingsReport& report) {
  report.fill(0);
  report[kCommandByte] = kWriteCommand;
  report[2] = LowByte(Trunc(s.Stairs_count));
  report[3] = LowByte(Trunc(s.LEDs_in_one_stair));
  report[4] = LowByte(Trunc(s.Idle_LEDs));
  PutColor(report, 6, s.MainColorValue);
  PutColor(report, 9, s.IdleColorValue);
  const std::uint16_t onTime = EncodeOnTime(s.ON_time, s.Stairs_count, s.LEDs_in_one_stair);
  report[12] = LowByte(onTime);
  report[13] = LowByte(onTime >> 8);
  report[14] = LowByte(Trunc(s.Delay_time * kTicksPerSecond));
  report[15] = LowByte(Trunc(s.Delay_time * kTicksPerSecond / 256));
  report[16] = LowByte(Trunc(s.Sensor_time * kTicksPerSecond));
  report[17] = LowByte(Trunc(s.Photo_time));
  report[18] = LowByte(Trunc(s.Photo_time / 256));
  report[19] = LowByte(Trunc(s.PhotoLevel));
  report[20] = LowByte(Trunc(s.PhotoLevel / 256));
}

void TSettingsCodec::BuildReadRequest() {
  ClearReport();
  Report_[kCommandByte] = kReadCommand;
}

StairSettings TSettingsCodec::CurrentSettings(const TSettingsControls& controls) const {
  StairSettings s;
  s.Stairs_count = controls.FieldValue(TSettingsField::Stairs_count);
  s.LEDs_in_one_stair = controls.FieldValue(TSettingsField::LEDs_in_one_stair);
  s.Idle_LEDs = controls.FieldValue(TSettingsField::Idle_LEDs);
  s.MainColorValue = MainColor_;
  s.IdleColorValue = IdleColor_;
  s.ON_time = controls.FieldValue(TSettingsField::ON_time);
  s.Delay_time = controls.FieldValue(TSettingsField::Delay_time);
  s.Sensor_time = controls.FieldValue(TSettingsField::Sensor_time);
  s.Photo_time = controls.FieldValue(TSettingsField::Photo_time);
  s.PhotoLevel = controls.FieldValue(TSettingsField::PhotoLevel);
  return s;
}

void TSettingsCodec::BuildWriteReport(const TSettingsControls& controls) {
  EncodeWriteReport(CurrentSettings(controls), Report_);
}

bool TSettingsCodec::ApplyReply(const std::uint8_t* payload,
                                std::size_t size,
                                TSettingsControls& controls) {
  if (payload == nullptr || size < kReplySettingsSize) return false;
  using F = TSettingsField;
  controls.SetFieldValue(F::Stairs_count, payload[1]);
  controls.SetFieldValue(F::LEDs_in_one_stair, payload[2]);
  controls.SetFieldValue(F::Idle_LEDs, payload[3]);

  MainColor_ = TakeColor(payload, 5);
  controls.SetSwatchColor(TColorSwatch::MainColor, NormalizeColor(MainColor_));
  IdleColor_ = TakeColor(payload, 8);
  controls.SetSwatchColor(TColorSwatch::IdleColor, NormalizeColor(IdleColor_));

  // The counts as the controls give them back now: a count their range changed counts changed.
  const auto onTime = static_cast<std::uint16_t>(Word(payload, 11));
  controls.SetFieldValue(F::ON_time, DecodeOnTime(onTime, controls.FieldValue(F::Stairs_count),
                                                  controls.FieldValue(F::LEDs_in_one_stair)));
  controls.SetFieldValue(F::Delay_time, Word(payload, 13) / kTicksPerSecond);
  controls.SetFieldValue(F::Sensor_time, payload[15] / kTicksPerSecond);
  controls.SetFieldValue(F::Photo_time, Word(payload, 16));
  controls.SetFieldValue(F::PhotoLevel, Word(payload, 18));
  return true;
}

}  // namespace glowstep
