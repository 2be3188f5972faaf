#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "base/scope_guard.h"
#include "hid/hid_device_read_thread.h"
#include "tests/hid/test_support.h"

namespace glowstep::testing {
namespace {

using Reader = HidFixture;

std::vector<std::uint8_t> DefaultPayload() {
  std::vector<std::uint8_t> payload(64, 0);
  payload[0] = 'r';
  std::copy(TVirtualStaircaseController::kDefaultSettings.begin(),
            TVirtualStaircaseController::kDefaultSettings.end(), payload.begin() + 1);
  return payload;
}

TEST_F(Reader, AReadRequestIsAnsweredWithTheStoredSettings) {
  Sim.Plug(StaircaseSpec());
  MakeController();
  THidDevice* device = CheckOut(0);
  ASSERT_TRUE(device->HasReader());
  ASSERT_TRUE(Write(device, ReadRequest()));
  ASSERT_TRUE(WaitForDeliveries(1));
  EXPECT_EQ(Deliveries[0].Device, device);
  EXPECT_EQ(Deliveries[0].ReportID, 0);
  EXPECT_EQ(Deliveries[0].Data, DefaultPayload());  // 64 bytes: report bytes 1 to 64

  std::vector<std::uint8_t> write(65, 0);
  write[1] = 'w';
  write[2] = 42;
  ASSERT_TRUE(Write(device, write));
  ASSERT_TRUE(Write(device, ReadRequest()));
  ASSERT_TRUE(WaitForDeliveries(2));
  EXPECT_EQ(Deliveries[1].Data[1], 42);
  EXPECT_TRUE(std::all_of(Deliveries[1].Data.begin() + 2, Deliveries[1].Data.end(),
                          [](std::uint8_t b) { return b == 0; }));
  const auto names = Sim.ThreadNames();
  EXPECT_NE(std::find(names.begin(), names.end(), "THidDeviceReadThread"), names.end());
  ExpectCleanShutdown();
}

TEST_F(Reader, ReportsAreDeliveredWithTheirOwnSizeAndEmptyOnesAreDropped) {
  const auto id = Sim.Plug(StaircaseSpec());
  MakeController();
  CheckOut(0);
  Sim.SendInputReport(id, {});
  Sim.SendInputReport(id, {7, 1, 2, 3});
  Sim.SendInputReport(id, {0});
  // Reports are read in order: delivered, the empty one would stand first.
  ASSERT_TRUE(WaitForDeliveries(2));
  ASSERT_EQ(Deliveries.size(), 2u);
  EXPECT_EQ(Deliveries[0].ReportID, 7);
  EXPECT_EQ(Deliveries[0].Data, (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_TRUE(Deliveries[1].Data.empty());  // one byte read: the report ID, size 0
}

TEST_F(Reader, LateShortAndMisdirectedAnswersArriveAsTheDeviceSendsThem) {
  const auto other = Sim.Plug(StaircaseSpec());
  TSimInterfaceSpec setup = StaircaseSpec();
  setup.Faults.AnswerDelay = 150ms;
  setup.Faults.AnswerLength = 20;
  const auto id = Sim.Plug(setup);
  MakeController();
  THidDevice* otherDevice = CheckOut(0);
  THidDevice* device = CheckOut(1);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(Write(device, ReadRequest()));
  ASSERT_TRUE(WaitForDeliveries(1));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);
  EXPECT_EQ(Deliveries[0].Device, device);
  EXPECT_EQ(Deliveries[0].Data.size(), 19u);

  TSimFaults faults;
  faults.AnswerFrom = other;
  Sim.SetFaults(id, faults);
  ASSERT_TRUE(Write(device, ReadRequest()));
  ASSERT_TRUE(WaitForDeliveries(2));
  EXPECT_EQ(Deliveries[1].Device, otherDevice);
  ExpectCleanShutdown();
}

TEST_F(Reader, AFailingReadStartIsReportedOncePerSleepTime) {
  TSimInterfaceSpec setup = StaircaseSpec();
  setup.Faults.FailReadStart = true;
  setup.Faults.ReadStartError = 1784;
  Sim.Plug(setup);
  MakeController();
  Controller->Devices()[0]->SetSleepTime(50);
  const auto start = std::chrono::steady_clock::now();
  CheckOut(0);
  // A timing rule: the reader tries again once per slice, never sooner. A loaded machine only
  // makes the slices longer, so the lower bound holds there too.
  ASSERT_TRUE(Loop.RunUntil([&] { return Errors.size() >= 6; }, kPatience));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 5 * 50ms);
  EXPECT_TRUE(std::all_of(Errors.begin(), Errors.end(), [](auto e) { return e == 1784; }));
  ExpectCleanShutdown();
}

TEST_F(Reader, AVanishingDeviceWakesItsReaderWhichThenReportsEverySleepTime) {
  TSimInterfaceSpec setup = StaircaseSpec();
  setup.Faults.VanishOnRead = true;
  Sim.Plug(setup);
  MakeController();
  Controller->Devices()[0]->SetSleepTime(10000);  // a slice would not end within this test
  THidDevice* device = CheckOut(0);
  ASSERT_TRUE(Loop.RunUntil([&] { return Sim.Counters().ReadsBegun == 1; }, kPatience));
  ASSERT_TRUE(Write(device, ReadRequest()));
  // The read fails at once, the next read start fails at once and is reported.
  ASSERT_TRUE(Loop.RunUntil([&] { return !Errors.empty(); }, kPatience));
  EXPECT_EQ(Errors[0], kErrorDeviceNotConnected);
  EXPECT_FALSE(device->PluggedIn());  // the notification was handled meanwhile
  EXPECT_TRUE(Deliveries.empty());

  // The reader closes its handle when asked, on its own thread: soon, not necessarily yet.
  EXPECT_TRUE(Loop.RunUntil([&] { return Sim.Counters().OpenConnections == 0; }, kPatience));
  device->Destroy();
  EXPECT_TRUE(Controller->Devices().empty());
  ExpectCleanShutdown();
}

TEST_F(Reader, AReadThatEndsInAnErrorIsReportedAndTheNextOneIsMade) {
  const auto id = Sim.Plug(StaircaseSpec());
  std::atomic<int> reads{0};
  Sim.SetCallFilter([&reads](std::string_view operation) {
    return operation == "Read" && reads++ == 0 ? THidError{kErrorGenFailure, 0} : THidError{};
  });
  MakeController();
  Controller->Devices()[0]->SetSleepTime(10);
  CheckOut(0);
  ASSERT_TRUE(Loop.RunUntil([&] { return !Errors.empty(); }, kPatience));
  EXPECT_EQ(Errors, std::vector<std::uint32_t>{kErrorGenFailure});
  // An empty report is no error; the reports after it arrive.
  Sim.SendInputReport(id, {});
  Sim.SendInputReport(id, {0, 1, 2});
  ASSERT_TRUE(WaitForDeliveries(1));
  EXPECT_EQ(Deliveries[0].Data, (std::vector<std::uint8_t>{1, 2}));
  EXPECT_EQ(Errors.size(), 1u);
  Sim.SetCallFilter(nullptr);
  ExpectCleanShutdown();
}

TEST_F(Reader, AnUnpluggedHeldDeviceReportsAnErrorEverySleepTime) {
  const auto id = Sim.Plug(StaircaseSpec());
  MakeController();
  Controller->Devices()[0]->SetSleepTime(40);
  std::vector<std::chrono::steady_clock::time_point> reported;
  Controller->SetOnDeviceDataError(THidDataErrorEvent(
      [&](THidDevice*, std::uint32_t) { reported.push_back(std::chrono::steady_clock::now()); }));
  CheckOut(0);
  Sim.Unplug(id);
  // A timing rule, as for a read start that fails: one report per slice and never sooner. The
  // read the unplug ended is reported at once, and the refresh's request to close the handle
  // cuts the wait after it short; from then on every wait is a whole slice, which a loaded
  // machine can only make longer.
  ASSERT_TRUE(Loop.RunUntil([&] { return reported.size() >= 6; }, kPatience));
  EXPECT_GE(reported[5] - reported[1], 4 * 40ms);
  ExpectCleanShutdown();
}

TEST_F(Reader, TheDataHandlerStartsAndStopsReaders) {
  Sim.Plug(StaircaseSpec());
  Sim.Plug(StaircaseSpec());
  MakeController(false);
  THidDevice* first = CheckOut(0);
  THidDevice* second = CheckOut(1);
  EXPECT_FALSE(first->HasReader());
  Controller->SetOnDeviceData(DataHandler());
  EXPECT_TRUE(first->HasReader());
  EXPECT_TRUE(second->HasReader());
  const THidDataEvent own([](THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t) {});
  second->AssignDataHandler(own);
  Controller->SetOnDeviceData(nullptr);
  EXPECT_FALSE(first->HasReader());
  EXPECT_TRUE(second->HasReader());  // it holds a handler of its own
  second->AssignDataHandler(nullptr);
  EXPECT_FALSE(second->HasReader());
  EXPECT_EQ(Sim.Counters().ReadConnections, 0);
}

TEST_F(Reader, StoppingAReaderBlockedInAHandOffReturnsPromptly) {
  const auto id = Sim.Plug(StaircaseSpec());
  MakeController();
  THidDevice* device = CheckOut(0);
  device->SetSleepTime(10000);
  Sim.SendInputReport(id, {0, 1});
  // The reader blocks in the hand-off: the loop is not running.
  ASSERT_TRUE(AwaitOtherThread([&] { return Loop.WaitingHandOffs() == 1; }));
  const auto start = std::chrono::steady_clock::now();
  device->Destroy();
  // Waiting for the slice would take 10 s; the bound leaves room for a loaded machine.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  const std::size_t delivered = Deliveries.size();
  EXPECT_LE(delivered, 1u);
  // The reader has ended: whatever it left queued runs now.
  ASSERT_TRUE(Loop.RunUntilIdle(kPatience));
  EXPECT_EQ(Deliveries.size(), delivered);  // nothing after the object is gone
  ExpectCleanShutdown();
}

TEST_F(Reader, AHandlerMayGiveBackItsOwnDevice) {
  const auto id = Sim.Plug(StaircaseSpec());
  MakeController(false);
  THidDevice* device = CheckOut(0);
  int calls = 0;
  Controller->SetOnDeviceData(
      THidDataEvent([&](THidDevice* d, std::uint8_t, const std::uint8_t*, std::uint16_t) {
        ++calls;
        d->Destroy();  // stops its own reader from inside that reader's delivery
      }));
  ASSERT_TRUE(device->HasReader());
  Sim.SendInputReport(id, {0, 1});
  Sim.SendInputReport(id, {0, 2});
  ASSERT_TRUE(Loop.RunUntil([&] { return calls == 1; }, kPatience));
  // The orphaned reader is joined and freed once it has finished: after that nobody can call.
  ASSERT_TRUE(Loop.RunUntil([&] { return Sim.Counters().ReadConnections == 0; }, kPatience));
  ASSERT_TRUE(Loop.RunUntilIdle(kPatience));
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(Controller->Devices()[0]->CheckedOut());
  ExpectCleanShutdown();
}

TEST_F(Reader, AnExceptionFromTheDataHandlerIsShownAndReadingGoesOn) {
  const auto id = Sim.Plug(StaircaseSpec());
  MakeController(false);
  int calls = 0;
  Controller->SetOnDeviceData(
      THidDataEvent([&](THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t) {
        if (++calls == 1) throw std::runtime_error("Value must be between 3 and 250");
      }));
  CheckOut(0);
  Sim.SendInputReport(id, {0, 1});
  Sim.SendInputReport(id, {0, 2});
  ASSERT_TRUE(Loop.RunUntil([&] { return calls == 2; }, kPatience));
  EXPECT_EQ(Loop.Errors(), (std::vector<std::string>{"Value must be between 3 and 250"}));
  ExpectCleanShutdown();
}

TEST_F(Reader, AReaderStoppedFromItsOwnDeliveryIsJoinedOnceItFinishes) {
  const auto id = Sim.Plug(StaircaseSpec());
  MakeController(false);
  Controller->SetOnDeviceData(THidDataEvent(
      [](THidDevice* d, std::uint8_t, const std::uint8_t*, std::uint16_t) { d->Destroy(); }));
  CheckOut(0);
  Sim.SendInputReport(id, {0, 1});
  // No refresh comes: the finished thread and its read go all the same.
  EXPECT_TRUE(Loop.RunUntil([&] { return Sim.Counters().ReadConnections == 0; }, kPatience));
  EXPECT_FALSE(Controller->Devices()[0]->CheckedOut());
  ExpectCleanShutdown();
}

TEST_F(Reader, DestroyingTheControllerInsideADeliveryReturnsAndReleasesEverything) {
  const auto id = Sim.Plug(StaircaseSpec());
  MakeController(false);
  Controller->SetDevThreadSleepTime(10000);
  Controller->SetOnDeviceData(THidDataEvent([this](THidDevice*, std::uint8_t, const std::uint8_t*,
                                                   std::uint16_t) { Controller.reset(); }));
  CheckOut(0);
  Sim.SendInputReport(id, {0, 1});
  ASSERT_TRUE(Loop.RunUntil([&] { return Controller == nullptr; }, kPatience));
  EXPECT_TRUE(Loop.RunUntil([&] { return Sim.Counters().ReadConnections == 0; }, kPatience));
  ExpectCleanShutdown();
  EXPECT_EQ(Sim.Counters().Starts, 0);
}

// The interface goes and a new one takes over its path before the refresh runs, as a system
// that reuses device paths does. The old object must not read the newcomer's reports.
TEST_F(Reader, AHeldDeviceWhosePathIsHandedOnNeverReadsTheNewcomer) {
  TSimInterfaceSpec setup = StaircaseSpec();
  setup.Path = "sim:stairs";
  auto id = Sim.Plug(setup);
  MakeController();
  Controller->SetDevThreadSleepTime(10000);  // the reader sleeps until the refresh wakes it
  Sim.SetAutoNotify(false);
  std::vector<THidDevice*> failing;
  Controller->SetOnDeviceDataError(
      THidDataErrorEvent([&](THidDevice* d, std::uint32_t) { failing.push_back(d); }));
  const auto failed = [&](THidDevice* d) {
    return std::find(failing.begin(), failing.end(), d) != failing.end();
  };
  for (int round = 0; round < 300; ++round) {
    THidDevice* held = CheckOut(0);
    ASSERT_TRUE(held != nullptr && held->HasReader()) << "round " << round;
    failing.clear();
    Sim.Unplug(id);
    ASSERT_TRUE(Loop.RunUntil([&] { return failed(held); }, kPatience)) << "round " << round;
    id = Sim.Plug(setup);
    failing.clear();
    Deliveries.clear();
    Controller->DeviceChange();
    ASSERT_FALSE(held->PluggedIn());
    // Woken by the refresh, the old reader fails its next read start, or opens the newcomer.
    ASSERT_TRUE(
        Loop.RunUntil([&] { return failed(held) || Sim.OpenConnectionsOf(id) > 0; }, kPatience))
        << "round " << round;
    if (Sim.OpenConnectionsOf(id) > 0) {
      Sim.SendInputReport(id, {0, 0xEE});
      Loop.RunUntil([&] { return !Deliveries.empty(); }, kPatience);
    }
    ASSERT_TRUE(Deliveries.empty())
        << "the newcomer's report reached the old object, round " << round;
    ASSERT_EQ(Sim.OpenConnectionsOf(id), 0) << "round " << round;
    held->Destroy();
    ASSERT_EQ(Controller->Devices().size(), 1u);
  }
  ExpectCleanShutdown();
}

// The reader opens its read side again just as a refresh marks the device unplugged, and the
// system has handed the path on meanwhile: the connection it gets is the newcomer's, and it is
// closed before any use, so nothing the newcomer sends reaches the old object.
TEST_F(Reader, AReadSideOpenedWhileTheDeviceIsMarkedUnpluggedIsClosedUnread) {
  TSimInterfaceSpec setup = StaircaseSpec();
  setup.Path = "sim:stairs";
  const auto id = Sim.Plug(setup);
  MakeController();
  Sim.SetAutoNotify(false);
  THidDevice* held = CheckOut(0);
  ASSERT_TRUE(held != nullptr && held->Listening());
  bool failed = false;
  Controller->SetOnDeviceDataError(
      THidDataErrorEvent([&](THidDevice* d, std::uint32_t) { failed = failed || d == held; }));

  // The reader's next open waits inside the system until the refresh below has run.
  const std::thread::id mainThread = std::this_thread::get_id();
  std::mutex lock;
  std::condition_variable changed;
  bool openEntered = false;
  bool openReleased = false;
  std::atomic<TSimPlatform::TInterfaceId> newcomer{0};
  std::atomic<bool> usedAfterOpen{false};
  Sim.SetCallFilter([&](std::string_view operation) -> THidError {
    if (std::this_thread::get_id() == mainThread) return {};
    if (operation == "Open") {
      std::unique_lock guard(lock);
      openEntered = true;
      changed.notify_all();
      changed.wait(guard, [&] { return openReleased; });
    } else if (operation == "ReadStartError" || operation == "Read") {
      const std::lock_guard guard(lock);
      if (openReleased) usedAfterOpen = true;
    }
    if (operation == "Read") {
      // A report of the newcomer, there for any read on its handle.
      if (const auto to = newcomer.exchange(0); to != 0) Sim.SendInputReport(to, {0, 0xEE});
    }
    return {};
  });
  const auto release = [&] {
    const std::lock_guard guard(lock);
    openReleased = true;
    changed.notify_all();
  };
  const TScopeExit releaseOnFailure(release);

  held->CloseChannel(TChannel::Read);  // the reader closes it and opens it again
  {
    std::unique_lock guard(lock);
    ASSERT_TRUE(changed.wait_for(guard, kPatience, [&] { return openEntered; }));
  }
  Sim.Unplug(id);
  const auto next = Sim.Plug(setup);
  newcomer = next;
  Controller->DeviceChange();
  ASSERT_FALSE(held->PluggedIn());
  release();
  ASSERT_TRUE(Loop.RunUntil([&] { return failed; }, kPatience));
  EXPECT_TRUE(Deliveries.empty()) << "the newcomer's report reached the unplugged object";
  EXPECT_FALSE(usedAfterOpen) << "the unplugged object used the connection it opened meanwhile";
  EXPECT_EQ(Sim.OpenConnectionsOf(next), 0);
  Sim.SetCallFilter(nullptr);
  held->Destroy();
  ExpectCleanShutdown();
}

}  // namespace
}  // namespace glowstep::testing
