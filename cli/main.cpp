// glowstep-cli on the system it runs on: the native HID platform, the standard streams, and the
// user's interrupt, which ends "watch" cleanly.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "hid/main_loop.h"
#include "hid/native_platform.h"

#ifdef _WIN32
#include "base/windows_api.h"
#else
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#endif

#ifdef __GLIBC__
#include <stdio_ext.h>
#endif

namespace glowstep {

namespace {

#ifdef _WIN32

std::atomic<bool> Interrupted{false};

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  Interrupted = true;
  return TRUE;
}

#else

int InterruptPipe[2] = {-1, -1};

void OnSignal(int /*signal*/) {
  const char byte = 1;
  // Nothing else is safe in a signal handler; the main loop reads the pipe.
  [[maybe_unused]] const auto written = write(InterruptPipe[1], &byte, 1);
}

#endif

class TNativeHost final : public TCliHost {
 public:
  std::ostream& Out() override { return std::cout; }
  std::ostream& Err() override { return std::cerr; }
  std::istream& In() override { return std::cin; }

  std::optional<std::string> FinishOut() override {
    // What the stream could not hand on, then what the system refuses when it gets the rest.
    errno = 0;
    std::cout.flush();
    int error = errno;
    bool failed = std::cout.fail() || std::ferror(stdout) != 0;
#ifdef __GLIBC__
    // A closed standard output is no failure when nothing was written to it.
    const bool pending = __fpending(stdout) != 0;
    errno = 0;
    if (std::fclose(stdout) != 0 && (pending || errno != EBADF)) {
      failed = true;
      if (error == 0) error = errno;
    }
#endif
    if (!failed) return std::nullopt;
    return error != 0 ? std::string(std::strerror(error)) : std::string("the output was refused");
  }

  bool FinishErr() override {
    std::cerr.flush();
    return !std::cerr.fail() && std::fflush(stderr) == 0 && std::ferror(stderr) == 0;
  }

  THidBackend* NativePlatform() override {
    if (!Platform_) Platform_ = CreateNativeBackend();
    return Platform_.get();
  }

  void RunUntilStopped(TMainLoop& loop,
                       const std::function<bool()>& stopped,
                       const std::function<void()>& interrupt) override {
#ifdef _WIN32
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    // The device-change notification arrives as a window message on this thread: the pump
    // dispatches it, and the loop runs the tasks the HID layer posts.
    constexpr DWORD kSliceMs = 20;
    while (!stopped()) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, kSliceMs, QS_ALLINPUT);
      MSG message;
      while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
      }
      loop.RunPending();
      if (Interrupted.exchange(false)) interrupt();
    }
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
#else
    if (pipe(InterruptPipe) != 0) {
      loop.RunUntil(stopped, std::chrono::hours(24 * 365));
      return;
    }
    fcntl(InterruptPipe[0], F_SETFD, FD_CLOEXEC);
    fcntl(InterruptPipe[1], F_SETFD, FD_CLOEXEC);
    fcntl(InterruptPipe[1], F_SETFL, O_NONBLOCK);
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    struct sigaction previousInt = {};
    struct sigaction previousTerm = {};
    sigaction(SIGINT, &action, &previousInt);
    sigaction(SIGTERM, &action, &previousTerm);
    const auto watch = loop.WatchReadable(InterruptPipe[0], [&interrupt] {
      char bytes[16];
      [[maybe_unused]] const auto read = ::read(InterruptPipe[0], bytes, sizeof bytes);
      interrupt();
    });
    while (!stopped()) loop.RunUntil(stopped, std::chrono::hours(1));
    loop.Unwatch(watch);
    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);
    close(InterruptPipe[0]);
    close(InterruptPipe[1]);
    InterruptPipe[0] = InterruptPipe[1] = -1;
#endif
  }

 private:
  std::unique_ptr<THidBackend> Platform_;
};

}  // namespace

}  // namespace glowstep

int main(int argc, char** argv) {
#ifndef _WIN32
  // A standard descriptor the caller closed is taken by the null device opened the wrong way
  // round: writing to it still fails as it did, and no file this program opens can take its
  // number and receive the output.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF)
      open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
  }
#endif
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  glowstep::TNativeHost host;
  return glowstep::RunCli(args, host);
}
