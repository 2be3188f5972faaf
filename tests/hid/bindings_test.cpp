#include <gtest/gtest.h>

#include "tests/hid/test_support.h"

namespace glowstep::testing {
namespace {

class Bindings : public HidFixture {
 protected:
  THidBindings& B() { return Sim.Bindings(); }

  int BoundHidEntries() {
    int bound = 0;
    for (std::size_t i = 0; i < THidBindings::kHidEntryCount; ++i) bound += B().HidEntry(i) ? 1 : 0;
    return bound;
  }
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
  Sim.RemoveExport("HID.dll", "HidP_GetCaps");
  EXPECT_FALSE(B().AcquireHidBinding());
  EXPECT_FALSE(B().HidBindingLoaded());
  EXPECT_EQ(BoundHidEntries(), 0);
  EXPECT_EQ(Sim.LibraryReferences("HID.dll"), 0);

  Sim.RemoveExport("SetupApi.dll", "SetupDiEnumDeviceInterfaces");
  EXPECT_FALSE(B().AcquireSetupBinding());
  EXPECT_EQ(B().SetupBindingCount(), 0);
  EXPECT_EQ(B().SetupEntry("SetupDiGetClassDevsA"), nullptr);
  EXPECT_EQ(Sim.LibraryReferences("SetupApi.dll"), 0);
}

TEST_F(Bindings, VersionGatedEntriesAreLookedUpOnlyWhereTheSystemHasThem) {
  Sim.RemoveExport("HID.dll", "HidD_GetInputReport");
  Sim.SetNtVersion(5, 0);
  ASSERT_TRUE(B().AcquireHidBinding());
  EXPECT_EQ(B().HidEntry("HidD_GetInputReport"), nullptr);
  EXPECT_EQ(B().HidEntry("HidD_SetOutputReport"), nullptr);
  EXPECT_NE(B().HidEntry("HidP_InitializeReportForID"), nullptr);
  EXPECT_EQ(BoundHidEntries(), 44);
  B().ReleaseHidBinding();

  Sim.SetNtVersion(5, 1);  // now the missing name is required
  EXPECT_FALSE(B().AcquireHidBinding());
  EXPECT_EQ(BoundHidEntries(), 0);
}

TEST_F(Bindings, TheSetupBindingIsFreedOnlyByTheLastRelease) {
  ASSERT_TRUE(B().AcquireSetupBinding());
  ASSERT_TRUE(B().AcquireSetupBinding());
  EXPECT_EQ(Sim.LibraryReferences("SetupApi.dll"), 1);  // loaded once
  B().ReleaseSetupBinding();
  EXPECT_NE(B().SetupEntry(0), nullptr);
  EXPECT_EQ(Sim.LibraryReferences("SetupApi.dll"), 1);
  B().ReleaseSetupBinding();
  EXPECT_EQ(B().SetupEntry(0), nullptr);
  EXPECT_EQ(Sim.LibraryReferences("SetupApi.dll"), 0);
}

TEST_F(Bindings, AMissingLibraryFailsTheBinding) {
  Sim.RemoveLibrary("SetupApi.dll");
  EXPECT_FALSE(B().AcquireSetupBinding());
  EXPECT_EQ(B().SetupBindingCount(), 0);
}

TEST_F(Bindings, WithoutTheHidLibraryTheControllerListsNothingAndRaisesNothing) {
  Sim.Plug(StaircaseSpec());
  Sim.RemoveExport("HID.dll", "HidD_GetProductString");
  MakeController();
  Sim.NotifyDeviceChange();
  Loop.RunPending();
  EXPECT_FALSE(Controller->WatchesDeviceChanges());
  EXPECT_EQ(Controller->InterfaceClass(), kHidInterfaceClassGuid);
  EXPECT_TRUE(Controller->Devices().empty());
  EXPECT_EQ(Controller->EnumerateDevices(), 0);
  THidDevice* device = nullptr;
  EXPECT_FALSE(Controller->CheckOutAt(device, 0));
  EXPECT_TRUE(Events.empty());
  EXPECT_TRUE(Messages.empty());
  Controller.reset();
  // The setup binding it did get is given back, so its library is not kept loaded.
  EXPECT_EQ(Sim.LibraryReferences("SetupApi.dll"), 0);
  EXPECT_EQ(Sim.LibraryReferences("HID.dll"), 0);
}

TEST_F(Bindings, TheControllerReleasesBothLibraries) {
  MakeController();
  EXPECT_EQ(Sim.LibraryReferences("SetupApi.dll"), 1);
  EXPECT_EQ(Sim.LibraryReferences("HID.dll"), 1);
  ExpectCleanShutdown();
  EXPECT_EQ(Sim.LibraryReferences("SetupApi.dll"), 0);
  EXPECT_EQ(Sim.LibraryReferences("HID.dll"), 0);
}

// A tool that never gives its bindings back: the platform frees them as it goes, and must not
// call into its own part that is already gone.
TEST(PlatformTeardown, FreesTheBindingsStillHeld) {
  auto sim = std::make_unique<TSimPlatform>();
  ASSERT_TRUE(sim->Bindings().AcquireSetupBinding());
  ASSERT_TRUE(sim->Bindings().AcquireSetupBinding());
  ASSERT_TRUE(sim->Bindings().AcquireHidBinding());
  sim.reset();
}

}  // namespace
}  // namespace glowstep::testing
