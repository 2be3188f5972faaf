#include "hid/platform/linux/node_access.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace glowstep {

namespace {

// A group entry larger than this is not read.
constexpr std::size_t kMaxGroupEntry = std::size_t{1} << 20;

std::optional<gid_t> GroupNamed(const char* name) {
  const long suggested = sysconf(_SC_GETGR_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 1024);
  for (;;) {
    group entry{};
    group* found = nullptr;
    const int error = getgrnam_r(name, &entry, buffer.data(), buffer.size(), &found);
    if (error == 0) return found != nullptr ? std::optional<gid_t>(found->gr_gid) : std::nullopt;
    if (error != ERANGE || buffer.size() >= kMaxGroupEntry) return std::nullopt;
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

TNodeUser CurrentNodeUser() {
  TNodeUser user;
  user.Uid = geteuid();
  user.Groups.push_back(getegid());
  const int count = getgroups(0, nullptr);
  if (count > 0) {
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int got = getgroups(count, groups.data());
    if (got > 0) user.Groups.insert(user.Groups.end(), groups.begin(), groups.begin() + got);
  }
  user.PlugdevGroup = GroupNamed(kPlugdevGroup);
  return user;
}

std::optional<TNodeOwnership> StatNodeOwnership(const std::string& node) {
  struct stat status {};
  if (stat(node.c_str(), &status) != 0) return std::nullopt;
  return TNodeOwnership{status.st_uid, status.st_gid, status.st_mode};
}

THidAccessReason NodeAccessReason(const std::optional<TNodeOwnership>& node,
                                  const TNodeUser& user) {
  if (!node) return THidAccessReason::Unknown;
  constexpr mode_t kGroupReadWrite = S_IRGRP | S_IWGRP;
  constexpr mode_t kOthersReadWrite = S_IROTH | S_IWOTH;
  const bool groupMay = (node->Mode & kGroupReadWrite) == kGroupReadWrite;
  const auto in = [&](gid_t group) {
    return std::find(user.Groups.begin(), user.Groups.end(), group) != user.Groups.end();
  };
  if (node->Owner == user.Uid || (node->Mode & kOthersReadWrite) == kOthersReadWrite ||
      (groupMay && in(node->Group)))
    return THidAccessReason::Unknown;
  if (user.PlugdevGroup && node->Group == *user.PlugdevGroup && groupMay)
    return THidAccessReason::NotInPlugdev;
  if (node->Owner != 0) return THidAccessReason::Unknown;
  if (!groupMay || (node->Group == 0 && user.PlugdevGroup)) return THidAccessReason::RootOnly;
  return THidAccessReason::Unknown;
}

}  // namespace glowstep
