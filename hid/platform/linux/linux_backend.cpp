#include "hid/platform/linux/linux_backend.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>

#include "hid/native_platform.h"
#include "hid/platform/linux/report_descriptor.h"
#include "hid/platform/linux/sysfs_hid.h"
#include "hid/platform/linux/udev_monitor.h"

namespace glowstep {

namespace {

constexpr std::uint32_t kErrorInvalidData = 13;
constexpr const char* kHidrawSubsystem = "hidraw";

// What the system says of the device, where Linux has something that means the same as the
// named property.
THidPnPProperties PropertiesOf(const TSysfsHidDevice& device) {
  THidPnPProperties properties;
  properties.DeviceDesc = device.Property("HID_NAME");
  if (std::string alias = device.Property("MODALIAS"); !alias.empty())
    properties.HardwareId.push_back(std::move(alias));
  properties.Service = device.Property("DRIVER");
  properties.Class = kHidrawSubsystem;
  properties.Mfg = device.UsbAttribute("manufacturer");
  properties.LocationInformation = device.Property("HID_PHYS");
  properties.PhysicalDeviceObjectName = device.SysPath();
  const std::string busnum = device.UsbAttribute("busnum");
  std::uint32_t number = 0;
  const auto [end, error] = std::from_chars(busnum.data(), busnum.data() + busnum.size(), number);
  if (!busnum.empty() && error == std::errc() && end == busnum.data() + busnum.size())
    properties.BusNumber = number;
  return properties;
}

// The record of a hidraw device from sysfs; `numberedReports` tells whether its reports carry
// an ID.
THidInterfaceRecord RecordOf(const std::string& node,
                             std::uint32_t identity,
                             const std::optional<TSysfsHidDevice>& device,
                             bool& numberedReports) {
  THidInterfaceRecord record;
  record.Path = node;
  record.Identity = identity;
  record.IdentityError = record.ProductStringError = record.DescriptorError =
      kErrorDeviceNotConnected;
  numberedReports = false;
  if (!device) return record;
  if (const auto attributes = device->Attributes()) {
    record.VendorId = attributes->VendorID;
    record.ProductId = attributes->ProductID;
    record.Version = attributes->VersionNumber;
    record.IdentityError = 0;
  }
  if (auto product = device->ProductString()) {
    record.ProductString = std::move(*product);
    record.ProductStringError = 0;
  }
  if (const auto descriptor = device->ReportDescriptor()) {
    const auto parsed = ParseReportDescriptor(*descriptor);
    record.DescriptorError = parsed ? 0 : kErrorInvalidData;
    if (parsed) {
      record.UsagePage = parsed->UsagePage;
      record.Usage = parsed->Usage;
      record.InputReportLength = parsed->InputReportByteLength;
      record.OutputReportLength = parsed->OutputReportByteLength;
      record.FeatureReportLength = parsed->FeatureReportByteLength;
      record.Collections = parsed->Collections;
      numberedReports = parsed->NumberedReports;
    }
  }
  record.Properties = PropertiesOf(*device);
  // The names that outlast a re-plug: the USB port path as udev shows it
  // ("usb-0000:00:14.0-1.2/input0"; on other buses it names the adapter, not the device) and the
  // serial number, the HID device's own or else the USB device's.
  if (device->Bus() == kBusUsb) record.PortName = device->Property("HID_PHYS");
  record.SerialNumber = device->Property("HID_UNIQ");
  if (record.SerialNumber.empty()) record.SerialNumber = device->UsbAttribute("serial");
  return record;
}

}  // namespace

TLinuxHidBackend::TLinuxHidBackend(TLinuxBackendOptions options)
    : Options_(std::move(options)), Udev_(Options_.UdevLibraryNames, Options_.UdevLookup) {
  if (!Options_.OpenNode) Options_.OpenNode = OpenCharacterDevice;
  if (!Options_.NodeUser) Options_.NodeUser = CurrentNodeUser;
  if (!Options_.NodeOwnership) Options_.NodeOwnership = StatNodeOwnership;
}

// --- Start and stop -----------------------------------------------------------------------------

THidError TLinuxHidBackend::Start() {
  if (!Udev_.Acquire()) return THidError{kErrorFileNotFound, 0};
  // The kernel's device classes are what the hidraw interface stands on. Its own class directory
  // comes with the HID core, which a kernel that has it as a module (as Debian's does) loads for
  // the first HID device plugged in: until then there is no HID device yet, and plugs are still
  // watched for.
  struct stat status {};
  const std::string classes = Options_.SysfsRoot + "/class";
  if (stat(classes.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    Udev_.Release();
    return THidError{kErrorFileNotFound, 0};
  }
  std::lock_guard lock(Lock_);
  ++Starts_;
  return {};
}

void TLinuxHidBackend::Stop() {
  {
    std::lock_guard lock(Lock_);
    if (Starts_ == 0) return;  // one Stop too many changes nothing
    --Starts_;
  }
  Udev_.Release();
}

bool TLinuxHidBackend::Started() const {
  std::lock_guard lock(Lock_);
  return Starts_ > 0;
}

// --- List ---------------------------------------------------------------------------------------

std::vector<TLinuxHidBackend::TFound> TLinuxHidBackend::ListWithUdev() {
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

std::vector<TLinuxHidBackend::TFound> TLinuxHidBackend::ListSysfs() {
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

std::vector<THidInterfaceRecord> TLinuxHidBackend::List(THidError& error) {
  // Listed by libudev: none before Start.
  if (!Started()) {
    error = THidError{kErrorInvalidHandle, 0};
    return {};
  }
  std::vector<TFound> found = Options_.ListSysfs ? ListSysfs() : ListWithUdev();
  std::vector<THidInterfaceRecord> records;
  std::map<std::string, TNodeOwner> nodes;
  std::map<std::string, std::uint32_t> identities;
  std::lock_guard lock(Lock_);
  // The process's user and groups stay as they were at login.
  if (!User_) User_ = Options_.NodeUser();
  for (TFound& device : found) {
    // The dev number belongs to the identity as well: a syspath names one connection, and the
    // number proves the node it leads to.
    const std::string devNumber = ReadSysfsText(device.SysPath + "/dev").value_or(std::string());
    if (devNumber.empty()) continue;  // gone since it was listed
    // The kernel removes a device's node before sysfs forgets it: one whose node was seen to go
    // is going, even while sysfs still shows it.
    if (GoneNodes_.count(device.Node) != 0) continue;
    const std::string key = device.SysPath + '\n' + devNumber;
    std::uint32_t identity = 0;
    if (const auto it = Identities_.find(key); it != Identities_.end()) {
      identity = it->second;
    } else {
      identity = NextIdentity_++;
      if (NextIdentity_ == 0) NextIdentity_ = 1;
    }
    identities[key] = identity;
    TNodeOwner owner{device.SysPath, devNumber, false, {}};
    owner.Record = RecordOf(device.Node, identity, TSysfsHidDevice::Open(device.SysPath),
                            owner.NumberedReports);
    owner.Record.AccessReason = NodeAccessReason(Options_.NodeOwnership(device.Node), *User_);
    records.push_back(owner.Record);
    nodes[device.Node] = std::move(owner);
  }
  // Only what this list saw is remembered: a device that was missed once was announced as
  // removed, and when it shows again it is a new arrival with a new identity.
  Identities_ = std::move(identities);
  Nodes_ = std::move(nodes);
  return records;
}

// --- Open ---------------------------------------------------------------------------------------

std::shared_ptr<THidConnection> TLinuxHidBackend::Open(const std::string& path,
                                                       TFileAccess access,
                                                       THidError& error) {
  TNodeOwner owner;
  {
    std::lock_guard lock(Lock_);
    const auto it = Nodes_.find(path);
    if (it == Nodes_.end()) {
      error = THidError{kErrorFileNotFound, 0};
      return nullptr;
    }
    owner = it->second;
  }
  // The device the list found at this node must still be there: its syspath names one
  // connection, and its dev number is the node's.
  const auto sysfs = TSysfsHidDevice::Open(owner.SysPath);
  if (!sysfs || sysfs->DevNumber() != owner.DevNumber) {
    error = THidError{kErrorDeviceNotConnected, 0};
    return nullptr;
  }
  int fd = -1;
  if (access != TFileAccess::None) {
    int flags = O_CLOEXEC;
    flags |= access == TFileAccess::ReadWrite ? O_RDWR
             : access == TFileAccess::Read    ? O_RDONLY | O_NONBLOCK
                                              : O_WRONLY;
    fd = Options_.OpenNode(path, flags, owner.DevNumber);
    if (fd < 0) {
      error = THidError{ErrorFromErrno(errno), errno};
      return nullptr;
    }
    // Checked again now that the node is open: the device was there before and after the open,
    // so the node opened was its own and not one the kernel handed on to a newcomer.
    if (sysfs->DevNumber() != owner.DevNumber) {
      close(fd);
      error = THidError{kErrorDeviceNotConnected, 0};
      return nullptr;
    }
  }
  return Counted(std::make_unique<THidrawConnection>(fd, owner.NumberedReports,
                                                     std::move(owner.Record), sysfs->HidPath()));
}

std::unique_ptr<TDeviceNotifier> TLinuxHidBackend::Watch(TMainThreadPort& port,
                                                         TDeviceChangeCallback callback) {
  return WatchHidrawDevices(Udev_, Options_.UdevControlPath, Options_.NodeRoot, port,
                            std::move(callback), [this](const std::string& node, bool present) {
                              std::lock_guard lock(Lock_);
                              if (present)
                                GoneNodes_.erase(node);
                              else
                                GoneNodes_.insert(node);
                            });
}

// --- Connections --------------------------------------------------------------------------------

std::shared_ptr<THidConnection> TLinuxHidBackend::Counted(
    std::unique_ptr<THidrawConnection> connection) {
  ++*OpenConnections_;
  return std::shared_ptr<THidConnection>(connection.release(),
                                         [count = OpenConnections_](THidConnection* closing) {
                                           delete closing;
                                           --*count;
                                         });
}

std::shared_ptr<THidConnection> TLinuxHidBackend::AdoptDescriptor(int fd, bool numberedReports) {
  THidInterfaceRecord record;
  record.IdentityError = record.ProductStringError = record.DescriptorError =
      kErrorInvalidParameter;
  return Counted(std::make_unique<THidrawConnection>(fd, numberedReports, std::move(record)));
}

std::unique_ptr<THidBackend> CreateNativeBackend() { return std::make_unique<TLinuxHidBackend>(); }

}  // namespace glowstep
