#include "base/extended.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>

#include "base/numbers.h"
#include "base/uint128.h"

namespace glowstep {
namespace {

struct TBits {
  std::uint16_t signExponent;
  std::uint64_t significand;
};

Extended Make(TBits bits) { return Extended::FromBits(bits.signExponent, bits.significand); }

::testing::AssertionResult HasBits(Extended x, TBits bits) {
  if (x.SignExponent() == bits.signExponent && x.Significand() == bits.significand) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << std::hex << x.SignExponent() << ":" << x.Significand() << " instead of "
         << bits.signExponent << ":" << bits.significand;
}

std::uint64_t DoubleBits(double d) { return std::bit_cast<std::uint64_t>(d); }

// Results of the x87 unit for operands chosen at the edges: ties, operands far apart in exponent,
// cancellation, overflow, underflow, zeros, infinities and NaNs. The same bits on every processor.
TEST(ExtendedArithmetic, GivesTheX87ResultsAtTheEdges) {
  const struct {
    const char* what;
    TBits a;
    char op;
    TBits b;
    TBits result;
  } cases[] = {
      {"a tie stays even",
       {0x3FFF, 0x8000000000000000},
       '+',
       {0x3FBF, 0x8000000000000000},
       {0x3FFF, 0x8000000000000000}},
      {"a tie rounds up to even",
       {0x3FFF, 0x8000000000000001},
       '+',
       {0x3FBF, 0x8000000000000000},
       {0x3FFF, 0x8000000000000002}},
      {"just above a tie",
       {0x3FFF, 0x8000000000000000},
       '+',
       {0x3FBF, 0x8000000000000001},
       {0x3FFF, 0x8000000000000001}},
      {"exponents 64 apart, opposite signs",
       {0x3FFF, 0x8000000000000000},
       '-',
       {0x3FBF, 0x8000000000000000},
       {0x3FFE, 0xFFFFFFFFFFFFFFFF}},
      {"exponents 65 apart, opposite signs",
       {0x3FFF, 0x8000000000000000},
       '-',
       {0x3FBE, 0x8000000000000000},
       {0x3FFF, 0x8000000000000000}},
      {"exponents 65 apart, just above half",
       {0x3FFF, 0x8000000000000000},
       '-',
       {0x3FBE, 0x8000000000000001},
       {0x3FFE, 0xFFFFFFFFFFFFFFFF}},
      {"exponents 66 apart, opposite signs",
       {0x3FFF, 0xC90FDAA22168C234},
       '+',
       {0xBFBD, 0xFFFFFFFFFFFFFFFF},
       {0x3FFF, 0xC90FDAA22168C234}},
      {"exponents 70 apart, opposite signs",
       {0x4005, 0xA000000000000001},
       '+',
       {0xC03F, 0xFFFFFFFFFFFFFFFF},
       {0xC03F, 0xFFFFFFFFFFFFFFD7}},
      {"exponents 60 apart, opposite signs",
       {0xC000, 0x8000000000000000},
       '+',
       {0x3FC4, 0xFFFFFFFFFFFFFFFF},
       {0xBFFF, 0xFFFFFFFFFFFFFFE0}},
      {"cancellation",
       {0x3FFF, 0x8000000000000001},
       '-',
       {0x3FFF, 0x8000000000000000},
       {0x3FC0, 0x8000000000000000}},
      {"carry out of the significand",
       {0x3FFF, 0xFFFFFFFFFFFFFFFF},
       '+',
       {0x3FBF, 0x8000000000000000},
       {0x4000, 0x8000000000000000}},
      {"product on a tie",
       {0x3FFF, 0x8000000100000000},
       '*',
       {0x3FFF, 0x8000000080000000},
       {0x3FFF, 0x8000000180000001}},
      {"0.1 times 25",
       {0x3FFB, 0xCCCCCCCCCCCCCCCD},
       '*',
       {0x4003, 0xC800000000000000},
       {0x4000, 0xA000000000000000}},
      {"2.12 times 25",
       {0x4000, 0x87AE147AE147AE14},
       '*',
       {0x4003, 0xC800000000000000},
       {0x4004, 0xD3FFFFFFFFFFFFFF}},
      {"1206 times 0.88",
       {0x4009, 0x96C0000000000000},
       '*',
       {0x3FFE, 0xE147AE147AE147AE},
       {0x4009, 0x84A8F5C28F5C28F6}},
      {"one third",
       {0x3FFF, 0x8000000000000000},
       '/',
       {0x4000, 0xC000000000000000},
       {0x3FFD, 0xAAAAAAAAAAAAAAAB}},
      {"500 by k for 1206 LEDs",
       {0x4007, 0xFA00000000000000},
       '/',
       {0x3FFF, 0x87D805E5F30E7800},
       {0x4007, 0xEB9089B4E4F1F77E}},
      {"20 by 3 (quotient below 1)",
       {0x4003, 0xA000000000000000},
       '/',
       {0x4000, 0xC000000000000000},
       {0x4001, 0xD555555555555555}},
      {"overflow",
       {0x7FFE, 0xFFFFFFFFFFFFFFFF},
       '*',
       {0x4000, 0x8000000000000000},
       {0x7FFF, 0x8000000000000000}},
      {"overflow of a sum",
       {0xFFFE, 0xFFFFFFFFFFFFFFFF},
       '+',
       {0xFFFE, 0xFFFFFFFFFFFFFFFF},
       {0xFFFF, 0x8000000000000000}},
      {"rounds up to infinity",
       {0x7FFE, 0xFFFFFFFFFFFFFFFF},
       '+',
       {0x7FBE, 0x8000000000000000},
       {0x7FFF, 0x8000000000000000}},
      {"into the subnormals",
       {0x0001, 0x8000000000000000},
       '*',
       {0x3FFE, 0x8000000000000000},
       {0x0000, 0x4000000000000000}},
      {"smallest subnormal halved: a tie to zero",
       {0x0000, 0x0000000000000001},
       '*',
       {0x3FFE, 0x8000000000000000},
       {0x0000, 0x0000000000000000}},
      {"smallest subnormal times 0.75",
       {0x0000, 0x0000000000000001},
       '*',
       {0x3FFE, 0xC000000000000000},
       {0x0000, 0x0000000000000001}},
      {"subnormal rounding",
       {0x0005, 0xC000000000000003},
       '*',
       {0x3FF9, 0xAAAAAAAAAAAAAAAB},
       {0x0000, 0x4000000000000001}},
      {"subnormal quotient",
       {0x0100, 0x9999999999999999},
       '/',
       {0x4120, 0xF0F0F0F0F0F0F0F0},
       {0x0000, 0x0000000014666666}},
      {"subnormals summing to the smallest normal",
       {0x0000, 0x7FFFFFFFFFFFFFFF},
       '+',
       {0x0000, 0x0000000000000001},
       {0x0001, 0x8000000000000000}},
      {"normal minus subnormal",
       {0x0001, 0x8000000000000000},
       '-',
       {0x0000, 0x0000000000000001},
       {0x0000, 0x7FFFFFFFFFFFFFFF}},
      {"below the smallest subnormal",
       {0x0010, 0x8000000000000000},
       '*',
       {0x3000, 0x8000000000000000},
       {0x0000, 0x0000000000000000}},
      {"negative underflow keeps its sign",
       {0x8010, 0x8000000000000000},
       '/',
       {0x5000, 0x8000000000000000},
       {0x8000, 0x0000000000000000}},
      {"one by zero",
       {0x3FFF, 0x8000000000000000},
       '/',
       {0x0000, 0x0000000000000000},
       {0x7FFF, 0x8000000000000000}},
      {"one by minus zero",
       {0x3FFF, 0x8000000000000000},
       '/',
       {0x8000, 0x0000000000000000},
       {0xFFFF, 0x8000000000000000}},
      {"zero by zero",
       {0x0000, 0x0000000000000000},
       '/',
       {0x0000, 0x0000000000000000},
       {0xFFFF, 0xC000000000000000}},
      {"infinity minus infinity",
       {0x7FFF, 0x8000000000000000},
       '-',
       {0x7FFF, 0x8000000000000000},
       {0xFFFF, 0xC000000000000000}},
      {"zero times infinity",
       {0x8000, 0x0000000000000000},
       '*',
       {0x7FFF, 0x8000000000000000},
       {0xFFFF, 0xC000000000000000}},
      {"infinity by infinity",
       {0x7FFF, 0x8000000000000000},
       '/',
       {0xFFFF, 0x8000000000000000},
       {0xFFFF, 0xC000000000000000}},
      {"one by infinity",
       {0xBFFF, 0x8000000000000000},
       '/',
       {0x7FFF, 0x8000000000000000},
       {0x8000, 0x0000000000000000}},
      {"minus zero plus minus zero",
       {0x8000, 0x0000000000000000},
       '+',
       {0x8000, 0x0000000000000000},
       {0x8000, 0x0000000000000000}},
      {"x minus x",
       {0x3FFF, 0x8000000000000000},
       '-',
       {0x3FFF, 0x8000000000000000},
       {0x0000, 0x0000000000000000}},
      {"minus zero minus zero",
       {0x8000, 0x0000000000000000},
       '-',
       {0x0000, 0x0000000000000000},
       {0x8000, 0x0000000000000000}},
      {"quiet NaNs: the larger significand",
       {0x7FFF, 0xC000000000000005},
       '+',
       {0xFFFF, 0xC000000000000009},
       {0xFFFF, 0xC000000000000009}},
      {"quiet NaNs: equal significands give the positive",
       {0xFFFF, 0xC000000000000005},
       '*',
       {0x7FFF, 0xC000000000000005},
       {0x7FFF, 0xC000000000000005}},
      {"quiet before signalling",
       {0x7FFF, 0x8000000000000009},
       '+',
       {0xFFFF, 0xC000000000000005},
       {0xFFFF, 0xC000000000000005}},
      {"signalling NaNs: the larger, made quiet",
       {0x7FFF, 0x8000000000000007},
       '/',
       {0xFFFF, 0x8000000000000009},
       {0xFFFF, 0xC000000000000009}},
      {"a NaN and a number",
       {0x3FFF, 0x8000000000000000},
       '-',
       {0xFFFF, 0x8000000000000005},
       {0xFFFF, 0xC000000000000005}},
      {"a NaN and infinity",
       {0x7FFF, 0x8000000000000000},
       '*',
       {0x7FFF, 0xC000000000000001},
       {0x7FFF, 0xC000000000000001}},
  };
  for (const auto& c : cases) {
    const Extended a = Make(c.a), b = Make(c.b);
    const Extended result = c.op == '+' ? a + b : c.op == '-' ? a - b : c.op == '*' ? a * b : a / b;
    EXPECT_TRUE(HasBits(result, c.result)) << c.what;
  }
}

TEST(ExtendedConversion, RoundsToDoubleAsTheX87UnitStoresIt) {
  const struct {
    TBits from;
    std::uint64_t to;
  } cases[] = {
      {{0x3FFB, 0xCCCCCCCCCCCCCCCD}, 0x3FB999999999999A},
      {{0x3FFF, 0x8000000000000400}, 0x3FF0000000000000},
      {{0x3FFF, 0x8000000000000C00}, 0x3FF0000000000002},
      {{0x3FFF, 0x8000000000000401}, 0x3FF0000000000001},
      {{0x43FE, 0xFFFFFFFFFFFFFC00}, 0x7FF0000000000000},
      {{0x43FE, 0xFFFFFFFFFFFFFBFF}, 0x7FEFFFFFFFFFFFFF},
      {{0x3C00, 0x8000000000000000}, 0x0008000000000000},
      {{0x3BCD, 0x8000000000000000}, 0x0000000000000001},
      {{0x3BCC, 0x8000000000000000}, 0x0000000000000000},
      {{0x3BCC, 0x8000000000000001}, 0x0000000000000001},
      {{0x3C00, 0xFFFFFFFFFFFFF800}, 0x0010000000000000},
      {{0x3BF0, 0xABCDEF0123456789}, 0x0000000ABCDEF012},
      {{0x0000, 0x0000000000000001}, 0x0000000000000000},
      {{0xFFFF, 0x8000000000000000}, 0xFFF0000000000000},
      {{0x7FFF, 0xC000000000000FFF}, 0x7FF8000000000001},
      {{0x7FFF, 0x8000000000012345}, 0x7FF8000000000024},
      {{0x8000, 0x0000000000000000}, 0x8000000000000000},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DoubleBits(RoundToDouble(Make(c.from))), c.to)
        << std::hex << c.from.signExponent << ":" << c.from.significand;
  }
}

TEST(ExtendedConversion, TakesEveryDoubleExactly) {
  const struct {
    std::uint64_t from;
    TBits to;
  } cases[] = {
      {0x3FB999999999999A, {0x3FFB, 0xCCCCCCCCCCCCD000}},
      {0x0000000000000001, {0x3BCD, 0x8000000000000000}},
      {0x000FFFFFFFFFFFFF, {0x3C00, 0xFFFFFFFFFFFFF000}},
      {0x8010000000000000, {0xBC01, 0x8000000000000000}},
      {0x7FEFFFFFFFFFFFFF, {0x43FE, 0xFFFFFFFFFFFFF800}},
      {0x7FF0000000000000, {0x7FFF, 0x8000000000000000}},
      {0x7FF0000000000001, {0x7FFF, 0xC000000000000800}},
      {0xFFF8000000000123, {0xFFFF, 0xC000000000091800}},
      {0x8000000000000000, {0x8000, 0x0000000000000000}},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(HasBits(Extended{std::bit_cast<double>(c.from)}, c.to)) << std::hex << c.from;
  }
}

TEST(ExtendedConversion, TakesEveryIntegerExactly) {
  EXPECT_TRUE(HasBits(Extended{0}, {0x0000, 0}));
  EXPECT_TRUE(HasBits(Extended{1}, {0x3FFF, 0x8000000000000000}));
  EXPECT_TRUE(HasBits(Extended{-25}, {0xC003, 0xC800000000000000}));
  EXPECT_TRUE(
      HasBits(Extended{std::numeric_limits<std::uint64_t>::max()}, {0x403E, 0xFFFFFFFFFFFFFFFF}));
  EXPECT_TRUE(
      HasBits(Extended{std::numeric_limits<std::int64_t>::min()}, {0xC03E, 0x8000000000000000}));
  EXPECT_TRUE(HasBits(Extended{std::uint8_t{255}}, {0x4006, 0xFF00000000000000}));
  // 2^64 - 1 and 2^63 + 1 need all 64 bits and come back whole.
  EXPECT_EQ(Trunc(Extended{std::int64_t{0x7FFFFFFFFFFFFFFF}}), 0x7FFFFFFFFFFFFFFF);
  EXPECT_EQ(Trunc(Extended{std::int64_t{-0x7FFFFFFFFFFFFFFF}}), -0x7FFFFFFFFFFFFFFF);
}

TEST(ExtendedComparison, OrdersValuesAndLeavesNaNUnordered) {
  const Extended nan = Extended::QuietNaN();
  EXPECT_FALSE(nan == nan);
  EXPECT_TRUE(nan != nan);
  EXPECT_FALSE(nan < 1 || nan > 1 || nan <= 1 || nan >= 1);
  EXPECT_EQ(-Extended{}, Extended{});
  EXPECT_FALSE(-Extended{} < Extended{});
  const Extended ordered[] = {-Extended::Infinity(),
                              Extended{-1e300},
                              -2,
                              -1,
                              -0.5,
                              -Make({0x0000, 1}),
                              Extended{},
                              Make({0x0000, 1}),
                              Make({0x0000, 0x7FFFFFFFFFFFFFFF}),
                              Make({0x0001, 0x8000000000000000}),
                              0.1_ext,
                              1,
                              Extended{1} + Make({0x3FC0, 0x8000000000000000}),
                              1e20_ext,
                              Extended::Infinity()};
  for (std::size_t i = 0; i < std::size(ordered); ++i) {
    for (std::size_t j = 0; j < std::size(ordered); ++j) {
      EXPECT_EQ(ordered[i] < ordered[j], i < j) << i << " " << j;
      EXPECT_EQ(ordered[i] == ordered[j], i == j) << i << " " << j;
    }
  }
}

TEST(ExtendedNegation, FlipsTheSignOfEveryValue) {
  EXPECT_TRUE(HasBits(-Extended{}, {0x8000, 0}));
  EXPECT_TRUE(HasBits(-Extended::QuietNaN(), {0xFFFF, 0xC000000000000000}));
  EXPECT_TRUE(HasBits(-Extended::Infinity(), {0xFFFF, 0x8000000000000000}));
  EXPECT_TRUE(HasBits(Abs(-2.5_ext), {0x4000, 0xA000000000000000}));
}

TEST(ExtendedLiteral, IsTheNearestValueAndUsableAtCompileTime) {
  constexpr Extended kFactor = 0.88_ext;
  static_assert(kFactor.SignExponent() == 0x3FFE && kFactor.Significand() == 0xE147AE147AE147AE);
  static_assert(25_ext == 25 && 2.5e2_ext == 250 && 1'000_ext == 1000);
  static_assert(RoundToDouble(1.06128_ext) == 1.06128);
  EXPECT_TRUE(HasBits(0.1_ext, {0x3FFB, 0xCCCCCCCCCCCCCCCD}));
}

// The full product and the long division on 32-bit pieces, as a compiler without a 128-bit
// integer gets them, against the compiler's own.
TEST(Wide, PortableArithmeticMatchesTheNativeOne) {
  std::mt19937_64 random(7);
  const std::uint64_t edges[] = {0,
                                 1,
                                 2,
                                 0xFFFFFFFF,
                                 0x100000000,
                                 0x8000000000000000,
                                 0xFFFFFFFFFFFFFFFF,
                                 0xFFFFFFFF00000000,
                                 0x7FFFFFFFFFFFFFFF};
  for (int i = 0; i < 200000; ++i) {
    const std::uint64_t a = i < 81 ? edges[i % 9] : random() >> (random() % 64);
    std::uint64_t b = i < 81 ? edges[i / 9] : random() >> (random() % 64);
    ASSERT_EQ(wide::portable::Multiply(a, b), wide::Multiply(a, b)) << a << " " << b;
    if (b == 0) b = 1;
    const std::uint64_t high = a % b;  // the quotient must fit 64 bits
    const std::uint64_t low = random();
    ASSERT_EQ(wide::portable::Divide(high, low, b), wide::Divide(high, low, b))
        << high << " " << low << " " << b;
  }
  EXPECT_EQ(wide::portable::Multiply(0xFFFFFFFFFFFFFFFF, 0xFFFFFFFFFFFFFFFF),
            (wide::TUInt128{0xFFFFFFFFFFFFFFFE, 1}));
  EXPECT_EQ(wide::portable::Divide(0x7FFFFFFFFFFFFFFF, 0xFFFFFFFFFFFFFFFF, 0x8000000000000000),
            (wide::TDivision{0xFFFFFFFFFFFFFFFF, 0x7FFFFFFFFFFFFFFF}));
}

}  // namespace
}  // namespace glowstep
