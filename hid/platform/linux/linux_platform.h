// The HID platform on Linux: libudev finds the devices and reports plugs, sysfs identifies them
// and the kernel's hidraw nodes carry their reports.
//
// How the seam's operations map here:
//  - the setup-service library is libudev (TUdevLibrary, all or nothing, counted); the HID
//    library is the hidraw interface itself, present when <sysfs>/class/hidraw exists. Their
//    entries are provided by this backend, so resolving a name only tells that it is provided;
//  - a scan lists the hidraw devices. The device path is the node (/dev/hidrawN); the identity
//    is a number given to each hidraw syspath and dev number, which change with every plug, so
//    two devices that get the same node one after the other never share an identity;
//  - an open with access None opens nothing: the handle reads sysfs, so a device the user may
//    not open is still identified. Other opens open the node, and only while it still belongs
//    to the device the last scan listed at that path;
//  - plugs are reported by a udev monitor (source "udev", subsystem hidraw) while the udev daemon
//    runs, and otherwise by an inotify watch on the node directory for hidraw nodes;
//  - reads poll() the node and an eventfd that Wake signals. With a read outstanding the wait
//    has no time-out: every reason the reader has to look up comes with Wake, so an idle held
//    device costs no wake-ups. Reports of a device without report IDs get a 0 in front, so the
//    reader sees the ID byte first as everywhere else;
//  - a handle's descriptor is closed only when no read polls it any more: closing a handle with
//    a read outstanding ends that read (as an aborted one) and the last user closes it.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "hid_platform.h"
#include "sysfs_hid.h"
#include "udev_library.h"

namespace glowstep {

// Opens `node` with `flags` and returns the descriptor only if it is the character device
// numbered `devNumber` ("major:minor"); otherwise -1 with errno set.
using TNodeOpener =
    std::function<int(const std::string& node, int flags, const std::string& devNumber)>;
int OpenCharacterDevice(const std::string& node, int flags, const std::string& devNumber);

struct TLinuxPlatformOptions {
  std::string SysfsRoot = "/sys";
  // List <SysfsRoot>/class/hidraw instead of asking libudev, with nodes under NodeRoot: for a
  // sysfs tree that is not the system's (the tests' fixtures). libudev is still what the
  // setup-service binding loads and what the device-change monitor uses.
  bool ListSysfs = false;
  std::string NodeRoot = "/dev";
  // While this exists the udev daemon runs, and a udev monitor reports plugs once udev has
  // applied its rules. Otherwise NodeRoot is watched for hidraw nodes.
  std::string UdevControlPath = "/run/udev/control";
  std::vector<std::string> UdevLibraryNames = TUdevLibrary::DefaultNames();
  TUdevLibrary::TSymbolLookup UdevLookup;
  TNodeOpener OpenNode = OpenCharacterDevice;
};

class TLinuxHidPlatform final : public THidPlatform {
 public:
  // Bounds of a scan: more hidraw devices than this are not looked at.
  static constexpr std::size_t kMaxDevices = 1024;
  // The kernel keeps this many reports per open hidraw node; it cannot be changed.
  static constexpr std::uint32_t kHidrawQueueLength = 64;
  // The most monitor events one wake-up takes before it refreshes.
  static constexpr int kMaxEventsPerWake = 256;

  explicit TLinuxHidPlatform(TLinuxPlatformOptions options = {});
  ~TLinuxHidPlatform() override;

  TUdevLibrary& Udev() { return Udev_; }
  // Gives an open descriptor that stands for a device node a handle, as OpenFile would (tests
  // and tools: a socket in place of a node). The handle owns the descriptor.
  THidHandle AdoptDescriptor(int fd, TFileAccess access, bool numberedReports);
  // Handles open now (each owns a descriptor or reads sysfs).
  std::size_t OpenHandleCount() const;

  // --- THidPlatform ---------------------------------------------------------------------------
  TLibraryHandle LoadLibraryByName(std::string_view name) override;
  void FreeLibraryHandle(TLibraryHandle library) override;
  TEntryAddress ResolveExport(TLibraryHandle library, std::string_view name) override;
  bool IsNtVersionAtLeast(int major, int minor) override;
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
  THidHandle OpenFile(const std::string& path, TFileAccess access, bool overlapped) override;
  bool CloseFile(THidHandle handle) override;
  bool WriteFile(THidHandle handle,
                 const std::uint8_t* buffer,
                 std::uint32_t length,
                 std::uint32_t& written) override;
  std::unique_ptr<TPlatformRead> CreateRead() override;
  std::uint32_t LastError() override;
  std::string LastErrorText() override;
  bool GetAttributes(THidHandle handle, THidAttributes& attributes) override;
  bool GetProductString(THidHandle handle, char16_t* buffer, std::uint32_t bufferBytes) override;
  bool GetPreparsedData(THidHandle handle, TPreparsedData& preparsed) override;
  bool FreePreparsedData(TPreparsedData preparsed) override;
  std::int32_t GetCaps(TPreparsedData preparsed, THidCaps& caps) override;
  bool SetNumInputBuffers(THidHandle handle, std::uint32_t count) override;
  bool GetNumInputBuffers(THidHandle handle, std::uint32_t& count) override;
  std::unique_ptr<TDeviceNotifier> CreateDeviceNotifier(TMainThreadPort& port,
                                                        TDeviceChangeCallback callback) override;

  struct THandleRecord;  // one open handle; shared with a read outstanding on it

 private:
  friend class TLinuxRead;

  struct TFound {
    std::string SysPath;
    std::string Node;
  };
  struct TSetEntry {
    std::string SysPath;
    std::string Node;
    std::uint32_t Instance = 0;
    std::optional<TSysfsHidDevice> Sysfs;  // read when a property is first asked for
    bool SysfsRead = false;
  };
  struct TNodeOwner {
    std::string SysPath;
    std::string DevNumber;
  };

  std::vector<TFound> ListWithUdev();
  std::vector<TFound> ListSysfs();
  std::shared_ptr<THandleRecord> FindHandle(THidHandle handle);
  THidHandle AddHandle(std::shared_ptr<THandleRecord> record);

  TLinuxPlatformOptions Options_;
  TUdevLibrary Udev_;
  mutable std::mutex Lock_;
  int HidReferences_ = 0;
  std::map<std::string, std::uint32_t> Identities_;  // syspath and dev number -> identity
  std::uint32_t NextIdentity_ = 1;
  std::map<std::string, TNodeOwner> Nodes_;  // node -> the device the last scan found there
  std::map<TDeviceInfoSet, std::vector<TSetEntry>> Sets_;
  TDeviceInfoSet NextSet_ = 1;
  std::map<THidHandle, std::shared_ptr<THandleRecord>> Handles_;
  THidHandle NextHandle_ = 1;
  std::map<TPreparsedData, THidCaps> Preparsed_;
  TPreparsedData NextPreparsed_ = 1;
};

}  // namespace glowstep
