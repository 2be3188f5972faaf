// Why a hidraw node refuses a user: the cases told apart by the node's owner, group and mode, and
// this process's own user as the system gives it.
#include "hid/platform/linux/node_access.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <optional>

namespace glowstep {
namespace {

constexpr gid_t kPlugdev = 46;
constexpr gid_t kInput = 104;

// Logged in over SSH: no seat, a group of its own and the usual extra groups, not plugdev.
TNodeUser SshUser() { return TNodeUser{1000, {1000, 24, 27}, kPlugdev}; }

struct TCase {
  const char* Name = "";
  std::optional<TNodeOwnership> Node;
  TNodeUser User;
  THidAccessReason Expected = THidAccessReason::Unknown;
};

TEST(NodeAccessReason, TellsNoRuleFromNotInTheGroupAndElseSaysItCannotTell) {
  TNodeUser member = SshUser();
  member.Groups.push_back(kPlugdev);
  TNodeUser noPlugdevOnTheSystem = SshUser();
  noPlugdevOnTheSystem.PlugdevGroup.reset();
  const TCase cases[] = {
      {"as the kernel makes it", TNodeOwnership{0, 0, 0600}, SshUser(), THidAccessReason::RootOnly},
      {"given a mode but not the group", TNodeOwnership{0, 0, 0660}, SshUser(),
       THidAccessReason::RootOnly},
      {"the plugdev group with no access", TNodeOwnership{0, kPlugdev, 0600}, SshUser(),
       THidAccessReason::RootOnly},
      {"root's alone, no plugdev on the system", TNodeOwnership{0, 0, 0600}, noPlugdevOnTheSystem,
       THidAccessReason::RootOnly},
      {"the rule applied", TNodeOwnership{0, kPlugdev, 0660}, SshUser(),
       THidAccessReason::NotInPlugdev},
      {"the rule applied, read only for the group", TNodeOwnership{0, kPlugdev, 0640}, SshUser(),
       THidAccessReason::RootOnly},
      // Each of these lets the user in, so something else refuses.
      {"the rule applied and the user is a member", TNodeOwnership{0, kPlugdev, 0660}, member,
       THidAccessReason::Unknown},
      {"open to everyone", TNodeOwnership{0, 0, 0666}, SshUser(), THidAccessReason::Unknown},
      {"the user's own", TNodeOwnership{1000, 0, 0600}, SshUser(), THidAccessReason::Unknown},
      // Neither case fits.
      {"cannot be looked at", std::nullopt, SshUser(), THidAccessReason::Unknown},
      {"another user's", TNodeOwnership{1001, 1001, 0600}, SshUser(), THidAccessReason::Unknown},
      {"another group's", TNodeOwnership{0, kInput, 0660}, SshUser(), THidAccessReason::Unknown},
      {"root's group, no plugdev on the system", TNodeOwnership{0, 0, 0660}, noPlugdevOnTheSystem,
       THidAccessReason::Unknown},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(NodeAccessReason(c.Node, c.User), c.Expected);
  }
}

TEST(NodeAccessReason, ThisProcessIsItsEffectiveUserWithItsGroups) {
  const TNodeUser user = CurrentNodeUser();
  EXPECT_EQ(user.Uid, geteuid());
  EXPECT_NE(std::find(user.Groups.begin(), user.Groups.end(), getegid()), user.Groups.end());
}

}  // namespace
}  // namespace glowstep
