// The overlapped read on its own, with real completion routines: a named pipe opened for
// overlapped reading, and wine's HID mouse, whose reads stay outstanding until cancelled.
#include <thread>

#include "hid/platform/windows/pipe_fixture.h"
#include "hid/platform/windows/windows_internal.h"
#include "tests/hid/windows/windows_test_support.h"

namespace glowstep::testing {
namespace {

THidHandle AsHidHandle(HANDLE handle) { return reinterpret_cast<THidHandle>(handle); }

TEST(OverlappedRead, WakeAndCancelEndAReadWithoutTakingItsReport) {
  TWindowsPlatform platform;
  TStandInPipe pipe;
  const HANDLE server = pipe.AddInstance();
  const HANDLE client = CreateFileA(pipe.Path().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(client, INVALID_HANDLE_VALUE);
  auto read = platform.CreateRead();
  std::vector<std::uint8_t> buffer(65, 0xEE);
  const std::vector<std::uint8_t> report(65, 0x42);

  ASSERT_TRUE(read->Begin(AsHidHandle(client), buffer.data(), 65));
  EXPECT_FALSE(read->Begin(AsHidHandle(client), buffer.data(), 65));  // one at a time
  // Meant to come during the wait; on a busy machine it may come before it, which the wake
  // event keeps, so the wait ends the same way.
  std::thread waker([&] {
    std::this_thread::sleep_for(50ms);
    read->Wake();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(read->Wait(10000), kWaitTimeout);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  waker.join();

  EXPECT_TRUE(read->Cancel(AsHidHandle(client)));
  // The cancelled read's completion has run inside Cancel: no later wait takes it for a report,
  // and the report sent now stays in the pipe for the next read.
  ASSERT_TRUE(TStandInPipe::Send(server, report));
  EXPECT_EQ(read->Wait(50), kWaitTimeout);
  EXPECT_EQ(buffer[0], 0xEE);
  EXPECT_FALSE(read->Cancel(AsHidHandle(client)));  // nothing outstanding

  ASSERT_TRUE(read->Begin(AsHidHandle(client), buffer.data(), 65));
  EXPECT_EQ(read->Wait(2000), kWaitIoCompletion);
  std::uint32_t count = 0;
  EXPECT_TRUE(read->Result(AsHidHandle(client), count));
  EXPECT_EQ(count, 65u);
  EXPECT_EQ(buffer, report);
  CloseHandle(client);
}

TEST(OverlappedRead, ReadsOfWinesMouseAreCancelledCleanlyTimeAfterTime) {
  TWindowsPlatform platform;
  const THidHandle mouse = platform.OpenFile(
      "\\\\?\\hid#vid_845e&pid_0001#0&0000&0&0#{4d1e55b2-f16f-11cf-88cb-001111000030}",
      TFileAccess::Read, true);
  ASSERT_NE(mouse, kInvalidHandle) << "wine's HID mouse";
  auto read = platform.CreateRead();
  std::vector<std::uint8_t> buffer(64, 0xEE);
  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(read->Begin(mouse, buffer.data(), 64)) << platform.LastError();
    read->Wake();  // the wait for an outstanding read ends only so, or with the read
    EXPECT_EQ(read->Wait(30), kWaitTimeout);
    EXPECT_TRUE(read->Cancel(mouse));
    EXPECT_EQ(read->Wait(10), kWaitTimeout);
    std::uint32_t count = 0;
    EXPECT_FALSE(read->Result(mouse, count));
  }
  EXPECT_EQ(buffer[0], 0xEE);
  EXPECT_TRUE(platform.CloseFile(mouse));
}

TEST(OverlappedRead, ACancelThatIsNotCompletedInTimeFailsWithItsOwnError) {
  TStandInPipe pipe;
  pipe.AddInstance();
  const HANDLE client = CreateFileA(pipe.Path().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(client, INVALID_HANDLE_VALUE);
  auto read = windows::CreateOverlappedRead(200);
  std::vector<std::uint8_t> buffer(65, 0xEE);
  // The read is started on a thread of its own, so the cancel from this one reaches nothing and
  // the completion routine cannot run in its waits: a driver that never completes a cancel.
  const HANDLE begun = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  const HANDLE finish = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread starter([&] {
    EXPECT_TRUE(read->Begin(AsHidHandle(client), buffer.data(), 65));
    SetEvent(begun);
    // Later the handle closes under the read; its routine then runs here, on the request that
    // was left to the system.
    while (WaitForSingleObjectEx(finish, INFINITE, TRUE) != WAIT_OBJECT_0) {
    }
    SleepEx(100, TRUE);
  });
  WaitForSingleObject(begun, INFINITE);

  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(read->Cancel(AsHidHandle(client)));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  read.reset();
  CloseHandle(client);
  SetEvent(finish);
  starter.join();
  EXPECT_EQ(buffer[0], 0xEE);
  CloseHandle(begun);
  CloseHandle(finish);
}

}  // namespace
}  // namespace glowstep::testing
