// Extended-precision numbers and the exact conversions between them and text.
//
// The controls and the settings codec compute in 80-bit extended precision (64-bit mantissa).
// Every conversion between such a number and text, and every conversion to an integer, lives
// here so that the numeric fields and the codec agree to the last bit.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/extended.h"

namespace glowstep {

// Decimal and thousands separators; the widgets pass the user's locale.
struct TNumberFormat {
  char16_t DecimalSeparator = u'.';
  char16_t ThousandsSeparator = u',';
};

// --- Text to number ------------------------------------------------------------------------

// Removes every thousands separator, unless it equals the decimal separator.
std::u16string StripThousands(std::u16string_view text, const TNumberFormat& format);

// Reads a real number: optional spaces, optional sign, digits, optionally the decimal separator
// and digits (a lone separator reads as 0), an optional exponent (E or e, optional sign,
// digits), optional spaces, nothing else. The digits are accumulated exactly and scaled by the
// power of ten in one correctly rounded step, so up to 18 significant digits give the extended
// value nearest to the decimal number. Empty result on a syntax error or an unrepresentable
// (infinite) value.
std::optional<Extended> TextToFloat(std::u16string_view text, char16_t decimalSeparator);

// Reads a signed 32-bit integer: optional leading spaces, optional sign, then decimal digits, or
// "$" followed by hexadecimal digits (up to 8, taken as a 32-bit pattern). Nothing may follow.
// Empty result on an empty text, any other character, or overflow.
std::optional<std::int32_t> TextToInt(std::u16string_view text);

// --- Number to text ------------------------------------------------------------------------

// Fixed notation with exactly `decimals` digits after the decimal separator (none for 0).
// The number is read as a person reads it: its exact decimal expansion carried to 15
// significant digits (rounded halves away from zero at the 15th), and that digit string rounded
// halves away from zero at the last shown digit when fewer digits are shown. So 0.955, whose
// nearest extended value lies a hair below it, shows as 0.96 with two decimals, while a value
// whose shown digits reach 15 significant digits is rounded once, at the 15th. With
// `grouping`, the integer part is grouped by threes with the thousands separator. A value that
// rounds to zero carries no sign. Not-a-number and infinities give "NAN", "INF" and "-INF".
std::u16string FormatFixed(Extended value,
                           int decimals,
                           const TNumberFormat& format,
                           bool grouping = false);

// General number format with up to 15 significant digits: the shortest of plain or scientific
// notation, no trailing zeros ("3", "2.5", "1E20", "1E-7"), as used in messages.
std::u16string FormatGeneral(Extended value, char16_t decimalSeparator = u'.');

// --- Number to integer ---------------------------------------------------------------------

// Truncation toward zero, independent of the rounding mode; saturates at the int64 range and
// gives 0 for not-a-number.
std::int64_t Trunc(Extended value);

// Rounding to the nearest integer with halves to the even neighbour; saturates like Trunc.
std::int64_t RoundHalfEven(Extended value);

// Rounding to double precision (to nearest, halves to even).
constexpr double RoundToDouble(Extended value) { return value.ToDouble(); }

// --- Display formats ------------------------------------------------------------------------

// A number in a display format: literal text around one number picture made of "0" (a digit
// always shown), "#" (a digit shown when significant), "," anywhere before the point (group the
// thousands) and "." (the decimal separator). Anything else is copied as it stands. The number
// is rounded as FormatFixed rounds, at the last "0" or "#" after the point; fraction digits
// beyond the "0"s are shown only when they are not trailing zeros. ",0.##" writes 1234.5 as
// "1,234.5" and 2 as "2".
std::u16string FormatDisplay(Extended value,
                             std::u16string_view picture,
                             const TNumberFormat& format);

// A text shown in a display format, made readable by TextToFloat: spaces at both ends and the
// thousands separators (unless they equal the decimal separator) go, "." and "," stand for the
// decimal separator unless one of the separators is that character, and only the digits, "+",
// "-" and the two separators stay (so no exponent). An empty result is "0", a lone "-" is "-0".
std::u16string DisplayTextToNumber(std::u16string_view text, const TNumberFormat& format);

// UTF-16 <-> UTF-8 helpers for messages and tests.
std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

}  // namespace glowstep
