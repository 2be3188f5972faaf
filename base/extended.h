// Extended: 80-bit extended-precision reals with exactly the arithmetic of the x87 unit.
//
// The controls and the settings codec compute in this precision, and the bytes sent to the
// controller depend on it ("2.12" seconds is 52 ticks, not 53, only because of it). The type
// does the arithmetic itself, in integers, so every processor and compiler gets the same bits.
//
// Encoding and values, as the x87 80-bit format: a sign, a 15-bit biased exponent and a 64-bit
// significand with an explicit integer bit. Normal numbers have the integer bit set; exponent 0
// holds zero and the subnormal numbers, down to 2^-16445; exponent 0x7FFF holds the infinities
// (significand 2^63) and the NaNs (anything else). The largest finite value is about 1.19e4932.
//
// Operations: construction from any integer (exact) and from double (exact), +, -, *, / and
// negation, the comparisons, rounding to double. Every result is the exact result rounded once
// to the 64-bit significand, to nearest with ties to even, as the x87 unit computes with its
// default control word (64-bit precision, round to nearest, every exception masked):
//  - overflow gives the infinity of the result's sign;
//  - underflow is gradual: a tiny result is rounded to the subnormal grid, and to a zero of the
//    result's sign below it;
//  - an exact zero sum is +0 unless both operands are -0 (x - x is +0);
//  - x / 0 for x != 0 is an infinity; inf - inf, 0 * inf, 0 / 0 and inf / inf give the x87
//    "indefinite" NaN (negative, quiet, significand 0xC000000000000000);
//  - a NaN operand is passed on, made quiet: of two NaNs the quiet one, else the one with the
//    larger significand, else the positive one;
//  - comparisons with a NaN are false (unordered), and -0 equals +0.
// Callers above base/ never see the raw encoding except through these rules: a text whose value
// overflows does not read as a number, and formatting writes "INF", "-INF" and "NAN".
#pragma once

#include <algorithm>
#include <bit>
#include <compare>
#include <concepts>
#include <cstdint>
#include <stdexcept>

#include "base/uint128.h"

namespace glowstep {

class Extended {
 public:
  static constexpr int kBias = 16383;
  static constexpr std::uint16_t kSignBit = 0x8000;
  static constexpr std::uint16_t kExponentMask = 0x7FFF;
  static constexpr std::uint64_t kIntegerBit = std::uint64_t{1} << 63;
  static constexpr std::uint64_t kQuietBit = std::uint64_t{1} << 62;

  constexpr Extended() = default;

  // Every integer up to 64 bits is exact.
  template <std::integral T>
  constexpr Extended(T value) {  // NOLINT(google-explicit-constructor): a number like any other
    if constexpr (std::signed_integral<T>) {
      const auto wide = static_cast<std::int64_t>(value);
      *this = FromMagnitude(wide < 0, wide < 0 ? 0 - static_cast<std::uint64_t>(wide)
                                               : static_cast<std::uint64_t>(wide));
    } else {
      *this = FromMagnitude(false, static_cast<std::uint64_t>(value));
    }
  }

  // Every double is exact; a signalling NaN becomes quiet, as the x87 unit loads it.
  constexpr Extended(double value) {  // NOLINT(google-explicit-constructor)
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const std::uint16_t sign = (bits >> 63) != 0 ? kSignBit : std::uint16_t{0};
    const auto exponent = static_cast<int>((bits >> 52) & 0x7FF);
    const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
    if (exponent == 0x7FF) {
      *this = FromBits(static_cast<std::uint16_t>(sign | kExponentMask),
                       fraction == 0 ? kIntegerBit : kIntegerBit | kQuietBit | (fraction << 11));
    } else if (exponent == 0) {
      if (fraction == 0) {
        *this = FromBits(sign, 0);
      } else {  // a subnormal double is a normal extended value
        const int zeros = std::countl_zero(fraction);
        *this = FromBits(static_cast<std::uint16_t>(sign | (kBias - 1074 + 63 - zeros)),
                         fraction << zeros);
      }
    } else {
      *this = FromBits(static_cast<std::uint16_t>(sign | (exponent - 1023 + kBias)),
                       kIntegerBit | (fraction << 11));
    }
  }

