#include "cli/reports.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "cli/escaped_text.h"
#include "protocol/controller_link.h"

namespace glowstep {

namespace {

constexpr std::size_t kKeyColumn = 16;
constexpr std::string_view kNone = "-";
constexpr int kDocumentVersion = 1;
constexpr std::size_t kReportBytesPerLine = 16;

TJson Document(std::string_view format) {
  TJson json = TJson::object();
  json["format"] = "glowstep-" + std::string(format);
  json["version"] = kDocumentVersion;
  return json;
}

std::string HexId(std::uint16_t id) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", id);
  return text;
}

std::string HexBytes(const std::uint8_t* bytes, std::size_t count, std::string_view between) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
    if (i > 0) text += between;
    text += digits;
  }
  return text;
}

// The columns a text takes on a terminal: one per character.
std::size_t Columns(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0u) != 0x80u;
  }));
}

std::string OrNone(const std::string& text) {
  return text.empty() ? std::string(kNone) : Escaped(text);
}

std::vector<std::string> ListingFields(const TDeviceListing& device) {
  return {Escaped(device.Names.Path),
          OrNone(device.Names.Port),
          OrNone(device.Names.Serial),
          HexId(device.VendorID) + ":" + HexId(device.ProductID),
          device.IsController ? "firmware " + std::to_string(device.Firmware) : "no",
          device.ReadWrite ? "read/write" : "refused",
          "\"" + Escaped(device.Product) + "\""};
}

// The key's column of a settings line, with room after the longest key.
std::string KeyColumn(std::string_view key) {
  std::string column(key);
  column.resize(std::max(kKeyColumn, key.size() + 1), ' ');
  return column;
}

std::string WithUnit(std::string_view key, const std::string& text) {
  const TFieldRule* rule = FindFieldRule(key);
  if (rule == nullptr || rule->Unit.empty()) return text;
  return text + " " + std::string(rule->Unit);
}

std::string_view KeptName(TKept kept) {
  switch (kept) {
    case TKept::AsAsked:
      return "as_asked";
    case TKept::InOwnUnits:
      return "own_units";
    case TKept::Not:
      break;
  }
  return "not_kept";
}

// Rows in columns two spaces apart, each as wide as its widest cell; the last is not padded.
std::string AlignedTable(const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> widths(rows.front().size(), 0);
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], Columns(row[i]));
  }
  std::string text;
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      text += row[i];
      if (i + 1 < row.size()) text += std::string(widths[i] - Columns(row[i]) + 2, ' ');
    }
    text += "\n";
  }
  return text;
}

std::string StepText(const TFieldRule& rule) {
  return rule.Decimals == 0
             ? "1"
             : "0." + std::string(static_cast<std::size_t>(rule.Decimals - 1), '0') + "1";
}

}  // namespace

// --- Devices ------------------------------------------------------------------------------------

std::string ListingTable(const std::vector<TDeviceListing>& devices) {
  std::vector<std::vector<std::string>> rows = {
      {"PATH", "PORT", "SERIAL", "ID", "CONTROLLER", "ACCESS", "PRODUCT"}};
  for (const TDeviceListing& device : devices) rows.push_back(ListingFields(device));
  std::string text = AlignedTable(rows);
  for (const TDeviceListing& device : devices) {
    if (!device.IsController || device.ReadWrite) continue;
    text += Escaped(device.Names.Path) + ": cannot be opened for reading and writing: ";
    // What this user may do is said only when the system refused access.
    if (!IsAccessRefused(device.OpenError)) {
      text += ErrorCodeMessage(device.OpenError).English() + "\n";
      continue;
    }
    text += ControllerAccessReason(device.AccessReason).English() + ". " +
            ControllerAccessFix(device.AccessReason).English() + "\n";
  }
  return text;
}

std::string ListingRow(const TDeviceListing& device) {
  std::string row;
  for (const std::string& field : ListingFields(device)) row += (row.empty() ? "" : "  ") + field;
  return row;
}

