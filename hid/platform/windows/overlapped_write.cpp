// A report write that ends in bounded time: an overlapped WriteFile, waited for up to a time
// limit, then cancelled.
//
// The system reads the report and writes the overlapped record until the write has completed,
// also after a cancel was asked for. So both live in a request of their own, and a cancelled
// write is waited for until the system has let go of it. Should that not happen in time (a driver
// that never completes a cancel), the request is left to the system for good rather than freed
// under it.
#include <memory>
#include <vector>

#include "hid/platform/windows/windows_internal.h"

namespace glowstep::windows {

namespace {

struct TWriteRequest {
  TWriteRequest(const std::uint8_t* buffer, std::uint32_t length)
      : Report(buffer, buffer + length), Done(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    Overlapped.hEvent = Done;
  }
  TWriteRequest(const TWriteRequest&) = delete;
  TWriteRequest& operator=(const TWriteRequest&) = delete;
  ~TWriteRequest() {
    if (Done != nullptr) CloseHandle(Done);
  }

  OVERLAPPED Overlapped{};
  std::vector<std::uint8_t> Report;
  HANDLE Done;
};

}  // namespace

bool WriteWithTimeLimit(HANDLE file,
                        const std::uint8_t* buffer,
                        std::uint32_t length,
                        std::uint32_t& written,
                        DWORD limitMs,
                        DWORD cancelLimitMs) {
  written = 0;
  if (buffer == nullptr && length != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  auto request = std::make_unique<TWriteRequest>(buffer, length);
  if (request->Done == nullptr) return false;
  // On a handle opened for overlapped I/O the write goes on in the background; on any other the
  // call itself waits, and the record only receives the outcome.
  if (!::WriteFile(file, request->Report.data(), length, nullptr, &request->Overlapped) &&
      GetLastError() != ERROR_IO_PENDING)
    return false;

  DWORD count = 0;
  if (WaitForSingleObject(request->Done, limitMs) != WAIT_OBJECT_0) {
    // Only this write is cancelled; whatever else runs on the handle goes on.
    CancelIoEx(file, &request->Overlapped);
    if (WaitForSingleObject(request->Done, cancelLimitMs) != WAIT_OBJECT_0) {
      [[maybe_unused]] TWriteRequest* leftToSystem = request.release();
      SetLastError(ERROR_TIMEOUT);
      return false;
    }
    // It may have been taken just before the cancel reached it.
    if (GetOverlappedResult(file, &request->Overlapped, &count, FALSE)) {
      written = count;
      return true;
    }
    SetLastError(ERROR_TIMEOUT);
    return false;
  }
  const BOOL ok = GetOverlappedResult(file, &request->Overlapped, &count, FALSE);
  written = count;
  return ok != FALSE;
}

}  // namespace glowstep::windows
