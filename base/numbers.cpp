#include "base/numbers.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <vector>

namespace glowstep {

namespace {

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

int HexDigitValue(char16_t c) {
  if (IsDigit(c)) return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// The exact decimal expansion of a finite, non-negative extended value: all integer digits at
// once, fraction digits one at a time. The value is m * 2^e with a 64-bit integer m.
class TDecimalExpansion {
 public:
  explicit TDecimalExpansion(Extended value) {
    std::uint64_t mantissa = value.Significand();
    const int shift = value.IsZero() ? 0 : value.Exponent() - 63;  // value = mantissa * 2^shift
    std::vector<std::uint32_t> integer;                            // little-endian words
    if (shift >= 0) {
      integer = Shifted(mantissa, static_cast<unsigned>(shift));
    } else {
      const auto fracBits = static_cast<unsigned>(-shift);
      FractionBits_ = fracBits;
      if (fracBits < 64) {
        integer = Shifted(mantissa >> fracBits, 0);
        mantissa &= (std::uint64_t{1} << fracBits) - 1;
      } else {
        integer = {0};
      }
      Numerator_ = Shifted(mantissa, 0);
      Numerator_.resize(fracBits / 32 + 2, 0);
    }
    IntegerDigits(std::move(integer));
  }

  const std::string& Integer() const { return IntegerDigits_; }

  // Next digit of the fraction (0 once the fraction is exhausted).
  int NextFractionDigit() {
    if (FractionBits_ == 0) return 0;
    // numerator = numerator * 10; digit = numerator >> bits; numerator &= 2^bits - 1
    std::uint64_t carry = 0;
    for (auto& word : Numerator_) {
      const std::uint64_t product = std::uint64_t{word} * 10 + carry;
      word = static_cast<std::uint32_t>(product);
      carry = product >> 32;
    }
    const unsigned wordIndex = FractionBits_ / 32;
    const unsigned bitIndex = FractionBits_ % 32;
    std::uint64_t high = Numerator_[wordIndex];
    if (wordIndex + 1 < Numerator_.size()) high |= std::uint64_t{Numerator_[wordIndex + 1]} << 32;
    const auto digit = static_cast<int>(high >> bitIndex);
    Numerator_[wordIndex] &= (std::uint32_t{1} << bitIndex) - 1;
    for (std::size_t i = wordIndex + 1; i < Numerator_.size(); ++i) Numerator_[i] = 0;
    return digit;
  }

 private:
  static std::vector<std::uint32_t> Shifted(std::uint64_t value, unsigned shift) {
    std::vector<std::uint32_t> words(shift / 32 + 3, 0);
    const unsigned wordShift = shift / 32;
    const unsigned bitShift = shift % 32;
    const std::uint64_t low = value << bitShift;
    const std::uint64_t high = bitShift == 0 ? 0 : value >> (64 - bitShift);
    words[wordShift] = static_cast<std::uint32_t>(low);
    words[wordShift + 1] = static_cast<std::uint32_t>(low >> 32);
    words[wordShift + 2] = static_cast<std::uint32_t>(high);
    return words;
  }

  void IntegerDigits(std::vector<std::uint32_t> words) {
    // Repeated division by 10^9, collecting nine digits per round.
    std::string reversed;
    auto nonZero = [&words] {
      return std::any_of(words.begin(), words.end(), [](std::uint32_t w) { return w != 0; });
    };
    while (nonZero()) {
      std::uint64_t remainder = 0;
      for (auto it = words.rbegin(); it != words.rend(); ++it) {
        const std::uint64_t current = (remainder << 32) | *it;
        *it = static_cast<std::uint32_t>(current / 1000000000U);
        remainder = current % 1000000000U;
      }
      for (int i = 0; i < 9; ++i) {
        reversed.push_back(static_cast<char>('0' + remainder % 10));
        remainder /= 10;
      }
    }
    while (reversed.size() > 1 && reversed.back() == '0') reversed.pop_back();
    if (reversed.empty()) reversed = "0";
    IntegerDigits_.assign(reversed.rbegin(), reversed.rend());
  }

  std::string IntegerDigits_;
  std::vector<std::uint32_t> Numerator_;
  unsigned FractionBits_ = 0;
};

constexpr int kSignificantDigits = 15;

// Adds one unit at the last position of a digit string; returns true when it grew by a digit.
bool IncrementDigits(std::string& digits) {
  for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
    if (*it != '9') {
      ++*it;
      return false;
    }
    *it = '0';
  }
  digits.insert(digits.begin(), '1');
  return true;
}

// Digits of |value| rounded halves away from zero at `kept` digits (counted from the start of
// `digits`), keeping the length; returns whether the rounding carried into a new leading digit.
bool RoundDigitsAt(std::string& digits, std::size_t kept, char next) {
  std::fill(digits.begin() + static_cast<std::ptrdiff_t>(kept), digits.end(), '0');
  if (next < '5') return false;
  std::string head = digits.substr(0, kept);
  const bool grew = IncrementDigits(head);
  digits.replace(0, kept, head);
  return grew;
}

std::u16string Widen(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }

std::u16string NonFinite(Extended value) {
  if (value.IsNaN()) return u"NAN";
  return value < 0 ? u"-INF" : u"INF";
}

}  // namespace

std::u16string StripThousands(std::u16string_view text, const TNumberFormat& format) {
  std::u16string result(text);
  if (format.ThousandsSeparator == format.DecimalSeparator) return result;
  std::erase(result, format.ThousandsSeparator);
  return result;
}

std::optional<Extended> TextToFloat(std::u16string_view text, char16_t decimalSeparator) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n && text[i] == u' ') ++i;
  bool negative = false;
  if (i < n && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';

  std::uint64_t mantissa = 0;
  int significant = 0;
  long exponent = 0;
  bool sawDigit = false;
  bool sawSeparator = false;
  auto takeDigit = [&](char16_t c, bool fraction) {
    sawDigit = true;
    const auto d = static_cast<unsigned>(c - u'0');
    if (mantissa == 0 && d == 0) {
      if (fraction) --exponent;  // leading zeros after the separator only shift the point
      return;
    }
    if (significant < 19) {
      mantissa = mantissa * 10 + d;
      ++significant;
      if (fraction) --exponent;
    } else if (!fraction) {
      ++exponent;  // digits beyond 19 are dropped; before the point they still count
    }
  };
  while (i < n && IsDigit(text[i])) takeDigit(text[i++], false);
  if (i < n && text[i] == decimalSeparator) {
    sawSeparator = true;
    ++i;
    while (i < n && IsDigit(text[i])) takeDigit(text[i++], true);
  }
  if (!sawDigit && !sawSeparator) return std::nullopt;

  if (i < n && (text[i] == u'E' || text[i] == u'e')) {
    ++i;
    bool negativeExponent = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) negativeExponent = text[i++] == u'-';
    if (i >= n || !IsDigit(text[i])) return std::nullopt;
    long written = 0;
    while (i < n && IsDigit(text[i])) {
      written = std::min(written * 10 + (text[i++] - u'0'), 100000L);
    }
    exponent += negativeExponent ? -written : written;
  }
  while (i < n && text[i] == u' ') ++i;
  if (i != n) return std::nullopt;

  const Extended value = ScaleByPowerOfTen(mantissa, exponent);
  if (value.IsInfinite()) return std::nullopt;
  return negative ? -value : value;
}

