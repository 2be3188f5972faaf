// The reader and the writer on a socketpair(AF_UNIX, SOCK_SEQPACKET) standing in for a hidraw
// node: one message is one report, and closing the far end is an unplug.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "hid/platform/linux/linux_platform.h"
#include "testing/thread_stats.h"
#include "testing/waiting.h"

namespace glowstep {
namespace {

using namespace std::chrono_literals;
using TBytes = std::vector<std::uint8_t>;

// The byte count of a completed read, or none when it failed.
std::optional<std::uint32_t> ResultOf(TPlatformRead& read, THidHandle handle) {
  std::uint32_t count = 0;
  if (!read.Result(handle, count)) return std::nullopt;
  return count;
}

bool IsOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

class ReadWrite : public ::testing::Test {
 protected:
  void SetUp() override {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
    NodeFd = pair[0];
    Device = pair[1];
  }
  void TearDown() override {
    if (Device >= 0) close(Device);
    Device = -1;
  }

  THidHandle Adopt(bool numbered) {
    return Platform.AdoptDescriptor(NodeFd, TFileAccess::ReadWrite, numbered);
  }

  void Send(const TBytes& report) {
    ASSERT_EQ(write(Device, report.data(), report.size()), static_cast<ssize_t>(report.size()));
  }

  void Unplug() {
    close(Device);
    Device = -1;
  }

