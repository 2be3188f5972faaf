// The run-time bindings over the emulated system's libraries, and the Windows backend's use of
// them: all or nothing, version-gated, released by whoever took them.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "hid/hid_device_controller.h"
#include "hid/main_loop.h"
#include "hid/platform/sim/sim_platform.h"
#include "hid/platform/windows/windows_backend.h"
#include "testing/emulated_platform.h"

namespace glowstep::testing {
namespace {

class Bindings : public ::testing::Test {
 protected:
  ~Bindings() override { Controller.reset(); }

  THidBindings& B() { return Emulation.Bindings(); }

  int BoundHidEntries() {
    int bound = 0;
    for (std::size_t i = 0; i < THidBindings::kHidEntryCount; ++i) bound += B().HidEntry(i) ? 1 : 0;
    return bound;
  }

  void MakeController() {
    Controller = std::make_unique<THidDeviceController>(Backend, Loop);
    Controller->SetOnArrival(THidPlugEvent([this](THidDevice*) { Events.push_back("arrival"); }));
    Controller->SetOnError(THidErrorEvent([this](THidDeviceController*, const TMessage& message) {
      Events.push_back(message.English());
    }));
    Loop.RunPending();
  }

  TMainLoop Loop;
  TSimPlatform Sim;
  TEmulatedHidPlatform Emulation{Sim};
  TWindowsHidBackend Backend{Emulation};
  std::unique_ptr<THidDeviceController> Controller;
  std::vector<std::string> Events;
};

TEST_F(Bindings, EveryEntryIsBoundWhenEveryNameResolves) {
  ASSERT_TRUE(B().AcquireSetupBinding());
  ASSERT_TRUE(B().AcquireHidBinding());
  EXPECT_EQ(BoundHidEntries(), 46);
  for (std::size_t i = 0; i < THidBindings::kSetupEntryNames.size(); ++i)
    EXPECT_NE(B().SetupEntry(i), nullptr);
  B().ReleaseHidBinding();
  EXPECT_EQ(BoundHidEntries(), 0);
  EXPECT_FALSE(B().HidBindingLoaded());
  B().ReleaseSetupBinding();
}

TEST_F(Bindings, OneMissingNameLeavesNoPartialTable) {
  Emulation.RemoveExport("HID.dll", "HidP_GetCaps");
  EXPECT_FALSE(B().AcquireHidBinding());
  EXPECT_FALSE(B().HidBindingLoaded());
  EXPECT_EQ(BoundHidEntries(), 0);
  EXPECT_EQ(Emulation.LibraryReferences("HID.dll"), 0);

  Emulation.RemoveExport("SetupApi.dll", "SetupDiEnumDeviceInterfaces");
  EXPECT_FALSE(B().AcquireSetupBinding());
  EXPECT_EQ(B().SetupBindingCount(), 0);
  EXPECT_EQ(B().SetupEntry("SetupDiGetClassDevsA"), nullptr);
  EXPECT_EQ(Emulation.LibraryReferences("SetupApi.dll"), 0);
  EXPECT_EQ(Sim.Counters().Starts, 0);  // the backend behind the libraries is stopped again
}

TEST_F(Bindings, VersionGatedEntriesAreLookedUpOnlyWhereTheSystemHasThem) {
  Emulation.RemoveExport("HID.dll", "HidD_GetInputReport");
  Emulation.SetNtVersion(5, 0);
  ASSERT_TRUE(B().AcquireHidBinding());
  EXPECT_EQ(B().HidEntry("HidD_GetInputReport"), nullptr);
  EXPECT_EQ(B().HidEntry("HidD_SetOutputReport"), nullptr);
  EXPECT_NE(B().HidEntry("HidP_InitializeReportForID"), nullptr);
  EXPECT_EQ(BoundHidEntries(), 44);
  B().ReleaseHidBinding();

  Emulation.SetNtVersion(5, 1);  // now the missing name is required
  EXPECT_FALSE(B().AcquireHidBinding());
  EXPECT_EQ(BoundHidEntries(), 0);
}

TEST_F(Bindings, TheSetupBindingIsFreedOnlyByTheLastRelease) {
  ASSERT_TRUE(B().AcquireSetupBinding());
  ASSERT_TRUE(B().AcquireSetupBinding());
  EXPECT_EQ(Emulation.LibraryReferences("SetupApi.dll"), 1);  // loaded once
  B().ReleaseSetupBinding();
  EXPECT_NE(B().SetupEntry(0), nullptr);
  EXPECT_EQ(Emulation.LibraryReferences("SetupApi.dll"), 1);
  B().ReleaseSetupBinding();
  EXPECT_EQ(B().SetupEntry(0), nullptr);
  EXPECT_EQ(Emulation.LibraryReferences("SetupApi.dll"), 0);
}

TEST_F(Bindings, AMissingLibraryFailsTheBinding) {
  Emulation.RemoveLibrary("SetupApi.dll");
  EXPECT_FALSE(B().AcquireSetupBinding());
  EXPECT_EQ(B().SetupBindingCount(), 0);
  EXPECT_EQ(Emulation.LastError(), kErrorFileNotFound);
}

TEST_F(Bindings, WithoutTheHidLibraryTheControllerListsNothingAndRaisesNothing) {
  Sim.Plug(TSimInterfaceSpec{});
  Emulation.RemoveExport("HID.dll", "HidD_GetProductString");
  MakeController();
  Sim.NotifyDeviceChange();
  Loop.RunPending();
  EXPECT_FALSE(Controller->WatchesDeviceChanges());
  EXPECT_EQ(Backend.InterfaceClass(), kHidInterfaceClassGuid);
  EXPECT_TRUE(Controller->Devices().empty());
  EXPECT_EQ(Controller->EnumerateDevices(), 0);
  THidDevice* device = nullptr;
  EXPECT_FALSE(Controller->CheckOutAt(device, 0));
  EXPECT_TRUE(Events.empty());
  Controller.reset();
  // The setup binding it did get is given back, so its library is not kept loaded.
  EXPECT_EQ(Emulation.LibraryReferences("SetupApi.dll"), 0);
  EXPECT_EQ(Emulation.LibraryReferences("HID.dll"), 0);
  EXPECT_EQ(Sim.Counters().Starts, 0);
}

TEST_F(Bindings, TheControllerReleasesBothLibrariesAndEverythingElse) {
  Sim.Plug(TSimInterfaceSpec{});
  MakeController();
  EXPECT_EQ(Events, std::vector<std::string>{"arrival"});
  EXPECT_EQ(Emulation.LibraryReferences("SetupApi.dll"), 1);
  EXPECT_EQ(Emulation.LibraryReferences("HID.dll"), 1);
  EXPECT_EQ(Sim.Counters().Starts, 1);
  Controller.reset();
  Loop.RunPending();
  EXPECT_EQ(Emulation.LibraryReferences("SetupApi.dll"), 0);
  EXPECT_EQ(Emulation.LibraryReferences("HID.dll"), 0);
  EXPECT_EQ(Sim.Counters().Starts, 0);
  const THidEmulationCounters counters = Emulation.Counters();
  EXPECT_EQ(counters.OpenHandles, 0);
  EXPECT_EQ(counters.DeviceInfoSets, 0);
  EXPECT_EQ(counters.PreparsedData, 0);
  EXPECT_EQ(counters.Notifiers, 0);
  EXPECT_EQ(counters.HandleMisuse, 0);
}

// A tool that never gives its bindings back: the emulation frees them as it goes, and stops the
// backend behind them.
TEST(PlatformTeardown, FreesTheBindingsStillHeld) {
  TSimPlatform sim;
  auto emulation = std::make_unique<TEmulatedHidPlatform>(sim);
  ASSERT_TRUE(emulation->Bindings().AcquireSetupBinding());
  ASSERT_TRUE(emulation->Bindings().AcquireSetupBinding());
  ASSERT_TRUE(emulation->Bindings().AcquireHidBinding());
  EXPECT_EQ(sim.Counters().Starts, 1);
  emulation.reset();
  EXPECT_EQ(sim.Counters().Starts, 0);
  EXPECT_EQ(sim.Counters().Misuse, 0);
}

}  // namespace
}  // namespace glowstep::testing
