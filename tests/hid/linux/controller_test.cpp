// The device controller on the Linux backend: a fixture sysfs tree, this machine's libudev, and
// socket pairs in place of the hidraw nodes, one pair per open as the kernel gives every open
// its own report queue.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "hid/hid_device.h"
#include "hid/hid_device_controller.h"
#include "hid/main_loop.h"
#include "hid/platform/linux/linux_backend.h"
#include "hid/platform/linux/node_access.h"
#include "hid/platform/linux/sysfs_fixture.h"
#include "testing/waiting.h"

namespace glowstep {
namespace {

using TBytes = std::vector<std::uint8_t>;

class LinuxController : public ::testing::Test {
 protected:
  struct TOpen {
    std::string Node;
    int Flags = 0;
    int DeviceEnd = -1;
  };

  LinuxController() { Backend = std::make_unique<TLinuxHidBackend>(BackendOptions()); }

  // The fixture's tree, with a socket pair for every open of a node.
  TLinuxBackendOptions BackendOptions() {
    TLinuxBackendOptions options = Fixture.Options();
    // Called on the main thread and on reader threads alike.
    options.OpenNode = [this](const std::string& node, int flags, const std::string&) {
      std::lock_guard lock(OpensLock);
      if (const auto refused = Refused.find(node); refused != Refused.end()) {
        errno = refused->second;
        return -1;
      }
      int pair[2];
      if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return -1;
      Opens.push_back(TOpen{node, flags, pair[1]});
      return pair[0];
    };
    return options;
  }

  ~LinuxController() override {
    Controller.reset();
    ForgetOpens();
  }

  // Closes the device ends of every open made so far.
  void ForgetOpens() {
    std::lock_guard lock(OpensLock);
    for (const TOpen& open : Opens) close(open.DeviceEnd);
    Opens.clear();
  }

  std::size_t OpenCount() {
    std::lock_guard lock(OpensLock);
    return Opens.size();
  }

  TOpen LastOpen() {
    std::lock_guard lock(OpensLock);
    return Opens.empty() ? TOpen{} : Opens.back();
  }

  // Opens for reading only: those of a reader.
  std::size_t ReadOpenCount() {
    std::lock_guard lock(OpensLock);
    return static_cast<std::size_t>(std::count_if(Opens.begin(), Opens.end(), [](const TOpen& o) {
      return (o.Flags & O_ACCMODE) == O_RDONLY;
    }));
  }

  // Opens of the node fail with `error` from now on (or no longer).
  void Refuse(const std::string& node, bool refuse, int error = EACCES) {
    std::lock_guard lock(OpensLock);
    if (refuse)
      Refused[node] = error;
    else
      Refused.erase(node);
  }

  void MakeController() {
    Controller = std::make_unique<THidDeviceController>(*Backend, Loop);
    Controller->SetOnArrival(THidPlugEvent([this](THidDevice* d) {
      Events.push_back("arrival " + d->PnPInfo().DevicePath);
      Products.push_back(d->QueryProductName());  // allowed inside the event, without an open
    }));
    Controller->SetOnRemoval(THidPlugEvent(
        [this](THidDevice* d) { Events.push_back("removal " + d->PnPInfo().DevicePath); }));
    Controller->SetOnDeviceData(THidDataEvent(
        [this](THidDevice*, std::uint8_t id, const std::uint8_t* data, std::uint16_t size) {
          TBytes report{id};
          report.insert(report.end(), data, data + size);
          Reports.push_back(report);
        }));
    Controller->SetOnDeviceDataError(
        THidDataErrorEvent([this](THidDevice*, std::uint32_t error) { Errors.push_back(error); }));
    Controller->SetOnError(THidErrorEvent([this](THidDeviceController*, const TMessage& message) {
      Messages.push_back(message.English());
    }));
    Loop.RunPending();
  }

  void Refresh() { Controller->NotifyMessage(kWmDeviceChange, kDbtDevNodesChanged, 0); }

  THidDevice* CheckOut(std::int32_t index) {
    THidDevice* device = nullptr;
    EXPECT_TRUE(Controller->CheckOutAt(device, index));
    return device;
  }

  // The device end of the last open of `node` that can read.
  int ReadEnd(const std::string& node) {
    std::lock_guard lock(OpensLock);
    for (auto it = Opens.rbegin(); it != Opens.rend(); ++it)
      if (it->Node == node && (it->Flags & O_ACCMODE) == O_RDONLY) return it->DeviceEnd;
    return -1;
  }

