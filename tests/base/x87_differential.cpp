#include "tests/base/x87_differential.h"

#ifdef GLOWSTEP_HAS_X87

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "base/numbers.h"

namespace glowstep::x87 {

namespace {

using Hardware = long double;

constexpr std::size_t kExamples = 10;

Hardware ToHardware(Extended x) {
  unsigned char bytes[sizeof(Hardware)] = {};
  const std::uint64_t significand = x.Significand();
  const std::uint16_t signExponent = x.SignExponent();
  std::memcpy(bytes, &significand, 8);
  std::memcpy(bytes + 8, &signExponent, 2);
  Hardware h = 0;
  std::memcpy(&h, bytes, sizeof h);
  return h;
}

Extended FromHardware(Hardware h) {
  unsigned char bytes[sizeof(Hardware)] = {};
  std::memcpy(bytes, &h, sizeof h);
  std::uint64_t significand = 0;
  std::uint16_t signExponent = 0;
  std::memcpy(&significand, bytes, 8);
  std::memcpy(&signExponent, bytes + 8, 2);
  return Extended::FromBits(signExponent, significand);
}

bool SameBits(Extended a, Extended b) {
  return a.SignExponent() == b.SignExponent() && a.Significand() == b.Significand();
}

bool SameBits(double a, double b) {
  std::uint64_t x = 0, y = 0;
  std::memcpy(&x, &a, 8);
  std::memcpy(&y, &b, 8);
  return x == y;
}

std::string Show(Extended x) {
  char text[32];
  std::snprintf(text, sizeof text, "%04X:%016llX", static_cast<unsigned>(x.SignExponent()),
                static_cast<unsigned long long>(x.Significand()));
  return text;
}

std::string Show(double x) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &x, 8);
  char text[32];
  std::snprintf(text, sizeof text, "d%016llX", static_cast<unsigned long long>(bits));
  return text;
}

// --- The reference conversions, in the hardware type ------------------------------------------

std::int64_t ReferenceTrunc(Hardware v) {
  if (std::isnan(v)) return 0;
  if (v >= 0x1p63L) return std::numeric_limits<std::int64_t>::max();
  if (v < -0x1p63L) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(v);
}

std::int64_t ReferenceRoundHalfEven(Hardware v) {
  if (!std::isfinite(v)) return ReferenceTrunc(v);
  Hardware floor = std::floor(v);
  const Hardware rest = v - floor;
  if (rest > 0.5L || (rest == 0.5L && std::fmod(floor, 2.0L) != 0)) floor += 1;
  return ReferenceTrunc(floor);
}

Hardware ReferencePowerOfTen(long exponent) {
  Hardware result = 1;
  Hardware base = 10;
  for (auto e = static_cast<unsigned long>(exponent); e != 0; e >>= 1) {
    if ((e & 1U) != 0) result *= base;
    base *= base;
  }
  return result;
}

Hardware ReferenceScale(std::uint64_t mantissa, long exponent) {
  const auto m = static_cast<Hardware>(mantissa);
  if (mantissa == 0 || exponent == 0) return m;
  if (exponent > 5000) return std::numeric_limits<Hardware>::infinity();
  if (exponent < -5000) return 0;
  if (exponent > 0) return m * ReferencePowerOfTen(exponent);
  const long magnitude = -exponent;
  if (magnitude <= 27) return m / ReferencePowerOfTen(magnitude);
  const long first = std::min(magnitude, 4900L);
  Hardware result = m / ReferencePowerOfTen(first);
  if (magnitude > first) result /= ReferencePowerOfTen(magnitude - first);
  return result;
}

// --- Operands -------------------------------------------------------------------------------

class TOperands {
 public:
  explicit TOperands(std::uint64_t seed) : random_(seed) {}

  std::uint64_t Bits() { return random_(); }
  int Uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
  bool Chance(int percent) { return Uniform(0, 99) < percent; }

  // A valid encoding: the integer bit set exactly when the exponent is not 0 (the x87 unit
  // rejects the others as invalid operands, and Extended never makes them).
  static Extended Make(bool negative, int biased, std::uint64_t significand) {
    biased = std::clamp(biased, 0, 0x7FFF);
    significand =
        biased == 0 ? significand & ~Extended::kIntegerBit : significand | Extended::kIntegerBit;
    return Extended::FromBits(
        static_cast<std::uint16_t>((negative ? Extended::kSignBit : 0) | biased), significand);
  }