  // Other floating types would be rounded to double on the way in: a literal such as 0.1 with
  // a suffix for a wider type must be written 0.1_ext.
  template <std::floating_point T>
  requires(!std::same_as<T, double>) Extended(T)
  = delete;

  // The value with this encoding: sign and biased exponent, then the significand. Meant for
  // valid encodings (the x87 unit rejects unnormals and pseudo-NaNs; this type never makes them).
  static constexpr Extended FromBits(std::uint16_t signExponent, std::uint64_t significand) {
    Extended x;
    x.SignExponent_ = signExponent;
    x.Significand_ = significand;
    return x;
  }
  static constexpr Extended Infinity(bool negative = false) {
    return FromBits(static_cast<std::uint16_t>((negative ? kSignBit : 0) | kExponentMask),
                    kIntegerBit);
  }
  // A positive quiet NaN with nothing in its payload but the quiet bit.
  static constexpr Extended QuietNaN() { return FromBits(kExponentMask, kIntegerBit | kQuietBit); }

  constexpr std::uint16_t SignExponent() const { return SignExponent_; }
  constexpr std::uint64_t Significand() const { return Significand_; }
  // The power of two of the significand's top bit: the value is Significand() * 2^(Exponent() -
  // 63) for every finite value, subnormals included.
  constexpr int Exponent() const { return (BiasedExponent() == 0 ? 1 : BiasedExponent()) - kBias; }

  constexpr bool IsNegative() const { return (SignExponent_ & kSignBit) != 0; }
  constexpr bool IsZero() const { return BiasedExponent() == 0 && Significand_ == 0; }
  constexpr bool IsFinite() const { return BiasedExponent() != kExponentMask; }
  constexpr bool IsInfinite() const { return !IsFinite() && (Significand_ << 1) == 0; }
  constexpr bool IsNaN() const { return !IsFinite() && (Significand_ << 1) != 0; }

  // Rounded to double: to nearest, ties to even, with double's subnormals and overflow to
  // infinity; a NaN keeps its sign and the top of its payload and is quiet.
  constexpr double ToDouble() const;
  explicit constexpr operator double() const { return ToDouble(); }

  friend constexpr Extended operator-(Extended x) {
    x.SignExponent_ ^= kSignBit;
    return x;
  }
  friend constexpr Extended operator+(Extended x) { return x; }
  friend constexpr Extended Abs(Extended x) {
    x.SignExponent_ &= kExponentMask;
    return x;
  }
  friend constexpr Extended operator+(Extended a, Extended b) { return Add(a, b, false); }
  friend constexpr Extended operator-(Extended a, Extended b) { return Add(a, b, true); }
  friend constexpr Extended operator*(Extended a, Extended b) { return Multiply(a, b); }
  friend constexpr Extended operator/(Extended a, Extended b) { return Divide(a, b); }
  constexpr Extended& operator+=(Extended b) { return *this = *this + b; }
  constexpr Extended& operator-=(Extended b) { return *this = *this - b; }
  constexpr Extended& operator*=(Extended b) { return *this = *this * b; }
  constexpr Extended& operator/=(Extended b) { return *this = *this / b; }

  friend constexpr bool operator==(Extended a, Extended b) {
    return Compare(a, b) == std::partial_ordering::equivalent;
  }
  friend constexpr std::partial_ordering operator<=>(Extended a, Extended b) {
    return Compare(a, b);
  }

 private:
  // A finite non-zero value as significand * 2^(exponent - 63) with the significand's top bit set.
  struct TUnpacked {
    bool Negative = false;
    int Exponent = 0;
    std::uint64_t Significand = 0;
  };

  constexpr int BiasedExponent() const { return SignExponent_ & kExponentMask; }

  constexpr TUnpacked Unpack() const {
    const int zeros = std::countl_zero(Significand_);
    return {IsNegative(), Exponent() - zeros, Significand_ << zeros};
  }

  static constexpr Extended Zero(bool negative) { return FromBits(negative ? kSignBit : 0, 0); }
  static constexpr Extended Indefinite() {
    return FromBits(kSignBit | kExponentMask, kIntegerBit | kQuietBit);
  }

