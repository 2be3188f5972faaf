// Why a hidraw node refuses to be opened for reading and writing, from its owner, group and mode.
//
// The kernel makes every hidraw node root's with mode 0600. The controller's udev rule gives its
// node to the plugdev group with mode 0660 and, through an access-control entry, to the user
// logged in at the seat. When an open fails, the node's owner, group and mode tell which of
// these did not happen for this user. Access-control entries are not read: the user at the seat
// is not refused in the first place.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "hid/hid_backend.h"

namespace glowstep {

// The group Debian and its derivatives give removable devices to.
inline constexpr const char* kPlugdevGroup = "plugdev";

// Who opens a node.
struct TNodeUser {
  uid_t Uid = 0;                      // the effective user
  std::vector<gid_t> Groups;          // the effective group and the supplementary groups
  std::optional<gid_t> PlugdevGroup;  // none when the system has no such group
};

// A node's owner, group and mode.
struct TNodeOwnership {
  uid_t Owner = 0;
  gid_t Group = 0;
  mode_t Mode = 0;
};

using TNodeUserLookup = std::function<TNodeUser()>;
using TNodeOwnershipLookup = std::function<std::optional<TNodeOwnership>(const std::string&)>;

// This process's user, groups and the system's plugdev group.
TNodeUser CurrentNodeUser();
// The node's owner, group and mode by stat(); none when it cannot be looked at.
std::optional<TNodeOwnership> StatNodeOwnership(const std::string& node);

// What keeps `user` from opening the node for reading and writing, should an open fail:
//  - NotInPlugdev: the node belongs to the plugdev group, which may read and write it, and the
//    user is not in that group;
//  - RootOnly: root owns it, and neither the others nor a group other than root's may read and
//    write it: nothing gave it away;
//  - Unknown: the node could not be looked at; or its owner, group or mode let this user in, so
//    something else refuses; or neither case fits (another owner, another group, or a node of
//    root's group on a system without a plugdev group, which the rule may have left so).
THidAccessReason NodeAccessReason(const std::optional<TNodeOwnership>& node, const TNodeUser& user);

}  // namespace glowstep
