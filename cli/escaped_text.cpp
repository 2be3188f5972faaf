#include "cli/escaped_text.h"

#include <cstdint>
#include <cstdio>
#include <optional>

namespace glowstep {

namespace {

// The character at the start of `text` and its length in bytes, when it is well-formed UTF-8
// (shortest form, no surrogate, at most U+10FFFF).
std::optional<std::pair<char32_t, std::size_t>> DecodeOne(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  if (lead < 0x80) return std::pair{char32_t{lead}, std::size_t{1}};
  std::size_t length = 0;
  char32_t c = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    c = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    c = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    c = lead & 0x07u;
  } else {
    return std::nullopt;
  }
  if (text.size() < length) return std::nullopt;
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[i]);
    if ((next & 0xC0u) != 0x80u) return std::nullopt;
    c = (c << 6) | (next & 0x3Fu);
  }
  static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kSmallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
  return std::pair{c, length};
}

// Characters that act rather than show: controls, and the marks that reorder or hide text.
bool Hidden(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0xAD || c == 0x061C ||
         (c >= 0x200B && c <= 0x200F) || (c >= 0x2028 && c <= 0x202E) ||
         (c >= 0x2060 && c <= 0x2069) || c == 0xFEFF;
}

}  // namespace

std::string Escaped(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  while (!text.empty()) {
    const auto decoded = DecodeOne(text);
    char escape[16];
    if (!decoded) {
      std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(text[0]));
      shown += escape;
      text.remove_prefix(1);
      continue;
    }
    const auto [c, length] = *decoded;
    if (c == '\n') {
      shown += "\\n";
    } else if (c == '\t') {
      shown += "\\t";
    } else if (c == '\r') {
      shown += "\\r";
    } else if (Hidden(c)) {
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      shown += escape;
    } else {
      shown.append(text.substr(0, length));
    }
    text.remove_prefix(length);
  }
  return shown;
}

}  // namespace glowstep