  static constexpr Extended FromMagnitude(bool negative, std::uint64_t magnitude) {
    if (magnitude == 0) return {};
    const int zeros = std::countl_zero(magnitude);
    return FromBits(static_cast<std::uint16_t>((negative ? kSignBit : 0) | (kBias + 63 - zeros)),
                    magnitude << zeros);
  }

  // Rounds significand * 2^(exponent - 127), significand normalised (top bit set), to the
  // format: subnormal below the smallest normal exponent, infinite above the largest.
  static constexpr Extended RoundAndPack(bool negative, int exponent, wide::TUInt128 significand) {
    const std::uint16_t sign = negative ? kSignBit : 0;
    int biased = exponent + kBias;
    if (biased >= kExponentMask) return Infinity(negative);
    if (biased <= 0) {
      significand = wide::ShiftRightSticky(significand, 1 - biased);
      biased = 0;
    }
    constexpr std::uint64_t kHalf = std::uint64_t{1} << 63;
    std::uint64_t kept = significand.Hi;
    const std::uint64_t rest = significand.Lo;
    if (rest > kHalf || (rest == kHalf && (kept & 1) != 0)) {
      if (++kept == 0) {  // carried out: 2^64 is 2^63 one exponent up
        kept = kIntegerBit;
        ++biased;
      }
    }
    if (biased == 0 && (kept & kIntegerBit) != 0) biased = 1;  // rounded up to the smallest normal
    if (biased >= kExponentMask) return Infinity(negative);
    return FromBits(static_cast<std::uint16_t>(sign | biased), kept);
  }

  static constexpr Extended Quiet(Extended nan) {
    nan.Significand_ |= kQuietBit;
    return nan;
  }

  // The x87 choice among NaN operands.
  static constexpr Extended PropagateNaN(Extended a, Extended b) {
    if (!b.IsNaN()) return Quiet(a);
    if (!a.IsNaN()) return Quiet(b);
    const bool aQuiet = (a.Significand_ & kQuietBit) != 0;
    const bool bQuiet = (b.Significand_ & kQuietBit) != 0;
    if (aQuiet != bQuiet) return aQuiet ? a : Quiet(b);
    if (a.Significand_ != b.Significand_) return Quiet(a.Significand_ > b.Significand_ ? a : b);
    return Quiet(a.IsNegative() ? b : a);
  }

  static constexpr Extended Add(Extended a, Extended b, bool subtract) {
    if (a.IsNaN() || b.IsNaN()) return PropagateNaN(a, b);
    if (subtract) b.SignExponent_ ^= kSignBit;
    if (a.IsInfinite())
      return b.IsInfinite() && a.IsNegative() != b.IsNegative() ? Indefinite() : a;
    if (b.IsInfinite()) return b;
    if (a.IsZero()) return b.IsZero() ? Zero(a.IsNegative() && b.IsNegative()) : b;
    if (b.IsZero()) return a;

    TUnpacked x = a.Unpack();
    TUnpacked y = b.Unpack();
    if (x.Exponent < y.Exponent || (x.Exponent == y.Exponent && x.Significand < y.Significand)) {
      const TUnpacked t = x;
      x = y;
      y = t;
    }
    const wide::TUInt128 large{x.Significand, 0};
    const wide::TUInt128 small =
        wide::ShiftRightSticky({y.Significand, 0}, std::min(x.Exponent - y.Exponent, 128));
    int exponent = x.Exponent;
    if (x.Negative == y.Negative) {
      bool carry = false;
      wide::TUInt128 sum = wide::Add(large, small, carry);
      if (carry) {
        sum = wide::ShiftRightSticky(sum, 1);
        sum.Hi |= kIntegerBit;
        ++exponent;
      }
      return RoundAndPack(x.Negative, exponent, sum);
    }
    wide::TUInt128 difference = wide::Subtract(large, small);
    if (wide::IsZero(difference)) return Zero(false);
    const int zeros = wide::CountLeadingZeros(difference);
    return RoundAndPack(x.Negative, exponent - zeros, wide::ShiftLeft(difference, zeros));
  }

