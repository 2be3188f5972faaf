#include <gtest/gtest.h>

#include "tests/hid/test_support.h"

namespace glowstep::testing {
namespace {

using Refresh = HidFixture;

TSimInterfaceSpec Named(const std::string& path) {
  TSimInterfaceSpec setup = StaircaseSpec();
  setup.Path = path;
  return setup;
}

TEST_F(Refresh, TheFirstRefreshCountsAsAChangeEvenWithNoDevice) {
  MakeController();
  EXPECT_EQ(Events, (std::vector<std::string>{"change"}));
  EXPECT_EQ(Controller->LastChangeParam(), -1);
  Sim.NotifyDeviceChange();
  Loop.RunPending();
  EXPECT_EQ(Events.size(), 1u);  // nothing changed this time
}

TEST_F(Refresh, ArrivalsComeInScanOrderEachBeforeTheNextIsListed) {
  Sim.Plug(Named("A"));
  Sim.Plug(Named("B"));
  Sim.Plug(Named("C"));
  std::vector<std::int32_t> seenFromArrival;
  Controller = std::make_unique<THidDeviceController>(Sim, Loop);
  Controller->SetOnArrival(THidPlugEvent([&](THidDevice* d) {
    Events.push_back("arrival " + d->PnPInfo().DevicePath);
    seenFromArrival.push_back(Controller->EnumerateDevices());
  }));
  Controller->SetOnEnumerate(THidEnumerateEvent([](THidDevice*, std::int32_t) { return true; }));
  Loop.RunPending();
  EXPECT_EQ(Events, (std::vector<std::string>{"arrival A", "arrival B", "arrival C"}));
  EXPECT_EQ(seenFromArrival, (std::vector<std::int32_t>{1, 2, 3}));
  EXPECT_EQ(Controller->CheckedInCount(), 3);
}

TEST_F(Refresh, RemovalsComeFirstFromTheEndThenArrivalsThenOneChange) {
  const auto a = Sim.Plug(Named("A"));
  const auto b = Sim.Plug(Named("B"));
  MakeController();
  Events.clear();
  Sim.SetAutoNotify(false);
  Sim.Plug(Named("D"));
  Sim.Unplug(a);
  Sim.Unplug(b);
  Sim.NotifyDeviceChange();
  Loop.RunPending();
  EXPECT_EQ(Events, (std::vector<std::string>{"removal B", "removal A", "arrival D", "change"}));
  EXPECT_EQ(Controller->Devices().size(), 1u);
}

TEST_F(Refresh, ACheckedInDeviceIsRemovedOnce) {
  const auto a = Sim.Plug(Named("A"));
  MakeController();
  Events.clear();
  Sim.Unplug(a);
  Loop.RunPending();
  Sim.NotifyDeviceChange();
  Loop.RunPending();
  EXPECT_EQ(Events, (std::vector<std::string>{"removal A", "change"}));
  EXPECT_TRUE(Controller->Devices().empty());
  EXPECT_EQ(Controller->CheckedInCount(), 0);
}

TEST_F(Refresh, AHeldDeviceIsRemovedAgainAtEveryRefreshUntilDestroyed) {
  const auto a = Sim.Plug(Named("A"));
  MakeController();
  THidDevice* held = CheckOut(0);
  Events.clear();
  Sim.Unplug(a);
  Loop.RunPending();
  EXPECT_FALSE(held->PluggedIn());
  EXPECT_EQ(Controller->UnpluggedCount(), 1);
  EXPECT_EQ(Controller->CheckedOutCount(), 0);

  Sim.Plug(Named("A"));  // back, as a new object beside the old one
  Loop.RunPending();
  EXPECT_EQ(Events,
            (std::vector<std::string>{"removal A", "change", "removal A", "arrival A", "change"}));
  ASSERT_EQ(Controller->Devices().size(), 2u);
  EXPECT_EQ(Controller->Devices()[0].get(), held);
  EXPECT_NE(Controller->Devices()[1].get(), held);

  held->Destroy();
  EXPECT_EQ(Controller->Devices().size(), 1u);
  EXPECT_EQ(Controller->UnpluggedCount(), 0);
  Events.clear();
  Sim.NotifyDeviceChange();
  Loop.RunPending();
  EXPECT_TRUE(Events.empty());
  ExpectCleanShutdown();
}

TEST_F(Refresh, OnlyTheDeviceChangeMessageRefreshes) {
  MakeController();
  Sim.SetAutoNotify(false);
  Sim.Plug(Named("A"));
  Sim.NotifyDeviceChange(0x8000);  // a device-arrival broadcast, not "tree changed"
  Loop.RunPending();
  EXPECT_TRUE(Controller->Devices().empty());
  Controller->NotifyMessage(0x0010, kDbtDevNodesChanged, 0);
  EXPECT_TRUE(Controller->Devices().empty());
  Sim.NotifyDeviceChange();
  Loop.RunPending();
  EXPECT_EQ(Controller->Devices().size(), 1u);
}

TEST_F(Refresh, AnAbandonedRefreshChangesNothingLeaksNothingAndTheNextOneWorks) {
  MakeController();
  Sim.SetAutoNotify(false);
  Sim.Plug(Named("A"));
  TSimInterfaceSpec broken = Named("B");
  broken.Faults.FailAttributes = true;
  const auto b = Sim.Plug(broken);
  Sim.Plug(Named("C"));
  Events.clear();
  Sim.NotifyDeviceChange();
  Loop.RunPending();
  EXPECT_EQ(Messages, (std::vector<std::string>{"Device cannot be identified"}));
  EXPECT_TRUE(Controller->Devices().empty());
  EXPECT_TRUE(Events.empty());
  EXPECT_FALSE(Controller->InRefresh());
  const TSimCounters counters = Sim.Counters();
  EXPECT_EQ(counters.OpenConnections, 0);

  Sim.SetFaults(b, TSimFaults{});
  Sim.NotifyDeviceChange();
  Loop.RunPending();
  EXPECT_EQ(Events, (std::vector<std::string>{"arrival A", "arrival B", "arrival C", "change"}));
  EXPECT_EQ(Controller->CheckedInCount(), 3);
  ExpectCleanShutdown();
}

TEST_F(Refresh, TheCreateErrorHandlerSkipsOrRetriesAnInterface) {
  TSimInterfaceSpec broken = Named("B");
  broken.Faults.FailOpen = true;
  const auto b = Sim.Plug(broken);
  Sim.Plug(Named("C"));
  int calls = 0;
  bool retry = false;
  Controller = std::make_unique<THidDeviceController>(Sim, Loop);
  Controller->SetOnDeviceCreateError(THidDeviceCreateError(
      [&](THidDeviceController*, const THidPnPInfo& info, bool& handled, bool& retryCreate) {
        ++calls;
        EXPECT_EQ(info.DevicePath, "B");
        handled = true;
        retryCreate = retry;
        if (retry) Sim.SetFaults(b, TSimFaults{});  // the next attempt succeeds
      }));
  Loop.RunPending();
  EXPECT_EQ(calls, 1);
  ASSERT_EQ(Controller->Devices().size(), 1u);
  EXPECT_EQ(Controller->Devices()[0]->PnPInfo().DevicePath, "C");

  retry = true;
  Sim.SetFaults(b, broken.Faults);
  Controller->DeviceChange();
  EXPECT_EQ(calls, 2);
  ASSERT_EQ(Controller->Devices().size(), 2u);
  EXPECT_EQ(Controller->Devices()[1]->PnPInfo().DevicePath, "B");
  ExpectCleanShutdown();
}

TEST_F(Refresh, EnumerationCountsUntilTheHandlerStops) {
  MakeController();
  EXPECT_EQ(Controller->EnumerateDevices(), 0);
  Sim.Plug(Named("A"));
  Sim.Plug(Named("B"));
  Sim.Plug(Named("C"));
  Loop.RunPending();
  EXPECT_EQ(Controller->EnumerateDevices(), 1);  // no handler answers false
  std::vector<std::int32_t> indexes;
  Controller->SetOnEnumerate(THidEnumerateEvent([&](THidDevice* d, std::int32_t idx) {
    EXPECT_TRUE(d->InControllerEvent());
    indexes.push_back(idx);
    return idx != 1;
  }));
  EXPECT_EQ(Controller->EnumerateDevices(), 2);
  EXPECT_EQ(indexes, (std::vector<std::int32_t>{0, 1}));
  EXPECT_FALSE(Controller->Devices()[0]->InControllerEvent());
}

TEST_F(Refresh, CheckOutRejectsBadIndexesAndDevicesAlreadyOut) {
  Sim.Plug(Named("A"));
  MakeController();
  THidDevice* device = reinterpret_cast<THidDevice*>(1);
  EXPECT_FALSE(Controller->CheckOutAt(device, -1));
  EXPECT_EQ(device, nullptr);
  EXPECT_FALSE(Controller->CheckOutAt(device, 1));
  EXPECT_TRUE(Controller->CheckOutAt(device, 0));
  EXPECT_EQ(Controller->CheckedOutCount(), 1);
  EXPECT_EQ(Controller->CheckedInCount(), 0);
  EXPECT_FALSE(Controller->CheckOutAt(device, 0));
  EXPECT_EQ(device, nullptr);
}

TEST_F(Refresh, CheckOutFromTheEnumerationHandlerTakesThatDevice) {
  Sim.Plug(StaircaseSpec({}, u"Other device"));
  Sim.Plug(StaircaseSpec({}, u"Glowstep 3 v1.2"));
  MakeController();
  THidDevice* held = nullptr;
  Controller->SetOnEnumerate(THidEnumerateEvent([&](THidDevice* d, std::int32_t idx) {
    if (d->QueryProductName().find(u"Glowstep 3") == std::u16string::npos) return true;
    EXPECT_TRUE(Controller->CheckOutAt(held, idx));
    return false;
  }));
  EXPECT_EQ(Controller->EnumerateDevices(), 2);
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(held, Controller->Devices()[1].get());
  EXPECT_TRUE(held->HasReader());
  EXPECT_EQ(Sim.Counters().OpenConnections, 1);  // the held device's read connection only
  ExpectCleanShutdown();
}

TEST_F(Refresh, DeviceSettingsFollowTheControllerOnlyWhileUnchanged) {
  MakeController();
  Controller->SetDevThreadSleepTime(50);  // empty list: only the controller's field
  Sim.Plug(Named("A"));
  Sim.Plug(Named("B"));
  Loop.RunPending();
  auto& devices = Controller->Devices();
  EXPECT_EQ(devices[0]->SleepTime(), 50);
  devices[1]->SetSleepTime(300);
  Controller->SetDevThreadSleepTime(70);
  EXPECT_EQ(devices[0]->SleepTime(), 70);
  EXPECT_EQ(devices[1]->SleepTime(), 300);
  Controller->SetDevThreadSleepTime(5);  // outside the devices' range
  EXPECT_EQ(Controller->DevThreadSleepTime(), 5);
  EXPECT_EQ(devices[0]->SleepTime(), 70);

  const THidPlugEvent own([](THidDevice*) {});
  devices[1]->SetUnplugHandler(own);
  const THidPlugEvent unplug([](THidDevice*) {});
  Controller->SetOnDeviceUnplug(unplug);
  EXPECT_TRUE(devices[0]->UnplugHandler().SameCode(unplug));
  EXPECT_TRUE(devices[1]->UnplugHandler().SameCode(own));
}

TEST_F(Refresh, SettingTheChangeHandlerRefreshesUnlessLoading) {
  Controller = std::make_unique<THidDeviceController>(Sim, Loop);
  Sim.SetAutoNotify(false);
  Sim.Plug(Named("A"));
  int changes = 0;
  Controller->SetLoading(true);
  Controller->SetOnDeviceChange(TNotifyEvent([&](THidDeviceController*) { ++changes; }));
  EXPECT_TRUE(Controller->Devices().empty());
  Controller->SetLoading(false);
  Controller->SetOnDeviceChange(TNotifyEvent([&](THidDeviceController*) { ++changes; }));
  EXPECT_EQ(Controller->Devices().size(), 1u);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(Controller->LastChangeParam(), 0);  // not a notification
}

// The first refresh on a system that cannot list its devices, or cannot follow their changes,
// or both: each failure comes through the error event on its own, the refresh's first; without a
// handler nothing is told, and nothing reaches the loop either way.
TEST(FirstRefresh, TellsEachFailureOnItsOwnTheListingsFirst) {
  const std::string notListed =
      TMessage(THidDeviceController::kDevicesNotListed, {ErrorCodeMessage(kErrorGenFailure)})
          .English();
  const std::string notice = THidDeviceController::kDeviceChangesNotFollowed.English;
  struct TCase {
    bool FailList, FailWatch, Handler;
    std::vector<std::string> Told;
  };
  for (const TCase& test :
       {TCase{true, false, true, {notListed}}, TCase{true, true, true, {notListed, notice}},
        TCase{true, true, false, {}}}) {
    TMainLoop loop;
    TSimPlatform sim;
    sim.Plug(Named("A"));
    sim.SetCallFilter([&test](std::string_view operation) {
      const bool fail =
          (operation == "List" && test.FailList) || (operation == "Watch" && test.FailWatch);
      return fail ? THidError{kErrorGenFailure, 0} : THidError{};
    });
    std::vector<std::string> told;
    {
      THidDeviceController controller(sim, loop);
      if (test.Handler) {
        controller.SetOnError(THidErrorEvent(
            [&told](THidDeviceController*, const TMessage& m) { told.push_back(m.English()); }));
      }
      ASSERT_TRUE(loop.RunUntilIdle(kPatience));
      EXPECT_TRUE(controller.Devices().empty());
    }
    EXPECT_EQ(told, test.Told);
    EXPECT_TRUE(loop.Errors().empty());
  }
}

TEST_F(Refresh, ARefreshRaisedFromAHandlerStillLeavesConsistentCounts) {
  Sim.Plug(Named("A"));
  Sim.Plug(Named("B"));
  Controller = std::make_unique<THidDeviceController>(Sim, Loop);
  Controller->SetOnArrival(THidPlugEvent([](THidDevice* d) {
    if (d->PnPInfo().DevicePath == "A") throw std::runtime_error("handler failed");
  }));
  Loop.RunPending();
  EXPECT_EQ(Loop.Errors(), (std::vector<std::string>{"handler failed"}));
  EXPECT_EQ(Controller->Devices().size(), 1u);
  EXPECT_EQ(Controller->CheckedInCount(), 1);
  EXPECT_FALSE(Controller->Devices()[0]->InControllerEvent());
  Sim.NotifyDeviceChange();  // the guard was cleared: B arrives now
  Loop.RunPending();
  EXPECT_EQ(Controller->Devices().size(), 2u);
  ExpectCleanShutdown();
}

TEST_F(Refresh, AnUnplugHandlerMayGiveBackItsOwnDevice) {
  const auto a = Sim.Plug(Named("A"));
  MakeController();
  THidDevice* held = CheckOut(0);
  int unplugs = 0;
  held->SetUnplugHandler(THidPlugEvent([&](THidDevice* d) {
    ++unplugs;
    d->Destroy();
  }));
  Events.clear();
  Sim.Unplug(a);
  Loop.RunPending();
  EXPECT_EQ(unplugs, 1);
  // The object is gone before its removal would be raised: nobody hears of it again.
  EXPECT_EQ(Events, std::vector<std::string>{"change"});
  EXPECT_TRUE(Controller->Devices().empty());
  EXPECT_EQ(Controller->UnpluggedCount(), 0);
  EXPECT_EQ(Controller->CheckedOutCount(), 0);
  Sim.NotifyDeviceChange();
  Loop.RunPending();
  EXPECT_EQ(Events.size(), 1u);
  ExpectCleanShutdown();
}

TEST_F(Refresh, ARefreshAskedForDuringARefreshRunsOnceAfterIt) {
  Sim.SetAutoNotify(false);
  MakeController();
  Events.clear();
  Controller->SetOnArrival(THidPlugEvent([this](THidDevice* d) {
    Log("arrival", d);
    if (d->PnPInfo().DevicePath != "A") return;
    Sim.Plug(Named("C"));
    Controller->DeviceChange();
    Events.push_back("asked");
  }));
  Sim.Plug(Named("A"));
  Sim.Plug(Named("B"));
  Controller->DeviceChange();
  EXPECT_EQ(Events, (std::vector<std::string>{"arrival A", "asked", "arrival B", "change",
                                              "arrival C", "change"}));
  ASSERT_EQ(Controller->Devices().size(), 3u);
  EXPECT_EQ(Controller->CheckedInCount(), 3);

  // A notification that comes in meanwhile is not lost either.
  Events.clear();
  Controller->SetOnArrival(THidPlugEvent([this](THidDevice* d) {
    Log("arrival", d);
    if (d->PnPInfo().DevicePath != "E") return;
    Sim.Plug(Named("F"));
    Controller->NotifyMessage(kWmDeviceChange, kDbtDevNodesChanged, 5);
  }));
  Sim.Plug(Named("E"));
  Controller->NotifyMessage(kWmDeviceChange, kDbtDevNodesChanged, 4);
  EXPECT_EQ(Events, (std::vector<std::string>{"arrival E", "change", "arrival F", "change"}));
  EXPECT_EQ(Controller->LastChangeParam(), 5);
  EXPECT_FALSE(Controller->InRefresh());
  ExpectCleanShutdown();
}

TEST_F(Refresh, ADeviceThatGainsReadWriteAccessArrivesAgain) {
  TSimInterfaceSpec setup = Named("A");
  setup.Faults.RefuseReadWrite = true;
  const auto a = Sim.Plug(setup);
  MakeController();
  ASSERT_EQ(Controller->Devices().size(), 1u);
  EXPECT_FALSE(Controller->Devices()[0]->ReadWriteAccess());
  Events.clear();
  Sim.NotifyDeviceChange();  // nothing changed
  Loop.RunPending();
  EXPECT_TRUE(Events.empty());

  // The system lets the user open it now and says that the device changed.
  Sim.SetFaults(a, TSimFaults{});
  Sim.NotifyDeviceChange();
  Loop.RunPending();
  EXPECT_EQ(Events, (std::vector<std::string>{"removal A", "arrival A", "change"}));
  ASSERT_EQ(Controller->Devices().size(), 1u);
  EXPECT_TRUE(Controller->Devices()[0]->ReadWriteAccess());
  EXPECT_EQ(Controller->CheckedInCount(), 1);

  // A device the application holds is left alone, access or not.
  Sim.SetFaults(a, setup.Faults);
  THidDevice* held = CheckOut(0);
  Events.clear();
  Sim.NotifyDeviceChange();
  Loop.RunPending();
  EXPECT_TRUE(Events.empty());
  EXPECT_EQ(Controller->Devices()[0].get(), held);
  ExpectCleanShutdown();
}

}  // namespace
}  // namespace glowstep::testing
