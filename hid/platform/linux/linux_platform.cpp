#include "linux_platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <string_view>
#include <system_error>

#include "hid_pnp_info.h"
#include "main_thread_port.h"
#include "native_platform.h"
#include "report_descriptor.h"

namespace glowstep {

namespace {

thread_local std::uint32_t tLastError = 0;
// The errno behind tLastError when a system call failed; 0 when the backend chose the code.
thread_local int tLastErrno = 0;

constexpr TLibraryHandle kSetupLibrary = 1;
constexpr TLibraryHandle kHidLibrary = 2;
constexpr std::uint32_t kErrorInvalidData = 13;
constexpr std::uint32_t kErrorNotSupported = 50;
constexpr std::int32_t kHidpStatusInvalidPreparsedData = static_cast<std::int32_t>(0xC0110001u);
constexpr const char* kHidrawSubsystem = "hidraw";

bool Fail(std::uint32_t error) {
  tLastError = error;
  tLastErrno = 0;
  return false;
}

// The platform error code that stands for a failed system call's errno.
std::uint32_t ErrorFromErrno(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return kErrorAccessDenied;
    case ENOENT:
      return kErrorFileNotFound;
    case ENODEV:
    case ENXIO:
    case EIO:
    case EPIPE:
    case ECONNRESET:
    case ESHUTDOWN:
      return kErrorDeviceNotConnected;
    case EBADF:
      return kErrorInvalidHandle;
    case EINVAL:
    case EMSGSIZE:
      return kErrorInvalidParameter;
    default:
      return kErrorGenFailure;
  }
}

bool FailErrno() {
  const int error = errno;
  Fail(ErrorFromErrno(error));
  tLastErrno = error;
  return false;
}

// The backend provides every entry of both libraries itself; this address only marks an entry
// as present and is never called.
void ProvidedEntry() {}

bool HasRead(TFileAccess access) {
  return access == TFileAccess::Read || access == TFileAccess::ReadWrite;
}

bool HasWrite(TFileAccess access) {
  return access == TFileAccess::Write || access == TFileAccess::ReadWrite;
}

std::optional<dev_t> ParseDevNumber(const std::string& text) {
  const auto colon = text.find(':');
  if (colon == std::string::npos) return std::nullopt;
  unsigned int major = 0;
  unsigned int minor = 0;
  const char* begin = text.data();
  const char* end = text.data() + text.size();
  const auto first = std::from_chars(begin, begin + colon, major);
  const auto second = std::from_chars(begin + colon + 1, end, minor);
  if (first.ec != std::errc() || first.ptr != begin + colon || second.ec != std::errc() ||
      second.ptr != end)
    return std::nullopt;
  return makedev(major, minor);
}

}  // namespace

// --- Handles ------------------------------------------------------------------------------------

class TLinuxRead;

struct TLinuxHidPlatform::THandleRecord {
  THandleRecord(int fd, TFileAccess access) : Fd(fd), Access(access) {}
  THandleRecord(const THandleRecord&) = delete;
  THandleRecord& operator=(const THandleRecord&) = delete;
  // The last owner closes the descriptor: the table, or a read that still polls it.
  ~THandleRecord() {
    if (Fd >= 0) close(Fd);
  }

  const int Fd;  // -1: a query handle that reads sysfs only
  const TFileAccess Access;
  std::optional<TSysfsHidDevice> Sysfs;
  bool NumberedReports = false;
  std::atomic<bool> Gone{false};      // the node hung up: the device went away
  TLinuxRead* PendingRead = nullptr;  // with the platform's lock held
};

int OpenCharacterDevice(const std::string& node, int flags, const std::string& devNumber) {
  const auto expected = ParseDevNumber(devNumber);
  if (!expected) {
    errno = ENODEV;
    return -1;
  }
  int fd = -1;
  do {
    fd = open(node.c_str(), flags);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode) || status.st_rdev != *expected) {
    close(fd);
    errno = ENODEV;
    return -1;
  }
  return fd;
}

