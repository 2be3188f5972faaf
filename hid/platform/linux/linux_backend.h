// The HID backend on Linux: libudev finds the devices and reports plugs, sysfs identifies them
// and the kernel's hidraw nodes carry their reports.
//
//  - Start takes libudev (TUdevLibrary, all or nothing) and needs the kernel's device classes in
//    sysfs, which the hidraw interface stands on (<sysfs>/class/hidraw itself appears only with
//    the first HID device on some kernels). Starts are counted; a failed one holds nothing;
//  - a list is of the hidraw devices. The path is the node (/dev/hidrawN); the identity is a
//    number given to each hidraw syspath and dev number, which change with every plug, so two
//    devices that get the same node one after the other never share an identity. The record's
//    properties come from the HID device's uevent and its USB device's attributes;
//  - an open with access None opens nothing, so a device the user may not open is still
//    identified, and its node's owner, group and mode tell why it refuses (node_access.h).
//    Other opens open the node, and only while it still belongs to the device the last list
//    found at that path (hidraw_connection.h: the connection; udev_monitor.h: plugs).
#pragma once

#include <atomic>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "hid/hid_backend.h"
#include "hid/platform/linux/hidraw_connection.h"
#include "hid/platform/linux/node_access.h"
#include "hid/platform/linux/udev_library.h"

namespace glowstep {

struct TLinuxBackendOptions {
  std::string SysfsRoot = "/sys";
  // List <SysfsRoot>/class/hidraw instead of asking libudev, with nodes under NodeRoot: for a
  // sysfs tree that is not the system's (the tests' fixtures). libudev is still what Start takes
  // and what the device-change monitor uses.
  bool ListSysfs = false;
  std::string NodeRoot = "/dev";
  // While this exists the udev daemon runs, and a udev monitor reports plugs once udev has
  // applied its rules. Otherwise NodeRoot is watched for hidraw nodes.
  std::string UdevControlPath = "/run/udev/control";
  std::vector<std::string> UdevLibraryNames = TUdevLibrary::DefaultNames();
  TUdevLibrary::TSymbolLookup UdevLookup;
  TNodeOpener OpenNode = OpenCharacterDevice;
  // Who opens the nodes, asked once, and each node's owner, group and mode: they tell why a node
  // refuses to be opened for reading and writing (node_access.h).
  TNodeUserLookup NodeUser = CurrentNodeUser;
  TNodeOwnershipLookup NodeOwnership = StatNodeOwnership;
};

class TLinuxHidBackend final : public THidBackend {
 public:
  // Bounds of a list: more hidraw devices than this are not looked at.
  static constexpr std::size_t kMaxDevices = 1024;

  explicit TLinuxHidBackend(TLinuxBackendOptions options = {});

  THidError Start() override;
  void Stop() override;
  std::vector<THidInterfaceRecord> List(THidError& error) override;
  std::shared_ptr<THidConnection> Open(const std::string& path,
                                       TFileAccess access,
                                       THidError& error) override;
  std::unique_ptr<TDeviceNotifier> Watch(TMainThreadPort& port,
                                         TDeviceChangeCallback callback) override;

  // Whether a Start has not been followed by its Stop yet.
  bool Started() const;
  TUdevLibrary& Udev() { return Udev_; }
  // A connection over an open descriptor that stands for a device node (tests and tools: a
  // socket in place of a node), with no sysfs behind it: it carries reports only, and its
  // record's values fail with kErrorInvalidParameter. It owns the descriptor (-1: none).
  std::shared_ptr<THidConnection> AdoptDescriptor(int fd, bool numberedReports);
  // Connections this backend made that are still alive, whether opened or adopted.
  std::size_t OpenConnectionCount() const { return OpenConnections_->load(); }

 private:
  struct TFound {
    std::string SysPath;
    std::string Node;
  };
  // The device the last list found at a node.
  struct TNodeOwner {
    std::string SysPath;
    std::string DevNumber;
    bool NumberedReports = false;
    THidInterfaceRecord Record;
  };

  std::vector<TFound> ListWithUdev();
  std::vector<TFound> ListSysfs();
  // Shares the connection and counts it while it lives.
  std::shared_ptr<THidConnection> Counted(std::unique_ptr<THidrawConnection> connection);

  TLinuxBackendOptions Options_;
  TUdevLibrary Udev_;
  mutable std::mutex Lock_;
  int Starts_ = 0;
  std::map<std::string, std::uint32_t> Identities_;  // syspath and dev number -> identity
  std::uint32_t NextIdentity_ = 1;
  std::map<std::string, TNodeOwner> Nodes_;
  // Hidraw nodes the watch of the node directory saw go, until they come again.
  std::set<std::string> GoneNodes_;
  std::optional<TNodeUser> User_;  // asked at the first list
  // Shared with the connections, which may outlive the backend.
  std::shared_ptr<std::atomic<std::size_t>> OpenConnections_ =
      std::make_shared<std::atomic<std::size_t>>(0);
};

}  // namespace glowstep
