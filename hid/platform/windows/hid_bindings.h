// Run-time bindings of the platform's setup service and HID class library.
//
// Neither library is linked: both are loaded when a device controller is built, every entry is
// looked up by name, and the outcome decides whether HID support exists at all. The rule is all
// or nothing: one missing name releases the library again and leaves every entry of that table
// empty, so no caller ever sees a half-filled table. Entries of the HID table that the running
// system is too old to have are looked up only where its version provides them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace glowstep {

class THidPlatform;

using TLibraryHandle = std::uintptr_t;  // 0: not loaded
using TEntryAddress = void (*)();       // nullptr: not found

inline constexpr std::string_view kSetupLibraryName = "SetupApi.dll";
inline constexpr std::string_view kHidLibraryName = "HID.dll";

class THidBindings {
 public:
  // The setup-service entries this layer calls; the scan and the device records use them.
  static constexpr std::array<std::string_view, 5> kSetupEntryNames = {
      "SetupDiGetClassDevsA", "SetupDiEnumDeviceInterfaces", "SetupDiGetDeviceInterfaceDetailA",
      "SetupDiGetDeviceRegistryPropertyA", "SetupDiDestroyDeviceInfoList"};
  static constexpr std::size_t kHidEntryCount = 46;

  // One entry of the HID table: its export name, and the system version it needs (0.0: any).
  struct THidEntryName {
    std::string_view Name;
    int NtMajor = 0;
    int NtMinor = 0;
  };
  static const std::array<THidEntryName, kHidEntryCount>& HidEntryNames();

  explicit THidBindings(THidPlatform& platform) : Platform_(platform) {}
  THidBindings(const THidBindings&) = delete;
  THidBindings& operator=(const THidBindings&) = delete;
  // Calls nothing of the platform: by the time it runs, the backend part of the platform that
  // owns these bindings is gone (see ReleaseAll).
  ~THidBindings() = default;

  // Library loader. LoadLibraryOnce loads only when `handle` is 0 and keeps a set handle.
  bool LoadLibraryOnce(TLibraryHandle& handle, std::string_view name);
  void ReleaseLibrary(TLibraryHandle& handle);
  TEntryAddress ResolveEntry(TLibraryHandle handle, std::string_view name, bool& allFound);

  // Setup service: reference-counted; the first acquire loads and resolves, the last release
  // frees the library and clears the table.
  bool AcquireSetupBinding();
  void ReleaseSetupBinding();
  std::int32_t SetupBindingCount() const { return SetupBindingCount_; }

  // HID class library: not counted; one release frees it for everyone.
  bool AcquireHidBinding();
  void ReleaseHidBinding();
  bool HidBindingLoaded() const { return HidLibrary_ != 0; }

  // Frees both libraries, whatever is still held, and empties both tables. Every backend calls
  // it first thing in its own destructor, while its library operations are still its own: what
  // a controller that never finished its construction, or a tool, did not release is freed
  // there.
  void ReleaseAll();

  TEntryAddress SetupEntry(std::size_t index) const { return SetupTable_.at(index); }
  TEntryAddress HidEntry(std::size_t index) const { return HidTable_.at(index); }
  // The entry bound to `name`, or nullptr (for a platform backend that calls through the table).
  TEntryAddress SetupEntry(std::string_view name) const;
  TEntryAddress HidEntry(std::string_view name) const;

 private:
  THidPlatform& Platform_;
  TLibraryHandle SetupLibrary_ = 0;
  TLibraryHandle HidLibrary_ = 0;
  std::int32_t SetupBindingCount_ = 0;
  std::array<TEntryAddress, kSetupEntryNames.size()> SetupTable_{};
  std::array<TEntryAddress, kHidEntryCount> HidTable_{};
};

}  // namespace glowstep
