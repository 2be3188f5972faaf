#include "tools/demo/demo_world.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <utility>
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
    THidError error;
    const auto connection = platform.Open(platform.PathOf(id), TFileAccess::ReadWrite, error);
    ASSERT_NE(connection, nullptr);
    std::uint32_t written = 0;
    ASSERT_FALSE(connection->Write(report, written, platform.WriteTimeLimit()));
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

TEST_F(DemoWorldTest, ReplyIsExactlyTheReportTheControllerSends) {
  world.Execute("plug Glowstep 3.2");
  // Every byte differs from the factory answer: another report ID and command, other settings,
  // and bytes after the settings.
  std::vector<std::uint8_t> given(65);
  for (std::size_t i = 0; i < given.size(); ++i) given[i] = static_cast<std::uint8_t>(0x80 + i);
  given[0] = 0x01;
  given[1] = 'x';
  lines.clear();
  world.Execute("reply " + HexBytes(given));
  ASSERT_EQ(lines.size(), 1U);
  EXPECT_EQ(lines[0], "reply 1 set");
  std::vector<std::uint8_t> request(65, 0);
  request[1] = 'r';
  Write(1, request);
  EXPECT_EQ(lines.back(), "in 1 " + HexBytes(given));

  // A write replaces the settings the controller answers with; the rest stays as given.
  std::vector<std::uint8_t> write(65, 0);
  write[1] = 'w';
  for (std::size_t i = 2; i <= 20; ++i) write[i] = static_cast<std::uint8_t>(i);
  Write(1, write);
  Write(1, request);
  std::vector<std::uint8_t> expected = given;
  std::copy(write.begin() + 2, write.begin() + 21, expected.begin() + 2);
  EXPECT_EQ(lines.back(), "in 1 " + HexBytes(expected));
}

TEST_F(DemoWorldTest, AShortReplyIsSentWithZerosAfterTheBytesGiven) {
  world.Execute("plug Glowstep 3.2");
  const std::string bytes = "00 72 14 64 07 00 40 20 10 30 30 00 1C 01 FA 00 19 2C 01 E8 03 5A";
  world.Execute("reply @1 " + bytes);
  std::vector<std::uint8_t> request(65, 0);
  request[1] = 'r';
  Write(1, request);
  std::vector<std::uint8_t> expected(65, 0);
  for (std::size_t i = 0; i < 22; ++i)
    expected[i] = static_cast<std::uint8_t>(std::stoul(bytes.substr(3 * i, 2), nullptr, 16));
  EXPECT_EQ(lines.back(), "in 1 " + HexBytes(expected));
}

TEST_F(DemoWorldTest, ExplainsWhatItRefuses) {
  world.Execute("plug Glowstep 3.2");
  world.Execute("plug Glowstep 3.1");
  const std::string twenty = "00 72 14 64 07 00 40 20 10 30 30 00 1C 01 FA 00 19 2C 01 E8";
  std::string sixtySix;
  for (int i = 0; i < 66; ++i) sixtySix += i ? " 00" : "00";
  const std::pair<std::string, std::string> cases[] = {
      {"unplug 1 2", "error: unplug takes one device id, not 2 words"},
      {"unplug", "error: unplug needs a device id"},
      {"unplug 9", "error: no plugged device 9"},
      {"unplug \xE9", "error: not a device id: \xE9"},
      {"reply " + twenty, "error: a reply has 21 to 65 bytes, not 20"},
      {"reply " + sixtySix, "error: a reply has 21 to 65 bytes, not 66"},
      {"reply @3 " + twenty + " 00", "error: device 3 is not a staircase controller"},
      {std::string("plug Glow\0step 3.3", 18),
       "error: the line has a NUL byte (at 9) and is ignored: plug Glow\\0step 3.3"},
  };
  for (const auto& [command, message] : cases) {
    lines.clear();
    EXPECT_TRUE(world.Execute(command));
    ASSERT_EQ(lines.size(), 1U) << command;
    EXPECT_EQ(lines[0], message);
  }
  EXPECT_NE(world.Controller(1), nullptr);
  EXPECT_EQ(world.Controller(3), nullptr);  // the line with a NUL plugged nothing
  EXPECT_EQ(world.Controller(1)->Settings(), TVirtualStaircaseController::kDefaultSettings);
  EXPECT_EQ(world.Controller(2)->Settings(), TVirtualStaircaseController::kDefaultSettings);
  lines.clear();
  world.Execute("list");
  ASSERT_EQ(lines.size(), 2U);
  EXPECT_EQ(lines[0].rfind("1 plugged ", 0), 0U);
}

TEST_F(DemoWorldTest, HelpNamesEveryCommand) {
  world.Execute("help");
  // Each line names its command, or the commands that do the same ("quit, exit"), before the
  // column of descriptions.
  std::vector<std::string> named;
  for (const std::string& line : lines) {
    std::istringstream names(line.substr(0, line.find("  ")));
    for (std::string word; names >> word;) named.push_back(word.substr(0, word.find(',')));
  }
  for (const char* command : {"plug", "unplug", "reply", "list", "help", "quit", "exit"}) {
    EXPECT_NE(std::find(named.begin(), named.end(), command), named.end()) << command;
  }
  EXPECT_FALSE(world.Execute("exit"));
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
