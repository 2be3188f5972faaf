#include <dlfcn.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "hid/hid_device_controller.h"
#include "hid/main_loop.h"
#include "hid/platform/linux/linux_backend.h"
#include "hid/platform/linux/sysfs_fixture.h"
#include "testing/waiting.h"

namespace glowstep {
namespace {

// A lookup that finds everything but one name.
TUdevLibrary::TSymbolLookup LookupWithout(const std::string& missing) {
  return [missing](void* library, const char* name) -> void* {
    return missing == name ? nullptr : dlsym(library, name);
  };
}

bool TableIsEmpty(const TUdevApi& api) {
  return api.New == nullptr && api.MonitorReceiveDevice == nullptr &&
         api.EnumerateScanDevices == nullptr && api.DeviceGetDevnode == nullptr;
}

TEST(UdevLibrary, TheSystemsLibraryLoadsWithEveryEntryAndIsCounted) {
  TUdevLibrary library;
  ASSERT_TRUE(library.Acquire());
  EXPECT_EQ(library.OpenedName(), "libudev.so.1");
  const TUdevApi& api = library.Api();
  EXPECT_NE(api.New, nullptr);
  EXPECT_NE(api.MonitorGetFd, nullptr);
  EXPECT_NE(api.ListEntryGetName, nullptr);
  ASSERT_TRUE(library.Acquire());
  EXPECT_EQ(library.References(), 2);
  library.Release();
  EXPECT_TRUE(library.Loaded());
  EXPECT_NE(library.Api().New, nullptr);
  library.Release();
  EXPECT_FALSE(library.Loaded());
  EXPECT_TRUE(TableIsEmpty(library.Api()));
  library.Release();  // one too many changes nothing
  EXPECT_EQ(library.References(), 0);
}

TEST(UdevLibrary, TheNextNameIsTriedWhenALibraryIsMissing) {
  TUdevLibrary library({"libudev-not-here.so.7", "libudev.so.1"});
  ASSERT_TRUE(library.Acquire());
  EXPECT_EQ(library.OpenedName(), "libudev.so.1");
  library.Release();
}

TEST(UdevLibrary, AMissingLibraryOrEntryLeavesNothingBehind) {
  TUdevLibrary missingLibrary({"libudev-not-here.so.7"});
  EXPECT_FALSE(missingLibrary.Acquire());
  EXPECT_FALSE(missingLibrary.Loaded());

  for (const char* name : {"udev_new", "udev_monitor_receive_device", "udev_device_get_devnode"}) {
    SCOPED_TRACE(name);
    TUdevLibrary library(TUdevLibrary::DefaultNames(), LookupWithout(name));
    EXPECT_FALSE(library.Acquire());
    EXPECT_FALSE(library.Loaded());
    EXPECT_EQ(library.References(), 0);
    EXPECT_TRUE(TableIsEmpty(library.Api()));
    EXPECT_EQ(library.OpenedName(), "");
  }
}

TLinuxBackendOptions WithLibraryNames(std::vector<std::string> names) {
  TLinuxBackendOptions options;
  options.UdevLibraryNames = std::move(names);
  return options;
}

TLinuxBackendOptions WithLookup(TUdevLibrary::TSymbolLookup lookup) {
  TLinuxBackendOptions options;
  options.UdevLookup = std::move(lookup);
  return options;
}

// The whole stack on this machine's own libudev, over a sysfs tree and a /dev of its own with no
// hidraw device: the devices this machine has (a keyboard, a mouse) are not in the way.
TEST(UdevBinding, OverATreeWithoutDevicesTheNotificationOpensAndTheScanFindsNothing) {
  const TSysfsFixture fixture;
  TMainLoop loop;
  TLinuxHidBackend backend(fixture.Options());
  int changes = 0;
  std::vector<std::string> errors;
  {
    THidDeviceController controller(backend, loop);
    controller.SetOnDeviceChange(TNotifyEvent([&](THidDeviceController*) { ++changes; }));
    controller.SetOnError(THidErrorEvent([&](THidDeviceController*, const TMessage& message) {
      errors.push_back(message.English());
    }));
    EXPECT_TRUE(controller.Started());
    EXPECT_TRUE(backend.Started());
    EXPECT_EQ(backend.Udev().References(), 1);
    // Without the udev daemon in the tree, the watch on its node directory.
    EXPECT_TRUE(controller.WatchesDeviceChanges());
    // The first refresh counts as a change, devices or not.
    EXPECT_TRUE(loop.RunUntil([&] { return changes >= 1; }, kPatience));
    EXPECT_TRUE(controller.Devices().empty());
    controller.DeviceChange();
    EXPECT_TRUE(controller.Devices().empty());
    EXPECT_TRUE(errors.empty());
  }
  EXPECT_FALSE(backend.Started());
  EXPECT_FALSE(backend.Udev().Loaded());
  EXPECT_EQ(backend.OpenConnectionCount(), 0u);
}

TEST(UdevBinding, WithoutLibudevTheControllerRunsWithNoDevices) {
  for (const auto& options : {WithLibraryNames({"libudev-not-here.so.7"}),
                              WithLookup(LookupWithout("udev_monitor_get_fd"))}) {
    TMainLoop loop;
    TLinuxHidBackend backend(options);
    int changes = 0;
    THidDeviceController controller(backend, loop);
    controller.SetOnDeviceChange(TNotifyEvent([&](THidDeviceController*) { ++changes; }));
    EXPECT_EQ(loop.RunPending(), 0u);  // nothing was posted
    EXPECT_FALSE(controller.Started());
    EXPECT_FALSE(backend.Started());
    EXPECT_FALSE(controller.WatchesDeviceChanges());
    EXPECT_TRUE(controller.Devices().empty());
    EXPECT_EQ(changes, 0);  // no refresh was posted, and the setter's own one changed nothing
    THidError error;
    EXPECT_TRUE(backend.List(error).empty());
    EXPECT_TRUE(error);
  }
}

// Start is all or nothing: without the kernel's device classes it fails, and lets go of libudev
// again.
TEST(UdevBinding, WithoutTheDeviceClassesTheBackendDoesNotStartAndHoldsNothing) {
  TMainLoop loop;
  TLinuxBackendOptions options;
  options.SysfsRoot = "/nonexistent-sysfs";
  TLinuxHidBackend backend(options);
  {
    THidDeviceController controller(backend, loop);
    EXPECT_EQ(loop.RunPending(), 0u);  // nothing was posted
    EXPECT_FALSE(controller.Started());
    EXPECT_FALSE(controller.WatchesDeviceChanges());
    EXPECT_FALSE(backend.Udev().Loaded());
  }
  EXPECT_FALSE(backend.Udev().Loaded());
}

// Starts are counted: libudev stays until the last Stop, and a Stop too many changes nothing. A
// tool that never stops lets the backend free what it still holds as it goes.
TEST(UdevBinding, StartsAreCountedAndABackendFreesWhatItStillHoldsAsItGoes) {
  auto backend = std::make_unique<TLinuxHidBackend>();
  ASSERT_FALSE(backend->Start());
  ASSERT_FALSE(backend->Start());
  EXPECT_EQ(backend->Udev().References(), 2);
  backend->Stop();
  EXPECT_TRUE(backend->Started());
  EXPECT_TRUE(backend->Udev().Loaded());
  backend->Stop();
  EXPECT_FALSE(backend->Started());
  EXPECT_FALSE(backend->Udev().Loaded());
  backend->Stop();
  EXPECT_EQ(backend->Udev().References(), 0);
  ASSERT_FALSE(backend->Start());
  backend.reset();
}

}  // namespace
}  // namespace glowstep
