#include "protocol/settings_fields.h"

#include <algorithm>
#include <cstdio>

namespace glowstep {

namespace {

constexpr TNumberFormat kPlainFormat{u'.', u','};

Extended Clamp(const TFieldRule& rule, Extended value) {
  if (value < rule.MinValue) return rule.MinValue;
  if (value > rule.MaxValue) return rule.MaxValue;
  return value;
}

std::u16string Widen(std::string_view text) { return {text.begin(), text.end()}; }

bool IsWholeNumberText(std::string_view text) {
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) text.remove_prefix(1);
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

const TFieldRule& FieldRule(TSettingsField field) {
  for (const TFieldRule& rule : kFieldRules) {
    if (rule.Field == field) return rule;
  }
  return kFieldRules.front();  // every field has a rule; this is not reached
}

const TFieldRule* FindFieldRule(std::string_view key) {
  for (const TFieldRule& rule : kFieldRules) {
    if (rule.Key == key) return &rule;
  }
  return nullptr;
}

Extended HeldValue(const TFieldRule& rule, Extended value) {
  switch (rule.Kind) {
    case TFieldKind::Slider:
      return Clamp(rule, static_cast<Extended>(Trunc(value)));
    case TFieldKind::Integer:
    case TFieldKind::Decimal: {
      const auto shown = TextToFloat(FormatFixed(Clamp(rule, value), rule.Decimals, kPlainFormat),
                                     kPlainFormat.DecimalSeparator);
      return shown ? *shown : rule.MinValue;
    }
  }
  return value;
}

std::string FieldText(const TFieldRule& rule, Extended value) {
  return ToUtf8(FormatFixed(value, rule.Decimals, kPlainFormat));
}

std::string AllowedText(const TFieldRule& rule) {
  std::string text = rule.Kind == TFieldKind::Decimal ? "a number from " : "a whole number from ";
  text += ToUtf8(FormatGeneral(rule.MinValue));
  text += " to ";
  text += ToUtf8(FormatGeneral(rule.MaxValue));
  if (!rule.Unit.empty()) {
    text += ' ';
    text += rule.Unit;
  }
  if (rule.Decimals > 0) text += ", " + std::to_string(rule.Decimals) + " decimals";
  return text;
}

std::optional<Extended> ParseFieldText(const TFieldRule& rule,
                                       std::string_view text,
                                       TValueProblem& problem) {
  problem = TValueProblem::Malformed;
  std::optional<Extended> value;
  if (rule.Kind == TFieldKind::Decimal) {
    value = TextToFloat(Widen(text), kPlainFormat.DecimalSeparator);
  } else if (IsWholeNumberText(text)) {
    const auto whole = TextToInt(Widen(text));
    if (!whole) {
      problem = TValueProblem::OutOfRange;  // digits only, but beyond any count
      return std::nullopt;
    }
    value = static_cast<Extended>(*whole);
  }
  if (!value || value->IsNaN()) return std::nullopt;
  if (*value < rule.MinValue || *value > rule.MaxValue) {
    problem = TValueProblem::OutOfRange;
    return std::nullopt;
  }
  problem = TValueProblem::None;
  return HeldValue(rule, *value);
}

std::string ColorText(TColor color) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02X%02X%02X", color & 0xFF, (color >> 8) & 0xFF,
                (color >> 16) & 0xFF);
  return text;
}

std::optional<TColor> ParseColorText(std::string_view text) {
  if (text.size() != 7 || text.front() != '#') return std::nullopt;
  TColor channels[3] = {};
  for (std::size_t i = 0; i < 3; ++i) {
    const int high = HexDigit(text[1 + 2 * i]);
    const int low = HexDigit(text[2 + 2 * i]);
    if (high < 0 || low < 0) return std::nullopt;
    channels[i] = static_cast<TColor>(high * 16 + low);
  }
  return channels[0] | (channels[1] << 8) | (channels[2] << 16);
}

namespace {

Extended StairSettings::*MemberOf(TSettingsField field) {
  switch (field) {
    case TSettingsField::Stairs_count:
      return &StairSettings::Stairs_count;
    case TSettingsField::LEDs_in_one_stair:
      return &StairSettings::LEDs_in_one_stair;
    case TSettingsField::Idle_LEDs:
      return &StairSettings::Idle_LEDs;
    case TSettingsField::ON_time:
      return &StairSettings::ON_time;
    case TSettingsField::Delay_time:
      return &StairSettings::Delay_time;
    case TSettingsField::Sensor_time:
      return &StairSettings::Sensor_time;
    case TSettingsField::Photo_time:
      return &StairSettings::Photo_time;
    case TSettingsField::PhotoLevel:
      break;
  }
  return &StairSettings::PhotoLevel;
}

}  // namespace

Extended& FieldOf(StairSettings& settings, TSettingsField field) {
  return settings.*MemberOf(field);
}

Extended FieldOf(const StairSettings& settings, TSettingsField field) {
  return settings.*MemberOf(field);
}

StairSettings SettingsAsKept(const StairSettings& asked) {
  SettingsReport report{};
  EncodeWriteReport(asked, report);
  TSettingsCodec codec;
  TSettingsValues values;
  codec.ApplyReply(report.data() + kCommandByte, report.size() - kCommandByte, values);
  return codec.CurrentSettings(values);
}

Extended TSettingsValues::FieldValue(TSettingsField field) const { return FieldOf(Values_, field); }

void TSettingsValues::SetFieldValue(TSettingsField field, Extended value) {
  FieldOf(Values_, field) = HeldValue(FieldRule(field), value);
}

}  // namespace glowstep