// --- Reads --------------------------------------------------------------------------------------

class TLinuxRead final : public TPlatformRead {
 public:
  explicit TLinuxRead(TLinuxHidPlatform& platform)
      : Platform_(platform), Wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

  TLinuxRead(const TLinuxRead&) = delete;
  TLinuxRead& operator=(const TLinuxRead&) = delete;

  ~TLinuxRead() override {
    Finish();
    if (Wake_ >= 0) close(Wake_);
  }

  bool Begin(THidHandle handle, std::uint8_t* buffer, std::uint32_t length) override {
    if (Wake_ < 0) return Fail(kErrorGenFailure);
    if (buffer == nullptr || length == 0 || Record_) return Fail(kErrorInvalidParameter);
    std::lock_guard lock(Platform_.Lock_);
    const auto it = Platform_.Handles_.find(handle);
    if (it == Platform_.Handles_.end()) return Fail(kErrorInvalidHandle);
    const auto& record = it->second;
    if (record->Fd < 0 || !HasRead(record->Access) || record->PendingRead != nullptr)
      return Fail(kErrorInvalidParameter);
    // A node that hung up stays dead: starting another read on it fails, as it does on a
    // removed device elsewhere, and the reader reports that once per slice.
    if (record->Gone) return Fail(kErrorDeviceNotConnected);
    record->PendingRead = this;
    Record_ = record;
    Handle_ = handle;
    Buffer_ = buffer;
    Length_ = length;
    Count_ = 0;
    Completed_ = false;
    Aborted_ = false;
    return true;
  }

  std::uint32_t Wait(std::int32_t milliseconds) override {
    if (!Record_) {
      // No read outstanding: the retry slice after a failed start, cut short by Wake.
      pollfd wake{Wake_, POLLIN, 0};
      if (Poll(&wake, 1, milliseconds) > 0) DrainWake();
      return kWaitTimeout;
    }
    for (;;) {
      if (Aborted_) return Complete(0, kErrorOperationAborted);
      pollfd fds[2] = {{Record_->Fd, POLLIN, 0}, {Wake_, POLLIN, 0}};
      if (Poll(fds, 2, -1) < 0) return Complete(0, ErrorFromErrno(errno));
      if ((fds[0].revents & POLLIN) != 0) {
        if (const auto result = ReadReport()) return *result;
        continue;
      }
      if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return Hangup(ENODEV);
      if ((fds[1].revents & POLLIN) != 0) {
        DrainWake();
        if (Aborted_) return Complete(0, kErrorOperationAborted);
        return kWaitTimeout;  // the read stays outstanding
      }
    }
  }

  std::uint32_t Result(THidHandle handle) override {
    if (!Completed_ || handle != Handle_) return 0;
    return Count_;
  }

  bool Cancel(THidHandle handle) override {
    if (!Record_ || handle != Handle_) return Fail(kErrorInvalidParameter);
    // The buffer is written only inside Wait, on this same thread: once the read is dropped
    // nothing touches it any more.
    Finish();
    Completed_ = true;
    Count_ = 0;
    return true;
  }

  void Wake() override {
    const std::uint64_t one = 1;
    ssize_t n = 0;
    do {
      n = write(Wake_, &one, sizeof one);
    } while (n < 0 && errno == EINTR);
  }

  // With the platform's lock held: the handle is being closed under this read.
  void Abort() {
    Aborted_ = true;
    Wake();
  }

 private:
  static int Poll(pollfd* fds, nfds_t count, std::int32_t milliseconds) {
    // EINTR: wait again; an interrupted slice simply starts over, which is at worst later.
    for (;;) {
      const int n = poll(fds, count, milliseconds);
      if (n >= 0 || errno != EINTR) return n;
    }
  }

  void DrainWake() {
    std::uint64_t count = 0;
    while (read(Wake_, &count, sizeof count) > 0) {
    }
  }