  // An operand of a random class.
  Extended Any() {
    switch (Uniform(0, 9)) {
      case 0:
        return Short();
      case 1:
        return NearPowerOfTwo();
      case 2:
        return Extreme();
      case 3:
        return Special();
      case 4:
        return Codec();
      default:
        return Ordinary();
    }
  }

  // Exponents around 1, a random full significand.
  Extended Ordinary() {
    return Make(Chance(50), Extended::kBias + Uniform(-80, 80), Bits() | Extended::kIntegerBit);
  }

  // A handful of significant bits: products and quotients of such numbers fall on ties.
  Extended Short() {
    const int bits = Uniform(1, 40);
    const std::uint64_t odd = (Bits() >> (64 - bits)) | 1U;
    return Make(Chance(50), Extended::kBias + Uniform(-70, 70), odd << std::countl_zero(odd));
  }

  Extended NearPowerOfTwo() {
    const std::uint64_t offset = Bits() >> Uniform(40, 63);
    const std::uint64_t significand =
        Chance(50) ? Extended::kIntegerBit + offset : ~std::uint64_t{0} - offset;
    return Make(Chance(50), Extended::kBias + Uniform(-70, 70), significand);
  }

  // Near the ends of the range: subnormals and the smallest normals, or near overflow.
  Extended Extreme() {
    const int biased = Chance(50) ? Uniform(0, 70) : Uniform(0x7FFE - 70, 0x7FFE);
    return Make(Chance(50), biased, Bits() | (biased == 0 ? 0 : Extended::kIntegerBit));
  }

  Extended Special() {
    const bool negative = Chance(50);
    switch (Uniform(0, 4)) {
      case 0:
        return negative ? -Extended{} : Extended{};
      case 1:
        return Extended::Infinity(negative);
      case 2:  // quiet NaN
        return Make(negative, 0x7FFF, Extended::kIntegerBit | Extended::kQuietBit | (Bits() >> 3));
      case 3:  // signalling NaN
        return Make(negative, 0x7FFF, Extended::kIntegerBit | (Bits() >> 3) | 1U);
      default:
        return Make(negative, Uniform(0, 1), 1U);  // the smallest subnormal or normal
    }
  }

  // What the settings codec computes with: counts, ticks, its constants and factors.
  Extended Codec() {
    switch (Uniform(0, 6)) {
      case 0:
        return 0.88_ext;
      case 1:
        return 25;
      case 2:
        return 256;
      case 3:
        return 1000;
      case 4:
        return RoundToDouble(Extended{Uniform(1201, 65535)} * 0.88_ext / 1000);
      case 5:
        return Extended{Uniform(0, 250)} / 100;
      default:
        return Uniform(0, 65535);
    }
  }

  // A pair for + and -: far apart in exponent (60 to 70), or the second at half a unit in the
  // last place of the first (a tie) or near it, or just any two operands.
  std::pair<Extended, Extended> SumPair() {
    const Extended a = Chance(80) ? Ordinary() : Any();
    if (!a.IsFinite() || a.IsZero()) return {a, Any()};
    const int biased = a.SignExponent() & Extended::kExponentMask;
    const bool negative = Chance(70) != a.IsNegative();  // mostly opposite signs
    switch (Uniform(0, 3)) {
      case 0:
        return {a, Make(negative, biased - Uniform(60, 70), Bits() | Extended::kIntegerBit)};
      case 1: {
        const std::uint64_t low = Chance(50) ? 0 : Bits() >> Uniform(1, 63);
        return {a, Make(negative, biased - Uniform(63, 65), Extended::kIntegerBit | low)};
      }
      case 2:
        return {a, Make(negative, biased - Uniform(0, 2), Bits() | Extended::kIntegerBit)};
      default:
        return {a, Any()};
    }
  }

  // Doubles of every class, by their bits.
  double AnyDouble() {
    std::uint64_t bits = Bits();
    switch (Uniform(0, 3)) {
      case 0:  // subnormal or zero
        bits &= ~(std::uint64_t{0x7FF} << 52);
        break;
      case 1:  // infinity or NaN
        bits |= std::uint64_t{0x7FF} << 52;
        if (Chance(30)) bits &= ~((std::uint64_t{1} << 52) - 1);
        break;
      default:
        break;
    }
    double d = 0;
    std::memcpy(&d, &bits, 8);
    return d;
  }

  // Extended values around double's range limits and ties at double's last bit.
  Extended NearDouble() {
    const int biased = Chance(50) ? Extended::kBias + Uniform(-1090, -1010)
                                  : Extended::kBias + Uniform(1010, 1030);
    std::uint64_t significand = Bits() | Extended::kIntegerBit;
    if (Chance(30)) significand = (significand & ~std::uint64_t{0x7FF}) | 0x400;  // a tie
    return Make(Chance(50), biased, significand);
  }