  static constexpr Extended Multiply(Extended a, Extended b) {
    if (a.IsNaN() || b.IsNaN()) return PropagateNaN(a, b);
    const bool negative = a.IsNegative() != b.IsNegative();
    if (a.IsInfinite() || b.IsInfinite()) {
      return a.IsZero() || b.IsZero() ? Indefinite() : Infinity(negative);
    }
    if (a.IsZero() || b.IsZero()) return Zero(negative);
    const TUnpacked x = a.Unpack();
    const TUnpacked y = b.Unpack();
    wide::TUInt128 product = wide::Multiply(x.Significand, y.Significand);
    int exponent = x.Exponent + y.Exponent + 1;
    if ((product.Hi & kIntegerBit) == 0) {
      product = wide::ShiftLeft(product, 1);
      --exponent;
    }
    return RoundAndPack(negative, exponent, product);
  }

  static constexpr Extended Divide(Extended a, Extended b) {
    if (a.IsNaN() || b.IsNaN()) return PropagateNaN(a, b);
    const bool negative = a.IsNegative() != b.IsNegative();
    if (a.IsInfinite()) return b.IsInfinite() ? Indefinite() : Infinity(negative);
    if (b.IsInfinite()) return Zero(negative);
    if (b.IsZero()) return a.IsZero() ? Indefinite() : Infinity(negative);
    if (a.IsZero()) return Zero(negative);
    const TUnpacked x = a.Unpack();
    const TUnpacked y = b.Unpack();
    // One long division gives 64 quotient bits; the remainder tells where the rest lies against
    // one half, which is all the rounding needs (a subnormal result shifts further, and then only
    // "zero or not" of the rest matters, which the stand-in keeps too).
    const bool atLeastOne = x.Significand >= y.Significand;
    const wide::TDivision q =
        wide::Divide(atLeastOne ? x.Significand - y.Significand : x.Significand, 0, y.Significand);
    const std::uint64_t inexact = q.Remainder != 0 ? 1 : 0;
    if (atLeastOne) {  // 1.q: the last quotient bit is the rounding bit
      return RoundAndPack(negative, x.Exponent - y.Exponent,
                          {kIntegerBit | (q.Quotient >> 1), (q.Quotient << 63) | inexact});
    }
    constexpr std::uint64_t kHalf = std::uint64_t{1} << 63;
    const std::uint64_t rest = q.Remainder == 0                             ? 0
                               : q.Remainder == y.Significand - q.Remainder ? kHalf
                               : q.Remainder > y.Significand - q.Remainder  ? kHalf | 1
                                                                            : 1;
    return RoundAndPack(negative, x.Exponent - y.Exponent - 1, {q.Quotient, rest});
  }

  static constexpr std::partial_ordering Compare(Extended a, Extended b) {
    if (a.IsNaN() || b.IsNaN()) return std::partial_ordering::unordered;
    if (a.IsZero() && b.IsZero()) return std::partial_ordering::equivalent;
    if (a.IsNegative() != b.IsNegative()) {
      return a.IsNegative() ? std::partial_ordering::less : std::partial_ordering::greater;
    }
    // Same sign: the encodings order the magnitudes.
    const auto magnitude = [](Extended x) {
      return wide::TUInt128{static_cast<std::uint64_t>(x.BiasedExponent()), x.Significand_};
    };
    const wide::TUInt128 ma = magnitude(a), mb = magnitude(b);
    if (ma == mb) return std::partial_ordering::equivalent;
    const bool aSmaller = wide::Less(ma, mb) != a.IsNegative();
    return aSmaller ? std::partial_ordering::less : std::partial_ordering::greater;
  }

