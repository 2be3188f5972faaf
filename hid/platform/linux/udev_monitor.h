// Plugs and unplugs of hidraw devices, reported on the main thread.
//
// While the udev daemon runs, a udev monitor (source "udev", subsystem hidraw) reports them once
// udev has applied its rules; without the daemon (as in many containers) an inotify watch on the
// node directory does. Neither involves a time-out: a watch costs nothing while nothing happens.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "hid/hid_backend.h"
#include "hid/platform/linux/udev_library.h"

namespace glowstep {

// The most monitor events one wake-up takes before it refreshes.
inline constexpr int kMaxEventsPerWake = 256;

// Called by the watch on the node directory, before the refresh it asks for, with the path of
// each hidraw node that went (`present` false) or came.
using TNodeChangeCallback = std::function<void(const std::string& node, bool present)>;

// The udev monitor when `udevControlPath` exists (the daemon runs), otherwise the watch on
// `nodeRoot`; nullptr when nothing can be watched.
std::unique_ptr<TDeviceNotifier> WatchHidrawDevices(TUdevLibrary& udev,
                                                    const std::string& udevControlPath,
                                                    const std::string& nodeRoot,
                                                    TMainThreadPort& port,
                                                    TDeviceChangeCallback callback,
                                                    TNodeChangeCallback onNode = nullptr);

}  // namespace glowstep
