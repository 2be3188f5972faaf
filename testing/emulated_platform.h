// The Windows system interface (THidPlatform) emulated over any HID backend, for the tests: the
// Windows backend runs over it on every platform, with the simulated device tree below.
//
//  - the two libraries exist as names with their exports, which tests can take away; the
//    backend is started when the first of them is loaded and stopped when the last is freed;
//  - a device-information set is the list the backend gave when it was made, and its interface
//    and detail records index that list; the detail's path comes by the two-call protocol, and
//    the registry properties are the record's named properties in the setup service's bytes;
//  - a handle stands for a connection (access None: a description only). A read outstanding on
//    a handle shares its connection, so the connection closes when the last of them lets go;
//    closing the handle ends that read as an aborted one;
//  - preparsed data is a table of the capabilities the connection gave;
//  - the last error is kept per thread, with the system's error number behind it when there is
//    one, so that it can be worded in the system's terms.
//
// The emulation counts what is alive and every misuse it can see, so tests can prove that
// nothing is leaked or misused.
//
// Given a fault plan, every emulated call that can fail asks it first, by the operation's name
// (testing/fault_injection.h). A call the plan fails returns the operation's failure with
// kInjectedError as the thread's last error; a call that releases something (closing a handle,
// freeing preparsed data, cancelling a read) is still carried out and only reports the failure,
// so that the failure itself leaks nothing. A read failed while it waits completes with the
// error, as a read that the device ends with an I/O error. Calls that cannot fail are not asked
// about: the HID class GUID, the system version, freeing a library or a device-information set,
// naming a thread, the last error and the reason for a refused access, the stable names, making
// or waking a read, and the wait of a read with none outstanding.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "hid/platform/windows/hid_platform.h"

namespace glowstep {

class TFaultPlan;

struct THidEmulationCounters {
  std::int64_t OpenHandles = 0;
  std::int64_t DeviceInfoSets = 0;
  std::int64_t PreparsedData = 0;
  std::int64_t Reads = 0;  // live TPlatformRead objects
  std::int64_t Notifiers = 0;
  std::int64_t HandleMisuse = 0;           // operations on unknown or closed handles
  std::int64_t ClosedWithPendingRead = 0;  // a handle closed under an outstanding read
  std::int64_t ReadsAbandoned = 0;         // a read object destroyed with its read outstanding
  std::int64_t ReadsOutstanding = 0;       // begun and not yet completed or cancelled
  std::int64_t ReadsBegun = 0;
  std::int64_t ReportsWritten = 0;
};

class TEmulatedHidPlatform : public THidPlatform {
 public:
  // `backend` outlives the emulation; the emulation starts and stops it with the libraries.
  explicit TEmulatedHidPlatform(THidBackend& backend);
  ~TEmulatedHidPlatform() override;

  // --- The system's libraries (any thread) ----------------------------------------------------
  // A library that is not there fails to load; an export that is not there is not found. The
  // system is Windows 10 unless told otherwise.
  void RemoveLibrary(std::string_view name);
  void RemoveExport(std::string_view library, std::string_view name);
  void SetNtVersion(int major, int minor);
  // The plan the calls ask before they run, or none; set before the calls begin. The plan
  // outlives the calls.
  void SetFaultPlan(TFaultPlan* plan) { FaultPlan_ = plan; }

  THidEmulationCounters Counters() const;
  // How many loads of the library are not yet freed.
  int LibraryReferences(std::string_view name) const;
  // Every name a thread was given, once each, in the order first given.
  std::vector<std::string> ThreadNames() const;
  // Gives an open connection a handle, as OpenFile would; the handle owns it.
  THidHandle Adopt(std::shared_ptr<THidConnection> connection, TFileAccess access);

  // --- THidPlatform: the handles and their connections ----------------------------------------
  THidHandle OpenFile(const std::string& path, TFileAccess access, bool overlapped) override;
  bool CloseFile(THidHandle handle) override;
  bool WriteFile(THidHandle handle,
                 const std::uint8_t* buffer,
                 std::uint32_t length,
                 std::uint32_t& written) override;
  std::unique_ptr<TPlatformRead> CreateRead() override;
  bool GetAttributes(THidHandle handle, THidAttributes& attributes) override;
  bool GetProductString(THidHandle handle, char16_t* buffer, std::uint32_t bufferBytes) override;
  bool GetPreparsedData(THidHandle handle, TPreparsedData& preparsed) override;
  bool FreePreparsedData(TPreparsedData preparsed) override;
  std::int32_t GetCaps(TPreparsedData preparsed, THidCaps& caps) override;
  bool SetNumInputBuffers(THidHandle handle, std::uint32_t count) override;
  bool GetNumInputBuffers(THidHandle handle, std::uint32_t& count) override;
  std::uint32_t LastError() override;
  TMessage LastErrorMessage() override;
  THidAccessReason QueryAccessReason(THidHandle handle) override;

