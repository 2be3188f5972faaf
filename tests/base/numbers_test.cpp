#include "base/numbers.h"

#include <gtest/gtest.h>

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
  // The encodings of the nearest values (as the x87 unit's correctly rounded reader gives them).
  const struct {
    const char16_t* text;
    std::uint16_t signExponent;
    std::uint64_t significand;
  } nearest[] = {
      {u"0.10", 0x3FFB, 0xCCCCCCCCCCCCCCCD},
      {u"2.12", 0x4000, 0x87AE147AE147AE14},
      {u"2.36", 0x4000, 0x970A3D70A3D70A3D},
      {u"0.000001", 0x3FEB, 0x8637BD05AF6C69B6},
      {u"1e-5", 0x3FEE, 0xA7C5AC471B478423},
      {u"123456789012345678", 0x4037, 0xDB4DA5D31879A700},
      {u"9.87654321098765432", 0x4002, 0x9E06522C8B909A0D},
      {u"3.5E+20", 0x4043, 0x97C9CE4CF6D5C000},
      {u"000123.4500", 0x4005, 0xF6E6666666666666},
      {u"-1.24", 0xBFFF, 0x9EB851EB851EB852},
  };
  for (const auto& n : nearest) {
    const auto value = Float(n.text);
    ASSERT_TRUE(value.has_value()) << ToUtf8(n.text);
    EXPECT_EQ(value->SignExponent(), n.signExponent) << ToUtf8(n.text);
    EXPECT_EQ(value->Significand(), n.significand) << ToUtf8(n.text);
  }
  // Decimal literals of the type read the same way.
  EXPECT_EQ(Float(u"0.10"), 0.1_ext);
  EXPECT_EQ(Float(u"9.87654321098765432"), 9.87654321098765432_ext);
  EXPECT_EQ(Float(u"3.5E+20"), 3.5e20_ext);
  // 0.10 lies just above 0.1 and 2.12 just below 2.12: callers that scale and truncate see it.
  EXPECT_EQ(Trunc(*Float(u"0.10") * 10), 1);
  EXPECT_EQ(Trunc(*Float(u"2.12") * 25), 52);
}

TEST(TextToFloat, FollowsTheFieldSyntax) {
  EXPECT_EQ(Float(u"  +1.5  "), 1.5_ext);
  EXPECT_EQ(Float(u"-2.25"), -2.25_ext);
  EXPECT_EQ(Float(u"."), 0.0_ext);  // a lone separator reads as 0
  EXPECT_EQ(Float(u"-."), 0);
  EXPECT_EQ(Float(u"5."), 5.0_ext);
  EXPECT_EQ(Float(u".5"), 0.5_ext);
  EXPECT_EQ(Float(u"1e3"), 1000.0_ext);
  EXPECT_EQ(Float(u"1,5", u','), 1.5_ext);
  for (const char16_t* bad : {u"", u"  ", u"-", u"+", u"e5", u"1e", u"1e+", u"1.5x", u"1 .5",
                              u"1..5", u"--1", u"1e5.0", u"1,5", u"1e5000", u"\u0661"}) {
    EXPECT_FALSE(Float(bad).has_value()) << ToUtf8(bad);
  }
  EXPECT_FALSE(Float(u"1.5", u',').has_value());
}

TEST(TextToFloat, KeepsExtremeExponentsFiniteOrFails) {
  auto big = Float(u"1e4000");
  ASSERT_TRUE(big.has_value());
  EXPECT_EQ(ToUtf8(FormatGeneral(*big)), "1E4000");
  auto tiny = Float(u"1e-4000");
  ASSERT_TRUE(tiny.has_value());
  EXPECT_GT(*tiny, 0);
  EXPECT_EQ(ToUtf8(FormatGeneral(*tiny)), "1E-4000");
  // Below the normal range the value is subnormal, and below that zero with the text's sign.
  auto subnormal = Float(u"1e-4940");
  ASSERT_TRUE(subnormal.has_value());
  EXPECT_EQ(subnormal->SignExponent(), 0);
  EXPECT_GT(*subnormal, 0);
  EXPECT_EQ(Float(u"-1e-4960").value().SignExponent(), 0x8000);
  EXPECT_EQ(Float(u"-1e-4960"), 0);
  EXPECT_EQ(Float(u"0e99999"), 0.0_ext);
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
  EXPECT_EQ(Fixed(0.125_ext, 2), "0.13");
  EXPECT_EQ(Fixed(2.5_ext, 0), "3");
  EXPECT_EQ(Fixed(-2.5_ext, 0), "-3");
  EXPECT_EQ(Fixed(7.5_ext, 0), "8");
  EXPECT_EQ(Fixed(7.49_ext, 0), "7");
  EXPECT_EQ(Fixed(-0.5_ext, 0), "-1");
  EXPECT_EQ(Fixed(0.1_ext, 2), "0.10");
  EXPECT_EQ(Fixed(2.12_ext, 2), "2.12");  // just below 2.12, still shown as 2.12
  EXPECT_EQ(Fixed(99.996_ext, 2), "100.00");
  EXPECT_EQ(Fixed(0.0_ext, 3), "0.000");
  EXPECT_EQ(Fixed(-0.001_ext, 2), "0.00");  // no sign on a value that rounds to zero
  EXPECT_EQ(Fixed(1.24_ext, 0), "1");
  EXPECT_EQ(Fixed(250.0_ext, 0), "250");
}

