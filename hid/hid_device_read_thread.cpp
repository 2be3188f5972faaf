#include "hid/hid_device_read_thread.h"

#include <algorithm>

#include "base/scope_guard.h"
#include "hid/hid_device.h"
#include "hid/hid_device_controller.h"
#include "hid/main_thread_port.h"

namespace glowstep {

THidDeviceReadThread::THidDeviceReadThread(THidDevice& device)
    : Device_(&device), Backend_(device.Backend_), Port_(device.Controller_->Port()) {
  // The buffer is sized once, here on the main thread; the thread never asks for the
  // capabilities again, so it neither touches the general connection nor outgrows its buffer.
  THidCaps caps;
  device.QueryCaps(caps);
  ReportBuffer_.assign(caps.InputReportByteLength, 0);
  // The read connection is opened before the thread starts, so a report that answers a request
  // written right after the check-out already finds it (a connection sees only the reports that
  // arrive while it is open).
  THidError error;
  device.OpenReadSide(error);
  Thread_ = std::thread([this] { Execute(); });
}

THidDeviceReadThread::~THidDeviceReadThread() {
  if (Thread_.joinable()) {
    Terminate();
    WaitFor();
  }
}

void THidDeviceReadThread::Wake() {
  std::lock_guard lock(WakeLock_);
  WakeSet_ = true;
  Woken_.notify_all();
  if (Listening_ != nullptr) Listening_->Wake();
}

void THidDeviceReadThread::Terminate() {
  Terminated_ = true;
  Wake();
}

void THidDeviceReadThread::WaitFor() {
  if (!Thread_.joinable()) return;
  // An orphan hands nothing to the main thread any more: it only has to end.
  if (!Orphaned_) Port_.DrainUntil([this] { return Finished_.load(); });
  Thread_.join();
}

void THidDeviceReadThread::Orphan(std::unique_ptr<THidDeviceReadThread> reader) {
  THidDeviceReadThread& self = *reader;
  self.Orphaned_ = true;
  self.Self_ = std::move(reader);
}

void THidDeviceReadThread::RequestReadClose() {
  CloseRequested_ = true;
  Wake();
}

THidReadResult THidDeviceReadThread::Listen(const std::shared_ptr<THidConnection>& connection) {
  {
    std::lock_guard lock(WakeLock_);
    // What woke the reader before it got here is looked at first.
    if (WakeSet_) {
      WakeSet_ = false;
      return THidReadResult{0, {}, true};
    }
    Listening_ = connection;
  }
  Waiting_ = true;
  THidReadResult result = connection->Read(ReportBuffer_);
  Waiting_ = false;
  std::lock_guard lock(WakeLock_);
  Listening_.reset();
  return result;
}

void THidDeviceReadThread::Pause() {
  std::unique_lock lock(WakeLock_);
  Waiting_ = true;
  Woken_.wait_for(lock, std::chrono::milliseconds(Device_->SleepTime()),
                  [this] { return WakeSet_; });
  Waiting_ = false;
  WakeSet_ = false;
}

void THidDeviceReadThread::Execute() {
  Backend_.NameCurrentThread(kThreadName);
  try {
    while (!Terminated_) {
      if (CloseRequested_.exchange(false)) Device_->CloseReadSide();
      std::fill(ReportBuffer_.begin(), ReportBuffer_.end(), std::uint8_t{0});
      THidError error;
      const std::shared_ptr<THidConnection> connection = Device_->OpenReadSide(error);
      // A device without input reports gets no read: an empty read would complete at once,
      // again and again.
      if (connection != nullptr && ReportBuffer_.empty()) error = {kErrorInvalidParameter, 0};
      if (connection != nullptr && !error) error = connection->ReadStartError();
      if (!error) {
        const THidReadResult result = Listen(connection);
        if (result.Woken) continue;
        if (!result.Error) {
          BytesRead_ = std::min<std::uint32_t>(result.Count,
                                               static_cast<std::uint32_t>(ReportBuffer_.size()));
          if (BytesRead_ > 0 && !Terminated_) DeliverReport();
          continue;
        }
        // A read that ended in an error is reported like one that cannot start: the report it
        // was to bring is lost. A read taken back from the system is no error of the device.
        if (result.Error.Code == kErrorOperationAborted) continue;
        error = result.Error;
      }
      if (Terminated_) break;
      LastReadError_ = error.Code;
      DeliverError();
      if (!Terminated_) Pause();
    }
  } catch (...) {
    // Nothing in the loop raises by design; whatever does must not take the process down.
  }
  // An orphan leaves only from a finished delivery, with no read under way; its device and the
  // main thread may be gone.
  if (Orphaned_) {
    Finished_ = true;
    return;
  }
  // The read connection goes with the reader that owns it: reports for nobody are not queued.
  Device_->CloseReadSide();
  Finished_ = true;
  Port_.WakeDrain();
}

void THidDeviceReadThread::Deliver(const std::function<void()>& callHandler) {
  Port_.Synchronize([this, &callHandler] {
    // When the handler orphaned the reader, the join is posted once the delivery is over
    // (returned or raised): posted earlier, a nested event loop inside the handler could run it
    // while the thread still waits for the very delivery that is running.
    const TScopeExit joinOrphan([this] {
      if (!Self_) return;
      Port_.Post([orphan = std::shared_ptr<THidDeviceReadThread>(std::move(Self_))] {
        orphan->WaitFor();
      });
    });
    const TScopeValue delivering(InDelivery_, true);
    callHandler();
  });
}

void THidDeviceReadThread::DeliverReport() {
  Deliver([this] {
    // A copy: the handler may replace the device's handler while it runs.
    const THidDataEvent handler = Device_->DataHandler();
    if (handler)
      handler(Device_, ReportBuffer_[0], ReportBuffer_.data() + 1,
              static_cast<std::uint16_t>(BytesRead_ - 1));
  });
}

void THidDeviceReadThread::DeliverError() {
  Deliver([this] {
    const THidDataErrorEvent handler = Device_->DataErrorHandler();
    if (handler) handler(Device_, LastReadError_);
  });
}

}  // namespace glowstep
