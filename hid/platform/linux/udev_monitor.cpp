#include "hid/platform/linux/udev_monitor.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <string_view>

#include "hid/main_thread_port.h"

namespace glowstep {

namespace {

constexpr const char* kHidrawSubsystem = "hidraw";

// A udev monitor on the "udev" source for the hidraw subsystem, watched on the main thread.
// Each wake-up takes every pending event and then asks for one refresh.
class TUdevMonitor final : public TDeviceNotifier {
 public:
  TUdevMonitor(TUdevLibrary& library, TMainThreadPort& port, TDeviceChangeCallback callback)
      : Library_(library), Port_(port), Callback_(std::move(callback)) {}
  TUdevMonitor(const TUdevMonitor&) = delete;
  TUdevMonitor& operator=(const TUdevMonitor&) = delete;

  ~TUdevMonitor() override {
    if (Watch_ != 0) Port_.Unwatch(Watch_);
    if (Monitor_ != nullptr) Api_.MonitorUnref(Monitor_);
    if (Udev_ != nullptr) Api_.Unref(Udev_);
    if (Acquired_) Library_.Release();
  }

  bool Start() {
    Acquired_ = Library_.Acquire();
    if (!Acquired_) return false;
    Api_ = Library_.Api();
    Udev_ = Api_.New();
    if (Udev_ == nullptr) return false;
    Monitor_ = Api_.MonitorNewFromNetlink(Udev_, "udev");
    if (Monitor_ == nullptr) return false;
    if (Api_.MonitorFilterAddMatch(Monitor_, kHidrawSubsystem, nullptr) < 0) return false;
    if (Api_.MonitorEnableReceiving(Monitor_) < 0) return false;
    const int fd = Api_.MonitorGetFd(Monitor_);
    if (fd < 0) return false;
    // Draining relies on a receive that returns at once when nothing is pending.
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return false;
    Watch_ = Port_.WatchReadable(fd, [this] { OnReadable(); });
    return Watch_ != 0;
  }

 private:
  void OnReadable() {
    for (int i = 0; i < kMaxEventsPerWake; ++i) {
      udev_device* device = Api_.MonitorReceiveDevice(Monitor_);
      if (device == nullptr) break;
      Api_.DeviceUnref(device);
    }
    if (const auto report = Callback_(kWmDeviceChange, kDbtDevNodesChanged, 0)) report();
  }

  TUdevLibrary& Library_;
  TMainThreadPort& Port_;
  TDeviceChangeCallback Callback_;
  bool Acquired_ = false;
  TUdevApi Api_;
  udev* Udev_ = nullptr;
  udev_monitor* Monitor_ = nullptr;
  TMainThreadPort::TWatchId Watch_ = 0;
};

// Without the udev daemon (as in many containers) a udev monitor hears nothing, so the nodes
// the kernel makes in /dev are watched instead: a hidraw node that comes, goes or changes its
// access asks for one refresh per wake-up. No time-out is involved: the watch costs nothing
// while nothing happens.
class TDevNodeWatch final : public TDeviceNotifier {
 public:
  // The most reads of queued events one wake-up takes before it refreshes.
  static constexpr int kMaxReadsPerWake = 64;

  TDevNodeWatch(std::string directory,
                TMainThreadPort& port,
                TDeviceChangeCallback callback,
                TNodeChangeCallback onNode)
      : Directory_(std::move(directory)),
        Port_(port),
        Callback_(std::move(callback)),
        OnNode_(std::move(onNode)) {}
  TDevNodeWatch(const TDevNodeWatch&) = delete;
  TDevNodeWatch& operator=(const TDevNodeWatch&) = delete;

  ~TDevNodeWatch() override {
    if (Watch_ != 0) Port_.Unwatch(Watch_);
    if (Fd_ >= 0) close(Fd_);
  }

  bool Start() {
    Fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (Fd_ < 0) return false;
    constexpr std::uint32_t kEvents =
        IN_CREATE | IN_DELETE | IN_ATTRIB | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR;
    if (inotify_add_watch(Fd_, Directory_.c_str(), kEvents) < 0) return false;
    Watch_ = Port_.WatchReadable(Fd_, [this] { OnReadable(); });
    return Watch_ != 0;
  }

 private:
  void OnReadable() {
    bool hidraw = false;
    alignas(inotify_event) char buffer[4096];
    for (int i = 0; i < kMaxReadsPerWake; ++i) {
      const ssize_t n = read(Fd_, buffer, sizeof buffer);
      if (n <= 0) break;  // drained (EAGAIN), or nothing more to take
      for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        const bool named =
            event->len > 0 && std::string_view(event->name).starts_with(kHidrawSubsystem);
        // An overflow lost events, possibly of hidraw nodes.
        if ((event->mask & IN_Q_OVERFLOW) != 0 || named) hidraw = true;
        if (named && OnNode_ &&
            (event->mask & (IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO)) != 0)
          OnNode_(Directory_ + "/" + event->name, (event->mask & (IN_CREATE | IN_MOVED_TO)) != 0);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    if (!hidraw) return;
    if (const auto report = Callback_(kWmDeviceChange, kDbtDevNodesChanged, 0)) report();
  }

  std::string Directory_;
  TMainThreadPort& Port_;
  TDeviceChangeCallback Callback_;
  TNodeChangeCallback OnNode_;
  int Fd_ = -1;
  TMainThreadPort::TWatchId Watch_ = 0;
};

}  // namespace

std::unique_ptr<TDeviceNotifier> WatchHidrawDevices(TUdevLibrary& udev,
                                                    const std::string& udevControlPath,
                                                    const std::string& nodeRoot,
                                                    TMainThreadPort& port,
                                                    TDeviceChangeCallback callback,
                                                    TNodeChangeCallback onNode) {
  // udev makes its control socket when it starts; without the daemon a monitor would open and
  // then stay silent.
  if (access(udevControlPath.c_str(), F_OK) == 0) {
    auto monitor = std::make_unique<TUdevMonitor>(udev, port, callback);
    if (monitor->Start()) return monitor;
  }
  auto watch =
      std::make_unique<TDevNodeWatch>(nodeRoot, port, std::move(callback), std::move(onNode));
  if (watch->Start()) return watch;
  return nullptr;
}

}  // namespace glowstep
