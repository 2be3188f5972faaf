#include "cli/settings_document.h"

#include <charconv>
#include <cstdlib>
#include <set>

namespace glowstep {

namespace {

constexpr std::size_t kKeyColumn = 16;

ECliFailure InvalidValue(std::string_view key, std::string_view text, std::string_view allowed) {
  return {TExitStatus::Usage, "Invalid value \"" + std::string(text) + "\" for " +
                                  std::string(key) + ": allowed is " + std::string(allowed) + "."};
}

// A JSON value as the text a user would have typed for it.
std::optional<std::string> ValueText(const TJson& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_number_integer()) return value.dump();
  if (value.is_number_float()) {
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value.get<double>());
    if (error == std::errc()) return std::string(buffer, end);
  }
  return std::nullopt;
}

}  // namespace

std::string JsonText(const TJson& json) {
  return json.dump(2, ' ', false, TJson::error_handler_t::replace) + "\n";
}

std::string SettingKeys() {
  std::string keys;
  for (const TFieldRule& rule : kFieldRules) {
    keys += std::string(rule.Key) + ", ";
  }
  return keys + std::string(kMainColorKey) + ", " + std::string(kIdleColorKey);
}

void ApplySetting(StairSettings& settings, std::string_view key, std::string_view text) {
  if (key == kMainColorKey || key == kIdleColorKey) {
    const auto color = ParseColorText(text);
    if (!color) throw InvalidValue(key, text, "a colour as #RRGGBB");
    (key == kMainColorKey ? settings.MainColorValue : settings.IdleColorValue) = *color;
    return;
  }
  const TFieldRule* rule = FindFieldRule(key);
  if (rule == nullptr) {
    throw ECliFailure(TExitStatus::Usage, "Unknown setting \"" + std::string(key) +
                                              "\": the settings are " + SettingKeys() + ".");
  }
  TValueProblem problem = TValueProblem::None;
  const auto value = ParseFieldText(*rule, text, problem);
  if (!value) throw InvalidValue(key, text, AllowedText(*rule));
  FieldOf(settings, rule->Field) = *value;
}

void ApplyAssignment(StairSettings& settings, std::string_view assignment) {
  const auto equals = assignment.find('=');
  if (equals == std::string_view::npos || equals == 0) {
    throw ECliFailure(TExitStatus::Usage,
                      "\"" + std::string(assignment) + "\" is not a change of the form KEY=VALUE.");
  }
  ApplySetting(settings, assignment.substr(0, equals), assignment.substr(equals + 1));
}

std::string SettingText(const StairSettings& settings, std::string_view key) {
  if (key == kMainColorKey) return ColorText(settings.MainColorValue);
  if (key == kIdleColorKey) return ColorText(settings.IdleColorValue);
  const TFieldRule* rule = FindFieldRule(key);
  return rule == nullptr ? std::string() : FieldText(*rule, FieldOf(settings, rule->Field));
}

std::string SettingsListing(const StairSettings& settings, const StairSettings* asked) {
  std::string text;
  auto line = [&](std::string_view key, std::string_view unit) {
    std::string entry(key);
    entry.resize(std::max(kKeyColumn, key.size() + 1), ' ');
    const std::string value = SettingText(settings, key);
    entry += value;
    if (!unit.empty()) entry += " " + std::string(unit);
    if (asked != nullptr) {
      const std::string wanted = SettingText(*asked, key);
      if (wanted != value) {
        entry += "  (asked for " + wanted + "; the controller keeps it in its own units)";
      }
    }
    text += entry + "\n";
  };
  for (const TFieldRule& rule : kFieldRules) line(rule.Key, rule.Unit);
  line(kMainColorKey, {});
  line(kIdleColorKey, {});
  return text;
}

TJson SettingsJson(const StairSettings& settings) {
  TJson json = TJson::object();
  for (const TFieldRule& rule : kFieldRules) {
    const Extended value = FieldOf(settings, rule.Field);
    if (rule.Decimals == 0) {
      json[std::string(rule.Key)] = Trunc(value);
    } else {
      // The number as the field's text shows it ("0.08"), so the file says what the window says.
      json[std::string(rule.Key)] = std::strtod(FieldText(rule, value).c_str(), nullptr);
    }
  }
  json[std::string(kMainColorKey)] = ColorText(settings.MainColorValue);
  json[std::string(kIdleColorKey)] = ColorText(settings.IdleColorValue);
  return json;
}

TJson ReadingJson(const TControllerReading& reading) {
  TJson json = TJson::object();
  json["path"] = reading.Path;
  json["product"] = reading.Product;
  json["firmware"] = reading.Firmware;
  json["settings"] = SettingsJson(reading.Settings);
  return json;
}

TJson BackupDocument(const TControllerReading& reading) {
  TJson json = TJson::object();
  json["format"] = kBackupFormat;
  json["version"] = kBackupVersion;
  json["product"] = reading.Product;
  json["firmware"] = reading.Firmware;
  json["settings"] = SettingsJson(reading.Settings);
  return json;
}

StairSettings ParseBackupDocument(std::string_view text) {
  auto refuse = [](const std::string& why) {
    return ECliFailure(TExitStatus::Usage, "The backup file cannot be restored: " + why);
  };
  TJson document;
  try {
    document = TJson::parse(text);
  } catch (const TJson::parse_error& error) {
    throw refuse(std::string("it is not valid JSON (") + error.what() + ").");
  }
  if (!document.is_object()) throw refuse("it is not a JSON object.");
  const auto format = document.find("format");
  if (format == document.end() || !format->is_string() || *format != kBackupFormat) {
    throw refuse("it is not a \"" + std::string(kBackupFormat) + "\" document.");
  }
  const auto version = document.find("version");
  if (version == document.end() || !version->is_number_integer() || *version < 1) {
    throw refuse("its \"version\" is missing or not a positive whole number.");
  }
  if (*version > kBackupVersion) {
    throw refuse("it has format version " + version->dump() + ", newer than version " +
                 std::to_string(kBackupVersion) + " that this program reads.");
  }
  for (const auto& [key, value] : document.items()) {
    if (key == "format" || key == "version" || key == "settings") continue;
    if (key == "product" && value.is_string()) continue;
    if (key == "firmware" && value.is_number_integer()) continue;
    throw refuse("it has an unknown or malformed entry \"" + key + "\".");
  }
  const auto settings = document.find("settings");
  if (settings == document.end() || !settings->is_object()) {
    throw refuse("it has no \"settings\" object.");
  }
  StairSettings result;
  std::set<std::string, std::less<>> seen;
  for (const auto& [key, value] : settings->items()) {
    const auto valueText = ValueText(value);
    if (!valueText) {
      throw InvalidValue(key, value.dump(),
                         FindFieldRule(key) ? AllowedText(*FindFieldRule(key)) : "a value");
    }
    ApplySetting(result, key, *valueText);
    seen.insert(key);
  }
  for (const TFieldRule& rule : kFieldRules) {
    if (!seen.contains(rule.Key))
      throw refuse("the setting \"" + std::string(rule.Key) + "\" is missing.");
  }
  for (std::string_view key : {kMainColorKey, kIdleColorKey}) {
    if (!seen.contains(key)) throw refuse("the setting \"" + std::string(key) + "\" is missing.");
  }
  return result;
}

}  // namespace glowstep
