#include "hid/hid_device_read_thread.h"

#include <algorithm>

#include "base/scope_guard.h"
#include "hid/hid_device.h"
#include "hid/hid_device_controller.h"
#include "hid/main_thread_port.h"

namespace glowstep {

THidDeviceReadThread::THidDeviceReadThread(THidDevice& device)
    : Device_(&device),
      Platform_(device.Platform_),
      Port_(device.Controller_->Port()),
      Read_(Platform_.CreateRead()) {
  // The buffer is sized once, here on the main thread; the thread never asks for the
  // capabilities again, so it neither touches the general handle nor outgrows its buffer.
  THidCaps caps;
  device.QueryCaps(caps);
  ReportBuffer_.assign(caps.InputReportByteLength, 0);
  // The read handle is opened before the thread starts, so a report that answers a request
  // written right after the check-out already finds it (a handle sees only the reports that
  // arrive while it is open).
  device.OpenReadSide();
  Thread_ = std::thread([this] { Execute(); });
}

THidDeviceReadThread::~THidDeviceReadThread() {
  if (Thread_.joinable()) {
    Terminate();
    WaitFor();
  }
}

void THidDeviceReadThread::Terminate() {
  Terminated_ = true;
  Read_->Wake();
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
  Read_->Wake();
}

void THidDeviceReadThread::Execute() {
  Platform_.NameCurrentThread(kThreadName);
  // The result of the last wait: anything but kWaitIoCompletion on leaving means a read is
  // still outstanding and must be cancelled before the buffer goes.
  std::uint32_t waitResult = kWaitIoCompletion;
  const auto length = static_cast<std::uint32_t>(ReportBuffer_.size());
  try {
    while (!Terminated_) {
      if (CloseRequested_.exchange(false)) Device_->CloseReadSide();
      waitResult = kWaitIoCompletion;
      std::fill(ReportBuffer_.begin(), ReportBuffer_.end(), std::uint8_t{0});
      if (Device_->BeginReadReport(ReportBuffer_.data(), length, *Read_)) {
        do {
          waitResult = Read_->Wait(Device_->SleepTime());
        } while (!Terminated_ && waitResult != kWaitIoCompletion && !CloseRequested_);
        if (waitResult != kWaitIoCompletion) {
          if (Terminated_) break;
          // The device went away: let go of the read; the top of the loop closes the handle.
          Device_->CancelRead(*Read_);
          waitResult = kWaitIoCompletion;
          continue;
        }
        if (Terminated_) break;
        std::uint32_t count = 0;
        if (Device_->ReadResult(*Read_, count)) {
          BytesRead_ = std::min(count, length);
          if (BytesRead_ > 0) DeliverReport();
          continue;
        }
        // A read that ended in an error is reported like one that cannot start: the report it
        // was to bring is lost. A read taken back from the system is no error of the device.
        if (Platform_.LastError() == kErrorOperationAborted) continue;
      }
      LastReadError_ = Platform_.LastError();
      DeliverError();
      if (!Terminated_) Read_->Wait(Device_->SleepTime());
    }
  } catch (...) {
    // Nothing in the loop raises by design; whatever does must not take the process down.
  }
  // An orphan leaves only from a finished delivery, with no read outstanding; its device and
  // the main thread may be gone.
  if (Orphaned_) {
    Finished_ = true;
    return;
  }
  if (waitResult != kWaitIoCompletion) Device_->CancelRead(*Read_);
  // A close asked for (the device was unplugged) and not yet done when the stop came is done
  // here, by the thread that owns the handle, as it would have been had the stop come later.
  if (CloseRequested_.exchange(false)) Device_->CloseReadSide();
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
