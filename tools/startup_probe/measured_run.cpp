// Runs a program and reports the kernel's accounting of the finished process (wait4): its wall
// time from start to exit, its CPU time (user and system, all threads) and its peak resident
// memory. One line on standard error, after whatever the program wrote there:
//   glowstep-measured-run <program> [arguments...]
//   measured start-ns <wall clock at start> wall-ns <n> cpu-us <n> peak-kb <n> status <n>
// The program's standard output is discarded; its exit status is passed on.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

long long Microseconds(const timeval& time) {
  return static_cast<long long>(time.tv_sec) * 1000000LL + time.tv_usec;
}

template <typename TDuration>
long long Nanoseconds(TDuration duration) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(duration).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <program> [arguments...]\n", argv[0]);
    return 2;
  }
  const auto startWall = std::chrono::system_clock::now().time_since_epoch();
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child < 0) {
    std::perror("fork");
    return 2;
  }
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) dup2(null, STDOUT_FILENO);
    execvp(argv[1], argv + 1);
    std::fprintf(stderr, "%s: %s\n", argv[1], std::strerror(errno));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  pid_t waited;
  do {
    waited = wait4(child, &status, 0, &usage);
  } while (waited < 0 && errno == EINTR);
  const auto wall = std::chrono::steady_clock::now() - start;
  if (waited < 0) {
    std::perror("wait4");
    return 2;
  }
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::fprintf(stderr, "measured start-ns %lld wall-ns %lld cpu-us %lld peak-kb %ld status %d\n",
               Nanoseconds(startWall), Nanoseconds(wall),
               Microseconds(usage.ru_utime) + Microseconds(usage.ru_stime), usage.ru_maxrss, code);
  return code;
}