TEST(FormatFixed, CarriesAtMostFifteenSignificantDigits) {
  EXPECT_EQ(Fixed(1.23456789012345678_ext, 17), "1.23456789012346000");
  EXPECT_EQ(Fixed(123456789012345678.0_ext, 0), "123456789012346000");
  EXPECT_EQ(Fixed(0.49999999999999999_ext, 0), "1");  // 0.500000000000000 at 15 digits
  EXPECT_EQ(Fixed(0.1_ext, 25), "0.1000000000000000000000000");
  EXPECT_EQ(Fixed(1e20_ext, 0), "100000000000000000000");
  EXPECT_EQ(Fixed(Extended{1e-30}, 2), "0.00");
}

TEST(FormatFixed, RoundsTheDigitsAPersonReadsNotTheBinaryValueBelowThem) {
  // Each value's nearest extended value lies a hair below the decimal written; carried to 15
  // significant digits it is that decimal again, and a half of it rounds away from zero.
  const struct {
    Extended Value;
    int Decimals = 0;
    const char* Text = nullptr;
  } cases[] = {
      {0.955_ext, 2, "0.96"},
      {1.035_ext, 2, "1.04"},
      {2.675_ext, 2, "2.68"},
      {1.005_ext, 2, "1.01"},
      {0.005_ext, 2, "0.01"},
      {-0.955_ext, 2, "-0.96"},
      {0.125_ext, 2, "0.13"},                        // a tie in binary too
      {0.9549999999999_ext, 2, "0.95"},              // 13 digits: below the half
      {123456789012.345_ext, 2, "123456789012.35"},  // 15 digits carried, 14 shown
      {0.12344999999999999_ext, 4, "0.1235"},        // 17 digits: the carry makes the half
      {-0.12344999999999999_ext, 4, "-0.1235"},
      {1.4999999999999999e-5_ext, 5, "0.00002"},
      {5e-16_ext, 15, "0.000000000000001"},
      {2.5e-16_ext, 16, "0.0000000000000003"},
      {1e20_ext, 2, "100000000000000000000.00"},  // 15 digits shown: rounded once
      {1.23456789012345678_ext, 14, "1.23456789012346"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Fixed(c.Value, c.Decimals), c.Text) << ToUtf8(FormatGeneral(c.Value));
  }
}

TEST(FormatFixed, UsesTheGivenSeparatorsAndGroups) {
  EXPECT_EQ(Fixed(2.5_ext, 2, kComma), "2,50");
  EXPECT_EQ(Fixed(1234567.891_ext, 2, kDot, true), "1,234,567.89");
  EXPECT_EQ(Fixed(-123456.0_ext, 0, kDot, true), "-123,456");
  EXPECT_EQ(Fixed(999.0_ext, 0, kDot, true), "999");
  EXPECT_EQ(FormatFixed(1234.5_ext, 1, kComma, true), u"1\u00A0234,5");
}

TEST(FormatFixed, WritesNonFiniteValuesAsWords) {
  EXPECT_EQ(Fixed(Extended::QuietNaN(), 2), "NAN");
  EXPECT_EQ(Fixed(Extended::Infinity(), 2), "INF");
  EXPECT_EQ(Fixed(-Extended::Infinity(), 0), "-INF");
}

TEST(FormatFixed, RoundTripsEveryTwoDecimalValueOfTheSensorField) {
  for (int k = 0; k <= 250; ++k) {
    std::u16string text = FormatFixed(Extended{k} / 100, 2, kDot);
    auto back = TextToFloat(text, u'.');
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(FormatFixed(*back, 2, kDot), text);
    EXPECT_EQ(Trunc(*back * 100 + 0.5), k);
  }
}

TEST(FormatGeneral, WritesUpToFifteenSignificantDigits) {
  EXPECT_EQ(ToUtf8(FormatGeneral(3)), "3");
  EXPECT_EQ(ToUtf8(FormatGeneral(250)), "250");
  EXPECT_EQ(ToUtf8(FormatGeneral(2.5_ext)), "2.5");
  EXPECT_EQ(ToUtf8(FormatGeneral(0.1_ext)), "0.1");
  EXPECT_EQ(ToUtf8(FormatGeneral(-1.5_ext)), "-1.5");
  EXPECT_EQ(ToUtf8(FormatGeneral(0)), "0");
  EXPECT_EQ(ToUtf8(FormatGeneral(123456789012345.0_ext)), "123456789012345");
  EXPECT_EQ(ToUtf8(FormatGeneral(1e15_ext)), "1E15");
  EXPECT_EQ(ToUtf8(FormatGeneral(1e20_ext)), "1E20");
  EXPECT_EQ(ToUtf8(FormatGeneral(0.0001_ext)), "0.0001");
  EXPECT_EQ(ToUtf8(FormatGeneral(0.00001_ext)), "1E-5");
  EXPECT_EQ(ToUtf8(FormatGeneral(1.23456789012345678_ext)), "1.23456789012346");
  EXPECT_EQ(ToUtf8(FormatGeneral(9.999999999999999_ext)), "10");
  EXPECT_EQ(ToUtf8(FormatGeneral(2.5_ext, u',')), "2,5");
}

