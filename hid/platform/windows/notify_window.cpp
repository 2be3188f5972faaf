// The hidden window that hears the system's device-change broadcast.
//
// The broadcast goes to every top-level window, visible or not; a message-only window would
// hear nothing. So this is a plain top-level window that is never shown. It lives on the thread
// that made it, which must be the main thread, whose message loop dispatches its messages: Qt's
// dispatcher in the application, a small pump in the tests (TMainLoop dispatches no window
// messages: a tool on this platform needs a loop that does). Every message goes on to
// DefWindowProcA.
//
// A message is answered inside the system's frames of the dispatch: nothing may unwind through
// them, and nothing should run an event loop of its own there (an error box). So what the refresh
// has to tell, and whatever a handler of the application's raised, waits for a task of the main
// loop.
#include <exception>
#include <mutex>

#include "hid/main_thread_port.h"
#include "hid/platform/windows/windows_internal.h"
#include "hid/platform/windows/windows_platform.h"

namespace glowstep::windows {

namespace {

// Any object of this module: its address names the module that registers the window class.
const char kModuleAnchor = 0;

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      &kModuleAnchor, &module);
  return module;
}

class TNotifyWindow final : public TDeviceNotifier {
 public:
  TNotifyWindow(TMainThreadPort& port, TDeviceChangeCallback callback)
      : Port_(port), Callback_(std::move(callback)) {}

  TNotifyWindow(const TNotifyWindow&) = delete;
  TNotifyWindow& operator=(const TNotifyWindow&) = delete;

  ~TNotifyWindow() override {
    if (Window_ == nullptr) return;
    // Messages that still arrive while the window goes no longer reach this object.
    SetWindowLongPtrA(Window_, GWLP_USERDATA, 0);
    // Only the window's own thread may destroy it; from any other, it is asked to close, which
    // its thread does the next time its loop runs.
    if (GetWindowThreadProcessId(Window_, nullptr) == GetCurrentThreadId())
      DestroyWindow(Window_);
    else
      PostMessageA(Window_, WM_CLOSE, 0, 0);
  }

  bool Create() {
    if (!RegisterClassOnce()) return false;
    Window_ = CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, kNotifyWindowClass, "", WS_POPUP,
                              0, 0, 0, 0, nullptr, nullptr, ThisModule(), this);
    return Window_ != nullptr;
  }

 private:
  static bool RegisterClassOnce() {
    static std::once_flag once;
    static bool registered = false;
    std::call_once(once, [] {
      WNDCLASSEXA windowClass{};
      windowClass.cbSize = sizeof windowClass;
      windowClass.lpfnWndProc = &Procedure;
      windowClass.hInstance = ThisModule();
      windowClass.lpszClassName = kNotifyWindowClass;
      registered =
          RegisterClassExA(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    });
    return registered;
  }

  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
      SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<TNotifyWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    // The controller decides which device-change messages refresh; it may also destroy this
    // window while it runs, so nothing of `self` is used afterwards.
    if (self != nullptr && message == WM_DEVICECHANGE) self->Deliver(message, wParam, lParam);
    return DefWindowProcA(window, message, wParam, lParam);
  }

  void Deliver(UINT message, WPARAM wParam, LPARAM lParam) {
    // The callback may destroy this window: what is needed afterwards is taken first.
    TMainThreadPort& port = Port_;
    const TDeviceChangeCallback callback = Callback_;
    TDeviceChangeReport report;
    try {
      report = callback(message, wParam, lParam);
    } catch (...) {
      // A handler's exception goes to the main thread's report, as one from a hand-off does.
      port.ReportLater(std::current_exception());
      return;
    }
    if (report) port.Post(std::move(report));
  }

  TMainThreadPort& Port_;
  TDeviceChangeCallback Callback_;
  HWND Window_ = nullptr;
};

}  // namespace

std::unique_ptr<TDeviceNotifier> CreateNotifyWindow(TMainThreadPort& port,
                                                    TDeviceChangeCallback callback) {
  // A window hears only what its thread's loop dispatches, and only the main thread runs one.
  // Elsewhere there is none: the controller still lists what is present at its first refresh,
  // and tells the main loop that later changes go unseen.
  if (!port.IsMainThread()) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return nullptr;
  }
  auto window = std::make_unique<TNotifyWindow>(port, std::move(callback));
  if (!window->Create()) return nullptr;
  return window;
}

}  // namespace glowstep::windows
