// Extended held against the x87 unit itself: on x86, GCC's and Clang's `long double` is the x87
// 80-bit format computed by the hardware, so every operation can be compared bit for bit. Only
// this check uses the hardware type; it exists only where that type has the x87 format.
#pragma once

#include <cfloat>
#include <cstdint>
#include <string>
#include <vector>

#include "base/extended.h"

#if (defined(__x86_64__) || defined(__i386__)) && LDBL_MANT_DIG == 64
#define GLOWSTEP_HAS_X87 1

namespace glowstep::x87 {

// Operations compared, mismatches, and the first few mismatches in readable form.
struct TReport {
  std::uint64_t Operations = 0;
  std::uint64_t Mismatches = 0;
  std::vector<std::string> Examples;

  void Count(bool same, const std::string& what);
};

// Random operands of every class (ordinary, far apart in exponent, with few significant bits so
// that results fall on ties, near powers of two, subnormal, huge, zero, infinite, NaN, the
// codec's constants) through +, -, *, /, the comparisons, the conversions from integers and
// doubles, to double, Trunc and RoundHalfEven, and decimal scaling. Deterministic per seed.
void CompareRandomOperations(std::uint64_t operations, std::uint64_t seed, TReport& report);

// The codec's formulas: k for every 16-bit LED count, and the on-time of 1 to 300 seconds both
// ways for every `ledStep`-th count (and every count from 1190 to 1210).
void CompareCodecFormulas(unsigned ledStep, TReport& report);

// The texts the number and codec tests read (all two-decimal values from 0 to 2.5 among them)
// against the C library's correctly rounded reader, and their products with 25 and 100.
void CompareTexts(TReport& report);

}  // namespace glowstep::x87

#endif