  // One report from the node; nullopt when there was nothing after all (the wait goes on).
  std::optional<std::uint32_t> ReadReport() {
    // Without report IDs the report goes in after a 0, where the ID would stand.
    const bool prefix = !Record_->NumberedReports;
    std::uint8_t* target = prefix ? Buffer_ + 1 : Buffer_;
    const std::uint32_t room = prefix ? Length_ - 1 : Length_;
    const ssize_t n = read(Record_->Fd, target, room);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return std::nullopt;
    // End of file or an error: the node is gone (hidraw answers EIO once unplugged).
    if (n <= 0) return Hangup(n == 0 ? ENODEV : errno);
    if (prefix) Buffer_[0] = 0;
    return Complete(static_cast<std::uint32_t>(n) + (prefix ? 1u : 0u), 0);
  }

  std::uint32_t Hangup(int error) {
    Record_->Gone = true;
    return Complete(0, ErrorFromErrno(error));
  }

  std::uint32_t Complete(std::uint32_t count, std::uint32_t error) {
    Count_ = count;
    Completed_ = true;
    if (error != 0) Fail(error);
    Finish();
    return kWaitIoCompletion;
  }

  // Drops the outstanding read; the record (and maybe its descriptor) goes with the last owner.
  void Finish() {
    std::shared_ptr<TLinuxHidPlatform::THandleRecord> record;
    {
      std::lock_guard lock(Platform_.Lock_);
      if (Record_ && Record_->PendingRead == this) Record_->PendingRead = nullptr;
      record = std::move(Record_);
      Record_.reset();
    }
    Buffer_ = nullptr;
  }

  TLinuxHidPlatform& Platform_;
  const int Wake_;
  std::shared_ptr<TLinuxHidPlatform::THandleRecord> Record_;  // while a read is outstanding
  THidHandle Handle_ = kInvalidHandle;
  std::uint8_t* Buffer_ = nullptr;
  std::uint32_t Length_ = 0;
  std::uint32_t Count_ = 0;
  bool Completed_ = false;
  std::atomic<bool> Aborted_{false};
};

// --- Device-change monitor ----------------------------------------------------------------------

namespace {

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
    for (int i = 0; i < TLinuxHidPlatform::kMaxEventsPerWake; ++i) {
      udev_device* device = Api_.MonitorReceiveDevice(Monitor_);
      if (device == nullptr) break;
      Api_.DeviceUnref(device);
    }
    Callback_(kWmDeviceChange, kDbtDevNodesChanged, 0);
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

  TDevNodeWatch(std::string directory, TMainThreadPort& port, TDeviceChangeCallback callback)
      : Directory_(std::move(directory)), Port_(port), Callback_(std::move(callback)) {}
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
        // An overflow lost events, possibly of hidraw nodes.
        if ((event->mask & IN_Q_OVERFLOW) != 0 ||
            (event->len > 0 && std::string_view(event->name).starts_with(kHidrawSubsystem)))
          hidraw = true;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    if (hidraw) Callback_(kWmDeviceChange, kDbtDevNodesChanged, 0);
  }

  std::string Directory_;
  TMainThreadPort& Port_;
  TDeviceChangeCallback Callback_;
  int Fd_ = -1;
  TMainThreadPort::TWatchId Watch_ = 0;
};

}  // namespace

// --- The platform -------------------------------------------------------------------------------

TLinuxHidPlatform::TLinuxHidPlatform(TLinuxPlatformOptions options)
    : Options_(std::move(options)), Udev_(Options_.UdevLibraryNames, Options_.UdevLookup) {
  if (!Options_.OpenNode) Options_.OpenNode = OpenCharacterDevice;
}

TLinuxHidPlatform::~TLinuxHidPlatform() { Bindings().ReleaseAll(); }

std::shared_ptr<TLinuxHidPlatform::THandleRecord> TLinuxHidPlatform::FindHandle(THidHandle handle) {
  std::lock_guard lock(Lock_);
  const auto it = Handles_.find(handle);
  if (it == Handles_.end()) {
    Fail(kErrorInvalidHandle);
    return nullptr;
  }
  return it->second;
}

