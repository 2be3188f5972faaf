#include "cli/settings_document.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <set>

#include "cli/did_you_mean.h"
#include "cli/escaped_text.h"

namespace glowstep {

namespace {

constexpr std::size_t kKeyColumn = 16;
constexpr std::string_view kSettingsKey = "settings";

ECliFailure InvalidValue(std::string_view key, std::string_view text, std::string_view allowed) {
  return {TExitStatus::Usage, "Invalid value \"" + Escaped(text) + "\" for " + Escaped(key) +
                                  ": allowed is " + std::string(allowed) + "."};
}

// A value that cannot be shown as text, by what it is ("an array", "a number too large").
ECliFailure InvalidKind(std::string_view key, std::string_view kind, std::string_view allowed) {
  return {TExitStatus::Usage, "Invalid value (" + std::string(kind) + ") for " + Escaped(key) +
                                  ": allowed is " + std::string(allowed) + "."};
}

ECliFailure UnknownSetting(std::string_view key) {
  return {TExitStatus::Usage, "Unknown setting \"" + Escaped(key) + "\"" +
                                  DidYouMean(key, SettingKeyList()) + ": the settings are " +
                                  SettingKeys() + "."};
}

ECliFailure Unrestorable(const std::string& why) {
  return {TExitStatus::Usage, "The backup file cannot be restored: " + why};
}

bool IsSettingKey(std::string_view key) { return !AllowedFor(key).empty(); }

// A JSON scalar as the text a user would have typed for it; none for arrays and objects.
std::optional<std::string> ValueText(const TJson& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_number_integer() || value.is_boolean() || value.is_null()) return value.dump();
  if (value.is_number_float()) {
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value.get<double>());
    if (error == std::errc()) return std::string(buffer, end);
  }
  return std::nullopt;
}

std::string_view KindOf(const TJson& value) { return value.is_array() ? "an array" : "an object"; }

// The "device" entry of a backup: where it came from, which a restore does not look at.
bool IsDeviceEntry(const TJson& value) {
  if (!value.is_object()) return false;
  return std::all_of(value.items().begin(), value.items().end(), [](const auto& item) {
    const std::string& key = item.key();
    return (key == "path" || key == "port" || key == "serial" || key == "name") &&
           (item.value().is_string() || item.value().is_null());
  });
}

// Where the parser is in the document, kept by its callback: the keys met in each object still
// open (to refuse one given twice), and the key whose value is being read at each level (to name
// it in a refusal).
class TDocumentWalk {
 public:
  bool Step(int depth, TJson::parse_event_t event, const TJson& parsed) {
    using E = TJson::parse_event_t;
    switch (event) {
      case E::object_start:
      case E::array_start:
        // The parser itself takes any depth; the refusal is made here, before anything that
        // walks the value recursively sees it.
        if (depth >= kMaxBackupNesting) throw TooDeep();
        Keys_.emplace_back();
        Names_.emplace_back();
        break;
      case E::key: {
        const std::string& key = parsed.get_ref<const std::string&>();
        if (!Keys_.back().insert(key).second) throw Repeated(key);
        Names_.back() = key;
        break;
      }
      case E::object_end:
      case E::array_end:
        Keys_.pop_back();
        Names_.pop_back();
        break;
      case E::value:
        break;
    }
    return true;
  }

  // The setting whose value is being read, if the parser is inside one.
  std::optional<std::string> Setting() const {
    if (Names_.size() >= 2 && Names_[0] == kSettingsKey && IsSettingKey(Names_[1]))
      return Names_[1];
    return std::nullopt;
  }

  // The innermost key, for messages about a value that is not a setting.
  std::string Where() const {
    for (auto name = Names_.rbegin(); name != Names_.rend(); ++name) {
      if (!name->empty()) return " (in \"" + Escaped(*name) + "\")";
    }
    return {};
  }

 private:
  ECliFailure TooDeep() const {
    const std::string kind = "nested more than " + std::to_string(kMaxBackupNesting) + " deep";
    if (const auto setting = Setting()) return InvalidKind(*setting, kind, AllowedFor(*setting));
    return Unrestorable("it has values " + kind + Where() + ".");
  }

  ECliFailure Repeated(const std::string& key) const {
    std::string where;
    if (Names_.size() >= 2) where = " in \"" + Escaped(Names_[Names_.size() - 2]) + "\"";
    return Unrestorable("the key \"" + Escaped(key) + "\" appears twice" + where +
                        "; each key may appear once.");
  }

  std::vector<std::set<std::string, std::less<>>> Keys_;
  std::vector<std::string> Names_;
};