TJson ListingJson(const TDeviceListing& device) {
  TJson json = DeviceJson(device.Names);
  json["vendor_id"] = HexId(device.VendorID);
  json["product_id"] = HexId(device.ProductID);
  json["product"] = device.Product;
  json["controller"] = device.IsController;
  json["firmware"] = device.IsController ? TJson(device.Firmware) : TJson(nullptr);
  json["read_write"] = device.ReadWrite;
  if (!device.ReadWrite && !IsAccessRefused(device.OpenError)) {
    json["reason"] = ErrorCodeMessage(device.OpenError).English();
  } else if (!device.ReadWrite) {
    json["reason"] = ControllerAccessReason(device.AccessReason).English();
    if (device.IsController) json["fix"] = ControllerAccessFix(device.AccessReason).English();
  }
  return json;
}

TJson DeviceListJson(const std::vector<TDeviceListing>& devices) {
  TJson json = Document("devices");
  json["devices"] = TJson::array();
  for (const TDeviceListing& device : devices) json["devices"].push_back(ListingJson(device));
  return json;
}

TJson EventJson(std::string_view event, const TDeviceListing& device) {
  TJson json = Document("event");
  json["event"] = event;
  json["device"] = ListingJson(device);
  return json;
}

std::string ControllerHeading(const TControllerReading& reading) {
  std::string heading = Escaped(reading.Product) + " at " + Escaped(reading.Names.Path) + " (";
  if (reading.Names.Name != reading.Names.Path) heading += Escaped(reading.Names.Name) + ", ";
  return heading + "firmware version " + std::to_string(reading.Firmware) + ")";
}

// --- Changes ------------------------------------------------------------------------------------

std::string NotKept(const TChange& change) {
  std::string keys;
  for (const TSettingComparison& setting : CompareWithAsked(change.Held, change.Asked)) {
    if (setting.Kept == TKept::Not) keys += (keys.empty() ? "" : ", ") + std::string(setting.Key);
  }
  return keys;
}

std::string ChangeText(const TChange& change) {
  if (!change.DryRun) {
    TControllerReading after = change.Before;
    after.Settings = change.Held;
    return ControllerHeading(after) + ":\n" + SettingsListing(change.Held, &change.Asked);
  }
  std::string text = ControllerHeading(change.Before) + ", dry run: nothing is written\n";
  bool changes = false;
  for (const TSettingComparison& setting : CompareWithAsked(change.Held, change.Asked)) {
    const std::string before = SettingText(change.Before.Settings, setting.Key);
    if (before == setting.Asked) continue;
    changes = true;
    text += KeyColumn(setting.Key) + WithUnit(setting.Key, before) + " -> " +
            WithUnit(setting.Key, setting.Asked);
    if (setting.Kept != TKept::AsAsked) {
      text += "  (the controller will hold " + WithUnit(setting.Key, setting.Held) + ")";
    }
    text += "\n";
  }
  if (!changes) text += "No setting changes.\n";
  const SettingsReport report = TControllerSession::WriteReport(change.Asked);
  text += "The report that would be sent (" + std::to_string(report.size()) + " bytes):\n";
  for (std::size_t at = 0; at < report.size(); at += kReportBytesPerLine) {
    text += "  " +
            HexBytes(report.data() + at, std::min(kReportBytesPerLine, report.size() - at), " ") +
            "\n";
  }
  return text;
}

TJson ChangeJson(const TChange& change) {
  TJson json = Document("write");
  json["product"] = change.Before.Product;
  json["firmware"] = change.Before.Firmware;
  json["device"] = DeviceJson(change.Before.Names);
  json["dry_run"] = change.DryRun;
  json["kept"] = NotKept(change).empty();
  json["settings"] = TJson::object();
  for (const TSettingComparison& setting : CompareWithAsked(change.Held, change.Asked)) {
    TJson entry = TJson::object();
    entry["before"] = SettingJson(change.Before.Settings, setting.Key);
    entry["asked"] = SettingJson(change.Asked, setting.Key);
    entry["held"] = SettingJson(change.Held, setting.Key);
    entry["kept"] = KeptName(setting.Kept);
    json["settings"][std::string(setting.Key)] = entry;
  }
  const SettingsReport report = TControllerSession::WriteReport(change.Asked);
  json["report"] = HexBytes(report.data(), report.size(), "");
  return json;
}

// --- diff ---------------------------------------------------------------------------------------

std::vector<std::string_view> DifferentKeys(const StairSettings& backup,
                                            const StairSettings& held) {
  std::vector<std::string_view> keys;
  for (const TSettingComparison& setting : CompareWithAsked(held, backup)) {
    if (setting.Kept == TKept::Not) keys.push_back(setting.Key);
  }
  return keys;
}