THidHandle TLinuxHidPlatform::AddHandle(std::shared_ptr<THandleRecord> record) {
  std::lock_guard lock(Lock_);
  const THidHandle handle = NextHandle_++;
  Handles_.emplace(handle, std::move(record));
  return handle;
}

THidHandle TLinuxHidPlatform::AdoptDescriptor(int fd, TFileAccess access, bool numberedReports) {
  auto record = std::make_shared<THandleRecord>(fd, access);
  record->NumberedReports = numberedReports;
  return AddHandle(std::move(record));
}

std::size_t TLinuxHidPlatform::OpenHandleCount() const {
  std::lock_guard lock(Lock_);
  return Handles_.size();
}

// --- Libraries ----------------------------------------------------------------------------------

TLibraryHandle TLinuxHidPlatform::LoadLibraryByName(std::string_view name) {
  if (name == kSetupLibraryName) {
    if (Udev_.Acquire()) return kSetupLibrary;
    Fail(kErrorFileNotFound);
    return 0;
  }
  if (name == kHidLibraryName) {
    struct stat status {};
    const std::string classDir = Options_.SysfsRoot + "/class/" + kHidrawSubsystem;
    if (stat(classDir.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
      Fail(kErrorFileNotFound);
      return 0;
    }
    std::lock_guard lock(Lock_);
    ++HidReferences_;
    return kHidLibrary;
  }
  Fail(kErrorFileNotFound);
  return 0;
}

void TLinuxHidPlatform::FreeLibraryHandle(TLibraryHandle library) {
  if (library == kSetupLibrary) {
    Udev_.Release();
  } else if (library == kHidLibrary) {
    std::lock_guard lock(Lock_);
    if (HidReferences_ > 0) --HidReferences_;
  }
}

TEntryAddress TLinuxHidPlatform::ResolveExport(TLibraryHandle library, std::string_view name) {
  if (library == kSetupLibrary && Udev_.Loaded()) {
    const auto& names = THidBindings::kSetupEntryNames;
    if (std::find(names.begin(), names.end(), name) != names.end()) return &ProvidedEntry;
  } else if (library == kHidLibrary) {
    std::lock_guard lock(Lock_);
    const auto& names = THidBindings::HidEntryNames();
    if (HidReferences_ > 0 && std::any_of(names.begin(), names.end(),
                                          [&](const auto& entry) { return entry.Name == name; }))
      return &ProvidedEntry;
  }
  return nullptr;
}

// The version-gated HID entries belong to one family of systems; this is not one of them.
bool TLinuxHidPlatform::IsNtVersionAtLeast(int, int) { return false; }

// --- Scan ---------------------------------------------------------------------------------------

TGuid TLinuxHidPlatform::GetHidGuid() { return kHidInterfaceClassGuid; }

std::vector<TLinuxHidPlatform::TFound> TLinuxHidPlatform::ListWithUdev() {
  std::vector<TFound> found;
  const TUdevApi& api = Udev_.Api();
  udev* context = api.New();
  if (context == nullptr) return found;
  udev_enumerate* enumerate = api.EnumerateNew(context);
  if (enumerate != nullptr && api.EnumerateAddMatchSubsystem(enumerate, kHidrawSubsystem) >= 0 &&
      api.EnumerateScanDevices(enumerate) >= 0) {
    for (udev_list_entry* entry = api.EnumerateGetListEntry(enumerate);
         entry != nullptr && found.size() < kMaxDevices; entry = api.ListEntryGetNext(entry)) {
      const char* sysPath = api.ListEntryGetName(entry);
      if (sysPath == nullptr) continue;
      udev_device* device = api.DeviceNewFromSyspath(context, sysPath);
      if (device == nullptr) continue;  // gone since the list was made
      const char* node = api.DeviceGetDevnode(device);
      if (node != nullptr) found.push_back(TFound{sysPath, node});
      api.DeviceUnref(device);
    }
  }
  if (enumerate != nullptr) api.EnumerateUnref(enumerate);
  api.Unref(context);
  return found;
}

std::vector<TLinuxHidPlatform::TFound> TLinuxHidPlatform::ListSysfs() {
  std::vector<TFound> found;
  const std::string classDir = Options_.SysfsRoot + "/class/" + kHidrawSubsystem;
  struct TCloseDir {
    void operator()(DIR* dir) const { closedir(dir); }
  };
  std::unique_ptr<DIR, TCloseDir> dir(opendir(classDir.c_str()));
  if (!dir) return found;
  while (const dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name.rfind(kHidrawSubsystem, 0) != 0) continue;
    std::unique_ptr<char, decltype(&std::free)> sysPath(
        realpath((classDir + "/").append(name).c_str(), nullptr), &std::free);
    if (!sysPath) continue;
    found.push_back(TFound{sysPath.get(), Options_.NodeRoot + "/" + name});
    if (found.size() == kMaxDevices) break;
  }
  // libudev lists by syspath; so does this.
  std::sort(found.begin(), found.end(),
            [](const TFound& a, const TFound& b) { return a.SysPath < b.SysPath; });
  return found;
}