 private:
  std::mt19937_64 random_;
};

void CompareArithmetic(TOperands& operands, TReport& report) {
  const int kind = operands.Uniform(0, 3);
  const auto [a, b] = kind < 2 ? operands.SumPair() : std::pair{operands.Any(), operands.Any()};
  const Hardware ha = ToHardware(a), hb = ToHardware(b);
  Extended ours;
  Hardware hardware = 0;
  const char* name = "";
  switch (kind) {
    case 0:
      ours = a + b, hardware = ha + hb, name = "+";
      break;
    case 1:
      ours = a - b, hardware = ha - hb, name = "-";
      break;
    case 2:
      ours = a * b, hardware = ha * hb, name = "*";
      break;
    default:
      ours = a / b, hardware = ha / hb, name = "/";
      break;
  }
  const Extended expected = FromHardware(hardware);
  report.Count(SameBits(ours, expected), Show(a) + " " + name + " " + Show(b) + " = " + Show(ours) +
                                             ", x87 " + Show(expected));
}

void CompareComparisons(TOperands& operands, TReport& report) {
  const Extended a = operands.Any();
  const Extended b = operands.Chance(20) ? a : operands.Chance(20) ? -a : operands.Any();
  const Hardware ha = ToHardware(a), hb = ToHardware(b);
  const bool same = (a < b) == (ha < hb) && (a <= b) == (ha <= hb) && (a == b) == (ha == hb) &&
                    (a > b) == (ha > hb) && (a != b) == (ha != hb);
  report.Count(same, "comparison of " + Show(a) + " and " + Show(b));
}

void CompareConversions(TOperands& operands, TReport& report) {
  switch (operands.Uniform(0, 5)) {
    case 0: {
      const double d = operands.AnyDouble();
      const Extended expected = FromHardware(static_cast<Hardware>(d));
      report.Count(SameBits(Extended{d}, expected), "from " + Show(d));
      break;
    }
    case 1: {
      const Extended x = operands.Chance(50) ? operands.NearDouble() : operands.Any();
      const double expected = static_cast<double>(ToHardware(x));
      report.Count(SameBits(RoundToDouble(x), expected), "to double " + Show(x));
      break;
    }
    case 2: {
      const auto i = static_cast<std::int64_t>(operands.Bits() >> operands.Uniform(0, 63));
      const std::int64_t signedValue = operands.Chance(50) ? i : -i;
      const std::uint64_t unsignedValue = operands.Bits() >> operands.Uniform(0, 63);
      report.Count(
          SameBits(Extended{signedValue}, FromHardware(static_cast<Hardware>(signedValue))) &&
              SameBits(Extended{unsignedValue}, FromHardware(static_cast<Hardware>(unsignedValue))),
          "from integers " + std::to_string(signedValue) + ", " + std::to_string(unsignedValue));
      break;
    }
    case 3:
    case 4: {
      // Integers and halves around 2^62 and below, besides any operand.
      Extended x = operands.Any();
      if (operands.Chance(50)) {
        x = TOperands::Make(operands.Chance(50), Extended::kBias + operands.Uniform(-2, 64),
                            operands.Bits() | Extended::kIntegerBit);
      }
      if (operands.Chance(30)) x = Extended{Trunc(x)} + (operands.Chance(50) ? 0.5 : -0.5);
      const Hardware h = ToHardware(x);
      report.Count(Trunc(x) == ReferenceTrunc(h) && RoundHalfEven(x) == ReferenceRoundHalfEven(h),
                   "integer of " + Show(x));
      break;
    }
    default: {
      const std::uint64_t mantissa = operands.Bits() >> operands.Uniform(0, 63);
      const long exponent =
          operands.Chance(50) ? operands.Uniform(-30, 30) : operands.Uniform(-5100, 5100);
      const Extended ours = ScaleByPowerOfTen(mantissa, exponent);
      const Extended expected = FromHardware(ReferenceScale(mantissa, exponent));
      report.Count(SameBits(ours, expected), std::to_string(mantissa) + "e" +
                                                 std::to_string(exponent) + " = " + Show(ours) +
                                                 ", x87 " + Show(expected));
      break;
    }
  }
}

}  // namespace

void TReport::Count(bool same, const std::string& what) {
  ++Operations;
  if (same) return;
  ++Mismatches;
  if (Examples.size() < kExamples) Examples.push_back(what);
}

