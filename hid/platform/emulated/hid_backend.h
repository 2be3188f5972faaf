// The narrow seam below the HID layer for the systems that are not Windows.
//
// A backend lists the HID interfaces present, opens one as a connection and watches for
// changes; it knows nothing of device-information sets, handles, preparsed data or a last-error
// slot. TEmulatedHidPlatform turns it into a THidPlatform: the emulation of the setup and HID
// services is written once there, for every backend that uses it.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "hid/hid_platform.h"

namespace glowstep {

// A platform error code, and the system's own error number behind it when a system call failed
// (0 when the backend chose the code itself).
struct THidError {
  std::uint32_t Code = 0;
  int Cause = 0;
  explicit operator bool() const { return Code != 0; }
};

// One HID interface as the backend found it. A non-zero error field says why the values it
// stands for could not be read: asking for them fails with that error.
struct THidInterfaceRecord {
  std::string Path;            // what Open takes
  std::uint32_t Identity = 0;  // the same while the interface stays plugged, never reused
  // Names that outlast a re-plug and a restart (THidStableNames); empty where there is none.
  std::string PortName;
  std::string SerialNumber;
  std::uint16_t VendorId = 0;
  std::uint16_t ProductId = 0;
  std::uint16_t Version = 0;
  std::uint32_t IdentityError = 0;
  std::u16string ProductString;
  std::uint32_t ProductStringError = 0;
  // From the report descriptor; lengths count the report-ID byte, 0: no report of the kind.
  std::uint16_t InputReportLength = 0;
  std::uint16_t OutputReportLength = 0;
  std::uint16_t FeatureReportLength = 0;
  std::uint16_t UsagePage = 0;
  std::uint16_t Usage = 0;
  std::uint16_t Collections = 0;
  std::uint32_t DescriptorError = 0;
  // What keeps the user from opening it for reading and writing, should an open for reading and
  // writing fail (a backend may name it without trying one).
  THidAccessReason AccessReason = THidAccessReason::Unknown;
  // What the system says of it in the setup service's terms, by registry property code.
  std::map<std::uint32_t, std::vector<std::uint8_t>> Properties;
};

// How a read on a connection ended.
struct THidReadResult {
  std::uint32_t Count = 0;  // bytes of the report, report ID first
  THidError Error;          // the read failed
  bool Woken = false;       // Wake ended the wait: nothing was read
};

// One open interface. Its reads run on one thread at a time; Wake may be called from any
// thread. Destroying the connection closes it.
class THidConnection {
 public:
  virtual ~THidConnection() = default;

  // The interface as it was when it was opened.
  virtual const THidInterfaceRecord& Interface() const = 0;
  // 0 while the interface is still there; otherwise the error its queries fail with now.
  virtual std::uint32_t Status() = 0;
  // Writes one output report (report ID first); `written` is what the system took. A report the
  // device has not taken within `limit` fails with kErrorTimeout.
  virtual THidError Write(std::span<const std::uint8_t> report,
                          std::uint32_t& written,
                          std::chrono::milliseconds limit) = 0;
  // Whether a read can start now; after a read that failed, the error that stays.
  virtual THidError ReadStartError() = 0;
  // Waits for one input report and copies it into `buffer` (cut to its size), with no time-out:
  // returns with a report, with an error, or when woken.
  virtual THidReadResult Read(std::span<std::uint8_t> buffer) = 0;
  // Ends the Read in progress, or else the next one, early. Any thread.
  virtual void Wake() = 0;
  // How many input reports the system keeps for this connection.
  virtual THidError SetInputBuffers(std::uint32_t count) = 0;
  virtual std::uint32_t InputBuffers() = 0;
};

// The run-time libraries the emulation stands in for.
enum class THidLibrary { Setup, Hid };

class THidBackend {
 public:
  virtual ~THidBackend() = default;

  // The HID interfaces present, in the system's order; `error` when no list can be made.
  virtual std::vector<THidInterfaceRecord> List(THidError& error) = 0;
  // Opens the interface at `path`. Access None opens it for its description only.
  virtual std::shared_ptr<THidConnection> Open(const std::string& path,
                                               TFileAccess access,
                                               THidError& error) = 0;
  // Calls `callback` on the main thread (through `port`) whenever interfaces come or go, as
  // the device-change message, and runs the report it returns; nullptr when nothing can be
  // watched.
  virtual std::unique_ptr<TDeviceNotifier> Watch(TMainThreadPort& port,
                                                 TDeviceChangeCallback callback) = 0;

  // What stands behind a run-time library: taking it fails with an error when the service is
  // missing; each successful take is given back once.
  virtual THidError AcquireLibrary(THidLibrary library) = 0;
  virtual void ReleaseLibrary(THidLibrary library) = 0;
  // Whether an entry the bindings ask for by name is provided.
  virtual bool ProvidesEntry(THidLibrary, std::string_view) { return true; }
  // The version-gated HID entries belong to one family of systems.
  virtual bool IsNtVersionAtLeast(int, int) { return false; }
};

}  // namespace glowstep