TDeviceInfoSet TLinuxHidPlatform::GetClassDevs(const TGuid& interfaceClass) {
  if (!Udev_.Loaded()) {
    Fail(kErrorInvalidHandle);
    return kInvalidDeviceInfoSet;
  }
  std::vector<TFound> found;
  if (interfaceClass == kHidInterfaceClassGuid)
    found = Options_.ListSysfs ? ListSysfs() : ListWithUdev();

  std::vector<TSetEntry> entries;
  std::map<std::string, TNodeOwner> nodes;
  std::map<std::string, std::uint32_t> identities;
  std::lock_guard lock(Lock_);
  for (TFound& device : found) {
    // The dev number belongs to the identity as well: a syspath names one connection, and the
    // number proves the node it leads to.
    const std::string devNumber = ReadSysfsText(device.SysPath + "/dev").value_or(std::string());
    if (devNumber.empty()) continue;  // gone since it was listed
    const std::string key = device.SysPath + '\n' + devNumber;
    std::uint32_t identity = 0;
    if (const auto it = Identities_.find(key); it != Identities_.end()) {
      identity = it->second;
    } else {
      identity = NextIdentity_++;
      if (NextIdentity_ == 0) NextIdentity_ = 1;
    }
    identities[key] = identity;
    nodes[device.Node] = TNodeOwner{device.SysPath, devNumber};
    entries.push_back(
        TSetEntry{std::move(device.SysPath), std::move(device.Node), identity, {}, false});
  }
  // Only what this scan saw is remembered: a device that was missed once was announced as
  // removed, and when it shows again it is a new arrival with a new identity.
  Identities_ = std::move(identities);
  Nodes_ = std::move(nodes);
  const TDeviceInfoSet set = NextSet_++;
  Sets_.emplace(set, std::move(entries));
  return set;
}

bool TLinuxHidPlatform::EnumDeviceInterfaces(TDeviceInfoSet set,
                                             const TGuid& interfaceClass,
                                             std::uint32_t index,
                                             TDeviceInterfaceRecord& record) {
  constexpr std::uint32_t kErrorNoMoreItems = 259;
  std::lock_guard lock(Lock_);
  const auto it = Sets_.find(set);
  if (it == Sets_.end()) return Fail(kErrorInvalidHandle);
  if (index >= it->second.size()) return Fail(kErrorNoMoreItems);
  record.InterfaceClassGuid = interfaceClass;
  record.Reserved = index;
  return true;
}

