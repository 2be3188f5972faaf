#include <gtest/gtest.h>

#include "tests/hid/test_support.h"

namespace glowstep::testing {
namespace {

using Device = HidFixture;

TEST_F(Device, SleepTimeAcceptsTenToTenThousandOnly) {
  Sim.Plug(StaircaseSpec());
  MakeController();
  THidDevice& device = *Controller->Devices()[0];
  for (std::int32_t rejected : {9, 10001, -1}) {
    device.SetSleepTime(rejected);
    EXPECT_EQ(device.SleepTime(), 100);
  }
  device.SetSleepTime(10);
  EXPECT_EQ(device.SleepTime(), 10);
  device.SetSleepTime(10000);
  EXPECT_EQ(device.SleepTime(), 10000);
}

TEST_F(Device, ConstructionFailuresCarryTheirMessages) {
  TSimInterfaceSpec setup = StaircaseSpec();
  setup.Faults.FailOpen = true;
  Sim.Plug(setup);
  MakeController();
  EXPECT_EQ(Messages, (std::vector<std::string>{"Device cannot be opened"}));
  EXPECT_TRUE(Controller->Devices().empty());
}

TEST_F(Device, PnPInfoIsWhatTheBackendListed) {
  TSimInterfaceSpec setup = StaircaseSpec();
  setup.PortName = "usb-1.2";
  setup.SerialNumber = "A17";
  setup.Properties.Class = "HIDClass";
  setup.Properties.HardwareId = {"HID\\A", "HID"};
  setup.Properties.UiNumber = 42;
  const auto id = Sim.Plug(setup);
  MakeController();
  const THidPnPInfo& info = Controller->Devices()[0]->PnPInfo();
  EXPECT_EQ(info.DeviceInstance, Sim.DeviceInstanceOf(id));
  EXPECT_EQ(info.DevicePath, Sim.PathOf(id));
  EXPECT_EQ(info.PortName, "usb-1.2");
  EXPECT_EQ(info.SerialNumber, "A17");
  EXPECT_EQ(static_cast<const THidPnPProperties&>(info), setup.Properties);
}

TEST_F(Device, ADeviceNotHeldCannotBeQueriedOrWritten) {
  Sim.Plug(StaircaseSpec());
  MakeController();
  THidDevice& device = *Controller->Devices()[0];
  EXPECT_EQ(Sim.Counters().OpenConnections, 0);  // nothing stays open after construction
  EXPECT_TRUE(device.QueryProductName().empty());
  std::uint32_t written = 7;
  const auto request = ReadRequest();
  EXPECT_TRUE(static_cast<bool>(device.WriteReport(request.data(), 65, written)));
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(Sim.Counters().ReportsWritten, 0);
  EXPECT_EQ(Sim.Counters().OpenConnections, 0);
}

TEST_F(Device, TheProductNameIsFetchedOnceAndClosesTheGeneralHandle) {
  TSimInterfaceSpec setup = StaircaseSpec();
  setup.Faults.FailProductString = true;
  const auto id = Sim.Plug(setup);
  MakeController(false);
  THidDevice* device = CheckOut(0);
  EXPECT_TRUE(device->QueryProductName().empty());  // asks again next time
  Sim.SetFaults(id, TSimFaults{});
  EXPECT_TRUE(Write(device, ReadRequest()));
  EXPECT_TRUE(device->GeneralOpen());  // a write leaves it open
  EXPECT_EQ(device->QueryProductName(), u"Glowstep 3 v1.2");
  EXPECT_FALSE(device->GeneralOpen());
  Sim.SetFaults(id, setup.Faults);
  EXPECT_EQ(device->QueryProductName(), u"Glowstep 3 v1.2");  // cached
  EXPECT_FALSE(device->GeneralOpen());
}

TEST_F(Device, AnOverlongProductStringIsCutTo254Characters) {
  Sim.Plug(StaircaseSpec({}, std::u16string(300, u'g')));
  MakeController(false);
  EXPECT_EQ(CheckOut(0)->QueryProductName().size(), 253u);  // 254 with the terminating zero
}

TEST_F(Device, WritesReachTheVirtualControllerAsGiven) {
  auto staircase = std::make_shared<TVirtualStaircaseController>();
  Sim.Plug(StaircaseSpec(staircase));
  MakeController(false);
  THidDevice* device = CheckOut(0);
  std::vector<std::uint8_t> write(65, 0);
  write[1] = 'w';
  for (std::size_t i = 2; i <= 20; ++i) write[i] = static_cast<std::uint8_t>(i);
  EXPECT_TRUE(Write(device, write));
  EXPECT_FALSE(Write(device, std::vector<std::uint8_t>(64, 0)));  // not the output length
  EXPECT_EQ(staircase->ReceivedReports(), (std::vector<std::vector<std::uint8_t>>{write}));
  EXPECT_EQ(staircase->Settings()[0], 2);
  EXPECT_EQ(staircase->Settings()[18], 20);
}

TEST_F(Device, AQueryOnlyDeviceNeverGetsAReader) {
  TSimInterfaceSpec setup = StaircaseSpec();
  setup.Faults.RefuseReadWrite = true;
  Sim.Plug(setup);
  MakeController();
  THidDevice* device = CheckOut(0);
  EXPECT_FALSE(device->ReadWriteAccess());
  EXPECT_FALSE(device->HasReader());
  EXPECT_EQ(device->QueryProductName(), u"Glowstep 3 v1.2");  // queries still work
  EXPECT_FALSE(Write(device, ReadRequest()));
  EXPECT_EQ(Sim.Counters().ReadConnections, 0);
}

TEST_F(Device, EnumerationClosesWhatTheHandlerOpenedOnADeviceItDidNotKeep) {
  Sim.Plug(StaircaseSpec());
  MakeController(false);
  Controller->SetOnEnumerate(THidEnumerateEvent([](THidDevice* d, std::int32_t) {
    EXPECT_TRUE(d->OpenGeneral());
    EXPECT_TRUE(d->OpenChannel(TChannel::Read));
    EXPECT_TRUE(d->OpenChannel(TChannel::Write));
    return true;
  }));
  Controller->EnumerateDevices();
  EXPECT_EQ(Sim.Counters().OpenConnections, 0);
}

TEST_F(Device, GivingBackLeavesAFreshCheckedInObjectAtTheSameIndex) {
  Sim.Plug(StaircaseSpec());
  const auto id = Sim.Plug(StaircaseSpec());
  MakeController();
  THidDevice* device = CheckOut(1);
  device->SetSleepTime(250);
  const THidPlugEvent unplug([](THidDevice*) {});
  device->SetUnplugHandler(unplug);
  device->Destroy();
  const THidDevice& fresh = *Controller->Devices()[1];
  EXPECT_EQ(fresh.PnPInfo().DevicePath, Sim.PathOf(id));
  EXPECT_FALSE(fresh.CheckedOut());
  EXPECT_FALSE(fresh.HasReader());
  EXPECT_EQ(fresh.SleepTime(), 250);
  EXPECT_TRUE(fresh.UnplugHandler().SameCode(unplug));
  EXPECT_TRUE(fresh.DataHandler().SameCode(Controller->OnDeviceData()));
  EXPECT_EQ(Controller->CheckedInCount(), 2);
  EXPECT_EQ(Controller->CheckedOutCount(), 0);
  ExpectCleanShutdown();
}

TEST_F(Device, GivingBackADeviceThatCannotBeOpenedAnyMoreDropsTheEntry) {
  const auto id = Sim.Plug(StaircaseSpec());
  MakeController();
  THidDevice* device = CheckOut(0);
  TSimFaults faults;
  faults.FailOpen = true;
  Sim.SetFaults(id, faults);
  device->Destroy();
  EXPECT_TRUE(Controller->Devices().empty());
  EXPECT_EQ(Controller->CheckedOutCount(), 0);
  EXPECT_EQ(Controller->CheckedInCount(), 0);
  ExpectCleanShutdown();
}

TEST_F(Device, UnplugCallsTheUnplugHandlerOnceAndClosesEverything) {
  const auto id = Sim.Plug(StaircaseSpec());
  MakeController();
  int unplugs = 0;
  Controller->SetOnDeviceUnplug(THidPlugEvent([&](THidDevice*) { ++unplugs; }));
  THidDevice* device = CheckOut(0);
  EXPECT_TRUE(Write(device, ReadRequest()));
  Sim.Unplug(id);
  Loop.RunPending();
  Sim.NotifyDeviceChange();
  Loop.RunPending();
  EXPECT_EQ(unplugs, 1);
  EXPECT_FALSE(device->UnplugHandler());
  EXPECT_FALSE(device->GeneralOpen());
  EXPECT_FALSE(Write(device, ReadRequest()));
  ExpectCleanShutdown();
}

}  // namespace
}  // namespace glowstep::testing
