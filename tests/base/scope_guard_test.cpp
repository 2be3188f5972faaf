#include "base/scope_guard.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace glowstep {
namespace {

TEST(ScopeValueTest, PutsBackTheValueItFoundNotAFixedOne) {
  for (const bool found : {false, true}) {
    bool flag = found;
    {
      const TScopeValue guard(flag, true);
      EXPECT_TRUE(flag);
    }
    EXPECT_EQ(flag, found);
  }
  std::string text = "before";
  {
    const TScopeValue guard(text, "during");
    EXPECT_EQ(text, "during");
  }
  EXPECT_EQ(text, "before");
}

TEST(ScopeValueTest, NestedGuardsUnwindInOrderAndSurviveAnException) {
  int depth = 0;
  try {
    const TScopeValue outer(depth, 1);
    {
      const TScopeValue inner(depth, 2);
      EXPECT_EQ(depth, 2);
    }
    EXPECT_EQ(depth, 1);  // the inner scope left the outer one's value standing
    throw std::runtime_error("left by an exception");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(depth, 0);
}

TEST(ScopeExitTest, RunsOnceWhenTheScopeIsLeftEitherWay) {
  std::vector<std::string> log;
  {
    const TScopeExit release([&] { log.emplace_back("returned"); });
  }
  try {
    const TScopeExit release([&] { log.emplace_back("raised"); });
    throw std::runtime_error("left by an exception");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(log, (std::vector<std::string>{"returned", "raised"}));
}

}  // namespace
}  // namespace glowstep
