// THidPlatform on top of a narrow backend (THidBackend): the setup and HID services as the logic
// calls them, emulated once for every platform that is not Windows.
//
//  - a device-information set is the list the backend gave when it was made, and its interface
//    and detail records index that list; the detail's path comes by the two-call protocol;
//  - a handle stands for a connection (access None: a description only). A read outstanding on
//    a handle shares its connection, so the connection closes when the last of them lets go;
//    closing the handle ends that read as an aborted one;
//  - preparsed data is a table of the capabilities read from the connection's record;
//  - the last error is kept per thread, with the system's error number behind it when there is
//    one, so that it can be worded in the system's terms;
//  - the two libraries are the backend's services, counted here.
//
// The platform counts what is alive and every misuse it can see, so tests can prove that
// nothing is leaked or misused.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hid/hid_platform.h"
#include "hid/platform/emulated/hid_backend.h"

namespace glowstep {

struct THidEmulationCounters {
  std::int64_t OpenHandles = 0;
  std::int64_t DeviceInfoSets = 0;
  std::int64_t PreparsedData = 0;
  std::int64_t Reads = 0;  // live TPlatformRead objects, one per reader thread
  std::int64_t Notifiers = 0;
  std::int64_t HandleMisuse = 0;           // operations on unknown or closed handles
  std::int64_t ClosedWithPendingRead = 0;  // a handle closed under an outstanding read
  std::int64_t ReadsAbandoned = 0;         // a read object destroyed with its read outstanding
  std::int64_t ReadsBegun = 0;
  std::int64_t ReportsWritten = 0;
};

class TEmulatedHidPlatform : public THidPlatform {
 public:
  explicit TEmulatedHidPlatform(std::unique_ptr<THidBackend> backend);
  ~TEmulatedHidPlatform() override;

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

 protected:
  THidBackend& Backend() { return *Backend_; }

 private:
  class TRead;
  class TCountedNotifier;
  struct THandle {
    std::shared_ptr<THidConnection> Connection;
    TFileAccess Access = TFileAccess::None;
    bool Overlapped = false;
    TRead* PendingRead = nullptr;
  };

  // With Lock_ held: the handle's entry; an unknown one counts as misuse and sets the last error.
  THandle* FindHandle(THidHandle handle);
  // The connection of a known handle whose interface is still there, else nullptr (last error
  // set).
  std::shared_ptr<THidConnection> LiveConnection(THidHandle handle);
  const THidInterfaceRecord* FindSetEntry(TDeviceInfoSet set, std::uintptr_t index);

  std::unique_ptr<THidBackend> Backend_;
  mutable std::mutex Lock_;
  std::map<THidHandle, THandle> Handles_;
  THidHandle NextHandle_ = 0x100;
  std::map<TDeviceInfoSet, std::vector<THidInterfaceRecord>> Sets_;
  TDeviceInfoSet NextSet_ = 0x10;
  std::map<TPreparsedData, THidCaps> Preparsed_;
  TPreparsedData NextPreparsed_ = 0x10;
  std::map<THidLibrary, int> LibraryReferences_;
  THidEmulationCounters Counters_;
  std::shared_ptr<std::atomic<std::int64_t>> Notifiers_ =
      std::make_shared<std::atomic<std::int64_t>>(0);
  std::vector<std::string> ThreadNames_;
};

}  // namespace glowstep
