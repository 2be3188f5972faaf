#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "hid/main_loop.h"
#include "testing/waiting.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace glowstep {
namespace {

TEST(MainThreadPort, HandOffRunsOnTheMainThreadAndBlocksTheCaller) {
  TMainLoop loop;
  std::atomic<bool> returned{false};
  std::thread::id ranOn;
  std::thread worker([&] {
    loop.Synchronize([&] { ranOn = std::this_thread::get_id(); });
    returned = true;
  });
  // The worker waits in its hand-off: nothing has run the main loop yet.
  ASSERT_TRUE(AwaitOtherThread([&] { return loop.WaitingHandOffs() == 1; }));
  EXPECT_FALSE(returned);
  EXPECT_TRUE(loop.RunUntil([&] { return returned.load(); }, kPatience));
  worker.join();
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(MainThreadPort, DrainRunsHandOffsWhileTheMainThreadWaits) {
  TMainLoop loop;
  std::atomic<bool> finished{false};
  int handOffs = 0;
  std::thread worker([&] {
    for (int i = 0; i < 3; ++i) loop.Synchronize([&] { ++handOffs; });
    finished = true;
    loop.WakeDrain();
  });
  // Without the drain this would wait for ever: the worker needs the main thread three times.
  loop.DrainUntil([&] { return finished.load(); });
  worker.join();
  EXPECT_EQ(handOffs, 3);
}

TEST(MainThreadPort, AnExceptionInAHandOffReachesTheLoopAndReleasesTheCaller) {
  TMainLoop loop;
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    loop.Synchronize([] { throw std::runtime_error("Value must be between 3 and 250"); });
    returned = true;
  });
  EXPECT_TRUE(loop.RunUntil([&] { return returned.load(); }, kPatience));
  worker.join();
  ASSERT_EQ(loop.Errors().size(), 1u);
  EXPECT_EQ(loop.Errors()[0], "Value must be between 3 and 250");
}

TEST(MainThreadPort, OnTheMainThreadAHandOffRunsAtOnce) {
  TMainLoop loop;
  bool ran = false;
  loop.Synchronize([&] { ran = true; });
  EXPECT_TRUE(ran);
}

#ifndef _WIN32
TEST(MainLoop, WatchedDescriptorsCallBackWhenReadable) {
  TMainLoop loop;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  int calls = 0;
  TMainThreadPort::TWatchId watch = loop.WatchReadable(fds[0], [&] {
    char byte;
    EXPECT_EQ(read(fds[0], &byte, 1), 1);
    ++calls;
  });
  EXPECT_EQ(loop.RunPending(), 0u);
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  EXPECT_TRUE(loop.RunUntil([&] { return calls == 1; }, kPatience));
  loop.Unwatch(watch);
  ASSERT_EQ(write(fds[1], "x", 1), 1);  // readable at once, but watched no more
  EXPECT_EQ(loop.RunPending(), 0u);
  EXPECT_EQ(calls, 1);
  close(fds[0]);
  close(fds[1]);
}
#endif

}  // namespace
}  // namespace glowstep