TJson ParseJson(std::string_view text) {
  if (text.empty()) throw Unrestorable("it is empty.");
  if (text.size() > kMaxBackupSize) {
    throw Unrestorable("it is larger than " + std::to_string(kMaxBackupSize / 1024) + " KiB.");
  }
  TDocumentWalk walk;
  try {
    return TJson::parse(text, [&walk](int depth, TJson::parse_event_t event, TJson& parsed) {
      return walk.Step(depth, event, parsed);
    });
  } catch (const TJson::parse_error& error) {
    if (error.byte > text.size())
      throw Unrestorable("it is not valid JSON: it ends before the document does.");
    throw Unrestorable("it is not valid JSON (at byte " + std::to_string(error.byte) + ").");
  } catch (const TJson::exception&) {
    // The one other refusal of the parser: a number beyond any floating-point value.
    constexpr std::string_view kTooLarge = "a number too large";
    if (const auto setting = walk.Setting())
      throw InvalidKind(*setting, kTooLarge, AllowedFor(*setting));
    throw Unrestorable("it has " + std::string(kTooLarge) + walk.Where() + ".");
  }
}

}  // namespace

std::string JsonText(const TJson& json) {
  return json.dump(2, ' ', false, TJson::error_handler_t::replace) + "\n";
}

std::string JsonLine(const TJson& json) {
  return json.dump(-1, ' ', false, TJson::error_handler_t::replace) + "\n";
}

std::string SettingKeys() {
  std::string keys;
  for (const std::string_view key : SettingKeyList()) {
    keys += (keys.empty() ? "" : ", ") + std::string(key);
  }
  return keys;
}

std::vector<std::string_view> SettingKeyList() {
  std::vector<std::string_view> keys;
  keys.reserve(kFieldRules.size() + 2);  // and the two colours
  for (const TFieldRule& rule : kFieldRules) keys.push_back(rule.Key);
  keys.push_back(kMainColorKey);
  keys.push_back(kIdleColorKey);
  return keys;
}

void CheckSettingKey(std::string_view key) {
  if (!IsSettingKey(key)) throw UnknownSetting(key);
}

std::string_view SettingCaption(std::string_view key) {
  if (key == kMainColorKey) return "main colour";
  if (key == kIdleColorKey) return "standby colour";
  const TFieldRule* rule = FindFieldRule(key);
  return rule == nullptr ? std::string_view() : rule->Caption;
}

std::string AllowedFor(std::string_view key) {
  if (key == kMainColorKey || key == kIdleColorKey) return "a colour as #RRGGBB";
  const TFieldRule* rule = FindFieldRule(key);
  return rule == nullptr ? std::string() : AllowedText(*rule);
}

void ApplySetting(StairSettings& settings, std::string_view key, std::string_view text) {
  const std::string allowed = AllowedFor(key);
  if (allowed.empty()) throw UnknownSetting(key);
  if (text.find_first_of(" \t\n\v\f\r") != std::string_view::npos)
    throw InvalidValue(key, text, allowed + ", written without spaces");
  if (key == kMainColorKey || key == kIdleColorKey) {
    const auto color = ParseColorText(text);
    if (!color) throw InvalidValue(key, text, allowed);
    (key == kMainColorKey ? settings.MainColorValue : settings.IdleColorValue) = *color;
    return;
  }
  const TFieldRule& rule = *FindFieldRule(key);
  TValueProblem problem = TValueProblem::None;
  const auto value = ParseFieldText(rule, text, problem);
  if (!value) throw InvalidValue(key, text, allowed);
  FieldOf(settings, rule.Field) = *value;
}

void ApplyAssignment(StairSettings& settings, std::string_view assignment) {
  const auto equals = assignment.find('=');
  if (equals == std::string_view::npos || equals == 0) {
    throw ECliFailure(TExitStatus::Usage,
                      "\"" + Escaped(assignment) + "\" is not a change of the form KEY=VALUE.");
  }
  ApplySetting(settings, assignment.substr(0, equals), assignment.substr(equals + 1));
}

std::string SettingText(const StairSettings& settings, std::string_view key) {
  if (key == kMainColorKey) return ColorText(settings.MainColorValue);
  if (key == kIdleColorKey) return ColorText(settings.IdleColorValue);
  const TFieldRule* rule = FindFieldRule(key);
  return rule == nullptr ? std::string() : FieldText(*rule, FieldOf(settings, rule->Field));
}

std::vector<TSettingComparison> CompareWithAsked(const StairSettings& held,
                                                 const StairSettings& asked) {
  const StairSettings kept = SettingsAsKept(asked);
  std::vector<TSettingComparison> comparison;
  for (const std::string_view key : SettingKeyList()) {
    TSettingComparison entry{key, SettingText(held, key), SettingText(asked, key)};
    if (entry.Held != entry.Asked) {
      entry.Kept = entry.Held == SettingText(kept, key) ? TKept::InOwnUnits : TKept::Not;
    }
    comparison.push_back(std::move(entry));
  }
  return comparison;
}

