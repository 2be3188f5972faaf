// The configurator on a simulated HID platform, with a virtual "Glowstep 3.2" controller
// plugged in. Commands on standard input change the virtual world while the window runs; every
// report a virtual device receives or sends is written to standard output.
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

#include "application.h"
#include "demo_world.h"
#include "first_paint_probe.h"
#include "main_window.h"
#include "qt_main_thread_port.h"

int main(int argc, char** argv) {
  using namespace glowstep;
  TApplication app(argc, argv);
  TQtMainThreadPort port([&app](std::exception_ptr error) { app.ShowException(error); });
  TDemoWorld world([](const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
  });
  world.Execute("plug Glowstep 3.2");

  TMainWindow window(world.Platform(), port);
  TFirstPaintProbe::InstallOn(&window);
  window.show();

  // Lines are read on a thread of their own and run on the main thread, one at a time.
  std::thread([&port, &world, &app] {
    for (std::string line; std::getline(std::cin, line);) {
      port.Post([&world, &app, line] {
        if (!world.Execute(line)) app.quit();
      });
    }
  }).detach();

  return TApplication::exec();
}