bool TLinuxHidPlatform::GetDeviceInterfaceDetail(TDeviceInfoSet set,
                                                 const TDeviceInterfaceRecord& record,
                                                 char* pathBuffer,
                                                 std::uint32_t bufferSize,
                                                 std::uint32_t& required,
                                                 TDeviceInfoRecord& info) {
  std::lock_guard lock(Lock_);
  const auto it = Sets_.find(set);
  if (it == Sets_.end() || record.Reserved >= it->second.size())
    return Fail(kErrorInvalidParameter);
  const TSetEntry& entry = it->second[record.Reserved];
  required = static_cast<std::uint32_t>(entry.Node.size() + 1);
  if (pathBuffer == nullptr || bufferSize < required) return Fail(kErrorInsufficientBuffer);
  std::memcpy(pathBuffer, entry.Node.c_str(), required);
  info.DevInst = entry.Instance;
  info.Reserved = record.Reserved;
  return true;
}

bool TLinuxHidPlatform::GetDeviceRegistryProperty(TDeviceInfoSet set,
                                                  const TDeviceInfoRecord& info,
                                                  std::uint32_t property,
                                                  std::uint8_t* buffer,
                                                  std::uint32_t bufferSize) {
  std::lock_guard lock(Lock_);
  const auto it = Sets_.find(set);
  if (it == Sets_.end() || info.Reserved >= it->second.size()) return Fail(kErrorInvalidParameter);
  TSetEntry& entry = it->second[info.Reserved];
  if (!entry.SysfsRead) {
    entry.Sysfs = TSysfsHidDevice::Open(entry.SysPath);
    entry.SysfsRead = true;
  }
  if (!entry.Sysfs) return Fail(kErrorDeviceNotConnected);
  const TSysfsHidDevice& device = *entry.Sysfs;

  // Only where Linux has something that means the same; every other property is absent.
  std::string bytes;
  const auto text = [&](std::string value) {
    if (!value.empty()) bytes = std::move(value) + '\0';
  };
  switch (property) {
    case spdrp::DeviceDesc:
      text(device.Property("HID_NAME"));
      break;
    case spdrp::HardwareId:
      text(device.Property("MODALIAS"));
      if (!bytes.empty()) bytes += '\0';  // a list of one, ended by an empty string
      break;
    case spdrp::Service:
      text(device.Property("DRIVER"));
      break;
    case spdrp::Class:
      text(kHidrawSubsystem);
      break;
    case spdrp::Mfg:
      text(device.UsbAttribute("manufacturer"));
      break;
    case spdrp::LocationInformation:
      text(device.Property("HID_PHYS"));
      break;
    case spdrp::PhysicalDeviceObjectName:
      text(entry.SysPath);
      break;
    case spdrp::BusNumber: {
      const std::string busnum = device.UsbAttribute("busnum");
      std::uint32_t number = 0;
      const auto [end, error] =
          std::from_chars(busnum.data(), busnum.data() + busnum.size(), number);
      if (!busnum.empty() && error == std::errc() && end == busnum.data() + busnum.size())
        bytes.assign(reinterpret_cast<const char*>(&number), sizeof number);
      break;
    }
    default:
      break;
  }
  if (bytes.empty()) return Fail(kErrorInvalidData);
  if (buffer == nullptr || bytes.size() > bufferSize) return Fail(kErrorInsufficientBuffer);
  // A property is raw bytes, not text: nothing to terminate.
  std::memcpy(buffer, bytes.data(), bytes.size());  // NOLINT(bugprone-not-null-terminated-result)
  return true;
}

void TLinuxHidPlatform::DestroyDeviceInfoList(TDeviceInfoSet set) {
  std::lock_guard lock(Lock_);
  Sets_.erase(set);
}

// --- Files --------------------------------------------------------------------------------------

