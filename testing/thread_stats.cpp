#include "testing/thread_stats.h"

#include <filesystem>
#include <fstream>
#include <string>

namespace glowstep {

namespace {

#ifdef __linux__
const std::filesystem::path kTasks = "/proc/self/task";

bool NameStartsWith(const std::filesystem::path& task, std::string_view prefix) {
  std::ifstream comm(task / "comm");
  std::string name;
  return std::getline(comm, name) && name.rfind(prefix, 0) == 0;
}

std::int64_t ContextSwitchesOf(const std::filesystem::path& task) {
  std::ifstream status(task / "status");
  if (!status) return -1;
  std::int64_t switches = 0;
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
        line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
      switches += std::stoll(line.substr(line.find(':') + 1));
    }
  }
  return switches;
}
#endif

}  // namespace

int ThreadsNamed(std::string_view prefix) {
#ifdef __linux__
  int count = 0;
  for (const auto& task : std::filesystem::directory_iterator(kTasks)) {
    if (NameStartsWith(task.path(), prefix)) ++count;
  }
  return count;
#else
  (void)prefix;
  return -1;
#endif
}

std::int64_t ContextSwitchesOfThreadNamed(std::string_view prefix) {
#ifdef __linux__
  for (const auto& task : std::filesystem::directory_iterator(kTasks)) {
    if (NameStartsWith(task.path(), prefix)) return ContextSwitchesOf(task.path());
  }
#else
  (void)prefix;
#endif
  return -1;
}

std::int64_t ContextSwitchesOfThread(long tid) {
#ifdef __linux__
  return ContextSwitchesOf(kTasks / std::to_string(tid));
#else
  (void)tid;
  return -1;
#endif
}

bool ThreadSleeps(long tid) {
#ifdef __linux__
  std::ifstream stat(kTasks / std::to_string(tid) / "stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  // "tid (name) state ...": the name may hold spaces and parentheses of its own.
  const auto close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'S';
#else
  (void)tid;
  return false;
#endif
}

}  // namespace glowstep
