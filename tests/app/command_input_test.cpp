#include "tools/demo/command_input.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "hid/main_loop.h"

namespace glowstep {
namespace {

using namespace std::chrono_literals;

class CommandInputTest : public ::testing::Test {
 protected:
  CommandInputTest() { EXPECT_EQ(pipe(Pipe), 0); }
  ~CommandInputTest() override {
    CloseWriteEnd();
    close(Pipe[0]);
  }

  void Send(const std::string& text) {
    ASSERT_EQ(write(Pipe[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  void CloseWriteEnd() {
    if (Pipe[1] >= 0) close(Pipe[1]);
    Pipe[1] = -1;
  }
  // Runs the loop until `count` lines have arrived, or a while longer when none more should.
  void RunUntilLines(std::size_t count) {
    loop.RunUntil([&] { return lines.size() >= count; }, 2s);
    loop.RunFor(20ms);
  }

  int Pipe[2] = {-1, -1};
  TMainLoop loop;
  std::vector<std::string> lines;
};

TEST_F(CommandInputTest, LinesRunInOrderAcrossReadsUntilTheHandlerStops) {
  const TCommandInput input(loop, Pipe[0], [this](const std::string& line) {
    lines.push_back(line);
    return line != "quit";
  });
  ASSERT_TRUE(input.Reading());
  Send("plug a\nli");
  RunUntilLines(1);
  EXPECT_EQ(lines, std::vector<std::string>{"plug a"});
  Send("st\n\nquit\nlist\n");
  RunUntilLines(4);
  EXPECT_EQ(lines, (std::vector<std::string>{"plug a", "list", "", "quit"}));
  EXPECT_FALSE(input.Reading());
  Send("list\n");
  loop.RunFor(20ms);
  EXPECT_EQ(lines.size(), 4U);
}

TEST_F(CommandInputTest, ALastLineWithoutALineFeedRunsAtTheEndOfTheInput) {
  const TCommandInput input(loop, Pipe[0], [this](const std::string& line) {
    lines.push_back(line);
    return true;
  });
  Send("one\ntwo");
  CloseWriteEnd();
  loop.RunUntil([&] { return !input.Reading(); }, 2s);
  EXPECT_FALSE(input.Reading());
  EXPECT_EQ(lines, (std::vector<std::string>{"one", "two"}));
}

}  // namespace
}  // namespace glowstep