std::string SettingsListing(const StairSettings& settings, const StairSettings* asked) {
  std::vector<TSettingComparison> lines;
  if (asked != nullptr) {
    lines = CompareWithAsked(settings, *asked);
  } else {
    lines = CompareWithAsked(settings, settings);
  }
  std::string text;
  for (const TSettingComparison& line : lines) {
    std::string entry(line.Key);
    entry.resize(std::max(kKeyColumn, line.Key.size() + 1), ' ');
    entry += line.Held;
    const TFieldRule* rule = FindFieldRule(line.Key);
    if (rule != nullptr && !rule->Unit.empty()) entry += " " + std::string(rule->Unit);
    if (line.Kept == TKept::InOwnUnits) {
      entry += "  (asked for " + line.Asked + "; the controller keeps it in its own units)";
    } else if (line.Kept == TKept::Not) {
      entry += "  (asked for " + line.Asked + "; not kept)";
    }
    text += entry + "\n";
  }
  return text;
}

TJson SettingsJson(const StairSettings& settings) {
  TJson json = TJson::object();
  for (const std::string_view key : SettingKeyList()) {
    json[std::string(key)] = SettingJson(settings, key);
  }
  return json;
}

TJson SettingJson(const StairSettings& settings, std::string_view key) {
  const TFieldRule* rule = FindFieldRule(key);
  if (rule == nullptr) return SettingText(settings, key);
  return FieldJson(*rule, FieldOf(settings, rule->Field));
}

TJson FieldJson(const TFieldRule& rule, Extended value) {
  if (rule.Decimals == 0) return Trunc(value);
  // The number as the field's text shows it ("0.08"), so the file says what the window says.
  return std::strtod(FieldText(rule, value).c_str(), nullptr);
}

TJson DeviceJson(const TDeviceNames& names) {
  const auto orNull = [](const std::string& text) {
    return text.empty() ? TJson(nullptr) : TJson(text);
  };
  TJson json = TJson::object();
  json["path"] = names.Path;
  json["port"] = orNull(names.Port);
  json["serial"] = orNull(names.Serial);
  json["name"] = names.Name;
  return json;
}

TJson BackupDocument(const TControllerReading& reading) {
  TJson json = TJson::object();
  json["format"] = kBackupFormat;
  json["version"] = kBackupVersion;
  json["product"] = reading.Product;
  json["firmware"] = reading.Firmware;
  json["device"] = DeviceJson(reading.Names);
  json["settings"] = SettingsJson(reading.Settings);
  return json;
}

StairSettings ParseBackupDocument(std::string_view text) {
  const TJson document = ParseJson(text);
  if (!document.is_object()) throw Unrestorable("it is not a JSON object.");
  const auto format = document.find("format");
  if (format == document.end() || !format->is_string() || *format != kBackupFormat) {
    throw Unrestorable("it is not a \"" + std::string(kBackupFormat) +
                       "\" document (its \"format\" must say so).");
  }
  const auto version = document.find("version");
  if (version == document.end() || !version->is_number_integer() || *version < 1) {
    throw Unrestorable("its \"version\" is missing or not a positive whole number.");
  }
  if (*version > kBackupVersion) {
    throw Unrestorable("it has format version " + version->dump() + ", newer than version " +
                       std::to_string(kBackupVersion) + " that this program reads.");
  }
  for (const auto& [key, value] : document.items()) {
    if (key == "format" || key == "version" || key == kSettingsKey) continue;
    if (key == "product" && value.is_string()) continue;
    if (key == "firmware" && value.is_number_integer()) continue;
    if (key == "device" && IsDeviceEntry(value)) continue;
    throw Unrestorable("it has an unknown or malformed entry \"" + Escaped(key) +
                       "\": allowed are \"format\", \"version\", \"product\" (text), "
                       "\"firmware\" (a whole number), \"device\" (\"path\", \"port\", "
                       "\"serial\" and \"name\": text or null) and \"settings\".");
  }
  const auto settings = document.find(kSettingsKey);
  if (settings == document.end() || !settings->is_object()) {
    throw Unrestorable("it has no \"settings\" object.");
  }
  StairSettings result;
  std::set<std::string, std::less<>> seen;
  for (const auto& [key, value] : settings->items()) {
    if (!IsSettingKey(key)) throw UnknownSetting(key);
    const auto valueText = ValueText(value);
    if (!valueText) throw InvalidKind(key, KindOf(value), AllowedFor(key));
    ApplySetting(result, key, *valueText);
    seen.insert(key);
  }
  for (const std::string_view key : SettingKeyList()) {
    if (!seen.contains(key))
      throw Unrestorable("the setting \"" + std::string(key) + "\" is missing.");
  }
  return result;
}

}  // namespace glowstep