std::optional<std::int32_t> TextToInt(std::u16string_view text) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n && text[i] == u' ') ++i;
  bool negative = false;
  if (i < n && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  if (i >= n) return std::nullopt;

  std::int64_t magnitude = 0;
  if (text[i] == u'$') {
    ++i;
    if (i >= n) return std::nullopt;
    for (; i < n; ++i) {
      const int d = HexDigitValue(text[i]);
      if (d < 0) return std::nullopt;
      magnitude = magnitude * 16 + d;
      if (magnitude > 0xFFFFFFFFLL) return std::nullopt;
    }
    // Hexadecimal digits give a 32-bit pattern: $FFFFFFFF is -1.
    auto pattern = static_cast<std::int32_t>(static_cast<std::uint32_t>(magnitude));
    return negative ? static_cast<std::int32_t>(0U - static_cast<std::uint32_t>(pattern)) : pattern;
  }
  for (; i < n; ++i) {
    if (!IsDigit(text[i])) return std::nullopt;
    magnitude = magnitude * 10 + (text[i] - u'0');
    if (magnitude > 2147483648LL) return std::nullopt;
  }
  if (negative) return static_cast<std::int32_t>(-magnitude);
  if (magnitude > 2147483647LL) return std::nullopt;
  return static_cast<std::int32_t>(magnitude);
}

