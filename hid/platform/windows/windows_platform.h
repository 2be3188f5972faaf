// The HID platform of Windows: the setup service (SetupApi.dll) and the HID class library
// (HID.dll), both loaded at run time from the system folder and called through the binding
// tables; CreateFileA, WriteFile and ReadFileEx on the interface paths; and a hidden top-level
// window that receives the system's device-change broadcast.
//
// Writes: overlapped on the handle opened for them, given up on (cancelled and failed with
// ERROR_TIMEOUT) after the write time limit; a report whose length is not the device's output
// report length is refused with ERROR_BAD_LENGTH before it goes out.
//
// Reads: one overlapped read per reader thread, started with ReadFileEx into a buffer the read
// object owns, waited for alertably, and cancelled with CancelIo from the thread that started it.
// The read object keeps its overlapped record and buffer alive until the read's completion
// routine has run, so neither is ever freed or reused while the system may still write to it.
//
// No windows.h here: callers see only the platform seam.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "hid/platform/windows/hid_platform.h"

namespace glowstep {

class TWindowsPlatform : public THidPlatform {
 public:
  // How long a cancelled read may take to report back before its record and buffer are left to
  // the system for good (never freed) rather than risk a late write into freed memory.
  static constexpr std::int32_t kCancelTimeoutMs = 5000;

  TWindowsPlatform() = default;
  ~TWindowsPlatform() override;

  // --- Run-time library loader ----------------------------------------------------------------
  // Loads `name` from the system folder only (never the program folder or the current one), with
  // the error box for a missing file suppressed for this thread during the load.
  TLibraryHandle LoadLibraryByName(std::string_view name) override;
  void FreeLibraryHandle(TLibraryHandle library) override;
  TEntryAddress ResolveExport(TLibraryHandle library, std::string_view name) override;
  bool IsNtVersionAtLeast(int major, int minor) override;

  // --- Setup service --------------------------------------------------------------------------
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
  // The port: the first location path of the device node or of its nearest parent that has one
  // ("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USBMI(0)"), from the configuration manager. The
  // serial number: what HID.dll reads from the device.
  THidStableNames GetStableNames(TDeviceInfoSet set,
                                 const TDeviceInfoRecord& info,
                                 const std::string& devicePath) override;

  // --- Files ----------------------------------------------------------------------------------
  THidHandle OpenFile(const std::string& path, TFileAccess access, bool overlapped) override;
  bool CloseFile(THidHandle handle) override;
  bool WriteFile(THidHandle handle,
                 const std::uint8_t* buffer,
                 std::uint32_t length,
                 std::uint32_t& written) override;
  std::unique_ptr<TPlatformRead> CreateRead() override;
  std::uint32_t LastError() override;

  // --- HID class library ----------------------------------------------------------------------
  bool GetAttributes(THidHandle handle, THidAttributes& attributes) override;
  bool GetProductString(THidHandle handle, char16_t* buffer, std::uint32_t bufferBytes) override;
  bool GetPreparsedData(THidHandle handle, TPreparsedData& preparsed) override;
  bool FreePreparsedData(TPreparsedData preparsed) override;
  std::int32_t GetCaps(TPreparsedData preparsed, THidCaps& caps) override;
  bool SetNumInputBuffers(THidHandle handle, std::uint32_t count) override;
  bool GetNumInputBuffers(THidHandle handle, std::uint32_t& count) override;

  // --- Notification and threads ---------------------------------------------------------------
  // A hidden top-level window on the main thread, whose loop must dispatch window messages;
  // nullptr when it cannot be made. Asked for on another thread it is refused (the controller
  // then tells the main loop that later changes go unseen).
  std::unique_ptr<TDeviceNotifier> CreateDeviceNotifier(TMainThreadPort& port,
                                                        TDeviceChangeCallback callback) override;
  void NameCurrentThread(std::string_view name) override;

 private:
  // The output report length of the device open as `handle`, as HID.dll describes it; 0 for
  // what is not a HID device. Learnt at the handle's first write, kept until it is closed.
  std::uint16_t OutputReportLength(THidHandle handle);

  std::mutex Lock_;
  std::map<THidHandle, std::uint16_t> OutputReportLengths_;
  // cfgmgr32.dll, loaded from the system folder when a location path is first asked for.
  TLibraryHandle ConfigManager_ = 0;
  bool ConfigManagerTried_ = false;
};

// The window class of the notification windows, for tools that look for them.
inline constexpr const char* kNotifyWindowClass = "GlowstepHidNotifyWindow";

}  // namespace glowstep
