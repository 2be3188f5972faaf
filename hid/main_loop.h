// A tiny main loop for programs without a GUI toolkit: the tests, the benchmark and tools.
//
// Tasks run in the order they were posted, on the thread that created the loop. On POSIX
// systems the loop also watches descriptors with poll(); elsewhere WatchReadable returns 0. On
// Windows it dispatches no window messages, so the native platform's device-change window hears
// nothing under it: a tool there needs a loop that also dispatches them.
// An exception leaving a task or a hand-off goes to the exception handler, and the loop carries
// on, as an application's message loop shows the message and carries on. The default handler
// keeps the messages (Errors).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "hid/main_thread_port.h"

namespace glowstep {

class TMainLoop final : public TMainThreadPort {
 public:
  using TExceptionHandler = std::function<void(std::exception_ptr)>;
  static constexpr std::chrono::milliseconds kConditionSlice{5};

  TMainLoop();
  ~TMainLoop() override;

  void Post(TTask task) override;
  TWatchId WatchReadable(int descriptor, TTask onReadable) override;
  void Unwatch(TWatchId watch) override;

  // Runs the tasks queued so far and the watches that are readable now, without waiting.
  // Returns the number of tasks and watch calls run.
  std::size_t RunPending();
  // Runs tasks as they arrive until `done` holds or `timeout` has passed; returns done().
  // `done` is tested after every task and at least every kConditionSlice.
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  // Runs what is queued and what is readable, round after round, until a round finds nothing
  // (what a task posts runs in the same call) or `timeout` has passed; returns whether the loop
  // came to rest. Work of other threads that has not reached the loop yet is not waited for.
  bool RunUntilIdle(std::chrono::milliseconds timeout);
  // Runs tasks as they arrive for `duration`.
  void RunFor(std::chrono::milliseconds duration);

  void SetExceptionHandler(TExceptionHandler handler) { ExceptionHandler_ = std::move(handler); }
  const std::vector<std::string>& Errors() const { return Errors_; }

 protected:
  void ReportException(std::exception_ptr error) override;

 private:
  struct TWatch {
    int Descriptor = -1;
    TTask OnReadable;
  };

  // Waits until a task is queued, a watch is readable or `deadline` passed; then runs what is
  // ready. Returns the number run.
  std::size_t WaitAndRun(std::chrono::steady_clock::time_point deadline);
  std::size_t RunTasks();
  std::size_t RunReadyWatches(int timeoutMs);
  void RunGuarded(const TTask& task);

  std::mutex Lock_;
  std::condition_variable Wake_;
  std::deque<TTask> Tasks_;
  std::map<TWatchId, TWatch> Watches_;
  TWatchId NextWatch_ = 1;
  int WakePipe_[2] = {-1, -1};
  TExceptionHandler ExceptionHandler_;
  std::vector<std::string> Errors_;
};

}  // namespace glowstep
