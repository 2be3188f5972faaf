#include "hid/main_loop.h"

#include <algorithm>
#include <stdexcept>

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#define GLOWSTEP_LOOP_POLL 1
#endif

namespace glowstep {

#ifdef GLOWSTEP_LOOP_POLL
namespace {

int MillisecondsUntil(std::chrono::steady_clock::time_point deadline) {
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, 60'000));
}

}  // namespace
#endif

TMainLoop::TMainLoop() {
#ifdef GLOWSTEP_LOOP_POLL
  // A self-pipe wakes poll() when a task is posted from another thread.
  if (pipe(WakePipe_) != 0) throw std::runtime_error("Cannot create the main loop's wake-up pipe");
  for (int fd : WakePipe_) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
#endif
}

TMainLoop::~TMainLoop() {
#ifdef GLOWSTEP_LOOP_POLL
  close(WakePipe_[0]);
  close(WakePipe_[1]);
#endif
}

void TMainLoop::Post(TTask task) {
  bool wasEmpty = false;
  {
    std::lock_guard lock(Lock_);
    wasEmpty = Tasks_.empty();
    Tasks_.push_back(std::move(task));
  }
#ifdef GLOWSTEP_LOOP_POLL
  if (wasEmpty) {
    const char byte = 1;
    [[maybe_unused]] auto written = write(WakePipe_[1], &byte, 1);  // full pipe: already awake
  }
#else
  (void)wasEmpty;
  Wake_.notify_all();
#endif
}

TMainThreadPort::TWatchId TMainLoop::WatchReadable(int descriptor, TTask onReadable) {
#ifdef GLOWSTEP_LOOP_POLL
  const TWatchId id = NextWatch_++;
  Watches_[id] = TWatch{descriptor, std::move(onReadable)};
  return id;
#else
  (void)descriptor;
  (void)onReadable;
  return 0;
#endif
}

void TMainLoop::Unwatch(TWatchId watch) { Watches_.erase(watch); }

void TMainLoop::RunGuarded(const TTask& task) {
  try {
    task();
  } catch (...) {
    ReportException(std::current_exception());
  }
}

std::size_t TMainLoop::RunTasks() {
  std::deque<TTask> batch;
  {
    std::lock_guard lock(Lock_);
    batch.swap(Tasks_);
  }
  for (const TTask& task : batch) RunGuarded(task);
  return batch.size();
}

std::size_t TMainLoop::RunReadyWatches(int timeoutMs) {
#ifdef GLOWSTEP_LOOP_POLL
  std::vector<pollfd> fds;
  std::vector<TWatchId> ids;
  fds.push_back(pollfd{WakePipe_[0], POLLIN, 0});
  for (const auto& [id, watch] : Watches_) {
    fds.push_back(pollfd{watch.Descriptor, POLLIN, 0});
    ids.push_back(id);
  }
  if (poll(fds.data(), fds.size(), timeoutMs) <= 0) return 0;
  if (fds[0].revents != 0) {
    char drain[64];
    while (read(WakePipe_[0], drain, sizeof drain) > 0) {
    }
  }
  std::size_t ran = 0;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if ((fds[i + 1].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    // A watch may remove itself or another one while it runs.
    auto it = Watches_.find(ids[i]);
    if (it == Watches_.end()) continue;
    const TTask onReadable = it->second.OnReadable;
    RunGuarded(onReadable);
    ++ran;
  }
  return ran;
#else
  (void)timeoutMs;
  return 0;
#endif
}

std::size_t TMainLoop::RunPending() { return RunTasks() + RunReadyWatches(0); }

std::size_t TMainLoop::WaitAndRun(std::chrono::steady_clock::time_point deadline) {
  std::size_t ran = RunTasks();
  if (ran != 0) return ran + RunReadyWatches(0);
#ifdef GLOWSTEP_LOOP_POLL
  ran += RunReadyWatches(MillisecondsUntil(deadline));
#else
  {
    std::unique_lock lock(Lock_);
    Wake_.wait_until(lock, deadline, [&] { return !Tasks_.empty(); });
  }
#endif
  return ran + RunTasks();
}

bool TMainLoop::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  RunPending();
  while (!done()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    // `done` may depend on other threads, which post nothing: look again every few ms.
    WaitAndRun(std::min(deadline, now + kConditionSlice));
  }
  return true;
}

bool TMainLoop::RunUntilIdle(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (RunPending() != 0) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
  }
  return true;
}

void TMainLoop::RunFor(std::chrono::milliseconds duration) {
  const auto deadline = std::chrono::steady_clock::now() + duration;
  RunPending();
  while (std::chrono::steady_clock::now() < deadline) WaitAndRun(deadline);
}

void TMainLoop::ReportException(std::exception_ptr error) {
  if (ExceptionHandler_) {
    ExceptionHandler_(error);
    return;
  }
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    Errors_.emplace_back(e.what());
  } catch (...) {
    Errors_.emplace_back("Unknown error");
  }
}

}  // namespace glowstep
