// The reader's asynchronous read: ReadFileEx with a completion routine, alertable waits, and
// CancelIo from the thread that started the read.
//
// The system may write into a read's overlapped record and buffer until the read's completion
// routine has run, which happens only on the starting thread, during an alertable wait. So the
// record and the buffer live in a request that this object owns, the report is copied to the
// caller's buffer when the routine runs, and a cancel waits until the routine has run. Should
// that not happen in time (a driver that never completes a cancel), the request is left to the
// system for good: its routine frees it if it ever runs, nothing else touches it again, and the
// cancel fails with ERROR_TIMEOUT.
//
// A read that completes with an error makes the next start fail with that error, once.
#include <algorithm>
#include <cstring>
#include <vector>

#include "hid/platform/windows/windows_internal.h"
#include "hid/platform/windows/windows_platform.h"

namespace glowstep::windows {

namespace {

using TCancelIo = BOOL(WINAPI*)(HANDLE);

// Slices in which a cancelled read is waited for.
constexpr DWORD kCancelSliceMs = 20;

class TOverlappedRead;

struct TReadRequest {
  OVERLAPPED Overlapped{};  // its event member carries this request, not an event
  std::vector<std::uint8_t> Buffer;
  TOverlappedRead* Owner = nullptr;  // none once the request was left to the system
  THidHandle Handle = kInvalidHandle;
  bool Pending = false;
  bool Completed = false;
  DWORD Error = 0;
  DWORD Count = 0;
};

class TOverlappedRead final : public TPlatformRead {
 public:
  explicit TOverlappedRead(DWORD cancelTimeoutMs)
      : Request_(NewRequest()),
        WakeEvent_(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
        CancelTimeoutMs_(cancelTimeoutMs) {
    Request_->Owner = this;
  }

  TOverlappedRead(const TOverlappedRead&) = delete;
  TOverlappedRead& operator=(const TOverlappedRead&) = delete;

  ~TOverlappedRead() override {
    // A read still outstanding here was started by a thread that no longer waits for it; its
    // request stays with the system.
    if (Request_->Pending) Abandon();
    if (WakeEvent_ != nullptr) CloseHandle(WakeEvent_);
  }

  bool Begin(THidHandle handle, std::uint8_t* buffer, std::uint32_t length) override {
    if (buffer == nullptr || length == 0 || handle == kInvalidHandle || Request_->Pending) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    if (FailedHandle_ != kInvalidHandle) {
      // The last read on this handle completed with an error: that is this start's failure, so
      // the reader reports it and waits a slice, as for a read the system refused to start. A
      // driver that takes every read and then fails it cannot make the reader spin.
      const bool sameHandle = FailedHandle_ == handle;
      FailedHandle_ = kInvalidHandle;
      if (sameHandle) {
        SetLastError(FailedError_);
        return false;
      }
    }
    TReadRequest& request = *Request_;
    request.Buffer.resize(length);  // allocates only when a longer report is asked for
    request.Overlapped = OVERLAPPED{};
    request.Overlapped.hEvent = &request;
    request.Handle = handle;
    request.Completed = false;
    request.Error = 0;
    request.Count = 0;
    Target_ = buffer;
    TargetLength_ = length;
    CompletionUnseen_ = false;
    // A read that takes only part of a longer pipe message has started all the same: wine says
    // ERROR_MORE_DATA here and still runs the completion routine, which then says it again.
    if (!ReadFileEx(ToHandle(handle), request.Buffer.data(), length, &request.Overlapped,
                    &Completion) &&
        GetLastError() != ERROR_MORE_DATA)
      return false;
    request.Pending = true;
    return true;
  }

  std::uint32_t Wait(std::int32_t milliseconds) override {
    // With a read outstanding the wait lasts until its completion routine has run or Wake was
    // called: an idle reader does not wake. Without one (the pause after a failed start) it
    // lasts the slice. A completion routine runs inside the alertable wait.
    const DWORD slice = static_cast<DWORD>(std::max(milliseconds, 0));
    while (!CompletionUnseen_) {
      const DWORD limit = Request_->Pending ? INFINITE : slice;
      const DWORD result =
          WakeEvent_ != nullptr ? WaitForSingleObjectEx(WakeEvent_, limit, TRUE) : WAIT_FAILED;
      if (result == WAIT_FAILED) {
        // Without the wake event only the slice can end the wait; completions are still seen.
        SleepEx(slice, TRUE);
        break;
      }
      // Woken, the slice over, or a routine ran (perhaps that of a read given up on earlier).
      if (result != WAIT_IO_COMPLETION || !Request_->Pending) break;
    }
    if (!CompletionUnseen_) return kWaitTimeout;
    CompletionUnseen_ = false;
    return kWaitIoCompletion;
  }

  bool Result(THidHandle handle, std::uint32_t& count) override {
    count = 0;
    const TReadRequest& request = *Request_;
    if (!request.Completed || handle != request.Handle) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    DWORD transferred = 0;
    if (!GetOverlappedResult(ToHandle(handle), &Request_->Overlapped, &transferred, FALSE))
      return false;
    count = std::min<DWORD>(transferred, TargetLength_);
    return true;
  }

  bool Cancel(THidHandle handle) override {
    TReadRequest& request = *Request_;
    if (!request.Pending || handle != request.Handle) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    // Looked up at each call: a system without it cannot cancel, and says so.
    const auto cancelIo = reinterpret_cast<TCancelIo>(Kernel32Entry("CancelIo"));
    const bool cancelled = cancelIo != nullptr && cancelIo(ToHandle(handle)) != FALSE;
    DWORD error = GetLastError();
    if (cancelIo != nullptr) {
      // Also when CancelIo failed: the read may have completed just before, and its routine is
      // waiting for an alertable moment.
      for (DWORD waited = 0; request.Pending && waited < CancelTimeoutMs_; waited += kCancelSliceMs)
        SleepEx(kCancelSliceMs, TRUE);
    }
    const bool abandoned = Request_->Pending;
    if (abandoned) {
      Abandon();
      error = ERROR_TIMEOUT;
    }
    Target_ = nullptr;
    CompletionUnseen_ = false;       // a cancelled read is not a report
    FailedHandle_ = kInvalidHandle;  // nor a failure to report
    SetLastError(error);
    return cancelled && !abandoned;
  }

  void Wake() override { SetEvent(WakeEvent_); }

 private:
  static std::unique_ptr<TReadRequest> NewRequest() { return std::make_unique<TReadRequest>(); }

  static void CALLBACK Completion(DWORD error, DWORD count, LPOVERLAPPED overlapped) {
    auto* request = static_cast<TReadRequest*>(overlapped->hEvent);
    request->Pending = false;
    request->Completed = true;
    request->Error = error;
    request->Count = count;
    if (request->Owner == nullptr) {
      // Left to the system earlier; this is its last use.
      std::unique_ptr<TReadRequest> abandoned(request);
      return;
    }
    request->Owner->Completed(*request);
  }

  void Completed(const TReadRequest& request) {
    if (request.Error == ERROR_SUCCESS && Target_ != nullptr) {
      const std::size_t count = std::min<std::size_t>(request.Count, TargetLength_);
      std::memcpy(Target_, request.Buffer.data(), count);
    } else if (request.Error != ERROR_SUCCESS) {
      FailedHandle_ = request.Handle;
      FailedError_ = request.Error;
    }
    CompletionUnseen_ = true;
  }

  // Leaves the outstanding request to the system and takes a fresh one.
  void Abandon() {
    Request_->Owner = nullptr;
    [[maybe_unused]] TReadRequest* leftToSystem = Request_.release();
    Request_ = NewRequest();
    Request_->Owner = this;
  }

  std::unique_ptr<TReadRequest> Request_;
  HANDLE WakeEvent_ = nullptr;
  const DWORD CancelTimeoutMs_;
  std::uint8_t* Target_ = nullptr;
  std::uint32_t TargetLength_ = 0;
  bool CompletionUnseen_ = false;
  // The handle whose last read completed with FailedError_, until the next start reports it.
  THidHandle FailedHandle_ = kInvalidHandle;
  DWORD FailedError_ = 0;
};

}  // namespace

std::unique_ptr<TPlatformRead> CreateOverlappedRead(DWORD cancelTimeoutMs) {
  return std::make_unique<TOverlappedRead>(cancelTimeoutMs);
}

}  // namespace glowstep::windows
