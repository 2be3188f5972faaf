// The one seam between the HID logic and an operating system.
//
// The device controller, the devices and their readers are written once against this
// interface; a backend (Linux hidraw and udev, Windows SetupAPI and HID.dll, the simulated
// platform) implements it. The operations mirror the setup-service and HID-library entries the
// logic calls, plus file I/O, the asynchronous read, the device-change notification and the
// run-time library loader that the bindings use. The logic calls a setup-service or HID
// operation only while the matching binding is loaded (see THidBindings), so a backend may call
// straight through the resolved table entries.
//
// Every operation may be called from any thread; handles are owned by their callers. Failures
// leave an error code in the calling thread's last-error slot (LastError).
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/message.h"
#include "hid/hid_bindings.h"

namespace glowstep {

class TMainThreadPort;

// A platform error code in words: the system's message on Windows, where the codes come from;
// elsewhere a short text of the catalogue for the codes the backends use, and the number for any
// other. ErrorCodeText is the same in English.
TMessage ErrorCodeMessage(std::uint32_t code);
std::string ErrorCodeText(std::uint32_t code);

using THidHandle = std::uintptr_t;
inline constexpr THidHandle kInvalidHandle = ~THidHandle{0};
using TDeviceInfoSet = std::uintptr_t;
inline constexpr TDeviceInfoSet kInvalidDeviceInfoSet = ~TDeviceInfoSet{0};
using TPreparsedData = std::uintptr_t;  // 0: none

struct TGuid {
  std::uint32_t Data1 = 0;
  std::uint16_t Data2 = 0;
  std::uint16_t Data3 = 0;
  std::array<std::uint8_t, 8> Data4{};
  friend bool operator==(const TGuid&, const TGuid&) = default;
};

// The published class of HID device interfaces, used when the HID library cannot say.
inline constexpr TGuid kHidInterfaceClassGuid{0x4D1E55B2,
                                              0xF16F,
                                              0x11CF,
                                              {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

// Platform error codes the logic and the backends agree on.
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

// How long a report write waits for the device to take the report unless told otherwise
// (THidPlatform::SetWriteTimeLimit). A 65-byte report takes a few milliseconds even on a slow bus;
// a device that has not taken it within a second is not going to.
inline constexpr std::chrono::milliseconds kDefaultWriteTimeLimit{1000};

// The device-change message and the one parameter value that means "the device tree changed".
inline constexpr std::uint32_t kWmDeviceChange = 0x219;
inline constexpr std::uintptr_t kDbtDevNodesChanged = 7;

// Result of an alertable wait: a read completed during it, or the slice ended.
inline constexpr std::uint32_t kWaitIoCompletion = 192;
inline constexpr std::uint32_t kWaitTimeout = 0;

struct TDeviceInterfaceRecord {
  std::uint32_t Size = 28;
  TGuid InterfaceClassGuid;
  std::uint32_t Flags = 0;
  std::uintptr_t Reserved = 0;
};

struct TDeviceInfoRecord {
  std::uint32_t Size = 28;
  TGuid ClassGuid;
  std::uint32_t DevInst = 0;  // the identity of the device across refreshes
  std::uintptr_t Reserved = 0;
};

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
inline constexpr std::int32_t kHidpStatusSuccess = 0x00110000;

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

// Names of an interface that outlast a re-plug and a restart, where the system has them: the port
// it is plugged into (the same socket gives the same name, whatever node the system hands out)
// and the serial number the device reports. Empty where there is none.
struct THidStableNames {
  std::string Port;
  std::string Serial;
};

// One asynchronous read at a time, owned by one reader thread. Only Wake may be called from
// another thread.
class TPlatformRead {
 public:
  virtual ~TPlatformRead() = default;
  // Starts reading one input report of at most `length` bytes into `buffer`. The buffer must
  // stay valid until the read completed or Cancel returned. After a read that completed with an
  // error (its Result is false), the next Begin on the same handle may fail with that error
  // instead, so that the reader reports it and pauses as for any read that cannot start.
  virtual bool Begin(THidHandle handle, std::uint8_t* buffer, std::uint32_t length) = 0;
  // Waits for the outstanding read, or up to `milliseconds` when none is outstanding (a backend
  // may also end the wait for a read after `milliseconds`; an idle reader need not wake).
  // Returns kWaitIoCompletion once the outstanding read completed, kWaitTimeout when the wait
  // ended otherwise or Wake was called.
  virtual std::uint32_t Wait(std::int32_t milliseconds) = 0;
  // The byte count of the completed read, without waiting: true with the count (0 for an empty
  // report), false when the read failed or is not complete, with the error as the last error.
  virtual bool Result(THidHandle handle, std::uint32_t& count) = 0;
  // Cancels the outstanding read and returns only when the platform no longer uses the buffer.
  // False when there was nothing to cancel, or when the read could not be taken back from the
  // platform in time (it keeps a buffer of its own then).
  virtual bool Cancel(THidHandle handle) = 0;
  // Ends the current or the next Wait early. Any thread.
  virtual void Wake() = 0;
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

class THidPlatform {
 public:
  THidPlatform() : Bindings_(*this) {}
  THidPlatform(const THidPlatform&) = delete;
  THidPlatform& operator=(const THidPlatform&) = delete;
  // A backend's destructor first calls Bindings().ReleaseAll(): here the loader operations below
  // are no longer the backend's, so nothing held can be freed any more.
  virtual ~THidPlatform() = default;

  THidBindings& Bindings() { return Bindings_; }

  // --- Run-time library loader (used by THidBindings) ---------------------------------------
  // Loads a library without any error box; 0 when it cannot be loaded.
  virtual TLibraryHandle LoadLibraryByName(std::string_view name) = 0;
  virtual void FreeLibraryHandle(TLibraryHandle library) = 0;
  virtual TEntryAddress ResolveExport(TLibraryHandle library, std::string_view name) = 0;
  // Whether the system is of the NT family at this version or later.
  virtual bool IsNtVersionAtLeast(int major, int minor) = 0;

  // --- Setup service --------------------------------------------------------------------------
  virtual TGuid GetHidGuid() = 0;
  // The present devices exposing `interfaceClass`; kInvalidDeviceInfoSet on failure.
  virtual TDeviceInfoSet GetClassDevs(const TGuid& interfaceClass) = 0;
  virtual bool EnumDeviceInterfaces(TDeviceInfoSet set,
                                    const TGuid& interfaceClass,
                                    std::uint32_t index,
                                    TDeviceInterfaceRecord& record) = 0;
  // Called first with no buffer: fails, sets `required` and last error kErrorInsufficientBuffer.
  // Then with a buffer of `required` bytes: writes the zero-terminated device path into it and
  // fills `info`.
  virtual bool GetDeviceInterfaceDetail(TDeviceInfoSet set,
                                        const TDeviceInterfaceRecord& record,
                                        char* pathBuffer,
                                        std::uint32_t bufferSize,
                                        std::uint32_t& required,
                                        TDeviceInfoRecord& info) = 0;
  virtual bool GetDeviceRegistryProperty(TDeviceInfoSet set,
                                         const TDeviceInfoRecord& info,
                                         std::uint32_t property,
                                         std::uint8_t* buffer,
                                         std::uint32_t bufferSize) = 0;
  virtual void DestroyDeviceInfoList(TDeviceInfoSet set) = 0;
  // The stable names of the interface at `devicePath`, found as `info` in `set`; none by default.
  virtual THidStableNames GetStableNames(TDeviceInfoSet /*set*/,
                                         const TDeviceInfoRecord& /*info*/,
                                         const std::string& /*devicePath*/) {
    return {};
  }

  // --- Files ----------------------------------------------------------------------------------
  // kInvalidHandle on failure. Access None opens for queries only (attributes, strings).
  virtual THidHandle OpenFile(const std::string& path, TFileAccess access, bool overlapped) = 0;
  virtual bool CloseFile(THidHandle handle) = 0;
  // Synchronous write of one output report; the first byte is the report ID. A report the device
  // has not taken within WriteTimeLimit fails with kErrorTimeout.
  virtual bool WriteFile(THidHandle handle,
                         const std::uint8_t* buffer,
                         std::uint32_t length,
                         std::uint32_t& written) = 0;
  // How long WriteFile waits for the device to take a report. Any thread; the writes that begin
  // afterwards follow a new limit.
  std::chrono::milliseconds WriteTimeLimit() const {
    return std::chrono::milliseconds(WriteTimeLimitMs_.load());
  }
  virtual void SetWriteTimeLimit(std::chrono::milliseconds limit) {
    WriteTimeLimitMs_ = limit.count();
  }
  virtual std::unique_ptr<TPlatformRead> CreateRead() = 0;
  // The calling thread's last error code.
  virtual std::uint32_t LastError() = 0;
  // The system's own words for the calling thread's last error, for the user, and the same in
  // English where the words are the program's.
  virtual TMessage LastErrorMessage() { return ErrorCodeMessage(LastError()); }
  std::string LastErrorText() { return LastErrorMessage().English(); }
  // Why the device behind `handle`, open for queries only, may not be opened for reading and
  // writing; it means something only once such an open failed.
  virtual THidAccessReason QueryAccessReason(THidHandle) { return THidAccessReason::Unknown; }

  // --- HID class library ----------------------------------------------------------------------
  virtual bool GetAttributes(THidHandle handle, THidAttributes& attributes) = 0;
  // Fills `buffer` (`bufferBytes` bytes) with a zero-terminated UTF-16 product string.
  virtual bool GetProductString(THidHandle handle, char16_t* buffer, std::uint32_t bufferBytes) = 0;
  virtual bool GetPreparsedData(THidHandle handle, TPreparsedData& preparsed) = 0;
  virtual bool FreePreparsedData(TPreparsedData preparsed) = 0;
  virtual std::int32_t GetCaps(TPreparsedData preparsed, THidCaps& caps) = 0;
  virtual bool SetNumInputBuffers(THidHandle handle, std::uint32_t count) = 0;
  virtual bool GetNumInputBuffers(THidHandle handle, std::uint32_t& count) = 0;

  // --- Device-change notification and threads ------------------------------------------------
  // Calls `callback` on the main thread (through `port`) for each device-change message, and
  // runs the report it returns.
  virtual std::unique_ptr<TDeviceNotifier> CreateDeviceNotifier(TMainThreadPort& port,
                                                                TDeviceChangeCallback callback) = 0;
  // Names the calling thread for debuggers.
  virtual void NameCurrentThread(std::string_view name);

 private:
  THidBindings Bindings_;
  std::atomic<std::chrono::milliseconds::rep> WriteTimeLimitMs_{kDefaultWriteTimeLimit.count()};
};

// Names the calling thread for the operating system's tools (truncated where the system limits
// the length); used by backends that have nothing better.
void SetOsThreadName(std::string_view name);

}  // namespace glowstep
