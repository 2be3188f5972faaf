#include <gtest/gtest.h>

#include "hid/hid_events.h"

namespace glowstep {
namespace {

struct TWindow {
  int Calls = 0;
  void Arrival(THidDevice*) { ++Calls; }
  void Removal(THidDevice*) { ++Calls; }
};

TEST(HandlerIdentity, TheSameMethodOfTwoObjectsHasTheSameCode) {
  TWindow first;
  TWindow second;
  const auto a = THidPlugEvent::Bind<&TWindow::Arrival>(&first);
  const auto b = THidPlugEvent::Bind<&TWindow::Arrival>(&second);
  const auto c = THidPlugEvent::Bind<&TWindow::Removal>(&first);
  EXPECT_TRUE(a.SameCode(b));
  EXPECT_FALSE(a.SameCode(c));
  b(nullptr);
  EXPECT_EQ(first.Calls, 0);  // the context is the bound object
  EXPECT_EQ(second.Calls, 1);
}

TEST(HandlerIdentity, FreshKeysDifferAndCopiesShareThem) {
  int calls = 0;
  const THidPlugEvent a([&](THidDevice*) { ++calls; });
  const THidPlugEvent b([&](THidDevice*) { ++calls; });
  const THidPlugEvent copy = a;  // NOLINT(performance-unnecessary-copy-initialization)
  EXPECT_FALSE(a.SameCode(b));
  EXPECT_TRUE(a.SameCode(copy));
  copy(nullptr);
  EXPECT_EQ(calls, 1);
}

TEST(HandlerIdentity, ExplicitKeysMakeLambdasTheSameCode) {
  static const char key = 0;
  const THidDataErrorEvent a(&key, [](THidDevice*, std::uint32_t) {});
  const THidDataErrorEvent b(&key, [](THidDevice*, std::uint32_t) {});
  EXPECT_TRUE(a.SameCode(b));
}

TEST(HandlerIdentity, NoneIsNotAssignedAndEqualsOnlyNone) {
  const THidPlugEvent none;
  const THidPlugEvent alsoNone = nullptr;
  const THidPlugEvent some([](THidDevice*) {});
  EXPECT_FALSE(none);
  EXPECT_TRUE(none.SameCode(alsoNone));
  EXPECT_FALSE(none.SameCode(some));
  EXPECT_FALSE(THidPlugEvent(&none, std::function<void(THidDevice*)>()));  // empty code is none
}

}  // namespace
}  // namespace glowstep
