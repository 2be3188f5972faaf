// The configurator: one window on the system's HID devices.
#include <cstdio>
#include <memory>

#include "application.h"
#include "main_window.h"
#include "native_platform.h"
#include "qt_main_thread_port.h"

int main(int argc, char** argv) {
  using namespace glowstep;
  TApplication app(argc, argv);
  TQtMainThreadPort port([&app](std::exception_ptr error) { app.ShowException(error); });
  const std::unique_ptr<THidPlatform> platform = CreateNativePlatform();
  TMainWindow window(*platform, port);
  window.show();
  return TApplication::exec();
}
