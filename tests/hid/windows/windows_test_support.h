// Shared pieces of the Windows platform tests: a pump that runs the main loop's tasks and the
// thread's window messages.
#pragma once

// windows.h the way the platform includes it, before anything else can.
#include "hid/platform/windows/windows_internal.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string_view>

#include "hid/main_loop.h"
#include "hid/platform/windows/windows_platform.h"
#include "testing/waiting.h"

namespace glowstep::testing {

using namespace std::chrono_literals;

// Runs posted tasks and window messages until `done` holds or `timeout` passed; returns done().
inline bool PumpUntil(TMainLoop& loop,
                      const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = kPatience) {
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

// Runs the posted tasks and the window messages there are now, without waiting for more.
inline void PumpPending(TMainLoop& loop) {
  PumpUntil(loop, [] { return true; });
}

// For timing rules only: everything else waits for what it expects.
inline void PumpFor(TMainLoop& loop, std::chrono::milliseconds duration) {
  PumpUntil(
      loop, [] { return false; }, duration);
}

// The notification window of a controller made on this thread. Every program's windows share the
// desktop: another test running at the same time has one of the same class.
inline HWND NotifyWindow() {
  HWND found = nullptr;
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM result) -> BOOL {
        char name[64] = {};
        GetClassNameA(window, name, sizeof name);
        if (std::string_view(name) != kNotifyWindowClass) return TRUE;
        *reinterpret_cast<HWND*>(result) = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

}  // namespace glowstep::testing