THidHandle TLinuxHidPlatform::OpenFile(const std::string& path, TFileAccess access, bool) {
  TNodeOwner owner;
  {
    std::lock_guard lock(Lock_);
    const auto it = Nodes_.find(path);
    if (it == Nodes_.end()) {
      Fail(kErrorFileNotFound);
      return kInvalidHandle;
    }
    owner = it->second;
  }
  // The device the scan found at this node must still be there: its syspath names one
  // connection, and its dev number is the node's.
  auto sysfs = TSysfsHidDevice::Open(owner.SysPath);
  if (!sysfs || sysfs->DevNumber() != owner.DevNumber) {
    Fail(kErrorDeviceNotConnected);
    return kInvalidHandle;
  }
  int fd = -1;
  if (access != TFileAccess::None) {
    int flags = O_CLOEXEC;
    flags |= access == TFileAccess::ReadWrite ? O_RDWR
             : access == TFileAccess::Read    ? O_RDONLY | O_NONBLOCK
                                              : O_WRONLY;
    fd = Options_.OpenNode(path, flags, owner.DevNumber);
    if (fd < 0) {
      FailErrno();
      return kInvalidHandle;
    }
    // Checked again now that the node is open: the device was there before and after the open,
    // so the node opened was its own and not one the kernel handed on to a newcomer.
    if (sysfs->DevNumber() != owner.DevNumber) {
      close(fd);
      Fail(kErrorDeviceNotConnected);
      return kInvalidHandle;
    }
  }
  auto record = std::make_shared<THandleRecord>(fd, access);
  if (HasRead(access)) {
    const auto descriptor = sysfs->ReportDescriptor();
    const auto parsed =
        descriptor ? ParseReportDescriptor(*descriptor) : std::optional<TReportDescriptorInfo>();
    record->NumberedReports = parsed && parsed->NumberedReports;
  }
  record->Sysfs = std::move(sysfs);
  return AddHandle(std::move(record));
}

bool TLinuxHidPlatform::CloseFile(THidHandle handle) {
  std::shared_ptr<THandleRecord> record;
  {
    std::lock_guard lock(Lock_);
    const auto it = Handles_.find(handle);
    if (it == Handles_.end()) return Fail(kErrorInvalidHandle);
    record = std::move(it->second);
    Handles_.erase(it);
    // A read outstanding on it ends; the descriptor closes when that read lets go of it.
    if (record->PendingRead != nullptr) record->PendingRead->Abort();
  }
  return true;
}