  TLinuxHidPlatform Platform;
  int NodeFd = -1;
  int Device = -1;  // the device's end
};

TEST_F(ReadWrite, ReportsArriveInOrderWithAReportIdByteFirst) {
  for (const bool numbered : {false, true}) {
    SCOPED_TRACE(numbered ? "numbered reports" : "no report IDs");
    if (numbered) {
      TearDown();
      SetUp();
    }
    const THidHandle handle = Adopt(numbered);
    auto read = Platform.CreateRead();
    TBytes first(64, 0x11);
    TBytes second(64, 0x22);
    TBytes shortOne = {0x33, 0x34};
    if (numbered) {
      first[0] = 7;
      second[0] = 9;
      shortOne[0] = 7;
    }
    Send(first);
    Send(second);
    Send(shortOne);
    for (const TBytes* sent : {&first, &second, &shortOne}) {
      TBytes buffer(65, 0xEE);
      ASSERT_TRUE(read->Begin(handle, buffer.data(), 65));
      ASSERT_EQ(read->Wait(100), kWaitIoCompletion);
      std::uint32_t count = 0;
      ASSERT_TRUE(read->Result(handle, count));
      // A device without report IDs gets a 0 in front: the ID byte it does not send.
      TBytes expected(sent->size() + (numbered ? 0 : 1), 0);
      std::copy(sent->begin(), sent->end(), expected.end() - std::ssize(*sent));
      ASSERT_EQ(count, expected.size());
      EXPECT_EQ(TBytes(buffer.begin(), buffer.begin() + count), expected);
    }
    read.reset();
    EXPECT_TRUE(Platform.CloseFile(handle));
    EXPECT_FALSE(IsOpen(NodeFd));
  }
}

TEST_F(ReadWrite, AWriteIsOneMessageOfTheWholeBufferIdFirst) {
  const THidHandle handle = Adopt(false);
  TBytes report(65, 0);
  report[1] = 'w';
  report[64] = 0x5A;
  std::uint32_t written = 0;
  ASSERT_TRUE(Platform.WriteFile(handle, report.data(), 65, written));
  EXPECT_EQ(written, 65u);
  TBytes received(100, 0);
  ASSERT_EQ(read(Device, received.data(), received.size()), 65);
  received.resize(65);
  EXPECT_EQ(received, report);

  Unplug();
  EXPECT_FALSE(Platform.WriteFile(handle, report.data(), 65, written));
  EXPECT_EQ(Platform.LastError(), kErrorDeviceNotConnected);
  EXPECT_EQ(written, 0u);
  // A query handle carries no descriptor and writes nothing.
  const THidHandle query = Platform.AdoptDescriptor(-1, TFileAccess::None, false);
  EXPECT_FALSE(Platform.WriteFile(query, report.data(), 65, written));
  EXPECT_EQ(Platform.LastError(), kErrorAccessDenied);
}

// hidraw's write() waits in the kernel while the device takes nothing; a full socket does the
// same. The write fails at the time limit, and the node stays open for it until it has ended.
TEST_F(ReadWrite, AReportTheDeviceDoesNotTakeFailsAtTheTimeLimit) {
  const TBytes filler(65, 0x11);
  int queued = 0;
  while (send(NodeFd, filler.data(), filler.size(), MSG_DONTWAIT) > 0) ++queued;
  ASSERT_EQ(errno, EAGAIN);
  const THidHandle handle = Adopt(false);
  Platform.SetWriteTimeLimit(100ms);
  const TBytes report(65, 0x22);
  std::uint32_t written = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Platform.WriteFile(handle, report.data(), 65, written));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(Platform.LastError(), kErrorTimeout);
  EXPECT_GE(took, 100ms);
  EXPECT_LT(took, kPatience);  // the device takes nothing until it is read below
  // Closed under the write the kernel still holds: the device takes the queued reports and that
  // one, and only then sees the node close.
  EXPECT_TRUE(Platform.CloseFile(handle));
  TBytes received(100, 0);
  for (int i = 0; i < queued; ++i) ASSERT_EQ(read(Device, received.data(), received.size()), 65);
  ASSERT_EQ(read(Device, received.data(), received.size()), 65);
  EXPECT_EQ(TBytes(received.begin(), received.begin() + 65), report);
  EXPECT_EQ(read(Device, received.data(), received.size()), 0);  // the node closed
}

TEST_F(ReadWrite, AFailedWriteIsWordedByTheSystem) {
  // A descriptor that cannot be written: the system's own reason comes back.
  const int readOnly = open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(readOnly, 0);
  const THidHandle handle = Platform.AdoptDescriptor(readOnly, TFileAccess::ReadWrite, false);
  const TBytes report(65, 0);
  std::uint32_t written = 0;
  EXPECT_FALSE(Platform.WriteFile(handle, report.data(), 65, written));
  EXPECT_EQ(Platform.LastErrorText(), std::error_code(EBADF, std::generic_category()).message());
  // A failure the backend decides itself is worded from its code.
  EXPECT_FALSE(Platform.WriteFile(handle + 100, report.data(), 65, written));
  EXPECT_EQ(Platform.LastErrorText(), ErrorCodeText(kErrorInvalidHandle));
  EXPECT_EQ(Platform.LastErrorText(), "the device is not open");
  Platform.CloseFile(handle);
}

TEST_F(ReadWrite, AWaitingReadWakesForStopAndForUnplugOnly) {
  const THidHandle handle = Adopt(false);
  auto read = Platform.CreateRead();
  TBytes buffer(65, 0);
  std::atomic<long> tid{0};
  std::atomic<std::uint32_t> result{~0u};
  std::atomic<std::uint32_t> error{0};
  ASSERT_TRUE(read->Begin(handle, buffer.data(), 65));
  std::thread reader([&] {
    tid = static_cast<long>(syscall(SYS_gettid));
    // A slice of 10 ms: an idle read still sleeps right through it.
    result = read->Wait(10);
    error = Platform.LastError();
  });
  EXPECT_TRUE(AwaitOtherThread([&] { return tid != 0 && ThreadSleeps(tid); }));  // in poll()
  // A timing rule: the read sleeps right through its slices while nothing happens. Fifty of
  // them pass in this window, and a wake-up in any would count; a loaded machine changes
  // nothing, as a sleeping thread is never preempted.
  const long long before = ContextSwitchesOfThread(tid);
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(ContextSwitchesOfThread(tid) - before, 0);
  EXPECT_EQ(result, ~0u);

  read->Wake();  // a stop: the read stays outstanding
  reader.join();
  EXPECT_EQ(result, kWaitTimeout);

  tid = 0;
  std::thread unplugged([&] {
    tid = static_cast<long>(syscall(SYS_gettid));
    result = read->Wait(10);
    error = Platform.LastError();
  });
  EXPECT_TRUE(AwaitOtherThread([&] { return tid != 0 && ThreadSleeps(tid); }));  // in poll()
  Unplug();
  unplugged.join();
  EXPECT_EQ(result, kWaitIoCompletion);
  EXPECT_EQ(ResultOf(*read, handle), std::nullopt);
  EXPECT_EQ(error, kErrorDeviceNotConnected);
  // The node stays dead: the next read does not start, and says why.
  EXPECT_FALSE(read->Begin(handle, buffer.data(), 65));
  EXPECT_EQ(Platform.LastError(), kErrorDeviceNotConnected);
}

TEST_F(ReadWrite, ReportsWaitingAtAnUnplugAreStillDelivered) {
  const THidHandle handle = Adopt(false);
  auto read = Platform.CreateRead();
  Send(TBytes(64, 0x42));
  Unplug();
  TBytes buffer(65, 0);
  ASSERT_TRUE(read->Begin(handle, buffer.data(), 65));
  ASSERT_EQ(read->Wait(10), kWaitIoCompletion);
  EXPECT_EQ(ResultOf(*read, handle), 65u);
  ASSERT_TRUE(read->Begin(handle, buffer.data(), 65));
  ASSERT_EQ(read->Wait(10), kWaitIoCompletion);
  EXPECT_EQ(ResultOf(*read, handle), std::nullopt);
}

TEST_F(ReadWrite, ADescriptorIsClosedOnlyOnceNoReadPollsIt) {
  const THidHandle handle = Adopt(false);
  auto read = Platform.CreateRead();
  TBytes buffer(65, 0);
  ASSERT_TRUE(read->Begin(handle, buffer.data(), 65));
  // Closing the handle under the outstanding read ends the read but keeps the descriptor, so
  // its number cannot go to another file while the read still polls it.
  EXPECT_TRUE(Platform.CloseFile(handle));
  EXPECT_TRUE(IsOpen(NodeFd));
  EXPECT_EQ(read->Wait(10000), kWaitIoCompletion);  // at once, not after the slice
  EXPECT_EQ(ResultOf(*read, handle), std::nullopt);
  EXPECT_EQ(Platform.LastError(), kErrorOperationAborted);
  EXPECT_FALSE(IsOpen(NodeFd));
  EXPECT_FALSE(Platform.CloseFile(handle));
  EXPECT_FALSE(read->Begin(handle, buffer.data(), 65));
  EXPECT_EQ(Platform.LastError(), kErrorInvalidHandle);
}

TEST_F(ReadWrite, ACancelledReadLeavesTheBufferAlone) {
  const THidHandle handle = Adopt(false);
  auto read = Platform.CreateRead();
  TBytes buffer(65, 0xEE);
  ASSERT_TRUE(read->Begin(handle, buffer.data(), 65));
  EXPECT_TRUE(read->Cancel(handle));
  Send(TBytes(64, 0x42));
  EXPECT_EQ(read->Wait(20), kWaitTimeout);  // no read outstanding: just the slice
  EXPECT_EQ(buffer, TBytes(65, 0xEE));
  EXPECT_FALSE(read->Cancel(handle));
  // The report is still queued for the next read.
  ASSERT_TRUE(read->Begin(handle, buffer.data(), 65));
  ASSERT_EQ(read->Wait(10), kWaitIoCompletion);
  EXPECT_EQ(ResultOf(*read, handle), 65u);
  // Only one read at a time on a handle.
  auto other = Platform.CreateRead();
  ASSERT_TRUE(read->Begin(handle, buffer.data(), 65));
  EXPECT_FALSE(other->Begin(handle, buffer.data(), 65));
}

}  // namespace
}  // namespace glowstep
