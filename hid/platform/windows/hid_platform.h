// The Windows system interface beneath the Windows HID backend.
//
// The operations mirror the setup-service and HID-library entries the backend calls, plus file
// I/O, the asynchronous read, the device-change notification and the run-time library loader
// that the bindings use. The real system implements it (windows_platform.h); the tests put an
// emulation over the simulated device tree in its place, and a fault wrapper between, so the
// backend's use of the system is tested on every platform. The backend calls a setup-service or
// HID operation only while the matching binding is loaded (see THidBindings), so an
// implementation may call straight through the resolved table entries.
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
#include "hid/hid_backend.h"
#include "hid/platform/windows/hid_bindings.h"

namespace glowstep {

class TMainThreadPort;

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

// Registry property codes of the setup service.
// NOLINTBEGIN(readability-identifier-naming): named as the service names them (SPDRP_...)
namespace spdrp {
inline constexpr std::uint32_t DeviceDesc = 0;
inline constexpr std::uint32_t HardwareId = 1;
inline constexpr std::uint32_t CompatibleIds = 2;
inline constexpr std::uint32_t Service = 4;
inline constexpr std::uint32_t Class = 7;
inline constexpr std::uint32_t ClassGuid = 8;
inline constexpr std::uint32_t Driver = 9;
inline constexpr std::uint32_t ConfigFlags = 10;
inline constexpr std::uint32_t Mfg = 11;
inline constexpr std::uint32_t FriendlyName = 12;
inline constexpr std::uint32_t LocationInformation = 13;
inline constexpr std::uint32_t PhysicalDeviceObjectName = 14;
inline constexpr std::uint32_t Capabilities = 15;
inline constexpr std::uint32_t UiNumber = 16;
inline constexpr std::uint32_t UpperFilters = 17;
inline constexpr std::uint32_t LowerFilters = 18;
inline constexpr std::uint32_t BusTypeGuid = 19;
inline constexpr std::uint32_t LegacyBusType = 20;
inline constexpr std::uint32_t BusNumber = 21;
inline constexpr std::uint32_t EnumeratorName = 22;
inline constexpr std::uint32_t SecuritySds = 24;
inline constexpr std::uint32_t DevType = 25;
inline constexpr std::uint32_t Exclusive = 26;
inline constexpr std::uint32_t Characteristics = 27;
inline constexpr std::uint32_t Address = 28;
inline constexpr std::uint32_t UiNumberDescFormat = 30;
}  // namespace spdrp
// NOLINTEND(readability-identifier-naming)

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

inline constexpr std::int32_t kHidpStatusSuccess = 0x00110000;

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

}  // namespace glowstep