bool TLinuxHidPlatform::WriteFile(THidHandle handle,
                                  const std::uint8_t* buffer,
                                  std::uint32_t length,
                                  std::uint32_t& written) {
  written = 0;
  const auto record = FindHandle(handle);
  if (!record) return false;
  if (record->Fd < 0 || !HasWrite(record->Access)) return Fail(kErrorAccessDenied);
  if (buffer == nullptr && length != 0) return Fail(kErrorInvalidParameter);
  ssize_t n = 0;
  do {
    n = write(record->Fd, buffer, length);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return FailErrno();
  written = static_cast<std::uint32_t>(std::min<std::size_t>(static_cast<std::size_t>(n), length));
  return true;
}

std::unique_ptr<TPlatformRead> TLinuxHidPlatform::CreateRead() {
  return std::make_unique<TLinuxRead>(*this);
}

std::uint32_t TLinuxHidPlatform::LastError() { return tLastError; }

std::string TLinuxHidPlatform::LastErrorText() {
  if (tLastErrno != 0) return std::error_code(tLastErrno, std::generic_category()).message();
  return THidPlatform::LastErrorText();
}

// --- HID class library --------------------------------------------------------------------------

bool TLinuxHidPlatform::GetAttributes(THidHandle handle, THidAttributes& attributes) {
  const auto record = FindHandle(handle);
  if (!record) return false;
  if (!record->Sysfs) return Fail(kErrorInvalidParameter);
  const auto read = record->Sysfs->Attributes();
  if (!read) return Fail(kErrorDeviceNotConnected);
  const std::uint32_t size = attributes.Size;
  attributes = *read;
  attributes.Size = size;
  return true;
}

bool TLinuxHidPlatform::GetProductString(THidHandle handle,
                                         char16_t* buffer,
                                         std::uint32_t bufferBytes) {
  const auto record = FindHandle(handle);
  if (!record) return false;
  if (!record->Sysfs) return Fail(kErrorInvalidParameter);
  const std::size_t capacity = bufferBytes / sizeof(char16_t);
  if (buffer == nullptr || capacity == 0) return Fail(kErrorInsufficientBuffer);
  const auto product = record->Sysfs->ProductString();
  if (!product) return Fail(kErrorDeviceNotConnected);
  std::size_t count = std::min(product->size(), capacity - 1);
  // A cut between the halves of a surrogate pair would leave half a character.
  if (count > 0 && count < product->size() && (*product)[count - 1] >= 0xD800 &&
      (*product)[count - 1] < 0xDC00)
    --count;
  std::copy_n(product->begin(), count, buffer);
  buffer[count] = u'\0';
  return true;
}

bool TLinuxHidPlatform::GetPreparsedData(THidHandle handle, TPreparsedData& preparsed) {
  const auto record = FindHandle(handle);
  if (!record) return false;
  if (!record->Sysfs) return Fail(kErrorInvalidParameter);
  const auto descriptor = record->Sysfs->ReportDescriptor();
  if (!descriptor) return Fail(kErrorDeviceNotConnected);
  const auto parsed = ParseReportDescriptor(*descriptor);
  if (!parsed) return Fail(kErrorInvalidData);
  THidCaps caps;
  caps.UsagePage = parsed->UsagePage;
  caps.Usage = parsed->Usage;
  caps.InputReportByteLength = parsed->InputReportByteLength;
  caps.OutputReportByteLength = parsed->OutputReportByteLength;
  caps.FeatureReportByteLength = parsed->FeatureReportByteLength;
  caps.NumberLinkCollectionNodes = parsed->Collections;
  std::lock_guard lock(Lock_);
  preparsed = NextPreparsed_++;
  Preparsed_.emplace(preparsed, caps);
  return true;
}

bool TLinuxHidPlatform::FreePreparsedData(TPreparsedData preparsed) {
  std::lock_guard lock(Lock_);
  if (Preparsed_.erase(preparsed) == 0) return Fail(kErrorInvalidParameter);
  return true;
}

std::int32_t TLinuxHidPlatform::GetCaps(TPreparsedData preparsed, THidCaps& caps) {
  std::lock_guard lock(Lock_);
  const auto it = Preparsed_.find(preparsed);
  if (it == Preparsed_.end()) return kHidpStatusInvalidPreparsedData;
  caps = it->second;
  return kHidpStatusSuccess;
}

bool TLinuxHidPlatform::SetNumInputBuffers(THidHandle handle, std::uint32_t count) {
  if (!FindHandle(handle)) return false;
  return count == kHidrawQueueLength || Fail(kErrorNotSupported);
}

bool TLinuxHidPlatform::GetNumInputBuffers(THidHandle handle, std::uint32_t& count) {
  if (!FindHandle(handle)) return false;
  count = kHidrawQueueLength;
  return true;
}

// --- Notification -------------------------------------------------------------------------------

std::unique_ptr<TDeviceNotifier> TLinuxHidPlatform::CreateDeviceNotifier(
    TMainThreadPort& port,
    TDeviceChangeCallback callback) {
  // udev makes its control socket when it starts; without the daemon a monitor would open and
  // then stay silent.
  if (access(Options_.UdevControlPath.c_str(), F_OK) == 0) {
    auto monitor = std::make_unique<TUdevMonitor>(Udev_, port, callback);
    if (monitor->Start()) return monitor;
  }
  auto watch = std::make_unique<TDevNodeWatch>(Options_.NodeRoot, port, std::move(callback));
  if (watch->Start()) return watch;
  return nullptr;
}

std::unique_ptr<THidPlatform> CreateNativePlatform() {
  return std::make_unique<TLinuxHidPlatform>();
}

}  // namespace glowstep
