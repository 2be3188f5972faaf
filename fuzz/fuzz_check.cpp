#include "fuzz/fuzz_check.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/escaped_text.h"
#include "protocol/settings_fields.h"

namespace glowstep::fuzz {

void Fail(std::string_view property, std::string_view detail) {
  std::fprintf(stderr, "property does not hold: %.*s\n%s\n", static_cast<int>(property.size()),
               property.data(), Escaped(detail).c_str());
  std::abort();
}

void CheckHeldValues(const StairSettings& settings) {
  for (const TFieldRule& rule : kFieldRules) {
    const Extended value = FieldOf(settings, rule.Field);
    const std::string shown = std::string(rule.Key) + " " + FieldText(rule, value);
    Check(value >= rule.MinValue && value <= rule.MaxValue, "a value is in its range", shown);
    Check(HeldValue(rule, value) == value, "a value is one its control holds", shown);
  }
  Check(settings.MainColorValue <= 0xFFFFFF && settings.IdleColorValue <= 0xFFFFFF,
        "a colour is 24-bit");
}

bool SameSettings(const StairSettings& a, const StairSettings& b) {
  for (const TFieldRule& rule : kFieldRules) {
    if (!(FieldOf(a, rule.Field) == FieldOf(b, rule.Field))) return false;
  }
  return a.MainColorValue == b.MainColorValue && a.IdleColorValue == b.IdleColorValue;
}

std::string Shown(const StairSettings& settings) {
  std::string text;
  for (const TFieldRule& rule : kFieldRules) {
    text += std::string(rule.Key) + "=" + FieldText(rule, FieldOf(settings, rule.Field)) + " ";
  }
  return text + ColorText(settings.MainColorValue) + " " + ColorText(settings.IdleColorValue);
}

void CheckMessage(std::string_view message, std::string_view input) {
  Check(!message.empty(), "a refusal says something");
  Check(Escaped(message) == message, "a message has no control, escape or broken UTF-8", message);
  constexpr std::string_view kLibraryText = "json.exception";
  Check(message.find(kLibraryText) == std::string_view::npos ||
            input.find(kLibraryText) != std::string_view::npos,
        "a message is in the tool's own words", message);
}

}  // namespace glowstep::fuzz
