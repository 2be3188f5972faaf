// The whole HID stack on the Windows backend over the platform's own files, reads and window, with
// a named pipe standing in for the staircase controller (see pipe_fixture.h).
#include <thread>

#include "hid/hid_device_controller.h"
#include "hid/platform/windows/pipe_fixture.h"
#include "hid/platform/windows/windows_backend.h"
#include "tests/hid/windows/windows_test_support.h"

namespace glowstep::testing {
namespace {

class PipeDevice : public ::testing::Test {
 protected:
  void MakeController() {
    Controller = std::make_unique<THidDeviceController>(Backend, Loop);
    Controller->SetOnArrival(THidPlugEvent([this](THidDevice*) { Events.push_back("arrival"); }));
    Controller->SetOnRemoval(THidPlugEvent([this](THidDevice*) { Events.push_back("removal"); }));
    Controller->SetDevThreadSleepTime(20);
    Controller->SetOnDeviceData(THidDataEvent(
        [this](THidDevice*, std::uint8_t id, const std::uint8_t* data, std::uint16_t size) {
          Deliveries.push_back(std::vector<std::uint8_t>(data, data + size));
          Deliveries.back().insert(Deliveries.back().begin(), id);
        }));
    Controller->SetOnDeviceDataError(
        THidDataErrorEvent([this](THidDevice*, std::uint32_t error) { Errors.push_back(error); }));
    Controller->SetOnError(THidErrorEvent([this](THidDeviceController*, const TMessage& message) {
      Messages.push_back(message.English());
    }));
  }

  // Makes the controller, lets the device arrive and checks it out: its reader starts and its
  // first read is outstanding when this returns.
  THidDevice* CheckedOutDevice() {
    MakeController();
    EXPECT_TRUE(PumpUntil(Loop, [&] { return Controller->Devices().size() == 1; }));
    THidDevice* device = nullptr;
    EXPECT_TRUE(Controller->CheckOutAt(device, 0));
    EXPECT_TRUE(device != nullptr && device->HasReader());
    EXPECT_TRUE(PumpUntil(Loop, [&] { return Platform.WaitsBegun() > 0; }));
    return device;
  }

  void Refresh() { SendMessageA(NotifyWindow(), WM_DEVICECHANGE, kDbtDevNodesChanged, 0); }

  static std::vector<std::uint8_t> Report(std::uint8_t kind, std::uint8_t tag) {
    std::vector<std::uint8_t> report(65, 0);
    report[1] = kind;
    report[2] = tag;
    return report;
  }

