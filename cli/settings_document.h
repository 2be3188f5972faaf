// The settings as the command-line tool reads and writes them: KEY=VALUE changes, the printed
// list, and the JSON forms (the read command's output and the backup file).
//
// A backup file, which is also what "read --json" prints:
//   {
//     "format": "glowstep-settings",
//     "version": 2,
//     "product": "Glowstep 3.2",
//     "firmware": 2,
//     "device": { "path": "/dev/hidraw3", "port": "usb-...", "serial": null, "name": "usb-..." },
//     "settings": { "stairs": 10, ..., "sensor_time": 0.08, ..., "main_colour": "#FFFFFF", ... }
//   }
// with the values in the units the window shows. Version 1 had no "device"; both are read, and
// "device" only says where the settings came from. Every setting must be there, and nothing
// else; no key twice, no value nested deeper than kMaxBackupNesting, no more than kMaxBackupSize
// bytes.
// A file is hostile until proven otherwise: every refusal is in the tool's own words and shows
// what came from the file escaped.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "cli/controller_session.h"
#include "protocol/settings_fields.h"

namespace glowstep {

inline constexpr std::string_view kBackupFormat = "glowstep-settings";
inline constexpr int kBackupVersion = 2;
// A real backup is under 400 bytes and two levels deep.
inline constexpr std::size_t kMaxBackupSize = std::size_t{64} * 1024;
inline constexpr int kMaxBackupNesting = 8;

using TJson = nlohmann::ordered_json;

// A JSON value as the tool prints it: indented, one line at the end; text that is not UTF-8 (a
// device's product string) is shown with replacement characters rather than refused.
std::string JsonText(const TJson& json);
// The same on one line (and the line's end): one event of a stream.
std::string JsonLine(const TJson& json);

// Every key a setting has, in print order, for messages.
std::string SettingKeys();
std::vector<std::string_view> SettingKeyList();
// The rule of a setting key ("a whole number from 3 to 250"); empty for an unknown key.
std::string AllowedFor(std::string_view key);
// What a setting is, for people ("switch-on time", "main colour").
std::string_view SettingCaption(std::string_view key);
// ECliFailure Usage, naming the nearest key, when `key` is not a setting's.
void CheckSettingKey(std::string_view key);

// Sets `key` from its text as the window's control would hold it. The text is taken as written:
// white space anywhere in it is refused, for every key alike. ECliFailure Usage naming the key
// and what it allows when the key is unknown or the text is malformed or out of range.
void ApplySetting(StairSettings& settings, std::string_view key, std::string_view text);
// Splits "KEY=VALUE" at the first "=" and applies it.
void ApplyAssignment(StairSettings& settings, std::string_view assignment);

// The text of one setting as the window shows it ("20", "0.08", "#003030").
std::string SettingText(const StairSettings& settings, std::string_view key);

// How a setting read back after a write compares with what was asked for.
enum class TKept {
  AsAsked,
  InOwnUnits,  // as the controller's own units give back what was asked (SettingsAsKept)
  Not,         // anything else: the controller did not keep the write
};

struct TSettingComparison {
  std::string_view Key;
  std::string Held;   // SettingText of what the controller holds
  std::string Asked;  // SettingText of what was asked for
  TKept Kept = TKept::AsAsked;
};

// Every setting, in print order, held against asked.
std::vector<TSettingComparison> CompareWithAsked(const StairSettings& held,
                                                 const StairSettings& asked);

// One line per setting, "stairs          10", with the unit where there is one. Lines whose
// value differs from `asked` (when given) say what was asked for, and whether the controller
// keeps it in its own units or did not keep it.
std::string SettingsListing(const StairSettings& settings, const StairSettings* asked = nullptr);

TJson SettingsJson(const StairSettings& settings);
// One setting as SettingsJson gives it: a number, or a colour's text.
TJson SettingJson(const StairSettings& settings, std::string_view key);
// A number of the field as SettingsJson gives it: whole, or with the field's decimals.
TJson FieldJson(const TFieldRule& rule, Extended value);
// A device's names: "path", "name", and "port" and "serial" (null where there is none).
TJson DeviceJson(const TDeviceNames& names);
// The backup document of a reading.
TJson BackupDocument(const TControllerReading& reading);
// Reads a backup document. ECliFailure Usage (and nothing else) for an empty, oversized or
// malformed document, another format, a newer version, a missing, unknown or repeated key, values
// nested too deep or a value the window does not take.
StairSettings ParseBackupDocument(std::string_view text);

}  // namespace glowstep