std::string DiffText(const TControllerReading& held,
                     const StairSettings& backup,
                     std::string_view file) {
  const auto keys = DifferentKeys(backup, held.Settings);
  if (keys.empty()) return {};
  std::string text = ControllerHeading(held) + " differs from " + Escaped(file) + ":\n";
  for (const std::string_view key : keys) {
    text += KeyColumn(key) + "backup " + WithUnit(key, SettingText(backup, key)) + ", controller " +
            WithUnit(key, SettingText(held.Settings, key)) + "\n";
  }
  return text;
}

TJson DiffJson(const TControllerReading& held, const StairSettings& backup, std::string_view file) {
  TJson json = Document("diff");
  json["file"] = file;
  json["product"] = held.Product;
  json["firmware"] = held.Firmware;
  json["device"] = DeviceJson(held.Names);
  const auto keys = DifferentKeys(backup, held.Settings);
  json["equal"] = keys.empty();
  json["differences"] = TJson::object();
  for (const std::string_view key : keys) {
    json["differences"][std::string(key)] = {{"backup", SettingJson(backup, key)},
                                             {"controller", SettingJson(held.Settings, key)}};
  }
  return json;
}

// --- Failures ------------------------------------------------------------------------------------

TJson ErrorJson(int status, std::string_view message, const TDeviceNames* device) {
  TJson json = Document("error");
  json["status"] = status;
  switch (static_cast<TExitStatus>(status)) {
    case TExitStatus::Usage:
      json["error"] = "usage";
      break;
    case TExitStatus::CannotOpen:
      json["error"] = "cannot_open";
      break;
    case TExitStatus::Io:
      json["error"] = "io";
      break;
    default:  // 1 and 5: what diff tells apart from "different"
      json["error"] = "no_controller";
      break;
  }
  json["message"] = message;
  json["device"] = device != nullptr ? DeviceJson(*device) : TJson(nullptr);
  return json;
}

// --- keys ---------------------------------------------------------------------------------------

std::string KeysTable() {
  const StairSettings factory = SettingsAsKept(StairSettings{});
  std::vector<std::vector<std::string>> rows = {
      {"KEY", "TYPE", "RANGE", "STEP", "UNIT", "FACTORY", "WHAT"}};
  for (const TFieldRule& rule : kFieldRules) {
    rows.push_back(
        {std::string(rule.Key), rule.Decimals == 0 ? "integer" : "decimal",
         ToUtf8(FormatGeneral(rule.MinValue)) + " to " + ToUtf8(FormatGeneral(rule.MaxValue)),
         StepText(rule), std::string(rule.Unit), SettingText(factory, rule.Key),
         std::string(SettingCaption(rule.Key))});
  }
  for (const std::string_view key : {kMainColorKey, kIdleColorKey}) {
    rows.push_back({std::string(key), "colour", "#RRGGBB", "", "", SettingText(factory, key),
                    std::string(SettingCaption(key))});
  }
  return AlignedTable(rows);
}

TJson KeysJson() {
  const StairSettings factory = SettingsAsKept(StairSettings{});
  TJson json = Document("keys");
  json["keys"] = TJson::array();
  for (const TFieldRule& rule : kFieldRules) {
    TJson key = TJson::object();
    key["key"] = rule.Key;
    key["description"] = SettingCaption(rule.Key);
    key["type"] = rule.Decimals == 0 ? "integer" : "decimal";
    key["minimum"] = FieldJson(rule, rule.MinValue);
    key["maximum"] = FieldJson(rule, rule.MaxValue);
    key["step"] = std::strtod(StepText(rule).c_str(), nullptr);
    key["decimals"] = rule.Decimals;
    key["unit"] = rule.Unit.empty() ? TJson(nullptr) : TJson(rule.Unit);
    key["factory"] = SettingJson(factory, rule.Key);
    json["keys"].push_back(key);
  }
  for (const std::string_view name : {kMainColorKey, kIdleColorKey}) {
    TJson key = TJson::object();
    key["key"] = name;
    key["description"] = SettingCaption(name);
    key["type"] = "colour";
    key["pattern"] = "^#[0-9A-Fa-f]{6}$";
    key["unit"] = nullptr;
    key["factory"] = SettingJson(factory, name);
    json["keys"].push_back(key);
  }
  return json;
}

}  // namespace glowstep