  std::string Node(const std::string& name) const { return Fixture.NodeRoot() + "/" + name; }

  TSysfsFixture Fixture;
  TMainLoop Loop;
  std::unique_ptr<TLinuxHidBackend> Backend;
  std::unique_ptr<THidDeviceController> Controller;
  std::mutex OpensLock;
  std::vector<TOpen> Opens;            // guarded by OpensLock
  std::map<std::string, int> Refused;  // node -> errno; guarded by OpensLock
  std::vector<std::string> Events;
  std::vector<std::u16string> Products;
  std::vector<TBytes> Reports;
  std::vector<std::uint32_t> Errors;
  std::vector<std::string> Messages;  // the controller's error event
};

TEST_F(LinuxController, DevicesInTheTreeArriveAndLeaveWithTheirNames) {
  Fixture.Add(TFixtureDevice{});
  TFixtureDevice keyboard;
  keyboard.Name = "hidraw1";
  keyboard.Sequence = 2;
  keyboard.DevNumber = "243:1";
  keyboard.UsbProduct = "USB Keyboard";
  Fixture.Add(keyboard);
  MakeController();
  EXPECT_EQ(Events,
            (std::vector<std::string>{"arrival " + Node("hidraw0"), "arrival " + Node("hidraw1")}));
  EXPECT_EQ(Products, (std::vector<std::u16string>{u"Glowstep 3 v1.2", u"USB Keyboard"}));
  EXPECT_EQ(Controller->Devices()[0]->HidAttributes().VendorID, 0x16C0);
  EXPECT_EQ(Controller->Devices()[0]->HidAttributes().VersionNumber, 0x0102);

  Refresh();  // nothing changed: nobody comes or goes
  EXPECT_EQ(Events.size(), 2u);
  Fixture.Remove("hidraw0");
  Refresh();
  EXPECT_EQ(Events.back(), "removal " + Node("hidraw0"));
  EXPECT_EQ(Controller->Devices().size(), 1u);
}

TEST_F(LinuxController, ANodeHandedOnToAnotherDeviceIsNeverTakenForTheFirst) {
  Fixture.Add(TFixtureDevice{});
  MakeController();
  THidDevice* held = CheckOut(0);
  const std::uint32_t identity = held->PnPInfo().DeviceInstance;
  held->CloseGeneral();

  // Unplugged and another device plugged in, which the kernel gives the same node and number,
  // before the refresh has run.
  Fixture.Remove("hidraw0");
  TFixtureDevice other;
  other.Sequence = 2;
  other.UsbProduct = "Other";
  Fixture.Add(other);
  const std::size_t opens = OpenCount();
  const TBytes report(65, 0);
  std::uint32_t written = 0;
  EXPECT_EQ(held->WriteReport(report.data(), 65, written).Code, kErrorDeviceNotConnected);
  EXPECT_EQ(OpenCount(), opens);  // the newcomer's node was not even opened

  Refresh();
  ASSERT_EQ(Controller->Devices().size(), 2u);
  EXPECT_FALSE(held->PluggedIn());
  const THidDevice* newcomer = Controller->Devices()[1].get();
  EXPECT_NE(newcomer->PnPInfo().DeviceInstance, identity);
  EXPECT_EQ(newcomer->PnPInfo().DevicePath, held->PnPInfo().DevicePath);
  EXPECT_EQ(Products.back(), u"Other");
}

// The measured fault: the held controller goes, and before the refresh runs the kernel gives
// its node and number to another device. The refresh lists the newcomer at that node; the old
// object, unplugged by that same refresh, must never open the node again.
TEST_F(LinuxController, ANodeHandedOnWithinOneRefreshNeverReachesTheOldObject) {
  Fixture.Add(TFixtureDevice{});
  MakeController();
  Controller->SetDevThreadSleepTime(10000);  // the reader sleeps until the refresh wakes it
  std::vector<THidDevice*> failing;
  Controller->SetOnDeviceDataError(
      THidDataErrorEvent([&](THidDevice* d, std::uint32_t) { failing.push_back(d); }));
  const auto failed = [&](THidDevice* d) {
    return std::find(failing.begin(), failing.end(), d) != failing.end();
  };
  for (std::uint32_t round = 0; round < 300; ++round) {
    ForgetOpens();
    THidDevice* held = CheckOut(0);
    ASSERT_TRUE(held != nullptr && held->HasReader()) << "round " << round;
    const int oldEnd = ReadEnd(Node("hidraw0"));
    ASSERT_GE(oldEnd, 0);
    failing.clear();
    Fixture.Remove("hidraw0");
    shutdown(oldEnd, SHUT_RDWR);  // the node hangs up
    ASSERT_TRUE(Loop.RunUntil([&] { return failed(held); }, kPatience)) << "round " << round;

    TFixtureDevice newcomer;
    newcomer.Sequence = round + 2;
    newcomer.UsbProduct = "Newcomer";
    Fixture.Add(newcomer);
    failing.clear();
    Reports.clear();
    const std::size_t readOpens = ReadOpenCount();
    Refresh();
    ASSERT_FALSE(held->PluggedIn());
    ASSERT_TRUE(
        Loop.RunUntil([&] { return failed(held) || ReadOpenCount() > readOpens; }, kPatience))
        << "round " << round;
    if (ReadOpenCount() > readOpens) {
      const TBytes report(64, 0xEE);
      ASSERT_EQ(write(ReadEnd(Node("hidraw0")), report.data(), report.size()), 64);
      Loop.RunUntil([&] { return !Reports.empty(); }, kPatience);
    }
    ASSERT_TRUE(Reports.empty()) << "the newcomer's report reached the old object, round " << round;
    ASSERT_EQ(ReadOpenCount(), readOpens)
        << "the old object opened the node again, round " << round;
    held->Destroy();
    ASSERT_EQ(Controller->Devices().size(), 1u);
  }
}

TEST_F(LinuxController, WithoutTheUdevDaemonHidrawNodesInDevAreWatched) {
  MakeController();
  EXPECT_TRUE(Controller->WatchesDeviceChanges());
  EXPECT_EQ(Backend->Udev().References(), 1);  // the start's: no udev monitor holds one
  Fixture.Add(TFixtureDevice{});
  TSysfsFixture::WriteFile(Node("ttyS9"), "");  // not a hidraw node: no refresh
  // The kernel queues the watch's event before the write returns: the loop takes it now.
  ASSERT_TRUE(Loop.RunUntilIdle(kPatience));
  EXPECT_TRUE(Events.empty());
  TSysfsFixture::WriteFile(Node("hidraw0"), "");  // the kernel makes the node
  ASSERT_TRUE(Loop.RunUntil([&] { return !Events.empty(); }, kPatience));
  EXPECT_EQ(Events, std::vector<std::string>{"arrival " + Node("hidraw0")});

  // The kernel removes the node first and the device's sysfs entries after it: the refresh that
  // the node's going brings may still find the device in sysfs.
  ASSERT_EQ(unlink(Node("hidraw0").c_str()), 0);
  ASSERT_TRUE(Loop.RunUntil([&] { return Events.size() == 2; }, kPatience));
  EXPECT_EQ(Events.back(), "removal " + Node("hidraw0"));
  Fixture.Remove("hidraw0");
  EXPECT_TRUE(Messages.empty());
}

// Where the HID core is a module, its class directory comes with the first HID device: until
// then there is no device yet, and plugs are watched for all the same.
TEST_F(LinuxController, BeforeTheHidrawClassExistsTheDeviceThatBringsItArrives) {
  std::filesystem::remove_all(Fixture.SysfsRoot() + "/class/hidraw");
  MakeController();
  EXPECT_TRUE(Controller->WatchesDeviceChanges());
  EXPECT_TRUE(Controller->Devices().empty());
  Fixture.Add(TFixtureDevice{});
  TSysfsFixture::WriteFile(Node("hidraw0"), "");
  ASSERT_TRUE(Loop.RunUntil([&] { return !Events.empty(); }, kPatience));
  EXPECT_EQ(Events, std::vector<std::string>{"arrival " + Node("hidraw0")});
  EXPECT_TRUE(Messages.empty());
}

// Listed, but gone by the time it is opened: not a device the user may not open, and not
// announced at all until it is there again.
TEST_F(LinuxController, ADeviceGoneBeforeItsOpenIsNotAnnounced) {
  Fixture.Add(TFixtureDevice{});
  TSysfsFixture::WriteFile(Node("hidraw0"), "");
  Refuse(Node("hidraw0"), true, ENODEV);
  MakeController();
  EXPECT_TRUE(Events.empty());
  EXPECT_TRUE(Controller->Devices().empty());
  Refuse(Node("hidraw0"), false);
  Refresh();
  EXPECT_EQ(Events, std::vector<std::string>{"arrival " + Node("hidraw0")});
  ASSERT_EQ(Controller->Devices().size(), 1u);
  EXPECT_TRUE(Controller->Devices()[0]->ReadWriteAccess());
}

TEST_F(LinuxController, ANodeThatLetsTheUserInLaterIsTakenWithoutARestart) {
  Fixture.Add(TFixtureDevice{});
  TSysfsFixture::WriteFile(Node("hidraw0"), "");
  Refuse(Node("hidraw0"), true);
  MakeController();
  ASSERT_EQ(Controller->Devices().size(), 1u);
  EXPECT_FALSE(Controller->Devices()[0]->ReadWriteAccess());

  // The rule is installed and applied: udev changes the node's access.
  Refuse(Node("hidraw0"), false);
  ASSERT_EQ(chmod(Node("hidraw0").c_str(), 0666), 0);
  ASSERT_TRUE(Loop.RunUntil([&] { return Events.size() == 3; }, kPatience));
  EXPECT_EQ(Events,
            (std::vector<std::string>{"arrival " + Node("hidraw0"), "removal " + Node("hidraw0"),
                                      "arrival " + Node("hidraw0")}));
  ASSERT_EQ(Controller->Devices().size(), 1u);
  EXPECT_TRUE(Controller->Devices()[0]->ReadWriteAccess());
  EXPECT_TRUE(CheckOut(0)->HasReader());
}

TEST_F(LinuxController, WithNeitherUdevNorANodeDirectoryToWatchItSaysSoOnce) {
  TLinuxBackendOptions options = BackendOptions();
  options.NodeRoot = Fixture.Dir() + "/no-such-dev";
  Backend = std::make_unique<TLinuxHidBackend>(options);
  Fixture.Add(TFixtureDevice{});
  MakeController();
  EXPECT_FALSE(Controller->WatchesDeviceChanges());
  EXPECT_EQ(Events.size(), 1u);  // what is there is found all the same
  EXPECT_EQ(Messages,
            std::vector<std::string>{THidDeviceController::kDeviceChangesNotFollowed.English});
  Refresh();
  ASSERT_TRUE(Loop.RunUntilIdle(kPatience));
  EXPECT_EQ(Messages.size(), 1u);
}

TEST_F(LinuxController, WithTheUdevDaemonRunningItsMonitorIsUsed) {
  Fixture.StartUdev();
  Backend = std::make_unique<TLinuxHidBackend>(BackendOptions());
  MakeController();
  EXPECT_TRUE(Controller->WatchesDeviceChanges());
  EXPECT_EQ(Backend->Udev().References(), 2);     // the monitor holds its own
  TSysfsFixture::WriteFile(Node("hidraw0"), "");  // the node directory is not watched
  Fixture.Add(TFixtureDevice{});
  // A watch on it would have its event queued by now, before the write returned.
  ASSERT_TRUE(Loop.RunUntilIdle(kPatience));
  EXPECT_TRUE(Events.empty());
}

TEST_F(LinuxController, ADeviceTheUserMayNotOpenIsStillIdentified) {
  Fixture.Add(TFixtureDevice{});
  Refuse(Node("hidraw0"), true);
  MakeController();
  ASSERT_EQ(Controller->Devices().size(), 1u);
  EXPECT_EQ(Products, std::vector<std::u16string>{u"Glowstep 3 v1.2"});
  THidDevice* device = CheckOut(0);
  EXPECT_FALSE(device->ReadWriteAccess());
  EXPECT_FALSE(device->HasReader());
  EXPECT_EQ(OpenCount(), 0u);
}

// The plugdev group's number on the made-up systems below.
constexpr gid_t kPlugdev = 46;

TEST_F(LinuxController, ANodeThatRefusesTheUserSaysWhyByItsOwnerGroupAndMode) {
  // A user logged in over SSH, with no seat: not in the plugdev group.
  std::map<std::string, TNodeOwnership> nodes;
  nodes[Node("hidraw0")] = {0, 0, 0600};         // as the kernel makes it: no rule applied
  nodes[Node("hidraw1")] = {0, kPlugdev, 0660};  // the rule applied
  TLinuxBackendOptions options = BackendOptions();
  options.NodeUser = [] { return TNodeUser{1000, {1000, 24}, kPlugdev}; };
  options.NodeOwnership = [&](const std::string& node) -> std::optional<TNodeOwnership> {
    const auto it = nodes.find(node);  // hidraw2 cannot be looked at
    return it != nodes.end() ? std::optional(it->second) : std::nullopt;
  };
  Backend = std::make_unique<TLinuxHidBackend>(options);
  for (std::uint32_t i = 0; i < 3; ++i) {
    TFixtureDevice device;
    device.Name = "hidraw" + std::to_string(i);
    device.Sequence = i + 1;
    device.DevNumber = "243:" + std::to_string(i);
    Fixture.Add(device);
    Refuse(Node(device.Name), true);
  }
  MakeController();
  ASSERT_EQ(Controller->Devices().size(), 3u);
  EXPECT_EQ(Controller->Devices()[0]->AccessReason(), THidAccessReason::RootOnly);
  EXPECT_EQ(Controller->Devices()[1]->AccessReason(), THidAccessReason::NotInPlugdev);
  EXPECT_EQ(Controller->Devices()[2]->AccessReason(), THidAccessReason::Unknown);

  // The rule is installed and applied to the first node: its next open tells the new reason.
  nodes[Node("hidraw0")] = nodes[Node("hidraw1")];
  Refresh();
  THidDevice* device = CheckOut(0);
  device->CloseGeneral();
  ASSERT_TRUE(device->OpenGeneral());
  EXPECT_FALSE(device->ReadWriteAccess());
  EXPECT_EQ(device->AccessReason(), THidAccessReason::NotInPlugdev);
}

TEST_F(LinuxController, TheReasonIsReadFromTheNodeItself) {
  TLinuxBackendOptions options = BackendOptions();
  // Not the owner of the fixture's files, and not in their group, which stands for plugdev.
  options.NodeUser = [] { return TNodeUser{getuid() + 1, {}, getgid()}; };
  Backend = std::make_unique<TLinuxHidBackend>(options);
  Fixture.Add(TFixtureDevice{});
  TSysfsFixture::WriteFile(Node("hidraw0"), "");
  ASSERT_EQ(chmod(Node("hidraw0").c_str(), 0660), 0);
  TFixtureDevice noNode;  // its node is not there to look at
  noNode.Name = "hidraw1";
  noNode.Sequence = 2;
  noNode.DevNumber = "243:1";
  Fixture.Add(noNode);
  Refuse(Node("hidraw0"), true);
  Refuse(Node("hidraw1"), true);
  MakeController();
  ASSERT_EQ(Controller->Devices().size(), 2u);
  EXPECT_EQ(Controller->Devices()[0]->AccessReason(), THidAccessReason::NotInPlugdev);
  EXPECT_EQ(Controller->Devices()[1]->AccessReason(), THidAccessReason::Unknown);
}

TEST_F(LinuxController, AHeldDeviceReadsWritesAndReportsItsUnplug) {
  Fixture.Add(TFixtureDevice{});
  MakeController();
  THidDevice* device = CheckOut(0);
  ASSERT_TRUE(device->HasReader());
  const int readEnd = ReadEnd(Node("hidraw0"));
  ASSERT_GE(readEnd, 0);

  TBytes request(65, 0);
  request[1] = 'r';
  std::uint32_t written = 0;
  ASSERT_FALSE(device->WriteReport(request.data(), 65, written));
  ASSERT_GT(OpenCount(), 0u);
  TBytes received(80, 0);
  ASSERT_EQ(read(LastOpen().DeviceEnd, received.data(), received.size()), 65);

  TBytes answer(64, 0);
  answer[0] = 'r';
  answer[1] = 10;
  ASSERT_EQ(write(readEnd, answer.data(), answer.size()), 64);
  ASSERT_TRUE(Loop.RunUntil([&] { return !Reports.empty(); }, kPatience));
  TBytes expected(65, 0);  // the ID byte the device does not send, then its report
  std::copy(answer.begin(), answer.end(), expected.begin() + 1);
  EXPECT_EQ(Reports[0], expected);

  // Unplugged: the node hangs up, the tree loses the device, the monitor would say so.
  device->SetSleepTime(10);
  shutdown(readEnd, SHUT_RDWR);
  Fixture.Remove("hidraw0");
  ASSERT_TRUE(Loop.RunUntil([&] { return Errors.size() >= 2; }, kPatience));
  EXPECT_EQ(Errors[0], kErrorDeviceNotConnected);
  Refresh();
  EXPECT_EQ(Events.back(), "removal " + Node("hidraw0"));
  device->Destroy();
  EXPECT_TRUE(Controller->Devices().empty());
  Controller.reset();
  EXPECT_EQ(Backend->OpenConnectionCount(), 0u);
}

}  // namespace
}  // namespace glowstep