void CompareRandomOperations(std::uint64_t operations, std::uint64_t seed, TReport& report) {
  TOperands operands(seed);
  for (std::uint64_t i = 0; i < operations; ++i) {
    const int kind = operands.Uniform(0, 9);
    if (kind < 7) {
      CompareArithmetic(operands, report);
    } else if (kind == 7) {
      CompareComparisons(operands, report);
    } else {
      CompareConversions(operands, report);
    }
  }
}

void CompareCodecFormulas(unsigned ledStep, TReport& report) {
  for (unsigned leds = 0; leds <= 0xFFFF; ++leds) {
    const Extended k = RoundToDouble(Extended{leds} * 0.88_ext / 1000);
    const auto hk = static_cast<double>(static_cast<Hardware>(leds) * 0.88L / 1000);
    report.Count(SameBits(RoundToDouble(k), hk), "k for " + std::to_string(leds));
    if (leds % ledStep != 0 && (leds < 1190 || leds > 1210)) continue;
    for (int seconds = 1; seconds <= 300; ++seconds) {
      const std::int64_t plain = Trunc(Extended{seconds} * 25);
      const std::int64_t wire = RoundHalfEven(Extended{seconds} * 25 / k);
      const Hardware hs = seconds;
      report.Count(plain == ReferenceTrunc(hs * 25) && wire == ReferenceRoundHalfEven(hs * 25 / hk),
                   "on-time " + std::to_string(seconds) + " s at " + std::to_string(leds));
      const auto back = static_cast<std::uint16_t>(wire & 0xFFFF);
      const Extended seconds2 = Extended{back} * k / 25;
      const Extended plainBack = Extended{back} / 25;
      const Hardware hb = back;
      report.Count(SameBits(seconds2, FromHardware(hb * hk / 25)) &&
                       RoundHalfEven(seconds2) == ReferenceRoundHalfEven(hb * hk / 25) &&
                       SameBits(plainBack, FromHardware(hb / 25)),
                   "decoded " + std::to_string(back) + " at " + std::to_string(leds));
    }
  }
}

void CompareTexts(TReport& report) {
  std::vector<std::string> texts = {"0.10",
                                    "2.12",
                                    "2.36",
                                    "0.000001",
                                    "1e-5",
                                    "123456789012345678",
                                    "9.87654321098765432",
                                    "3.5E+20",
                                    "000123.4500",
                                    "1.5",
                                    "-2.25",
                                    "5.",
                                    ".5",
                                    "1e3",
                                    "0.125",
                                    "2.5",
                                    "7.5",
                                    "7.49",
                                    "-0.5",
                                    "0.1",
                                    "99.996",
                                    "-0.001",
                                    "1.24",
                                    "250",
                                    "1.23456789012345678",
                                    "0.49999999999999999",
                                    "1e20",
                                    "1234567.891",
                                    "-123456",
                                    "999",
                                    "1234.5",
                                    "123456789012345",
                                    "1e15",
                                    "0.0001",
                                    "0.00001",
                                    "9.999999999999999",
                                    "2.9",
                                    "-2.9",
                                    "2.5000000001",
                                    "-2.6",
                                    "1.06128",
                                    "0.88",
                                    "1.76",
                                    "52.8",
                                    "20",
                                    "19",
                                    "0.08",
                                    "2.48",
                                    "1800",
                                    "1000",
                                    "1e4000",
                                    "1e-4000",
                                    "1e-4940"};
  for (int hundredths = 0; hundredths <= 250; ++hundredths) {
    char text[16];
    std::snprintf(text, sizeof text, "%d.%02d", hundredths / 100, hundredths % 100);
    texts.emplace_back(text);
  }
  for (const std::string& text : texts) {
    const auto ours = TextToFloat(FromUtf8(text), u'.');
    const Hardware expected = std::strtold(text.c_str(), nullptr);
    if (!ours) {
      report.Count(false, text + " does not read");
      continue;
    }
    // Beyond 10^27 the reader rounds the power of ten once more; there it must match its own
    // definition, the scaling step, which the random operations compare.
    const bool exact = std::abs(std::log10(std::fabs(expected) + 1e-300L)) < 27;
    const bool same = !exact || SameBits(*ours, FromHardware(expected));
    const Hardware h = ToHardware(*ours);
    report.Count(same && Trunc(*ours * 25) == ReferenceTrunc(h * 25) &&
                     Trunc(*ours * 100) == ReferenceTrunc(h * 100) &&
                     SameBits(*ours * 25, FromHardware(h * 25)),
                 text + " reads as " + Show(*ours) + ", x87 " + Show(FromHardware(expected)));
  }
}

}  // namespace glowstep::x87

#endif