  TMainLoop Loop;
  TStandInPipe Pipe;
  TPipePlatform Platform{Pipe};
  TWindowsHidBackend Backend{Platform};
  std::unique_ptr<THidDeviceController> Controller;
  std::vector<std::string> Events;
  std::vector<std::vector<std::uint8_t>> Deliveries;
  std::vector<std::uint32_t> Errors;
  std::vector<std::string> Messages;  // the controller's error event
};

TEST_F(PipeDevice, ARequestGoesOutAndItsRepliesComeBackInOrder) {
  THidDevice* device = CheckedOutDevice();
  ASSERT_NE(device, nullptr);
  std::uint32_t written = 0;
  ASSERT_FALSE(device->WriteReport(Report('r', 0).data(), 65, written));
  EXPECT_EQ(written, 65u);
  EXPECT_EQ(TStandInPipe::Receive(Platform.ServerOf(TFileAccess::ReadWrite)), Report('r', 0));

  const HANDLE readServer = Platform.ServerOf(TFileAccess::Read);
  ASSERT_TRUE(TStandInPipe::Send(readServer, Report('r', 1)));
  ASSERT_TRUE(TStandInPipe::Send(readServer, Report('r', 2)));
  ASSERT_TRUE(PumpUntil(Loop, [&] { return Deliveries.size() == 2; }));
  EXPECT_EQ(Deliveries[0], Report('r', 1));  // report ID, then the 64 data bytes
  EXPECT_EQ(Deliveries[1], Report('r', 2));
  EXPECT_TRUE(Errors.empty());
}

TEST_F(PipeDevice, StoppingTheReaderCancelsItsReadAtOnceAndClosesItsHandle) {
  THidDevice* device = CheckedOutDevice();
  ASSERT_NE(device, nullptr);
  const HANDLE readServer = Platform.ServerOf(TFileAccess::Read);
  device->SetSleepTime(10000);  // the stop must not wait for the slice to end
  const auto start = std::chrono::steady_clock::now();
  device->AssignDataHandler(nullptr);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  // The read handle goes with the reader: no report is queued for nobody.
  EXPECT_TRUE(TStandInPipe::ClientGone(readServer));
  PumpPending(Loop);
  EXPECT_TRUE(Deliveries.empty());
  EXPECT_TRUE(Errors.empty());
  device->Destroy();
}

TEST_F(PipeDevice, AnUnplugFoundByARefreshMakesTheReaderLetGoAndReportEverySlice) {
  THidDevice* device = CheckedOutDevice();
  ASSERT_NE(device, nullptr);
  const HANDLE readServer = Platform.ServerOf(TFileAccess::Read);
  Platform.Present = false;
  Refresh();
  EXPECT_EQ(Events, (std::vector<std::string>{"arrival", "removal"}));
  // The reader cancels its outstanding read and closes the handle, on its own thread; then,
  // while the application holds the object, it reports once per slice that it cannot read.
  ASSERT_TRUE(PumpUntil(Loop, [&] { return TStandInPipe::ClientGone(readServer); }));
  ASSERT_TRUE(PumpUntil(Loop, [&] { return Errors.size() >= 3; }));
  EXPECT_TRUE(Deliveries.empty());
  device->Destroy();
  EXPECT_TRUE(Controller->Devices().empty());
  const std::size_t errors = Errors.size();
  PumpPending(Loop);  // the reader has ended with the object
  EXPECT_EQ(Errors.size(), errors);
}

TEST_F(PipeDevice, TheDeviceVanishingUnderAReadIsReportedAsABrokenPipe) {
  THidDevice* device = CheckedOutDevice();
  ASSERT_NE(device, nullptr);
  Pipe.CloseAll();  // the read completes with no bytes, which is dropped; the next cannot start
  ASSERT_TRUE(PumpUntil(Loop, [&] { return Errors.size() >= 2; }));
  EXPECT_EQ(Errors[0], static_cast<std::uint32_t>(ERROR_BROKEN_PIPE));
  EXPECT_TRUE(Deliveries.empty());
  Platform.Present = false;
  Refresh();
  device->Destroy();
  EXPECT_TRUE(Controller->Devices().empty());
}

TEST_F(PipeDevice, ARefreshThatFailsInTheWindowIsToldFromTheLoopAndTheNextOneWorks) {
  Platform.Listening = false;
  MakeController();
  // The first refresh runs from the loop.
  ASSERT_TRUE(PumpUntil(Loop, [&] { return !Messages.empty(); }));
  EXPECT_EQ(Messages, std::vector<std::string>{kDeviceCannotBeOpened.English});
  Refresh();  // this one from the window procedure, which tells nothing inside the dispatch
  EXPECT_EQ(Messages.size(), 1u);
  PumpPending(Loop);
  EXPECT_EQ(Messages.size(), 2u);
  Platform.Listening = true;
  Refresh();
  EXPECT_EQ(Controller->Devices().size(), 1u);
  EXPECT_EQ(Events, std::vector<std::string>{"arrival"});
}

TEST_F(PipeDevice, AWriteTheDeviceNeverTakesFailsWithinTheTimeLimitAndNothingOfItGoesOut) {
  THidDevice* device = CheckedOutDevice();
  ASSERT_NE(device, nullptr);
  // The stand-in takes this many reports and then no more until they are read, as a device that
  // stops taking its output reports.
  const int taken = static_cast<int>(TStandInPipe::kBufferSize / 65);
  std::uint32_t written = 0;
  for (int i = 0; i < taken; ++i)
    ASSERT_FALSE(
        device->WriteReport(Report('w', static_cast<std::uint8_t>(i)).data(), 65, written));
  const HANDLE server = Platform.ServerOf(TFileAccess::ReadWrite);

  // Should the write wait for ever, the reports are read after a while so that the test ends.
  const HANDLE writeEnded = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::vector<std::vector<std::uint8_t>> received;
  std::thread drainer([&] {
    if (WaitForSingleObject(writeEnded, 5000) == WAIT_TIMEOUT)
      while (!TStandInPipe::Receive(server).empty()) received.emplace_back();
  });
  const auto start = std::chrono::steady_clock::now();
  const THidError error = device->WriteReport(Report('w', 0xEE).data(), 65, written);
  const auto took = std::chrono::steady_clock::now() - start;
  SetEvent(writeEnded);
  drainer.join();
  CloseHandle(writeEnded);

  EXPECT_EQ(error.Code, static_cast<std::uint32_t>(ERROR_TIMEOUT));
  EXPECT_GE(took, kDefaultWriteTimeLimit - 50ms);
  EXPECT_LT(took, kDefaultWriteTimeLimit + 2s);
  EXPECT_EQ(written, 0u);
  // The reports before it went out in order; the one given up on never reaches the device, and
  // the next write goes out as usual.
  for (std::vector<std::uint8_t> bytes; !(bytes = TStandInPipe::Receive(server)).empty();)
    received.push_back(bytes);
  ASSERT_EQ(received.size(), static_cast<std::size_t>(taken));
  for (int i = 0; i < taken; ++i)
    EXPECT_EQ(received[static_cast<std::size_t>(i)], Report('w', static_cast<std::uint8_t>(i)));
  ASSERT_FALSE(device->WriteReport(Report('w', 0xEF).data(), 65, written));
  EXPECT_EQ(TStandInPipe::Receive(server), Report('w', 0xEF));
}

TEST_F(PipeDevice, AReportOfAnotherLengthThanTheOutputReportIsRefusedBeforeItGoesOut) {
  THidDevice* device = CheckedOutDevice();
  ASSERT_NE(device, nullptr);
  std::uint32_t written = 0;
  for (std::uint32_t length : {64u, 66u}) {
    const std::vector<std::uint8_t> report(length, 0x11);
    EXPECT_EQ(device->WriteReport(report.data(), length, written).Code,
              static_cast<std::uint32_t>(ERROR_BAD_LENGTH))
        << length;
    EXPECT_EQ(written, 0u);
  }
  const HANDLE server = Platform.ServerOf(TFileAccess::ReadWrite);
  EXPECT_TRUE(TStandInPipe::Receive(server).empty());
  ASSERT_FALSE(device->WriteReport(Report('r', 0).data(), 65, written));
  EXPECT_EQ(TStandInPipe::Receive(server), Report('r', 0));
}

TEST_F(PipeDevice, ReadsThatCompleteWithAnErrorAreReportedOncePerSliceWithoutSpinning) {
  THidDevice* device = CheckedOutDevice();
  ASSERT_NE(device, nullptr);
  // A message far longer than a report: every read takes 65 bytes of it and completes with
  // ERROR_MORE_DATA, like a driver that takes each read and then fails it.
  ASSERT_TRUE(TStandInPipe::Send(Platform.ServerOf(TFileAccess::Read),
                                 std::vector<std::uint8_t>(65 * 60, 0x5A)));
  // A timing rule: one error per slice at most. A loaded machine only makes the slices longer.
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(PumpUntil(Loop, [&] { return Errors.size() >= 5; }));
  const auto slices = (std::chrono::steady_clock::now() - start) / 20ms;
  for (std::uint32_t error : Errors) EXPECT_EQ(error, static_cast<std::uint32_t>(ERROR_MORE_DATA));
  EXPECT_LE(static_cast<std::int64_t>(Errors.size()), slices + 2);
  EXPECT_TRUE(Deliveries.empty());
}

TEST_F(PipeDevice, AnIdleReaderSleepsUntilAReportComes) {
  THidDevice* device = CheckedOutDevice();
  ASSERT_NE(device, nullptr);
  const std::int64_t waits = Platform.WaitsReturned();
  // A timing rule: the reader sleeps through its slices while nothing comes. Fifteen of 20 ms
  // pass in this window, and a wake-up in any would count; a loaded machine adds none.
  PumpFor(Loop, 300ms);
  EXPECT_EQ(Platform.WaitsReturned(), waits);
  ASSERT_TRUE(TStandInPipe::Send(Platform.ServerOf(TFileAccess::Read), Report('r', 7)));
  ASSERT_TRUE(PumpUntil(Loop, [&] { return Deliveries.size() == 1; }));
  EXPECT_EQ(Deliveries[0], Report('r', 7));
  EXPECT_GT(Platform.WaitsReturned(), waits);
}

TEST_F(PipeDevice, AControllerBuiltOffTheMainThreadRunsWithoutNotificationsAndSaysSo) {
  std::thread([&] { MakeController(); }).join();
  EXPECT_FALSE(Controller->WatchesDeviceChanges());
  // The first refresh still runs, from the main loop.
  ASSERT_TRUE(PumpUntil(Loop, [&] { return Controller->Devices().size() == 1; }));
  EXPECT_EQ(Messages,
            std::vector<std::string>{THidDeviceController::kDeviceChangesNotFollowed.English});
  Controller.reset();
}

TEST_F(PipeDevice, ARefreshReachesThisControllerWhateverOtherNotificationWindowsThereAre) {
  MakeController();
  ASSERT_TRUE(PumpUntil(Loop, [&] { return Controller->Devices().size() == 1; }));
  // Another program's controller: a window of the same class, made later, on another thread.
  const HANDLE made = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD otherThread = 0;
  std::thread other([&] {
    otherThread = GetCurrentThreadId();
    const HWND window = CreateWindowExA(WS_EX_TOOLWINDOW, kNotifyWindowClass, "", WS_POPUP, 0, 0, 0,
                                        0, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    SetEvent(made);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
    DestroyWindow(window);
  });
  WaitForSingleObject(made, INFINITE);
  CloseHandle(made);

  Platform.Present = false;
  Refresh();
  EXPECT_EQ(Events, (std::vector<std::string>{"arrival", "removal"}));
  PostThreadMessageA(otherThread, WM_QUIT, 0, 0);
  other.join();
}

}  // namespace
}  // namespace glowstep::testing
