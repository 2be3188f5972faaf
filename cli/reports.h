// What the tool prints about devices, changes, comparisons and keys: text for people, and JSON for
// scripts. Every JSON document carries "format" and "version" (see the manual's JSON OUTPUT and
// cli/glowstep-cli.schema.json); a version grows only when a reader of the old one would
// misread the new.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cli/controller_session.h"
#include "cli/settings_document.h"

namespace glowstep {

// --- Devices --------------------------------------------------------------------------------
// A table with a heading, one row per device (path, port, serial number, vendor:product id,
// firmware of a controller, access, product), then for each controller this user may not open
// the reason and the fix.
std::string ListingTable(const std::vector<TDeviceListing>& devices);
// One device's row without the alignment of a table.
std::string ListingRow(const TDeviceListing& device);
TJson ListingJson(const TDeviceListing& device);
// "glowstep-devices": every device present.
TJson DeviceListJson(const std::vector<TDeviceListing>& devices);
// "glowstep-event": a device arrived or went ("arrived", "removed"), as it was last seen.
TJson EventJson(std::string_view event, const TDeviceListing& device);

// "Glowstep 3.2 at /dev/hidraw3 (GS3-0001, firmware version 2)": the name only where it is not
// the path.
std::string ControllerHeading(const TControllerReading& reading);

// --- Changes: write and restore ---------------------------------------------------------------
struct TChange {
  TControllerReading Before;  // what the controller held
  StairSettings Asked;        // what it is to hold
  StairSettings Held;         // what it holds afterwards; in a dry run, what it would hold
  bool DryRun = false;
};
// The keys the controller did not keep ("stairs, sensor_time"); empty when it kept them all.
std::string NotKept(const TChange& change);
// A write: what the controller holds afterwards, each line saying where that is not what was
// asked. A dry run: each key to change (old -> new, and what the controller would hold where
// that differs) and the report that would be sent.
std::string ChangeText(const TChange& change);
// "glowstep-write".
TJson ChangeJson(const TChange& change);

// --- diff --------------------------------------------------------------------------------------
// The settings that differ between a backup and what the controller holds, compared as the
// controller holds them: what it would make of the backup's values against what it holds.
std::vector<std::string_view> DifferentKeys(const StairSettings& backup, const StairSettings& held);
std::string DiffText(const TControllerReading& held,
                     const StairSettings& backup,
                     std::string_view file);
// "glowstep-diff".
TJson DiffJson(const TControllerReading& held, const StairSettings& backup, std::string_view file);

// --- Failures ------------------------------------------------------------------------------------
// "glowstep-error": what ended a command, or one controller's part of it, with the exit status it
// gives, that status's name ("no_controller", "usage", "cannot_open", "io") and the controller
// concerned (null where none is).
TJson ErrorJson(int status, std::string_view message, const TDeviceNames* device);

// --- keys --------------------------------------------------------------------------------------
// Every setting: its type, range, step, unit, the value of a factory-fresh controller, and what it
// is.
std::string KeysTable();
// "glowstep-keys".
TJson KeysJson();

}  // namespace glowstep