  std::uint64_t Significand_ = 0;
  std::uint16_t SignExponent_ = 0;
};

constexpr double Extended::ToDouble() const {
  const std::uint64_t sign = IsNegative() ? std::uint64_t{1} << 63 : 0;
  constexpr std::uint64_t kFraction = (std::uint64_t{1} << 52) - 1;
  if (IsNaN()) {
    return std::bit_cast<double>(sign | (std::uint64_t{0x7FF} << 52) | (std::uint64_t{1} << 51) |
                                 ((Significand_ >> 11) & kFraction));
  }
  if (IsInfinite()) return std::bit_cast<double>(sign | (std::uint64_t{0x7FF} << 52));
  if (IsZero()) return std::bit_cast<double>(sign);
  const TUnpacked x = Unpack();
  const int biased = x.Exponent + 1023;
  // Bits of the significand that do not fit: 11, more below double's smallest normal exponent.
  const int shift = biased > 0 ? 11 : 12 - biased;
  if (shift > 64) return std::bit_cast<double>(sign);  // below half the smallest subnormal
  std::uint64_t kept = shift == 64 ? 0 : x.Significand >> shift;
  const std::uint64_t rest =
      shift == 64 ? x.Significand : x.Significand & ((std::uint64_t{1} << shift) - 1);
  const std::uint64_t half = std::uint64_t{1} << (shift - 1);
  if (rest > half || (rest == half && (kept & 1) != 0)) ++kept;
  if (biased >= 0x7FF) return std::bit_cast<double>(sign | (std::uint64_t{0x7FF} << 52));
  if (biased <= 0) return std::bit_cast<double>(sign | kept);  // a carry lands on the exponent
  // kept holds the integer bit at 52 (or 53 after a carry, which adds one to the exponent).
  const std::uint64_t bits = (static_cast<std::uint64_t>(biased - 1) << 52) + kept;
  if ((bits >> 52) >= 0x7FF) return std::bit_cast<double>(sign | (std::uint64_t{0x7FF} << 52));
  return std::bit_cast<double>(sign | bits);
}

// mantissa * 10^exponent as the field reader computes it: exactly rounded once while the power
// of ten is exact (10^27 and below; 5^27 < 2^64), and with one more rounding in the power beyond.
constexpr Extended ScaleByPowerOfTen(std::uint64_t mantissa, long exponent) {
  const Extended m = mantissa;
  if (mantissa == 0 || exponent == 0) return m;
  // Beyond these the result is infinite or zero whatever the 19 digits are.
  if (exponent > 5000) return Extended::Infinity();
  if (exponent < -5000) return 0;
  auto power = [](long e) {
    Extended result = 1;
    Extended base = 10;
    for (auto k = static_cast<unsigned long>(e); k != 0; k >>= 1) {
      if ((k & 1U) != 0) result *= base;
      base *= base;
    }
    return result;
  };
  if (exponent > 0) return m * power(exponent);
  constexpr long kExactPowerLimit = 27;
  const long magnitude = -exponent;
  if (magnitude <= kExactPowerLimit) return m / power(magnitude);
  // Split so the divisor stays finite for the smallest numbers.
  const long first = std::min(magnitude, 4900L);
  Extended result = m / power(first);
  if (magnitude > first) result /= power(magnitude - first);
  return result;
}

// A decimal literal as an extended value, 0.88_ext: the value nearest to the decimal number,
// read as the numeric fields read text. Limited to 19 significant digits and powers of ten up to
// 10^27, where that reading is exact, so the literal is always the nearest value.
consteval Extended operator""_ext(const char* text) {
  std::uint64_t mantissa = 0;
  int digits = 0;
  long exponent = 0;
  const char* p = text;
  auto take = [&](char c, bool fraction) {
    if (c == '\'') return;
    if (mantissa != 0 || c != '0') {
      if (++digits > 19) throw std::invalid_argument("more than 19 significant digits");
      mantissa = mantissa * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (fraction) --exponent;
  };
  for (; (*p >= '0' && *p <= '9') || *p == '\''; ++p) take(*p, false);
  if (*p == '.') {
    for (++p; (*p >= '0' && *p <= '9') || *p == '\''; ++p) take(*p, true);
  }
  if (*p == 'e' || *p == 'E') {
    ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    long written = 0;
    for (; *p >= '0' && *p <= '9'; ++p) written = written * 10 + (*p - '0');
    exponent += negative ? -written : written;
  }
  if (*p != '\0') throw std::invalid_argument("not a decimal literal");
  if (mantissa != 0 && (exponent > 27 || exponent < -27)) {
    throw std::invalid_argument("power of ten beyond 10^27");
  }
  return ScaleByPowerOfTen(mantissa, exponent);
}

}  // namespace glowstep
