// The hidraw connection on a socketpair(AF_UNIX, SOCK_SEQPACKET) standing in for a hidraw node:
// one message is one report, and closing the far end is an unplug.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "hid/platform/linux/linux_backend.h"
#include "testing/thread_stats.h"
#include "testing/waiting.h"

namespace glowstep {
namespace {

using namespace std::chrono_literals;
using TBytes = std::vector<std::uint8_t>;

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

  std::shared_ptr<THidConnection> Adopt(bool numbered) {
    return Backend.AdoptDescriptor(NodeFd, numbered);
  }

  void Send(const TBytes& report) {
    ASSERT_EQ(write(Device, report.data(), report.size()), static_cast<ssize_t>(report.size()));
  }

  void Unplug() {
    close(Device);
    Device = -1;
  }

  TLinuxHidBackend Backend;
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
    auto connection = Adopt(numbered);
    EXPECT_EQ(Backend.OpenConnectionCount(), 1u);
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
      ASSERT_FALSE(connection->ReadStartError());
      const THidReadResult result = connection->Read(buffer);
      ASSERT_FALSE(result.Error);
      ASSERT_FALSE(result.Woken);
      // A device without report IDs gets a 0 in front: the ID byte it does not send.
      TBytes expected(sent->size() + (numbered ? 0 : 1), 0);
      std::copy(sent->begin(), sent->end(), expected.end() - std::ssize(*sent));
      ASSERT_EQ(result.Count, expected.size());
      EXPECT_EQ(TBytes(buffer.begin(), buffer.begin() + result.Count), expected);
    }
    connection.reset();
    EXPECT_FALSE(IsOpen(NodeFd));
    EXPECT_EQ(Backend.OpenConnectionCount(), 0u);
  }
}

TEST_F(ReadWrite, AWriteIsOneMessageOfTheWholeBufferIdFirst) {
  const auto connection = Adopt(false);
  TBytes report(65, 0);
  report[1] = 'w';
  report[64] = 0x5A;
  std::uint32_t written = 0;
  ASSERT_FALSE(connection->Write(report, written, kDefaultWriteTimeLimit));
  EXPECT_EQ(written, 65u);
  TBytes received(100, 0);
  ASSERT_EQ(read(Device, received.data(), received.size()), 65);
  received.resize(65);
  EXPECT_EQ(received, report);

  Unplug();
  written = 0;
  EXPECT_EQ(connection->Write(report, written, kDefaultWriteTimeLimit).Code,
            kErrorDeviceNotConnected);
  EXPECT_EQ(written, 0u);
  // A description-only connection carries no descriptor and writes nothing.
  const auto query = Backend.AdoptDescriptor(-1, false);
  EXPECT_EQ(query->Write(report, written, kDefaultWriteTimeLimit).Code, kErrorAccessDenied);
}

// hidraw's write() waits in the kernel while the device takes nothing; a full socket does the
// same. The write fails at the time limit, and the node stays open for it until it has ended.
TEST_F(ReadWrite, AReportTheDeviceDoesNotTakeFailsAtTheTimeLimit) {
  const TBytes filler(65, 0x11);
  int queued = 0;
  while (send(NodeFd, filler.data(), filler.size(), MSG_DONTWAIT) > 0) ++queued;
  ASSERT_EQ(errno, EAGAIN);
  auto connection = Adopt(false);
  const TBytes report(65, 0x22);
  std::uint32_t written = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(connection->Write(report, written, 100ms).Code, kErrorTimeout);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, 100ms);
  EXPECT_LT(took, kPatience);  // the device takes nothing until it is read below
  // Closed under the write the kernel still holds: the device takes the queued reports and that
  // one, and only then sees the node close.
  connection.reset();
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
  const auto connection = Backend.AdoptDescriptor(readOnly, false);
  const TBytes report(65, 0);
  std::uint32_t written = 0;
  const THidError refused = connection->Write(report, written, kDefaultWriteTimeLimit);
  EXPECT_EQ(refused.Cause, EBADF);
  EXPECT_EQ(HidErrorMessage(refused).English(),
            std::error_code(EBADF, std::generic_category()).message());
  // A failure the backend decides itself is worded from its code.
  const THidError none = Backend.AdoptDescriptor(-1, false)->Write(report, written, 100ms);
  EXPECT_EQ(none.Cause, 0);
  EXPECT_EQ(HidErrorMessage(none).English(), ErrorCodeText(kErrorAccessDenied));
  EXPECT_EQ(HidErrorMessage(none).English(), "access denied");
}

