// How the Qt-free layers reach the application's main thread.
//
// The application implements the three virtual operations with its own event loop (the Qt
// adapter in app/, TMainLoop in tests and tools). The blocking hand-off is written once here:
// a reader thread calls Synchronize and waits until the main thread has run the call, either
// from its event loop (a posted RunHandOffs) or from DrainUntil, which the main thread runs
// while it waits for a reader to end, so a reader blocked in a hand-off can always finish.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace glowstep {

class TMainThreadPort {
 public:
  using TTask = std::function<void()>;
  using TWatchId = std::uint64_t;

  // The constructing thread is the main thread.
  TMainThreadPort();
  TMainThreadPort(const TMainThreadPort&) = delete;
  TMainThreadPort& operator=(const TMainThreadPort&) = delete;
  virtual ~TMainThreadPort();

  // Queues `task` to run later on the main thread. Any thread.
  virtual void Post(TTask task) = 0;
  // Calls `onReadable` on the main thread whenever `descriptor` is readable, until Unwatch.
  // Main thread. Returns 0 when the loop cannot watch descriptors.
  virtual TWatchId WatchReadable(int descriptor, TTask onReadable) = 0;
  virtual void Unwatch(TWatchId watch) = 0;

  bool IsMainThread() const { return std::this_thread::get_id() == MainThread_; }

  // Runs `call` on the main thread and returns when it has run; on the main thread, at once.
  // An exception leaving `call` goes to ReportException on the main thread, not to the caller.
  void Synchronize(const TTask& call);
  // Main thread: runs every hand-off queued so far.
  void RunHandOffs();
  // Main thread: runs hand-offs as they arrive until `done` holds. `done` is tested after each
  // round and after each WakeDrain.
  void DrainUntil(const std::function<bool()>& done);
  // Any thread: makes DrainUntil test its condition again.
  void WakeDrain();
  // Any thread: how many hand-offs wait for the main thread now (their callers are blocked).
  std::size_t WaitingHandOffs() const;
  // Any thread: hands `error` to ReportException from a task of the main loop. For an exception
  // caught where it may not pass on (inside the system's dispatch of a message).
  void ReportLater(std::exception_ptr error);

 protected:
  // Main thread: an exception left a call run by RunHandOffs, or was handed to ReportLater.
  virtual void ReportException(std::exception_ptr error) = 0;

 private:
  struct THandOff {
    const TTask* Call = nullptr;
    bool Done = false;
  };

  std::thread::id MainThread_;
  mutable std::mutex Lock_;
  std::condition_variable HandOffDone_;
  std::condition_variable MainWake_;
  std::deque<THandOff*> Pending_;
  bool DrainPosted_ = false;
  std::uint64_t WakeCount_ = 0;
};

}  // namespace glowstep
