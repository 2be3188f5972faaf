// libudev, bound at run time.
//
// The program does not link libudev: it is opened with dlopen ("libudev.so.1", then
// "libudev.so.0") when the first device controller is built, and every entry the backend calls
// is looked up into a local table. The table is published only when every entry was found;
// otherwise the library is closed again and nothing of it stays visible. Loads are counted: the
// library is closed when the last user releases it.
#pragma once

#include <libudev.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace glowstep {

// The entries of libudev the backend calls. The prototypes come from the system header; only
// their types are used, so nothing here links against the library.
struct TUdevApi {
  decltype(&::udev_new) New = nullptr;
  decltype(&::udev_unref) Unref = nullptr;
  decltype(&::udev_enumerate_new) EnumerateNew = nullptr;
  decltype(&::udev_enumerate_unref) EnumerateUnref = nullptr;
  decltype(&::udev_enumerate_add_match_subsystem) EnumerateAddMatchSubsystem = nullptr;
  decltype(&::udev_enumerate_scan_devices) EnumerateScanDevices = nullptr;
  decltype(&::udev_enumerate_get_list_entry) EnumerateGetListEntry = nullptr;
  decltype(&::udev_list_entry_get_next) ListEntryGetNext = nullptr;
  decltype(&::udev_list_entry_get_name) ListEntryGetName = nullptr;
  decltype(&::udev_device_new_from_syspath) DeviceNewFromSyspath = nullptr;
  decltype(&::udev_device_unref) DeviceUnref = nullptr;
  decltype(&::udev_device_get_devnode) DeviceGetDevnode = nullptr;
  decltype(&::udev_device_get_sysname) DeviceGetSysname = nullptr;
  decltype(&::udev_monitor_new_from_netlink) MonitorNewFromNetlink = nullptr;
  decltype(&::udev_monitor_unref) MonitorUnref = nullptr;
  decltype(&::udev_monitor_filter_add_match_subsystem_devtype) MonitorFilterAddMatch = nullptr;
  decltype(&::udev_monitor_enable_receiving) MonitorEnableReceiving = nullptr;
  decltype(&::udev_monitor_get_fd) MonitorGetFd = nullptr;
  decltype(&::udev_monitor_receive_device) MonitorReceiveDevice = nullptr;
};

// How many entries TUdevApi has; every one must resolve.
inline constexpr std::size_t kUdevEntryCount = 19;

class TUdevLibrary {
 public:
  // Looks up one symbol in an opened library; dlsym by default.
  using TSymbolLookup = std::function<void*(void* library, const char* name)>;

  static std::vector<std::string> DefaultNames() { return {"libudev.so.1", "libudev.so.0"}; }

  explicit TUdevLibrary(std::vector<std::string> names = DefaultNames(), TSymbolLookup lookup = {});
  TUdevLibrary(const TUdevLibrary&) = delete;
  TUdevLibrary& operator=(const TUdevLibrary&) = delete;
  ~TUdevLibrary();

  // Opens the library and resolves the table on the first acquire; later acquires only count.
  // False (and the count unchanged) when the library or an entry is missing.
  bool Acquire();
  // Undoes one successful Acquire; the last one clears the table and closes the library.
  void Release();

  bool Loaded() const;
  int References() const;
  // The published table; every entry is null while the library is not loaded. Callers use it
  // only between their own Acquire and Release.
  const TUdevApi& Api() const { return Api_; }
  // The name that was opened, empty while not loaded.
  const std::string& OpenedName() const { return OpenedName_; }

 private:
  std::vector<std::string> Names_;
  TSymbolLookup Lookup_;
  mutable std::mutex Lock_;
  void* Handle_ = nullptr;
  int References_ = 0;
  TUdevApi Api_;
  std::string OpenedName_;
};

}  // namespace glowstep
