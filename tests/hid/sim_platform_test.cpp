// What the simulated platform keeps of a long session stays bounded.
#include <gtest/gtest.h>

#include <span>

#include "hid/platform/sim/sim_platform.h"
#include "testing/virtual_staircase_controller.h"

namespace glowstep {
namespace {

TEST(SimPlatform, KeepsEachThreadNameOnce) {
  TSimPlatform sim;
  for (int i = 0; i < 10000; ++i) sim.NameCurrentThread("THidDeviceReadThread");
  sim.NameCurrentThread("other");
  EXPECT_EQ(sim.ThreadNames(), (std::vector<std::string>{"THidDeviceReadThread", "other"}));
}

TEST(VirtualStaircase, KeepsTheLatestReportsAndCountsThemAll) {
  TVirtualStaircaseController staircase;
  std::vector<std::uint8_t> report(65, 0);
  report[1] = 'w';
  for (std::uint32_t i = 0; i < 10000; ++i) {
    report[2] = static_cast<std::uint8_t>(i);
    report[3] = static_cast<std::uint8_t>(i >> 8);
    staircase.OutputReport(std::span<const std::uint8_t>(report));
  }
  EXPECT_EQ(staircase.ReceivedCount(), 10000u);
  const auto kept = staircase.ReceivedReports();
  ASSERT_EQ(kept.size(), TVirtualStaircaseController::kReportsKept);
  EXPECT_EQ(kept.back(), report);  // oldest first, the last one at the end
  EXPECT_EQ(kept.front()[2] | kept.front()[3] << 8, 10000 - kept.size());
}

}  // namespace
}  // namespace glowstep
