// The one seam between the HID logic and an operating system.
//
// The device controller, the devices and their readers are written once against this
// interface. A backend lists the HID interfaces present, opens one as a connection, watches for
// interfaces coming and going, and says what its errors mean; each platform implements it in its
// own directory below platform/ (Linux: hidraw, sysfs and libudev; Windows: SetupAPI, HID.dll
// and overlapped file I/O; the simulated device tree of the tests and the demo).
//
// Errors are values: every call that can fail says so in what it returns, with the platform's
// error code and the system's own error number behind it. Nothing is kept per thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/message.h"
#include "hid/hid_pnp_info.h"

namespace glowstep {

class TMainThreadPort;

// Platform error codes the logic and the backends agree on (Windows' numbers, where they come
// from; the other backends use the same ones for the same meaning).
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorGenFailure = 31;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorNoMoreItems = 259;
inline constexpr std::uint32_t kErrorOperationAborted = 995;
inline constexpr std::uint32_t kErrorDeviceNotConnected = 1167;
inline constexpr std::uint32_t kErrorTimeout = 1460;  // the device did not take a report in time

// Whether `error` says that the device is not there (any more): it went away since it was listed.
constexpr bool IsDeviceGoneError(std::uint32_t error) {
  return error == kErrorDeviceNotConnected || error == kErrorFileNotFound;
}

// A platform error code in words: the system's message on Windows, where the codes come from;
// elsewhere a short text of the catalogue for the codes the backends use, and the number for any
// other. ErrorCodeText is the same in English.
TMessage ErrorCodeMessage(std::uint32_t code);
std::string ErrorCodeText(std::uint32_t code);

// A platform error code, and the system's own error number behind it when a system call failed
// (0 when the backend chose the code itself).
struct THidError {
  std::uint32_t Code = 0;
  int Cause = 0;
  explicit operator bool() const { return Code != 0; }
};

// The error in the system's words where it has them (the cause), else the code's.
TMessage HidErrorMessage(const THidError& error);

// How long a report write waits for the device to take the report unless told otherwise
// (THidBackend::SetWriteTimeLimit). A 65-byte report takes a few milliseconds even on a slow bus;
// a device that has not taken it within a second is not going to.
inline constexpr std::chrono::milliseconds kDefaultWriteTimeLimit{1000};

// The device-change message and the one parameter value that means "the device tree changed".
inline constexpr std::uint32_t kWmDeviceChange = 0x219;
inline constexpr std::uintptr_t kDbtDevNodesChanged = 7;

struct THidAttributes {
  std::uint32_t Size = 12;
  std::uint16_t VendorID = 0;
  std::uint16_t ProductID = 0;
  std::uint16_t VersionNumber = 0;
};

// Report lengths count the report-ID byte.
struct THidCaps {
  std::uint16_t Usage = 0;
  std::uint16_t UsagePage = 0;
  std::uint16_t InputReportByteLength = 0;
  std::uint16_t OutputReportByteLength = 0;
  std::uint16_t FeatureReportByteLength = 0;
  std::uint16_t NumberLinkCollectionNodes = 0;
  std::uint16_t NumberInputButtonCaps = 0;
  std::uint16_t NumberInputValueCaps = 0;
  std::uint16_t NumberInputDataIndices = 0;
  std::uint16_t NumberOutputButtonCaps = 0;
  std::uint16_t NumberOutputValueCaps = 0;
  std::uint16_t NumberOutputDataIndices = 0;
  std::uint16_t NumberFeatureButtonCaps = 0;
  std::uint16_t NumberFeatureValueCaps = 0;
  std::uint16_t NumberFeatureDataIndices = 0;
};

enum class TFileAccess { None, Read, Write, ReadWrite };

// Why a device cannot be opened for reading and writing, as far as the system can tell. Linux
// names a reason from the owner, group and mode of the device node: a hidraw node is root's
// alone until a udev rule gives it to a group (Debian's "plugdev" for removable devices) and to
// the user logged in at the seat. Windows names none; the simulated platform names any.
enum class THidAccessReason : std::uint8_t {
  Unknown,       // no reason the system can name, or none of those below
  RootOnly,      // the node is root's alone: nothing gave it to a group or to the seat's user
  NotInPlugdev,  // the node is given to the plugdev group, and this user is not in it
};

// One HID interface as the backend found it. A non-zero error field says why the values it
// stands for could not be read: asking for them fails with that error.
struct THidInterfaceRecord {
  std::string Path;            // what Open takes
  std::uint32_t Identity = 0;  // the same while the interface stays plugged, never reused
  // Names that outlast a re-plug and a restart: the port it is plugged into (the same socket
  // gives the same name, whatever node the system hands out) and the serial number the device
  // reports; empty where there is none.
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
  // What the system says of the device (THidPnPInfo's fields; empty where it says nothing).
  THidPnPProperties Properties;
};

// How a read on a connection ended.
struct THidReadResult {
  std::uint32_t Count = 0;  // bytes of the report, report ID first
  THidError Error;          // the read failed
  bool Woken = false;       // Wake ended the wait: nothing was read
};

// One open interface. Its reads run on one thread at a time; Wake may be called from any
// thread. Destroying the connection closes it; a read still running then ends first.
class THidConnection {
 public:
  virtual ~THidConnection() = default;