TEST(Rounding, TruncatesTowardZeroAndSaturates) {
  EXPECT_EQ(Trunc(2.9_ext), 2);
  EXPECT_EQ(Trunc(-2.9_ext), -2);
  EXPECT_EQ(Trunc(Extended{1e30}), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(Trunc(Extended{-1e30}), std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(Trunc(Extended::QuietNaN()), 0);
}

TEST(Rounding, RoundsHalvesToTheEvenNeighbour) {
  EXPECT_EQ(RoundHalfEven(0.5_ext), 0);
  EXPECT_EQ(RoundHalfEven(1.5_ext), 2);
  EXPECT_EQ(RoundHalfEven(2.5_ext), 2);
  EXPECT_EQ(RoundHalfEven(-0.5_ext), 0);
  EXPECT_EQ(RoundHalfEven(-1.5_ext), -2);
  EXPECT_EQ(RoundHalfEven(2.5000000001_ext), 3);
  EXPECT_EQ(RoundHalfEven(-2.6_ext), -3);
  EXPECT_EQ(RoundHalfEven(Extended{0x1p62} + 0.5), (std::int64_t{1} << 62));
}

TEST(Rounding, RoundsToDoublePrecision) {
  EXPECT_EQ(RoundToDouble(1.06128_ext), 1.06128);
  EXPECT_NE(Extended{RoundToDouble(0.1_ext)}, 0.1_ext);
}

struct TDisplayCase {
  Extended Value;
  const char16_t* Picture;
  const char* Text;
  TNumberFormat Format = kDot;
};

class DisplayFormat : public ::testing::TestWithParam<TDisplayCase> {};

TEST_P(DisplayFormat, WritesTheNumberPicture) {
  const TDisplayCase c = GetParam();
  EXPECT_EQ(ToUtf8(FormatDisplay(c.Value, c.Picture, c.Format)), c.Text);
}

INSTANTIATE_TEST_SUITE_P(
    Pictures,
    DisplayFormat,
    ::testing::Values(TDisplayCase{1234.5_ext, u",0.##", "1,234.5"},
                      TDisplayCase{2, u",0.##", "2"},
                      TDisplayCase{0, u",0.##", "0"},
                      TDisplayCase{0.125_ext, u"0.00", "0.13"},  // halves away from zero
                      TDisplayCase{-1.5_ext, u"0.00", "-1.50"},
                      TDisplayCase{-0.001_ext, u"0.00", "0.00"},  // no sign on what shows as 0
                      TDisplayCase{0.5_ext, u"#.##", ".5"},
                      TDisplayCase{0, u"#.##", ""},
                      TDisplayCase{12, u"000", "012"},
                      TDisplayCase{1234567.891_ext, u"#,##0.0", "1,234,567.9"},
                      TDisplayCase{2.5_ext, u"Delay: 0.00 s", "Delay: 2.50 s"},
                      TDisplayCase{1234.5_ext, u",0.##", "1.234,5", TNumberFormat{u',', u'.'}},
                      TDisplayCase{0.1_ext, u"0.##", "0,1", kComma}));

struct TReadCase {
  const char16_t* Text;
  const char* Number;
  TNumberFormat Format = kDot;
};

class DisplayTextRead : public ::testing::TestWithParam<TReadCase> {};

TEST_P(DisplayTextRead, KeepsWhatTextToFloatReads) {
  const TReadCase c = GetParam();
  EXPECT_EQ(ToUtf8(DisplayTextToNumber(c.Text, c.Format)), c.Number);
}

INSTANTIATE_TEST_SUITE_P(
    Texts,
    DisplayTextRead,
    ::testing::Values(TReadCase{u" 1,2a3 ", "123"},
                      TReadCase{u"1,234.5", "1234.5"},
                      TReadCase{u"Delay: 2.50 s", "2.50"},
                      TReadCase{u"1e5", "15"},  // no exponent in this mode
                      TReadCase{u"", "0"},
                      TReadCase{u"  ", "0"},
                      TReadCase{u"-", "-0"},
                      TReadCase{u"+-1", "+-1"},
                      TReadCase{u"1.234,5", "1234,5", TNumberFormat{u',', u'.'}},
                      // Neither separator is ".": it stands for the decimal separator.
                      TReadCase{u"1.5", "1,5", kComma},
                      TReadCase{u"1\u00A0234,5", "1234,5", kComma}));

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
