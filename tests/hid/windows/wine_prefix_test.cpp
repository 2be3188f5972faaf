// Under wine, the tests run in the build tree's own wine prefix: nothing of wine is made in the
// user's home folder.
#include <string>

#include "tests/hid/windows/windows_test_support.h"

namespace glowstep::testing {
namespace {

TEST(WinePrefix, IsTheBuildTreesOwn) {
  if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") == nullptr)
    GTEST_SKIP() << "not running under wine";
  char prefix[4096] = {};
  const DWORD length = GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix);
  EXPECT_EQ(std::string(prefix, length), GLOWSTEP_WINE_PREFIX);
}

}  // namespace
}  // namespace glowstep::testing
