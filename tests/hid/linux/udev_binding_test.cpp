#include <dlfcn.h>
#include <gtest/gtest.h>

#include "hid/hid_device_controller.h"
#include "hid/main_loop.h"
#include "hid/platform/linux/linux_platform.h"
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

TLinuxPlatformOptions WithLibraryNames(std::vector<std::string> names) {
  TLinuxPlatformOptions options;
  options.UdevLibraryNames = std::move(names);
  return options;
}

TLinuxPlatformOptions WithLookup(TUdevLibrary::TSymbolLookup lookup) {
  TLinuxPlatformOptions options;
  options.UdevLookup = std::move(lookup);
  return options;
}

// The whole stack on this machine's own libudev, over a sysfs tree and a /dev of its own with no
// hidraw device: the devices this machine has (a keyboard, a mouse) are not in the way.
TEST(UdevBinding, OverATreeWithoutDevicesTheNotificationOpensAndTheScanFindsNothing) {
  const TSysfsFixture fixture;
  TMainLoop loop;
  TLinuxHidPlatform platform(fixture.Options());
  int changes = 0;
  std::vector<std::string> errors;
  {
    THidDeviceController controller(platform, loop);
    controller.SetOnDeviceChange(TNotifyEvent([&](THidDeviceController*) { ++changes; }));
    controller.SetOnError(THidErrorEvent([&](THidDeviceController*, const TMessage& message) {
      errors.push_back(message.English());
    }));
    EXPECT_TRUE(platform.Bindings().HidBindingLoaded());
    EXPECT_EQ(platform.Bindings().SetupBindingCount(), 1);
    // Without the udev daemon in the tree, the watch on its node directory.
    EXPECT_TRUE(controller.WatchesDeviceChanges());
    // The first refresh counts as a change, devices or not.
    EXPECT_TRUE(loop.RunUntil([&] { return changes >= 1; }, kPatience));
    EXPECT_TRUE(controller.Devices().empty());
    controller.DeviceChange();
    EXPECT_TRUE(controller.Devices().empty());
    EXPECT_TRUE(errors.empty());
  }
  EXPECT_FALSE(platform.Udev().Loaded());
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

TEST(UdevBinding, WithoutLibudevTheControllerRunsWithNoDevices) {
  for (const auto& options : {WithLibraryNames({"libudev-not-here.so.7"}),
                              WithLookup(LookupWithout("udev_monitor_get_fd"))}) {
    TMainLoop loop;
    TLinuxHidPlatform platform(options);
    int changes = 0;
    THidDeviceController controller(platform, loop);
    controller.SetOnDeviceChange(TNotifyEvent([&](THidDeviceController*) { ++changes; }));
    EXPECT_EQ(loop.RunPending(), 0u);  // nothing was posted
    EXPECT_FALSE(platform.Bindings().HidBindingLoaded());
    EXPECT_EQ(platform.Bindings().SetupBindingCount(), 0);
    EXPECT_FALSE(controller.WatchesDeviceChanges());
    EXPECT_TRUE(controller.Devices().empty());
    EXPECT_EQ(changes, 0);  // no refresh was posted, and the setter's own one changed nothing
    EXPECT_EQ(platform.GetClassDevs(kHidInterfaceClassGuid), kInvalidDeviceInfoSet);
  }
}

TEST(UdevBinding, WithoutHidrawTheSetupBindingIsHeldButNothingIsScanned) {
  TMainLoop loop;
  TLinuxPlatformOptions options;
  options.SysfsRoot = "/nonexistent-sysfs";
  TLinuxHidPlatform platform(options);
  {
    THidDeviceController controller(platform, loop);
    EXPECT_EQ(loop.RunPending(), 0u);  // nothing was posted
    EXPECT_FALSE(platform.Bindings().HidBindingLoaded());
    EXPECT_FALSE(controller.WatchesDeviceChanges());
  }
  EXPECT_FALSE(platform.Udev().Loaded());  // released again with the controller
}

// A tool that never gives its bindings back: the platform frees them as it goes, and must not
// call into its own part that is already gone.
TEST(UdevBinding, APlatformFreesTheBindingsStillHeldAsItGoes) {
  auto platform = std::make_unique<TLinuxHidPlatform>();
  ASSERT_TRUE(platform->Bindings().AcquireSetupBinding());
  ASSERT_TRUE(platform->Bindings().AcquireHidBinding());
  EXPECT_EQ(platform->Udev().References(), 1);
  platform.reset();
}

}  // namespace
}  // namespace glowstep
