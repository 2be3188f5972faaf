// Unsigned 128-bit arithmetic for the extended-precision type.
//
// Only the full 64 x 64-bit product and the 128 / 64-bit division need more than 64-bit
// operations. They use the compiler's 128-bit integer where there is one (GCC, Clang) and
// otherwise the same operations on 32-bit pieces (MSVC has no 128-bit integer). Both versions
// are always compiled, so that the tests can hold them against each other.
#pragma once

#include <bit>
#include <cstdint>
#include <type_traits>

namespace glowstep::wide {

struct TUInt128 {
  std::uint64_t Hi = 0;
  std::uint64_t Lo = 0;
  friend constexpr bool operator==(TUInt128, TUInt128) = default;
};

struct TDivision {
  std::uint64_t Quotient = 0;
  std::uint64_t Remainder = 0;
  friend constexpr bool operator==(TDivision, TDivision) = default;
};

namespace portable {

constexpr std::uint64_t kLow32 = 0xFFFFFFFFU;

constexpr TUInt128 Multiply(std::uint64_t a, std::uint64_t b) {
  const std::uint64_t a0 = a & kLow32, a1 = a >> 32;
  const std::uint64_t b0 = b & kLow32, b1 = b >> 32;
  const std::uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
  const std::uint64_t middle = (p00 >> 32) + (p01 & kLow32) + (p10 & kLow32);
  return {p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32), (middle << 32) | (p00 & kLow32)};
}

// (high * 2^64 + low) / divisor for high < divisor, so that the quotient fits 64 bits: the
// two-digit long division in base 2^32 with a normalised divisor, each quotient digit estimated
// from the leading digits and corrected at most twice.
constexpr TDivision Divide(std::uint64_t high, std::uint64_t low, std::uint64_t divisor) {
  constexpr std::uint64_t kBase = std::uint64_t{1} << 32;
  // Callers divide by normalised significands; a zero divisor has no quotient to give.
  if (divisor == 0) return {};
  const int shift = std::countl_zero(divisor);
  divisor <<= shift;
  const std::uint64_t d1 = divisor >> 32, d0 = divisor & kLow32;
  const std::uint64_t n32 = shift == 0 ? high : (high << shift) | (low >> (64 - shift));
  const std::uint64_t n10 = low << shift;
  const std::uint64_t n1 = n10 >> 32, n0 = n10 & kLow32;

  auto digit = [&](std::uint64_t numerator, std::uint64_t next) {
    // d1 holds the normalised divisor's top bit, so it is never zero.
    std::uint64_t q = numerator / d1;  // NOLINT(clang-analyzer-core.UndefinedBinaryOperatorResult)
    std::uint64_t r = numerator - q * d1;
    while (q >= kBase || q * d0 > ((r << 32) | next)) {
      --q;
      r += d1;
      if (r >= kBase) break;
    }
    return q;
  };
  const std::uint64_t q1 = digit(n32, n1);
  const std::uint64_t n21 = (n32 << 32) + n1 - q1 * divisor;  // exact modulo 2^64
  const std::uint64_t q0 = digit(n21, n0);
  const std::uint64_t remainder = ((n21 << 32) + n0 - q0 * divisor) >> shift;
  return {(q1 << 32) | q0, remainder};
}

}  // namespace portable

#if defined(__SIZEOF_INT128__)
namespace native {

__extension__ using TNative = unsigned __int128;

constexpr TUInt128 Multiply(std::uint64_t a, std::uint64_t b) {
  const TNative product = TNative{a} * b;
  return {static_cast<std::uint64_t>(product >> 64), static_cast<std::uint64_t>(product)};
}

constexpr TDivision Divide(std::uint64_t high, std::uint64_t low, std::uint64_t divisor) {
#if defined(__x86_64__)
  // The processor divides 128 by 64 bits in one instruction; the compiler calls a general
  // 128-bit division instead.
  if (!std::is_constant_evaluated()) {
    std::uint64_t quotient = 0, remainder = 0;
    __asm__("divq %[divisor]"
            : "=a"(quotient), "=d"(remainder)
            : [divisor] "r"(divisor), "a"(low), "d"(high)
            : "cc");
    return {quotient, remainder};
  }
#endif
  const TNative numerator = (TNative{high} << 64) | low;
  return {static_cast<std::uint64_t>(numerator / divisor),
          static_cast<std::uint64_t>(numerator % divisor)};
}

}  // namespace native
using native::Divide;
using native::Multiply;
#else
using portable::Divide;
using portable::Multiply;
#endif

constexpr bool IsZero(TUInt128 x) { return (x.Hi | x.Lo) == 0; }

constexpr bool Less(TUInt128 a, TUInt128 b) { return a.Hi != b.Hi ? a.Hi < b.Hi : a.Lo < b.Lo; }

// The sum, and whether it carried out of the top bit.
constexpr TUInt128 Add(TUInt128 a, TUInt128 b, bool& carry) {
  const std::uint64_t lo = a.Lo + b.Lo;
  const std::uint64_t loCarry = lo < a.Lo ? 1 : 0;
  const std::uint64_t hi = a.Hi + b.Hi + loCarry;
  carry = hi < a.Hi || (hi == a.Hi && loCarry != 0);
  return {hi, lo};
}

// a - b for a >= b.
constexpr TUInt128 Subtract(TUInt128 a, TUInt128 b) {
  return {a.Hi - b.Hi - (a.Lo < b.Lo ? 1 : 0), a.Lo - b.Lo};
}

constexpr int CountLeadingZeros(TUInt128 x) {
  return x.Hi != 0 ? std::countl_zero(x.Hi) : 64 + std::countl_zero(x.Lo);
}

constexpr TUInt128 ShiftLeft(TUInt128 x, int n) {
  if (n == 0) return x;
  if (n >= 128) return {0, 0};
  if (n >= 64) return {x.Lo << (n - 64), 0};
  return {(x.Hi << n) | (x.Lo >> (64 - n)), x.Lo << n};
}

// Shifts right; every bit shifted out is ORed into the lowest bit ("sticky"), so that the result
// still tells an exact value from one slightly above it when it is rounded later.
constexpr TUInt128 ShiftRightSticky(TUInt128 x, int n) {
  if (n == 0) return x;
  if (n >= 128) return {0, IsZero(x) ? 0U : 1U};
  if (n >= 64) {
    const int k = n - 64;
    const std::uint64_t lost = (k == 0 ? 0 : x.Hi << (64 - k)) | x.Lo;
    return {0, (x.Hi >> k) | (lost != 0 ? 1U : 0U)};
  }
  const std::uint64_t lost = x.Lo << (64 - n);
  return {x.Hi >> n, (x.Hi << (64 - n)) | (x.Lo >> n) | (lost != 0 ? 1U : 0U)};
}

}  // namespace glowstep::wide