  // The interface as it was when it was opened.
  virtual const THidInterfaceRecord& Interface() const = 0;
  // None while the interface is still there; otherwise the error its queries fail with now.
  virtual THidError Status() = 0;
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

  // What the device says of itself. By default the answers come from the record, once Status
  // says the interface is still there; a backend whose system answers only when asked asks it.
  virtual THidError Attributes(THidAttributes& attributes);
  virtual THidError ProductString(std::u16string& text);
  virtual THidError Caps(THidCaps& caps);
  // Why the device may not be opened for reading and writing; it means something only once such
  // an open failed.
  virtual THidAccessReason AccessReason() { return Interface().AccessReason; }
};

// Delivers the device-change notification on the main thread while it lives.
class TDeviceNotifier {
 public:
  virtual ~TDeviceNotifier() = default;
};
// What a device-change message leaves to tell once its refresh has ended (the refresh's
// failure); empty when there is nothing. The notifier runs it on the main thread where the
// application may run an event loop of its own (an error box): at once, or from a task of the
// main loop when the message came inside the system's own dispatch.
using TDeviceChangeReport = std::function<void()>;
using TDeviceChangeCallback = std::function<
    TDeviceChangeReport(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)>;

class THidBackend {
 public:
  THidBackend() = default;
  THidBackend(const THidBackend&) = delete;
  THidBackend& operator=(const THidBackend&) = delete;
  virtual ~THidBackend() = default;

  // Takes what the backend needs from the system (its libraries), all or nothing: an error says
  // that there is no HID support here, and nothing is held then. Each successful Start is
  // followed by one Stop; a backend may be started by several users at a time.
  virtual THidError Start() = 0;
  virtual void Stop() = 0;

  // The HID interfaces present, in the system's order; `error` when no list can be made.
  virtual std::vector<THidInterfaceRecord> List(THidError& error) = 0;
  // Hands each interface present to `found`, in the system's order, until it answers false;
  // the error when the list cannot be made (after the interfaces handed over so far). By default
  // the whole list is made first; a backend whose system walks its list one interface at a time
  // hands each over as it comes, so what `found` asks of the system comes in between.
  using TFoundInterface = std::function<bool(THidInterfaceRecord record)>;
  virtual THidError Scan(const TFoundInterface& found);
  // Opens the interface at `path`. Access None opens it for its description only.
  virtual std::shared_ptr<THidConnection> Open(const std::string& path,
                                               TFileAccess access,
                                               THidError& error) = 0;
  // Calls `callback` on the main thread (through `port`) whenever interfaces come or go, as
  // the device-change message, and runs the report it returns; nullptr when nothing can be
  // watched.
  virtual std::unique_ptr<TDeviceNotifier> Watch(TMainThreadPort& port,
                                                 TDeviceChangeCallback callback) = 0;

  // Names the calling thread for the system's tools and debuggers.
  virtual void NameCurrentThread(std::string_view name);

  // How long a write waits for the device to take a report. Any thread; the writes that begin
  // afterwards follow a new limit.
  std::chrono::milliseconds WriteTimeLimit() const {
    return std::chrono::milliseconds(WriteTimeLimitMs_.load());
  }
  void SetWriteTimeLimit(std::chrono::milliseconds limit) { WriteTimeLimitMs_ = limit.count(); }

 private:
  std::atomic<std::chrono::milliseconds::rep> WriteTimeLimitMs_{kDefaultWriteTimeLimit.count()};
};

// Names the calling thread for the operating system's tools (truncated where the system limits
// the length).
void SetOsThreadName(std::string_view name);

}  // namespace glowstep
