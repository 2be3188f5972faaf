// The configurator: one window on the system's HID devices.
#include <cstdio>
#include <memory>

#include "app/application.h"
#include "app/main_window.h"
#include "app/qt_main_thread_port.h"
#include "hid/native_platform.h"

int main(int argc, char** argv) {
  using namespace glowstep;
  TApplication app(argc, argv);
  TQtMainThreadPort port([&app](std::exception_ptr error) { app.ShowException(error); });
  const std::unique_ptr<THidBackend> platform = CreateNativeBackend();
  TMainWindow window(*platform, port);
  window.show();
  return TApplication::exec();
}