std::u16string FormatFixed(Extended value,
                           int decimals,
                           const TNumberFormat& format,
                           bool grouping) {
  if (!value.IsFinite()) return NonFinite(value);
  decimals = std::clamp(decimals, 0, 255);
  TDecimalExpansion expansion(Abs(value));
  std::string digits = expansion.Integer();
  std::size_t point = digits.size();
  // One digit beyond the last shown one decides the rounding.
  for (int i = 0; i <= decimals; ++i) {
    digits.push_back(static_cast<char>('0' + expansion.NextFractionDigit()));
  }
  // Nothing but zeros up to the digit after the last shown one: the value shows as zero, even
  // once carried to fifteen significant digits (a carry reaches that digit as a 1 at most).
  const auto first = digits.find_first_not_of('0');
  if (first != std::string::npos) {
    // The value as read is its decimal form carried to fifteen significant digits; the digit
    // after the fifteenth decides that rounding.
    const std::size_t fifteenth = first + kSignificantDigits;
    const std::size_t shown = point + static_cast<std::size_t>(decimals);
    if (fifteenth <= shown) {
      if (RoundDigitsAt(digits, fifteenth, digits[fifteenth])) ++point;
    } else {
      // Fewer digits shown: round the fifteen-digit form once more, at the last shown digit.
      while (digits.size() <= fifteenth) {
        digits.push_back(static_cast<char>('0' + expansion.NextFractionDigit()));
      }
      if (RoundDigitsAt(digits, fifteenth, digits[fifteenth])) ++point;
      const std::size_t kept = point + static_cast<std::size_t>(decimals);
      if (RoundDigitsAt(digits, kept, digits[kept])) ++point;
    }
  }
  digits.resize(point + static_cast<std::size_t>(decimals));

  std::string integer = digits.substr(0, point);
  const auto nonZero = integer.find_first_not_of('0');
  integer = nonZero == std::string::npos ? "0" : integer.substr(nonZero);
  const std::string fraction = digits.substr(point);

  std::u16string result;
  if (value < 0 && digits.find_first_not_of('0') != std::string::npos) result.push_back(u'-');
  for (std::size_t i = 0; i < integer.size(); ++i) {
    if (grouping && i != 0 && (integer.size() - i) % 3 == 0) {
      result.push_back(format.ThousandsSeparator);
    }
    result.push_back(static_cast<char16_t>(integer[i]));
  }
  if (decimals > 0) {
    result.push_back(format.DecimalSeparator);
    result += Widen(fraction);
  }
  return result;
}

std::u16string FormatGeneral(Extended value, char16_t decimalSeparator) {
  if (!value.IsFinite()) return NonFinite(value);
  if (value == 0) return u"0";
  TDecimalExpansion expansion(Abs(value));
  // Collect the first 16 significant digits and the decimal exponent of the first one, as in
  // 0.d1d2d3... * 10^exponent.
  std::string digits;
  int exponent = 0;
  const std::string& integer = expansion.Integer();
  if (integer != "0") {
    exponent = static_cast<int>(integer.size());
    digits = integer.substr(0, kSignificantDigits + 1);
  }
  while (digits.size() < kSignificantDigits + 1) {
    const int d = expansion.NextFractionDigit();
    if (digits.empty() && d == 0) {
      --exponent;
      continue;
    }
    digits.push_back(static_cast<char>('0' + d));
  }
  const char next = digits[kSignificantDigits];
  digits.resize(kSignificantDigits);
  if (next >= '5' && IncrementDigits(digits)) {
    digits.pop_back();
    ++exponent;
  }
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  std::u16string result = value < 0 ? u"-" : u"";
  if (exponent > kSignificantDigits || exponent < -3) {
    result.push_back(static_cast<char16_t>(digits[0]));
    if (digits.size() > 1) {
      result.push_back(decimalSeparator);
      result += Widen(digits.substr(1));
    }
    result.push_back(u'E');
    result += Widen(std::to_string(exponent - 1));
    return result;
  }
  if (exponent <= 0) {
    result += u"0";
    result.push_back(decimalSeparator);
    result += Widen(std::string(static_cast<std::size_t>(-exponent), '0') + digits);
    return result;
  }
  const auto whole = static_cast<std::size_t>(exponent);
  if (digits.size() <= whole) {
    result += Widen(digits + std::string(whole - digits.size(), '0'));
  } else {
    result += Widen(digits.substr(0, whole));
    result.push_back(decimalSeparator);
    result += Widen(digits.substr(whole));
  }
  return result;
}

std::int64_t Trunc(Extended value) {
  if (value.IsNaN() || value.IsZero() || value.Exponent() < 0) return 0;
  if (value.Exponent() >= 63) {  // |value| >= 2^63, infinities included
    return value.IsNegative() ? std::numeric_limits<std::int64_t>::min()
                              : std::numeric_limits<std::int64_t>::max();
  }
  const auto magnitude = static_cast<std::int64_t>(value.Significand() >> (63 - value.Exponent()));
  return value.IsNegative() ? -magnitude : magnitude;
}

