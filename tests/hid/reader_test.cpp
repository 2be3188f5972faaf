#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

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
  ASSERT_TRUE(WaitForDeliveries(2));
  Loop.RunFor(30ms);
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
  CheckOut(0);
  Loop.RunFor(520ms);
  // 11 starts in 520 ms at 50 ms each; allow for a slow machine.
  EXPECT_GE(Errors.size(), 6u);
  EXPECT_LE(Errors.size(), 12u);
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
  ASSERT_TRUE(Loop.RunUntil([&] { return Sim.Counters().ReadsBegun == 1; }, 1000ms));
  ASSERT_TRUE(Write(device, ReadRequest()));
  // The read fails at once, the next read start fails at once and is reported.
  ASSERT_TRUE(Loop.RunUntil([&] { return !Errors.empty(); }, 1000ms));
  EXPECT_EQ(Errors[0], kErrorDeviceNotConnected);
  EXPECT_FALSE(device->PluggedIn());  // the notification was handled meanwhile
  EXPECT_TRUE(Deliveries.empty());

  // The reader closes its handle when asked, on its own thread: soon, not necessarily yet.
  EXPECT_TRUE(Loop.RunUntil([&] { return Sim.Counters().OpenHandles == 0; }, 1000ms));
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
  ASSERT_TRUE(Loop.RunUntil([&] { return !Errors.empty(); }, 1000ms));
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
  CheckOut(0);
  Sim.Unplug(id);
  Loop.RunFor(400ms);
  EXPECT_GE(Errors.size(), 5u);
  EXPECT_LE(Errors.size(), 12u);
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
  EXPECT_EQ(Sim.Counters().Reads, 0);
}

TEST_F(Reader, StoppingAReaderBlockedInAHandOffReturnsPromptly) {
  const auto id = Sim.Plug(StaircaseSpec());
  MakeController();
  THidDevice* device = CheckOut(0);
  device->SetSleepTime(10000);
  Sim.SendInputReport(id, {0, 1});
  // Give the reader time to block in the hand-off: the loop is not running.
  std::this_thread::sleep_for(50ms);
  const auto start = std::chrono::steady_clock::now();
  device->Destroy();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
  const std::size_t delivered = Deliveries.size();
  EXPECT_LE(delivered, 1u);
  Loop.RunFor(30ms);
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
  ASSERT_TRUE(Loop.RunUntil([&] { return calls == 1; }, 1000ms));
  Loop.RunFor(30ms);
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
  ASSERT_TRUE(Loop.RunUntil([&] { return calls == 2; }, 1000ms));
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
  EXPECT_TRUE(Loop.RunUntil([&] { return Sim.Counters().Reads == 0; }, 2000ms));
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
  ASSERT_TRUE(Loop.RunUntil([&] { return Controller == nullptr; }, 2000ms));
  EXPECT_TRUE(Loop.RunUntil([&] { return Sim.Counters().Reads == 0; }, 2000ms));
  ExpectCleanShutdown();
  EXPECT_EQ(Sim.LibraryReferences(std::string(kHidLibraryName)), 0);
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
    ASSERT_TRUE(Loop.RunUntil([&] { return failed(held); }, 2000ms)) << "round " << round;
    id = Sim.Plug(setup);
    failing.clear();
    Deliveries.clear();
    Controller->DeviceChange();
    ASSERT_FALSE(held->PluggedIn());
    // Woken by the refresh, the old reader fails its next read start, or opens the newcomer.
    ASSERT_TRUE(Loop.RunUntil([&] { return failed(held) || Sim.OpenHandlesOf(id) > 0; }, 2000ms))
        << "round " << round;
    if (Sim.OpenHandlesOf(id) > 0) {
      Sim.SendInputReport(id, {0, 0xEE});
      Loop.RunUntil([&] { return !Deliveries.empty(); }, 500ms);
    }
    ASSERT_TRUE(Deliveries.empty())
        << "the newcomer's report reached the old object, round " << round;
    ASSERT_EQ(Sim.OpenHandlesOf(id), 0) << "round " << round;
    held->Destroy();
    ASSERT_EQ(Controller->Devices().size(), 1u);
  }
  ExpectCleanShutdown();
}

}  // namespace
}  // namespace glowstep::testing
