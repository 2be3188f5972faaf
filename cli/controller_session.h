// The command-line tool's side of the HID layer: the devices present, the staircase controllers
// among them, and one settings exchange at a time with a controller, waited for on the tool's own
// main loop with a time limit.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "hid/hid_device.h"
#include "hid/hid_device_controller.h"
#include "hid/main_loop.h"
#include "protocol/controller_link.h"
#include "protocol/settings_codec.h"
#include "protocol/settings_fields.h"

namespace glowstep {

// The tool's exit statuses.
enum class TExitStatus : int {
  Done = 0,
  NoController = 1,        // none attached, or the named device is not one
  Different = 1,           // diff: the backup and the controller differ
  Usage = 2,               // a bad command line, value or file
  CannotOpen = 3,          // the controller cannot be opened for reading and writing
  Io = 4,                  // an I/O error, no reply in time, a write not kept, output lost
  NoControllerToDiff = 5,  // diff: what NoController is to the other commands
};

// Ends a command with a message for standard error and an exit status.
class ECliFailure : public std::runtime_error {
 public:
  ECliFailure(TExitStatus status, const std::string& message)
      : std::runtime_error(message), Status_(status) {}
  TExitStatus Status() const { return Status_; }

 private:
  TExitStatus Status_;
};

// The names a device is found by. The path is the system's for this plug only (the next plug may
// get another); the port and the serial number, where the system has them, outlast a re-plug and
// a restart.
struct TDeviceNames {
  std::string Path;
  std::string Port;    // empty: none
  std::string Serial;  // empty: none
  // The one to use for the device: its serial number unless another device present reports the
  // same, else its port, else (where the system gives neither) its path.
  std::string Name;
};

// One HID interface as the list shows it.
struct TDeviceListing {
  TDeviceNames Names;
  std::uint16_t VendorID = 0;
  std::uint16_t ProductID = 0;
  std::string Product;  // UTF-8
  bool IsController = false;
  int Firmware = 0;  // FirmwareVersion of the product string
  bool ReadWrite = false;
  THidAccessReason AccessReason = THidAccessReason::Unknown;  // without read/write access: why
  std::uint32_t OpenError = 0;  // without read/write access: the error of the open
};

// What a controller holds, its settings as a read gives them (TControllerLink::RequestSettings).
struct TControllerReading {
  TDeviceNames Names;
  std::string Product;  // UTF-8
  int Firmware = 0;
  StairSettings Settings;
};

class TControllerSession {
 public:
  TControllerSession(THidBackend& platform, TMainLoop& loop, std::chrono::milliseconds timeout);
  TControllerSession(const TControllerSession&) = delete;
  TControllerSession& operator=(const TControllerSession&) = delete;
  ~TControllerSession();

  // Every interface present, in the controller's list order.
  std::vector<TDeviceListing> List();
  // One device as the list shows it, or as it was last seen once it is gone.
  TDeviceListing Listing(THidDevice* device);
  TDeviceNames NamesOf(THidDevice* device);

  // The controllers to work on: those named (by path, port or serial number) in the order given,
  // each once; all of them; or the first in list order. Never empty. ECliFailure NoController
  // when no device has a name given or the device named is not a controller, Usage when a name
  // fits more than one controller.
  std::vector<THidDevice*> Targets(const std::vector<std::string>& names, bool all);

  // Asks the controller for its settings and waits for the reply, the request's write and the
  // wait together within the time-out. ECliFailure CannotOpen when it cannot be opened for
  // reading and writing, Io when the request fails or is not taken in time, no reply or one too
  // short comes in time, or the controller goes away meanwhile.
  TControllerReading Read(THidDevice* device);
  // Writes the settings in one write report, as TControllerLink::WriteSettings does. ECliFailure
  // as Read.
  void Write(THidDevice* device, const StairSettings& settings);
  // The report Write sends for `settings`.
  static SettingsReport WriteReport(const StairSettings& settings);

  THidDeviceController& HidController() { return *HidController_; }

 private:
  // Checks the device out (starting its reader) if it is not yet.
  THidDevice* Hold(THidDevice* device);
  void Send(THidDevice* device, const SettingsReport& report);
  void DeviceData(THidDevice* HidDev,
                  std::uint8_t ReportID,
                  const std::uint8_t* Data,
                  std::uint16_t Size);
  void DataError(THidDevice* HidDev, std::uint32_t Error);
  void Removal(THidDevice* HidDev);

  TMainLoop& Loop_;
  std::chrono::milliseconds Timeout_;
  std::unique_ptr<THidDeviceController> HidController_;
  std::vector<THidDevice*> Held_;
  // The exchange under way.
  THidDevice* Waiting_ = nullptr;
  std::vector<std::uint8_t> Reply_;
  bool Replied_ = false;
  std::optional<std::uint16_t> ShortReply_;  // the size of a reply too short to hold the settings
  bool Gone_ = false;
  std::optional<std::uint32_t> ReadError_;
};

// A controller's place and name for messages: "Glowstep 3.2 at /dev/hidraw3".
std::string Describe(THidDevice* device);

}  // namespace glowstep