std::int64_t RoundHalfEven(Extended value) {
  if (!value.IsFinite() || value.Exponent() >= 63) return Trunc(value);
  if (value.IsZero() || value.Exponent() < -1) return 0;  // below one half
  // The integer part and the fraction bits of the significand.
  const int fractionBits = 63 - value.Exponent();  // 1 to 64
  const std::uint64_t significand = value.Significand();
  std::uint64_t whole = fractionBits == 64 ? 0 : significand >> fractionBits;
  const std::uint64_t fraction =
      fractionBits == 64 ? significand : significand & ((std::uint64_t{1} << fractionBits) - 1);
  const std::uint64_t half = std::uint64_t{1} << (fractionBits - 1);
  if (fraction > half || (fraction == half && (whole & 1) != 0)) ++whole;
  if (whole > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
    return value.IsNegative() ? std::numeric_limits<std::int64_t>::min()
                              : std::numeric_limits<std::int64_t>::max();
  }
  const auto magnitude = static_cast<std::int64_t>(whole);
  return value.IsNegative() ? -magnitude : magnitude;
}

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00U);
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::u16string FromUtf8(std::string_view text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    int extra = lead < 0x80 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
    if (extra < 0 || i + static_cast<std::size_t>(extra) >= text.size()) {
      out.push_back(u'\uFFFD');  // a stray continuation byte or a cut-off sequence
      ++i;
      continue;
    }
    std::uint32_t c = extra == 0 ? lead : lead & (0x3FU >> extra);
    for (std::size_t k = 1; k <= static_cast<std::size_t>(extra); ++k) {
      c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3FU);
    }
    i += static_cast<std::size_t>(extra) + 1;
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

std::u16string FormatDisplay(Extended value,
                             std::u16string_view picture,
                             const TNumberFormat& format) {
  const auto isNumberChar = [](char16_t c) {
    return c == u'0' || c == u'#' || c == u',' || c == u'.';
  };
  std::size_t first = 0;
  while (first < picture.size() && !isNumberChar(picture[first])) ++first;
  std::size_t last = picture.size();
  while (last > first && !isNumberChar(picture[last - 1])) --last;
  const std::u16string_view number = picture.substr(first, last - first);
  const std::size_t point = number.find(u'.');
  const std::u16string_view integerPart = number.substr(0, point);
  const std::u16string_view fractionPart =
      point == std::u16string_view::npos ? std::u16string_view() : number.substr(point + 1);
  const auto count = [](std::u16string_view text, char16_t c) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), c));
  };
  const bool grouping = count(integerPart, u',') > 0;
  const std::size_t minInteger = count(integerPart, u'0');
  const std::size_t minFraction = count(fractionPart, u'0');
  const std::size_t maxFraction = minFraction + count(fractionPart, u'#');

  std::u16string digits =
      FormatFixed(value < 0 ? -value : value,
                  static_cast<int>(std::min<std::size_t>(maxFraction, 255)), format, grouping);
  // Fraction digits beyond the required ones are dropped while they are zeros, and the
  // separator with them when no fraction is left.
  std::size_t separator = digits.find(format.DecimalSeparator);
  if (separator != std::u16string::npos) {
    std::size_t keep = digits.size();
    while (keep > separator + 1 + minFraction && digits[keep - 1] == u'0') --keep;
    if (keep == separator + 1) keep = separator;
    digits.resize(keep);
  }
  separator = digits.find(format.DecimalSeparator);
  std::u16string integer = digits.substr(0, separator);
  const std::u16string fraction =
      separator == std::u16string::npos ? std::u16string() : digits.substr(separator);
  if (minInteger == 0 && integer == u"0") integer.clear();
  if (integer.size() < minInteger) integer.insert(0, minInteger - integer.size(), u'0');
  const bool nonZero =
      std::any_of(digits.begin(), digits.end(), [](char16_t c) { return c >= u'1' && c <= u'9'; });
  const std::u16string sign = value < 0 && nonZero ? u"-" : u"";
  return std::u16string(picture.substr(0, first)) + sign + integer + fraction +
         std::u16string(picture.substr(last));
}

std::u16string DisplayTextToNumber(std::u16string_view text, const TNumberFormat& format) {
  const char16_t decimal = format.DecimalSeparator;
  const char16_t thousands = format.ThousandsSeparator;
  while (!text.empty() && text.front() == u' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  std::u16string kept;
  for (char16_t c : text) {
    if (c == thousands && thousands != decimal) continue;
    if ((c == u'.' || c == u',') && decimal != c && thousands != c) c = decimal;
    if ((c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == decimal || c == thousands) {
      kept.push_back(c);
    }
  }
  if (kept.empty()) return u"0";
  if (kept == u"-") return u"-0";
  return kept;
}

}  // namespace glowstep
