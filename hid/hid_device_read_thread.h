// The background reader of a checked-out device.
//
// It waits in a read on the device's read connection, with no time-out, and hands each report to
// the main thread, blocking until the data handler has run there. A read that cannot be started,
// or that fails, is reported through the data-error handler and tried again after the device's
// SleepTime until the reader is stopped: an unplugged device that the application still holds
// therefore reports an error every SleepTime.
//
// The reader alone uses the device's read connection. Stopping, and an unplug that needs the
// connection closed, wake it at once: the read returns, and the backend no longer uses the
// buffer, before anything is closed or freed.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "hid/hid_backend.h"

namespace glowstep {

class THidDevice;
class TMainThreadPort;

class THidDeviceReadThread {
 public:
  // Runs on the main thread; the thread starts once construction is complete.
  explicit THidDeviceReadThread(THidDevice& device);
  THidDeviceReadThread(const THidDeviceReadThread&) = delete;
  THidDeviceReadThread& operator=(const THidDeviceReadThread&) = delete;
  // Stops the thread and waits for it (Terminate, WaitFor).
  ~THidDeviceReadThread();

  // Asks the thread to stop and wakes it. Any thread.
  void Terminate();
  // Main thread: waits until the thread has ended, running the main thread's hand-offs meanwhile.
  void WaitFor();
  // Main thread: asks the thread to close the read connection as soon as it can (the device was
  // unplugged) and wakes it.
  void RequestReadClose();

  bool Terminated() const { return Terminated_.load(); }
  // Whether the thread waits now: in a read, or pausing before it tries again.
  bool Waiting() const { return Waiting_.load(); }
  bool Finished() const { return Finished_.load(); }
  // True while this reader's own delivery runs on the main thread.
  bool InDelivery() const { return InDelivery_; }
  // Main thread, from inside the reader's own delivery, after Terminate: detaches the reader
  // from its device and from the main thread. The thread finishes as soon as the delivery
  // returns, touching neither again; the delivery then posts a task to the main loop that
  // joins and frees it.
  static void Orphan(std::unique_ptr<THidDeviceReadThread> reader);

  std::uint32_t LastReadError() const { return LastReadError_; }
  std::uint32_t BytesRead() const { return BytesRead_; }
  std::size_t ReportBufferSize() const { return ReportBuffer_.size(); }

  static constexpr const char* kThreadName = "THidDeviceReadThread";

 private:
  void Execute();
  // Waits in a read on `connection`; a wake that comes before it ends it at once.
  THidReadResult Listen(const std::shared_ptr<THidConnection>& connection);
  // Ends the read or the pause under way, or else the next one.
  void Wake();
  // The pause before the next try, cut short by Wake.
  void Pause();
  // Runs a handler call on the main thread, marked as a delivery.
  void Deliver(const std::function<void()>& callHandler);
  void DeliverReport();
  void DeliverError();

  THidDevice* Device_;
  THidBackend& Backend_;
  TMainThreadPort& Port_;
  std::mutex WakeLock_;
  std::condition_variable Woken_;
  bool WakeSet_ = false;                       // guarded by WakeLock_
  std::shared_ptr<THidConnection> Listening_;  // guarded by WakeLock_: the read under way
  std::vector<std::uint8_t> ReportBuffer_;
  std::uint32_t LastReadError_ = 0;
  std::uint32_t BytesRead_ = 0;
  std::atomic<bool> Terminated_{false};
  std::atomic<bool> CloseRequested_{false};
  std::atomic<bool> Finished_{false};
  std::atomic<bool> Waiting_{false};
  bool InDelivery_ = false;  // main thread only
  std::atomic<bool> Orphaned_{false};
  std::unique_ptr<THidDeviceReadThread> Self_;  // an orphan owns itself until its delivery ends
  std::thread Thread_;
};

}  // namespace glowstep
