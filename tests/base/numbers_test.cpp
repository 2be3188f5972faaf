#include "numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace glowstep {
namespace {

const TNumberFormat kDot{u'.', u','};
const TNumberFormat kComma{u',', u'\u00A0'};

std::string Fixed(Extended v, int decimals, const TNumberFormat& f = kDot, bool group = false) {
  return ToUtf8(FormatFixed(v, decimals, f, group));
}

std::optional<Extended> Float(const char16_t* text, char16_t separator = u'.') {
  return TextToFloat(text, separator);
}

TEST(TextToFloat, ReadsTheExtendedValueNearestToTheDecimalNumber) {
  // The compiler rounds long double literals correctly; up to 19 digits the reader must agree.
  EXPECT_EQ(Float(u"0.10"), 0.1L);
  EXPECT_EQ(Float(u"2.12"), 2.12L);
  EXPECT_EQ(Float(u"2.36"), 2.36L);
  EXPECT_EQ(Float(u"0.000001"), 0.000001L);
  EXPECT_EQ(Float(u"1e-5"), 1e-5L);
  EXPECT_EQ(Float(u"123456789012345678"), 123456789012345678.0L);
  EXPECT_EQ(Float(u"9.87654321098765432"), 9.87654321098765432L);
  EXPECT_EQ(Float(u"3.5E+20"), 3.5e20L);
  EXPECT_EQ(Float(u"000123.4500"), 123.45L);
  // 0.10 lies just above 0.1 and 2.12 just below 2.12: callers that scale and truncate see it.
  EXPECT_EQ(Trunc(*Float(u"0.10") * 10), 1);
  EXPECT_EQ(Trunc(*Float(u"2.12") * 25), 52);
}

TEST(TextToFloat, FollowsTheFieldSyntax) {
  EXPECT_EQ(Float(u"  +1.5  "), 1.5L);
  EXPECT_EQ(Float(u"-2.25"), -2.25L);
  EXPECT_EQ(Float(u"."), 0.0L);  // a lone separator reads as 0
  EXPECT_EQ(Float(u"-."), 0.0L);
  EXPECT_EQ(Float(u"5."), 5.0L);
  EXPECT_EQ(Float(u".5"), 0.5L);
  EXPECT_EQ(Float(u"1e3"), 1000.0L);
  EXPECT_EQ(Float(u"1,5", u','), 1.5L);
  for (const char16_t* bad : {u"", u"  ", u"-", u"+", u"e5", u"1e", u"1e+", u"1.5x", u"1 .5",
                              u"1..5", u"--1", u"1e5.0", u"1,5", u"1e5000", u"\u0661"}) {
    EXPECT_FALSE(Float(bad).has_value()) << ToUtf8(bad);
  }
  EXPECT_FALSE(Float(u"1.5", u',').has_value());
}

TEST(TextToFloat, KeepsExtremeExponentsFiniteOrFails) {
  auto big = Float(u"1e4000");
  ASSERT_TRUE(big.has_value());
  EXPECT_NEAR(static_cast<double>(std::log10(*big)), 4000.0, 1e-9);
  auto tiny = Float(u"1e-4000");
  ASSERT_TRUE(tiny.has_value());
  EXPECT_GT(*tiny, 0.0L);
  EXPECT_EQ(Float(u"0e99999"), 0.0L);
  EXPECT_FALSE(Float(u"1e99999").has_value());
}

TEST(TextToInt, ReadsSigned32BitDecimalAndDollarHex) {
  EXPECT_EQ(TextToInt(u"42"), 42);
  EXPECT_EQ(TextToInt(u"  -42"), -42);
  EXPECT_EQ(TextToInt(u"+7"), 7);
  EXPECT_EQ(TextToInt(u"$FF"), 255);
  EXPECT_EQ(TextToInt(u"$ff"), 255);
  EXPECT_EQ(TextToInt(u"$FFFFFFFF"), -1);
  EXPECT_EQ(TextToInt(u"-$10"), -16);
  EXPECT_EQ(TextToInt(u"2147483647"), 2147483647);
  EXPECT_EQ(TextToInt(u"-2147483648"), -2147483647 - 1);
  for (const char16_t* bad : {u"", u" ", u"-", u"$", u"2147483648", u"-2147483649", u"$100000000",
                              u"1.0", u"12 ", u"1e3", u"0x10", u"$G"}) {
    EXPECT_FALSE(TextToInt(bad).has_value()) << ToUtf8(bad);
  }
}

TEST(StripThousands, RemovesGroupSeparatorsUnlessTheyAreTheDecimalOne) {
  EXPECT_EQ(StripThousands(u"1,234,567.5", kDot), u"1234567.5");
  EXPECT_EQ(StripThousands(u"1,5", TNumberFormat{u',', u','}), u"1,5");
}

TEST(FormatFixed, RoundsHalvesAwayFromZeroAtTheLastShownDigit) {
  EXPECT_EQ(Fixed(0.125L, 2), "0.13");
  EXPECT_EQ(Fixed(2.5L, 0), "3");
  EXPECT_EQ(Fixed(-2.5L, 0), "-3");
  EXPECT_EQ(Fixed(7.5L, 0), "8");
  EXPECT_EQ(Fixed(7.49L, 0), "7");
  EXPECT_EQ(Fixed(-0.5L, 0), "-1");
  EXPECT_EQ(Fixed(0.1L, 2), "0.10");
  EXPECT_EQ(Fixed(2.12L, 2), "2.12");  // just below 2.12, still shown as 2.12
  EXPECT_EQ(Fixed(99.996L, 2), "100.00");
  EXPECT_EQ(Fixed(0.0L, 3), "0.000");
  EXPECT_EQ(Fixed(-0.001L, 2), "0.00");  // no sign on a value that rounds to zero
  EXPECT_EQ(Fixed(1.24L, 0), "1");
  EXPECT_EQ(Fixed(250.0L, 0), "250");
}

TEST(FormatFixed, CarriesAtMostFifteenSignificantDigits) {
  EXPECT_EQ(Fixed(1.23456789012345678L, 17), "1.23456789012346000");
  EXPECT_EQ(Fixed(123456789012345678.0L, 0), "123456789012346000");
  EXPECT_EQ(Fixed(0.49999999999999999L, 0), "0");
  EXPECT_EQ(Fixed(0.1L, 25), "0.1000000000000000000000000");
  EXPECT_EQ(Fixed(1e20L, 0), "100000000000000000000");
  EXPECT_EQ(Fixed(1e-30L, 2), "0.00");
}

TEST(FormatFixed, UsesTheGivenSeparatorsAndGroups) {
  EXPECT_EQ(Fixed(2.5L, 2, kComma), "2,50");
  EXPECT_EQ(Fixed(1234567.891L, 2, kDot, true), "1,234,567.89");
  EXPECT_EQ(Fixed(-123456.0L, 0, kDot, true), "-123,456");
  EXPECT_EQ(Fixed(999.0L, 0, kDot, true), "999");
  EXPECT_EQ(FormatFixed(1234.5L, 1, kComma, true), u"1\u00A0234,5");
}

TEST(FormatFixed, WritesNonFiniteValuesAsWords) {
  EXPECT_EQ(Fixed(std::numeric_limits<Extended>::quiet_NaN(), 2), "NAN");
  EXPECT_EQ(Fixed(std::numeric_limits<Extended>::infinity(), 2), "INF");
  EXPECT_EQ(Fixed(-std::numeric_limits<Extended>::infinity(), 0), "-INF");
}

TEST(FormatFixed, RoundTripsEveryTwoDecimalValueOfTheSensorField) {
  for (int k = 0; k <= 250; ++k) {
    std::u16string text = FormatFixed(k / 100.0L, 2, kDot);
    auto back = TextToFloat(text, u'.');
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(FormatFixed(*back, 2, kDot), text);
    EXPECT_EQ(Trunc(*back * 100 + 0.5L), k);
  }
}

TEST(FormatGeneral, WritesUpToFifteenSignificantDigits) {
  EXPECT_EQ(ToUtf8(FormatGeneral(3)), "3");
  EXPECT_EQ(ToUtf8(FormatGeneral(250)), "250");
  EXPECT_EQ(ToUtf8(FormatGeneral(2.5L)), "2.5");
  EXPECT_EQ(ToUtf8(FormatGeneral(0.1L)), "0.1");
  EXPECT_EQ(ToUtf8(FormatGeneral(-1.5L)), "-1.5");
  EXPECT_EQ(ToUtf8(FormatGeneral(0)), "0");
  EXPECT_EQ(ToUtf8(FormatGeneral(123456789012345.0L)), "123456789012345");
  EXPECT_EQ(ToUtf8(FormatGeneral(1e15L)), "1E15");
  EXPECT_EQ(ToUtf8(FormatGeneral(1e20L)), "1E20");
  EXPECT_EQ(ToUtf8(FormatGeneral(0.0001L)), "0.0001");
  EXPECT_EQ(ToUtf8(FormatGeneral(0.00001L)), "1E-5");
  EXPECT_EQ(ToUtf8(FormatGeneral(1.23456789012345678L)), "1.23456789012346");
  EXPECT_EQ(ToUtf8(FormatGeneral(9.999999999999999L)), "10");
  EXPECT_EQ(ToUtf8(FormatGeneral(2.5L, u',')), "2,5");
}

TEST(Rounding, TruncatesTowardZeroAndSaturates) {
  EXPECT_EQ(Trunc(2.9L), 2);
  EXPECT_EQ(Trunc(-2.9L), -2);
  EXPECT_EQ(Trunc(1e30L), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(Trunc(-1e30L), std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(Trunc(std::numeric_limits<Extended>::quiet_NaN()), 0);
}

TEST(Rounding, RoundsHalvesToTheEvenNeighbour) {
  EXPECT_EQ(RoundHalfEven(0.5L), 0);
  EXPECT_EQ(RoundHalfEven(1.5L), 2);
  EXPECT_EQ(RoundHalfEven(2.5L), 2);
  EXPECT_EQ(RoundHalfEven(-0.5L), 0);
  EXPECT_EQ(RoundHalfEven(-1.5L), -2);
  EXPECT_EQ(RoundHalfEven(2.5000000001L), 3);
  EXPECT_EQ(RoundHalfEven(-2.6L), -3);
  EXPECT_EQ(RoundHalfEven(0x1p62L + 0.5L), (std::int64_t{1} << 62));
}

TEST(Rounding, RoundsToDoublePrecision) {
  EXPECT_EQ(RoundToDouble(1.06128L), 1.06128);
  EXPECT_NE(static_cast<Extended>(RoundToDouble(0.1L)), 0.1L);
}

TEST(Utf8, ConvertsBothWays) {
  const std::u16string text = u"\u041F\u0440\u0438 \U0001F600 x";
  EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
  EXPECT_EQ(FromUtf8("\xFF"
                     "a"),
            u"\uFFFDa");
  EXPECT_EQ(FromUtf8("\xE2\x82"), u"\uFFFD\uFFFD");
}

}  // namespace
}  // namespace glowstep