  // --- THidPlatform: the setup service, over the backend's list ---------------------------------
  TGuid GetHidGuid() override;
  TDeviceInfoSet GetClassDevs(const TGuid& interfaceClass) override;
  bool EnumDeviceInterfaces(TDeviceInfoSet set,
                            const TGuid& interfaceClass,
                            std::uint32_t index,
                            TDeviceInterfaceRecord& record) override;
  bool GetDeviceInterfaceDetail(TDeviceInfoSet set,
                                const TDeviceInterfaceRecord& record,
                                char* pathBuffer,
                                std::uint32_t bufferSize,
                                std::uint32_t& required,
                                TDeviceInfoRecord& info) override;
  bool GetDeviceRegistryProperty(TDeviceInfoSet set,
                                 const TDeviceInfoRecord& info,
                                 std::uint32_t property,
                                 std::uint8_t* buffer,
                                 std::uint32_t bufferSize) override;
  void DestroyDeviceInfoList(TDeviceInfoSet set) override;
  THidStableNames GetStableNames(TDeviceInfoSet set,
                                 const TDeviceInfoRecord& info,
                                 const std::string& devicePath) override;

  // --- THidPlatform: libraries, notification, threads ----------------------------------------
  TLibraryHandle LoadLibraryByName(std::string_view name) override;
  void FreeLibraryHandle(TLibraryHandle library) override;
  TEntryAddress ResolveExport(TLibraryHandle library, std::string_view name) override;
  bool IsNtVersionAtLeast(int major, int minor) override;
  std::unique_ptr<TDeviceNotifier> CreateDeviceNotifier(TMainThreadPort& port,
                                                        TDeviceChangeCallback callback) override;
  void NameCurrentThread(std::string_view name) override;

 private:
  class TRead;
  class TCountedNotifier;
  struct THandle {
    std::shared_ptr<THidConnection> Connection;
    TFileAccess Access = TFileAccess::None;
    bool Overlapped = false;
    TRead* PendingRead = nullptr;
  };

  struct TLibrary {
    bool Present = true;
    int References = 0;
    std::set<std::string, std::less<>> RemovedExports;
  };

  // With Lock_ held: the handle's entry; an unknown one counts as misuse and sets the last error.
  THandle* FindHandle(THidHandle handle);
  // The connection of a known handle, else nullptr (last error set).
  std::shared_ptr<THidConnection> Connection(THidHandle handle);
  // The same, for an interface that is still there.
  std::shared_ptr<THidConnection> LiveConnection(THidHandle handle);
  // With Lock_ held: the library a handle or a name stands for, or nullptr.
  TLibrary* LibraryOf(TLibraryHandle handle);
  const THidInterfaceRecord* FindSetEntry(TDeviceInfoSet set, std::uintptr_t index);
  // Asks the fault plan about one call of `operation`: the error it fails with, then the
  // thread's last error, or 0.
  std::uint32_t Injected(std::string_view operation);

  THidBackend& Backend_;
  TFaultPlan* FaultPlan_ = nullptr;
  mutable std::mutex Lock_;
  std::map<THidHandle, THandle> Handles_;
  THidHandle NextHandle_ = 0x100;
  std::map<TDeviceInfoSet, std::vector<THidInterfaceRecord>> Sets_;
  TDeviceInfoSet NextSet_ = 0x10;
  std::map<TPreparsedData, THidCaps> Preparsed_;
  TPreparsedData NextPreparsed_ = 0x10;
  TLibrary SetupLibrary_;
  TLibrary HidLibrary_;
  int NtMajor_ = 10;
  int NtMinor_ = 0;
  THidEmulationCounters Counters_;
  std::shared_ptr<std::atomic<std::int64_t>> Notifiers_ =
      std::make_shared<std::atomic<std::int64_t>>(0);
  std::vector<std::string> ThreadNames_;
};

}  // namespace glowstep
