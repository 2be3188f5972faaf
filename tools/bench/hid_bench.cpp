// Measures two figures of the HID layer on the simulated platform:
//  1. the time from an input report arriving at a held device to its OnDeviceData call on the
//     main thread (one report at a time, each sent once the previous one was handled);
//  2. how often the reader of a held, idle device wakes up, counted by the kernel as the context
//     switches of the reader thread (Linux only).
//
// Usage: glowstep-hid-bench [reports] [idle seconds]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "hid/hid_device.h"
#include "hid/hid_device_controller.h"
#include "hid/main_loop.h"
#include "hid/platform/sim/sim_platform.h"
#include "tools/bench/latency_probe.h"

using namespace glowstep;
using namespace glowstep::bench;
using namespace std::chrono_literals;

int main(int argc, char** argv) {
  const int reports = argc > 1 ? std::atoi(argv[1]) : 10000;
  const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 5;

  TMainLoop loop;
  TSimPlatform sim;
  const auto id = sim.Plug(TSimInterfaceSpec{});
  THidDeviceController controller(sim, loop);
  controller.SetDevThreadSleepTime(50);  // the configurator's setting

  TLatencyProbe probe(reports);
  controller.SetOnDeviceData(probe.Handler());
  loop.RunPending();  // the first refresh lists the device
  THidDevice* device = nullptr;
  if (!controller.CheckOutAt(device, 0)) {
    std::fprintf(stderr, "no device\n");
    return 1;
  }

  probe.Run(loop, [&sim, id](int i) {
    std::vector<std::uint8_t> report(65, 0);  // the report ID, then the payload
    report[1] = static_cast<std::uint8_t>(i);
    report[2] = static_cast<std::uint8_t>(i >> 8);
    report[3] = static_cast<std::uint8_t>(i >> 16);
    sim.SendInputReport(id, report);
  });
  std::printf("input report -> OnDeviceData on the main thread, %s\n", probe.Summary().c_str());

  for (std::int32_t sleepTime : {50, 100}) {
    device->SetSleepTime(sleepTime);
    loop.RunFor(300ms);  // let a slice of the new length begin
    std::printf("idle reader, %s\n",
                IdleReaderWakeups(loop, std::chrono::seconds(idleSeconds), sleepTime).c_str());
  }
  return 0;
}
