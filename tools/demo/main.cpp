// The configurator on a simulated HID platform, with a virtual "Glowstep 3.2" controller
// plugged in. Commands on standard input change the virtual world while the window runs; every
// report a virtual device receives or sends is written to standard output.
#include <cstdio>
#include <string>

#include "app/application.h"
#include "app/main_window.h"
#include "app/qt_main_thread_port.h"
#include "tools/demo/command_input.h"
#include "tools/demo/demo_world.h"
#include "tools/startup_probe/first_paint_probe.h"

int main(int argc, char** argv) {
  using namespace glowstep;
  TApplication app(argc, argv);
  TQtMainThreadPort port([&app](std::exception_ptr error) { app.ShowException(error); });
  TDemoWorld world([](const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  });
  world.Execute("plug Glowstep 3.2");

  TMainWindow window(world.Platform(), port);
  TFirstPaintProbe::InstallOn(&window);
  window.show();

  // Standard input is read on this thread, between the window's events; "quit" ends the loop
  // and stops the reading, so no line runs once the window is closing.
  const TCommandInput input(port, 0, [&world](const std::string& line) {
    if (world.Execute(line)) return true;
    TApplication::quit();
    return false;
  });
  if (!input.Reading()) std::fputs("commands on standard input cannot be read here\n", stderr);

  return TApplication::exec();
}
