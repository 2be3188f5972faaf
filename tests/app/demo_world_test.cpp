#include "demo_world.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace glowstep {
namespace {

class DemoWorldTest : public ::testing::Test {
 protected:
  DemoWorldTest() : world([this](const std::string& line) { lines.push_back(line); }) {
    world.Platform().SetAutoNotify(false);
  }

  // Writes one output report to a device as the configurator would.
  void Write(TSimPlatform::TInterfaceId id, std::vector<std::uint8_t> report) {
    TSimPlatform& platform = world.Platform();
    const THidHandle handle = platform.OpenFile(platform.PathOf(id), TFileAccess::ReadWrite, false);
    ASSERT_NE(handle, kInvalidHandle);
    std::uint32_t written = 0;
    ASSERT_TRUE(platform.WriteFile(handle, report.data(), static_cast<std::uint32_t>(report.size()),
                                   written));
    platform.CloseFile(handle);
  }

  std::vector<std::string> lines;
  TDemoWorld world;
};

TEST_F(DemoWorldTest, PlugsControllersAndPlainDevicesAndListsThem) {
  ASSERT_TRUE(world.Execute("plug Glowstep 3.2"));
  ASSERT_TRUE(world.Execute("plug  USB Optical Mouse"));
  ASSERT_EQ(lines.size(), 2U);
  EXPECT_EQ(lines[0].rfind("plugged 1 ", 0), 0U);
  EXPECT_NE(lines[0].find(" Glowstep 3.2"), std::string::npos);
  EXPECT_NE(world.Controller(1), nullptr);
  EXPECT_EQ(world.Controller(2), nullptr);

  lines.clear();
  world.Execute("unplug 1");
  world.Execute("list");
  ASSERT_EQ(lines.size(), 3U);
  EXPECT_EQ(lines[0], "unplugged 1");
  EXPECT_EQ(lines[1].rfind("1 unplugged ", 0), 0U);
  EXPECT_EQ(lines[2].rfind("2 plugged ", 0), 0U);
  EXPECT_NE(lines[2].find("USB Optical Mouse"), std::string::npos);
}

TEST_F(DemoWorldTest, LogsEveryReportADeviceReceivesAndSends) {
  world.Execute("plug Glowstep 3.2");
  lines.clear();
  std::vector<std::uint8_t> request(65, 0);
  request[1] = 'r';
  Write(1, request);
  ASSERT_EQ(lines.size(), 2U);
  EXPECT_EQ(lines[0], "out 1 " + HexBytes(request));
  std::vector<std::uint8_t> reply(65, 0);
  reply[1] = 'r';  // the controller answers with the command it was given
  const auto settings = TVirtualStaircaseController::kDefaultSettings;
  std::copy(settings.begin(), settings.end(), reply.begin() + 2);
  EXPECT_EQ(lines[1], "in 1 " + HexBytes(reply));
}

TEST_F(DemoWorldTest, ReplySetsTheSettingsTheControllerAnswersWith) {
  world.Execute("plug Glowstep 3.2");
  world.Execute("plug Glowstep 3.1");
  const std::string bytes = "00 72 14 64 07 00 40 20 10 30 30 00 1C 01 FA 00 19 2C 01 E8 03";
  world.Execute("reply " + bytes);
  world.Execute("reply @2 " + bytes);
  EXPECT_EQ(world.Controller(1)->Settings()[0], 0x14);
  EXPECT_EQ(world.Controller(1)->Settings()[18], 0x03);
  EXPECT_EQ(world.Controller(2)->Settings()[1], 0x64);
  EXPECT_EQ(lines.back(), "reply 2 set");
}

TEST_F(DemoWorldTest, RejectsMalformedCommandsWithAMessage) {
  world.Execute("plug Glowstep 3.2");
  lines.clear();
  for (const char* bad : {"plug", "unplug", "unplug 9", "unplug x", "reply 00 72", "reply 00 7G",
                          "reply @x 00", "frobnicate"}) {
    EXPECT_TRUE(world.Execute(bad));
  }
  ASSERT_EQ(lines.size(), 8U);
  for (const auto& line : lines) EXPECT_EQ(line.rfind("error: ", 0), 0U) << line;
  EXPECT_EQ(world.Controller(1)->Settings(), TVirtualStaircaseController::kDefaultSettings);
  EXPECT_FALSE(world.Execute("quit"));
  EXPECT_TRUE(world.Execute(""));
}

}  // namespace
}  // namespace glowstep
