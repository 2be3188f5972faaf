#include <gtest/gtest.h>

#include <random>
#include <set>
#include <thread>

#include "testing/thread_stats.h"
#include "tests/hid/test_support.h"

namespace glowstep::testing {
namespace {

using Stress = HidFixture;

std::vector<std::uint8_t> WriteReport(std::uint32_t tag) {
  std::vector<std::uint8_t> report(65, 0);
  report[1] = 'w';
  report[2] = static_cast<std::uint8_t>(tag);
  report[3] = static_cast<std::uint8_t>(tag >> 8);
  return report;
}

std::uint32_t TagOf(const TDelivery& delivery) {
  return delivery.Data.at(1) | static_cast<std::uint32_t>(delivery.Data.at(2)) << 8;
}

TEST_F(Stress, TenThousandPlugCyclesWithAHeldControllerLoseNothing) {
  auto staircase = std::make_shared<TVirtualStaircaseController>();
  MakeController();
  Controller->SetDevThreadSleepTime(50);
  const int threadsBefore = ThreadsNamed("THidDeviceRead");
  std::mt19937 random(12345);
  for (std::uint32_t cycle = 0; cycle < 10000; ++cycle) {
    const auto id = Sim.Plug(StaircaseSpec(staircase));
    Loop.RunPending();
    ASSERT_EQ(Controller->CheckedInCount(), 1) << "cycle " << cycle;
    THidDevice* device = CheckOut(static_cast<std::int32_t>(Controller->Devices().size() - 1));
    ASSERT_NE(device, nullptr);

    // Two round trips while held: each reply exactly once, in order.
    Deliveries.clear();
    for (std::uint32_t k = 0; k < 2; ++k) {
      ASSERT_TRUE(Write(device, WriteReport(cycle * 2 + k)));
      ASSERT_TRUE(Write(device, ReadRequest()));
    }
    ASSERT_TRUE(WaitForDeliveries(2)) << "cycle " << cycle;
    ASSERT_EQ(TagOf(Deliveries[0]) & 0xFFFF, (cycle * 2) & 0xFFFF);
    ASSERT_EQ(TagOf(Deliveries[1]) & 0xFFFF, (cycle * 2 + 1) & 0xFFFF);

    // Then leave in one of three ways, one with a read request still unanswered.
    switch (random() % 3) {
      case 0:  // unplugged while held, then given back
        ASSERT_TRUE(Write(device, ReadRequest()));
        Sim.Unplug(id);
        Loop.RunPending();
        ASSERT_FALSE(device->PluggedIn());
        device->Destroy();
        break;
      case 1:  // given back, then unplugged
        device->Destroy();
        Sim.Unplug(id);
        Loop.RunPending();
        break;
      default:  // unplugged and given back before the refresh noticed
        Sim.Unplug(id);
        device->Destroy();
        Loop.RunPending();
        break;
    }
    ASSERT_TRUE(Controller->Devices().empty()) << "cycle " << cycle;
    ASSERT_EQ(
        Controller->CheckedOutCount() + Controller->CheckedInCount() + Controller->UnpluggedCount(),
        0);
    ASSERT_EQ(Sim.Counters().ReadConnections, 0) << "a reader outlived its device, cycle " << cycle;
    Loop.RunPending();
    ASSERT_LE(Deliveries.size(), 3u);  // the unanswered request may have been answered in time
  }
  if (threadsBefore >= 0) {
    EXPECT_EQ(ThreadsNamed("THidDeviceRead"), threadsBefore);
  }
  ExpectCleanShutdown();
}

TEST_F(Stress, StoppingAReaderAThousandTimesAtRandomPointsIsPromptAndFinal) {
  const auto id = Sim.Plug(StaircaseSpec());
  std::set<THidDevice*> live;
  bool lateDelivery = false;
  MakeController(false);
  Controller->SetDevThreadSleepTime(10000);  // a stop must not wait for a slice to end
  Controller->SetOnDeviceData(
      THidDataEvent([&](THidDevice* d, std::uint8_t, const std::uint8_t*, std::uint16_t) {
        if (!live.contains(d)) lateDelivery = true;
      }));
  std::mt19937 random(777);
  auto slowest = std::chrono::steady_clock::duration::zero();
  auto lastAnswerDue = std::chrono::steady_clock::now();
  for (int i = 0; i < 1000; ++i) {
    THidDevice* device = CheckOut(0);
    ASSERT_NE(device, nullptr);
    live.insert(device);
    TSimFaults faults;
    switch (random() % 3) {
      case 0:  // idle
        break;
      case 1:  // a read outstanding, its answer still on the way
        faults.AnswerDelay = 20ms;
        Sim.SetFaults(id, faults);
        ASSERT_TRUE(Write(device, ReadRequest()));
        lastAnswerDue = std::chrono::steady_clock::now() + faults.AnswerDelay;
        break;
      default:  // blocked in a hand-off: the loop does not run meanwhile
        Sim.SendInputReport(id, {0, 1, 2});
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
        break;
    }
    const auto start = std::chrono::steady_clock::now();
    device->Destroy();
    slowest = std::max(slowest, std::chrono::steady_clock::now() - start);
    live.erase(device);
    Sim.SetFaults(id, TSimFaults{});
    if (i % 50 == 0) {  // the late answer comes, and finds no reader
      Loop.RunUntil([&] { return std::chrono::steady_clock::now() >= lastAnswerDue; }, kPatience);
    }
    ASSERT_TRUE(Loop.RunUntilIdle(kPatience));
    ASSERT_FALSE(lateDelivery) << "delivered after the device object was gone, round " << i;
    ASSERT_EQ(Sim.Counters().ReadConnections, 0);
  }
  // Waiting for the slice would take 10 s; the bound leaves room for a loaded machine.
  EXPECT_LT(slowest, 2s);
  ExpectCleanShutdown();
}

}  // namespace
}  // namespace glowstep::testing
