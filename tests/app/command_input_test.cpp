#include "tools/demo/command_input.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "hid/main_loop.h"
#include "testing/waiting.h"

namespace glowstep {
namespace {

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
  // Runs the loop until `count` lines have arrived, and then on until it has taken in all
  // that was sent: the pipe holds it already, so more lines would have arrived by then.
  void RunUntilLines(std::size_t count) {
    loop.RunUntil([&] { return lines.size() >= count; }, kPatience);
    ASSERT_TRUE(loop.RunUntilIdle(kPatience));
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
  ASSERT_TRUE(loop.RunUntilIdle(kPatience));  // readable at once, but read no more
  EXPECT_EQ(lines.size(), 4U);
}

TEST_F(CommandInputTest, ALastLineWithoutALineFeedRunsAtTheEndOfTheInput) {
  const TCommandInput input(loop, Pipe[0], [this](const std::string& line) {
    lines.push_back(line);
    return true;
  });
  Send("one\ntwo");
  CloseWriteEnd();
  loop.RunUntil([&] { return !input.Reading(); }, kPatience);
  EXPECT_FALSE(input.Reading());
  EXPECT_EQ(lines, (std::vector<std::string>{"one", "two"}));
}

}  // namespace
}  // namespace glowstep
