#include "hid/platform/linux/udev_library.h"

#include <dlfcn.h>

namespace glowstep {

namespace {

// Converts a looked-up address to the entry's function type. POSIX guarantees that an object
// pointer returned by dlsym can hold a function address.
template <typename TFunction>
bool Resolve(const TUdevLibrary::TSymbolLookup& lookup,
             void* library,
             const char* name,
             TFunction& entry) {
  void* address = lookup(library, name);
  entry = reinterpret_cast<TFunction>(address);
  return address != nullptr;
}

bool ResolveAll(const TUdevLibrary::TSymbolLookup& lookup, void* library, TUdevApi& api) {
  // Every entry is looked up even after a miss, so that the count of names stays honest in a
  // debugger; the result is all or nothing.
  std::size_t found = 0;
  found += Resolve(lookup, library, "udev_new", api.New);
  found += Resolve(lookup, library, "udev_unref", api.Unref);
  found += Resolve(lookup, library, "udev_enumerate_new", api.EnumerateNew);
  found += Resolve(lookup, library, "udev_enumerate_unref", api.EnumerateUnref);
  found += Resolve(lookup, library, "udev_enumerate_add_match_subsystem",
                   api.EnumerateAddMatchSubsystem);
  found += Resolve(lookup, library, "udev_enumerate_scan_devices", api.EnumerateScanDevices);
  found += Resolve(lookup, library, "udev_enumerate_get_list_entry", api.EnumerateGetListEntry);
  found += Resolve(lookup, library, "udev_list_entry_get_next", api.ListEntryGetNext);
  found += Resolve(lookup, library, "udev_list_entry_get_name", api.ListEntryGetName);
  found += Resolve(lookup, library, "udev_device_new_from_syspath", api.DeviceNewFromSyspath);
  found += Resolve(lookup, library, "udev_device_unref", api.DeviceUnref);
  found += Resolve(lookup, library, "udev_device_get_devnode", api.DeviceGetDevnode);
  found += Resolve(lookup, library, "udev_device_get_sysname", api.DeviceGetSysname);
  found += Resolve(lookup, library, "udev_monitor_new_from_netlink", api.MonitorNewFromNetlink);
  found += Resolve(lookup, library, "udev_monitor_unref", api.MonitorUnref);
  found += Resolve(lookup, library, "udev_monitor_filter_add_match_subsystem_devtype",
                   api.MonitorFilterAddMatch);
  found += Resolve(lookup, library, "udev_monitor_enable_receiving", api.MonitorEnableReceiving);
  found += Resolve(lookup, library, "udev_monitor_get_fd", api.MonitorGetFd);
  found += Resolve(lookup, library, "udev_monitor_receive_device", api.MonitorReceiveDevice);
  return found == kUdevEntryCount;
}

}  // namespace

TUdevLibrary::TUdevLibrary(std::vector<std::string> names, TSymbolLookup lookup)
    : Names_(std::move(names)), Lookup_(std::move(lookup)) {
  if (!Lookup_) Lookup_ = [](void* library, const char* name) { return dlsym(library, name); };
}

TUdevLibrary::~TUdevLibrary() {
  std::lock_guard lock(Lock_);
  if (Handle_ != nullptr) dlclose(Handle_);
}

bool TUdevLibrary::Acquire() {
  std::lock_guard lock(Lock_);
  if (References_ > 0) {
    ++References_;
    return true;
  }
  for (const std::string& name : Names_) {
    void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) continue;
    // Resolved into a local table first: a half-filled table is never published.
    TUdevApi table;
    if (!ResolveAll(Lookup_, handle, table)) {
      dlclose(handle);
      return false;
    }
    Handle_ = handle;
    Api_ = table;
    OpenedName_ = name;
    References_ = 1;
    return true;
  }
  return false;
}

void TUdevLibrary::Release() {
  std::lock_guard lock(Lock_);
  if (References_ == 0) return;
  if (--References_ > 0) return;
  Api_ = TUdevApi{};
  OpenedName_.clear();
  dlclose(Handle_);
  Handle_ = nullptr;
}

bool TUdevLibrary::Loaded() const {
  std::lock_guard lock(Lock_);
  return Handle_ != nullptr;
}

int TUdevLibrary::References() const {
  std::lock_guard lock(Lock_);
  return References_;
}

}  // namespace glowstep
