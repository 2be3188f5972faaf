// Shared pieces of the Windows platform tests: a pump that runs the main loop's tasks and the
// thread's window messages, and a named pipe that stands in for a device.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "main_loop.h"
#include "windows_platform.h"

namespace glowstep::testing {

using namespace std::chrono_literals;

// Runs posted tasks and window messages until `done` holds or `timeout` passed; returns done().
inline bool PumpUntil(TMainLoop& loop,
                      const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = 3000ms) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    loop.RunPending();
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    loop.RunPending();
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
}

inline void PumpFor(TMainLoop& loop, std::chrono::milliseconds duration) {
  PumpUntil(
      loop, [] { return false; }, duration);
}

inline HWND NotifyWindow() { return FindWindowExA(nullptr, nullptr, kNotifyWindowClass, nullptr); }

// The server end of a message-mode named pipe. A client open needs a listening server instance:
// AddInstance makes one, and the next client connects to it.
class TTestPipe {
 public:
  TTestPipe() {
    static std::atomic<int> next{0};
    Path_ = "\\\\.\\pipe\\glowstep-hid-test-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(next++);
  }
  TTestPipe(const TTestPipe&) = delete;
  TTestPipe& operator=(const TTestPipe&) = delete;
  ~TTestPipe() { CloseAll(); }

  const std::string& Path() const { return Path_; }

  HANDLE AddInstance() {
    const HANDLE instance = CreateNamedPipeA(Path_.c_str(), PIPE_ACCESS_DUPLEX,
                                             PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                             PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
    if (instance != INVALID_HANDLE_VALUE) Instances_.push_back(instance);
    return instance;
  }

  static bool Send(HANDLE instance, const std::vector<std::uint8_t>& bytes) {
    DWORD written = 0;
    return WriteFile(instance, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
  }

  // The next message a client wrote to `instance`, or nothing.
  static std::vector<std::uint8_t> Receive(HANDLE instance) {
    DWORD available = 0;
    if (!PeekNamedPipe(instance, nullptr, 0, nullptr, &available, nullptr) || available == 0)
      return {};
    std::vector<std::uint8_t> bytes(available);
    DWORD read = 0;
    if (!ReadFile(instance, bytes.data(), available, &read, nullptr)) return {};
    bytes.resize(read);
    return bytes;
  }

  static bool ClientGone(HANDLE instance) {
    DWORD available = 0;
    return !PeekNamedPipe(instance, nullptr, 0, nullptr, &available, nullptr);
  }

  // The device goes away: every server instance closes.
  void CloseAll() {
    for (HANDLE instance : Instances_) CloseHandle(instance);
    Instances_.clear();
  }

 private:
  std::string Path_;
  std::vector<HANDLE> Instances_;
};

}  // namespace glowstep::testing