TEST_F(ReadWrite, AWaitingReadWakesForStopAndForUnplugOnly) {
  const auto connection = Adopt(false);
  TBytes buffer(65, 0);
  std::atomic<long> tid{0};
  THidReadResult result;
  std::atomic<bool> returned{false};
  std::thread reader([&] {
    tid = static_cast<long>(syscall(SYS_gettid));
    result = connection->Read(buffer);
    returned = true;
  });
  EXPECT_TRUE(AwaitOtherThread([&] { return tid != 0 && ThreadSleeps(tid); }));  // in poll()
  // A timing rule: the read sleeps right through while nothing happens. Any wake-up in this
  // window would count; a loaded machine changes nothing, as a sleeping thread is never
  // preempted.
  const long long before = ContextSwitchesOfThread(tid);
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(ContextSwitchesOfThread(tid) - before, 0);
  EXPECT_FALSE(returned);

  connection->Wake();  // a stop: nothing was read
  reader.join();
  EXPECT_TRUE(result.Woken);
  EXPECT_FALSE(result.Error);
  EXPECT_EQ(result.Count, 0u);

  tid = 0;
  std::thread unplugged([&] {
    tid = static_cast<long>(syscall(SYS_gettid));
    result = connection->Read(buffer);
  });
  EXPECT_TRUE(AwaitOtherThread([&] { return tid != 0 && ThreadSleeps(tid); }));  // in poll()
  Unplug();
  unplugged.join();
  EXPECT_FALSE(result.Woken);
  EXPECT_EQ(result.Error.Code, kErrorDeviceNotConnected);
  // The node stays dead: the next read does not start, and says why.
  EXPECT_EQ(connection->ReadStartError().Code, kErrorDeviceNotConnected);
  EXPECT_EQ(connection->Status().Code, kErrorDeviceNotConnected);
}

TEST_F(ReadWrite, ReportsWaitingAtAnUnplugAreStillDelivered) {
  const auto connection = Adopt(false);
  Send(TBytes(64, 0x42));
  Unplug();
  TBytes buffer(65, 0);
  const THidReadResult first = connection->Read(buffer);
  EXPECT_FALSE(first.Error);
  EXPECT_EQ(first.Count, 65u);
  EXPECT_EQ(connection->Read(buffer).Error.Code, kErrorDeviceNotConnected);
}

TEST_F(ReadWrite, ADescriptorIsClosedOnlyOnceNoReadPollsIt) {
  auto connection = Adopt(false);
  TBytes buffer(65, 0);
  std::atomic<long> tid{0};
  THidReadResult result;
  // The reader holds its own share of the connection while it reads.
  std::thread reader([&, share = connection] {
    tid = static_cast<long>(syscall(SYS_gettid));
    result = share->Read(buffer);
  });
  EXPECT_TRUE(AwaitOtherThread([&] { return tid != 0 && ThreadSleeps(tid); }));  // in poll()
  // Let go of under the read: the descriptor stays, so its number cannot go to another file
  // while the read still polls it.
  const std::weak_ptr<THidConnection> left = connection;
  connection.reset();
  EXPECT_TRUE(IsOpen(NodeFd));
  left.lock()->Wake();
  reader.join();
  EXPECT_TRUE(result.Woken);
  EXPECT_FALSE(IsOpen(NodeFd));
  EXPECT_EQ(Backend.OpenConnectionCount(), 0u);
}

TEST_F(ReadWrite, AWakeBeforeTheReadEndsItAndLeavesTheBufferAlone) {
  const auto connection = Adopt(false);
  TBytes buffer(65, 0xEE);
  connection->Wake();
  Send(TBytes(64, 0x42));
  const THidReadResult woken = connection->Read(buffer);
  EXPECT_TRUE(woken.Woken);
  EXPECT_EQ(woken.Count, 0u);
  EXPECT_EQ(buffer, TBytes(65, 0xEE));
  // The wake is spent, and the report is still queued for the next read.
  const THidReadResult next = connection->Read(buffer);
  EXPECT_FALSE(next.Woken);
  EXPECT_EQ(next.Count, 65u);
  EXPECT_EQ(buffer[1], 0x42);
}

}  // namespace
}  // namespace glowstep
