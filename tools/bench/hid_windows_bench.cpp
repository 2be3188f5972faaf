// Measures the Windows backend through the whole HID stack, with a named pipe standing in for
// the controller (runs under wine; no device is needed):
//  1. how often the reader of a held, idle device wakes: the waits of its reads that return
//     while nothing arrives, for each SleepTime;
//  2. the time from a report written into the pipe to its OnDeviceData call on the main thread
//     (one report at a time).
//
// Usage: glowstep-hid-windows-bench [idle seconds] [reports]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "hid/hid_device.h"
#include "hid/hid_device_controller.h"
#include "hid/main_loop.h"
#include "hid/platform/windows/pipe_fixture.h"
#include "hid/platform/windows/windows_backend.h"
#include "tools/bench/latency_probe.h"

using namespace glowstep;
using namespace glowstep::bench;
using namespace std::chrono_literals;

int main(int argc, char** argv) {
  const int idleSeconds = argc > 1 ? std::atoi(argv[1]) : 2;
  const int reports = argc > 2 ? std::atoi(argv[2]) : 2000;

  TStandInPipe pipe;
  TPipePlatform platform(pipe);
  TWindowsHidBackend backend(platform);
  TMainLoop loop;
  THidDeviceController controller(backend, loop);
  controller.SetDevThreadSleepTime(50);  // the configurator's setting
  TLatencyProbe probe(reports);
  controller.SetOnDeviceData(probe.Handler());
  loop.RunPending();  // the first refresh lists the pipe
  THidDevice* device = nullptr;
  if (!controller.CheckOutAt(device, 0)) {
    std::fprintf(stderr, "the stand-in device could not be held\n");
    return 1;
  }
  const HANDLE readServer = platform.ServerOf(TFileAccess::Read);

  for (std::int32_t sleepTime : {50, 10}) {
    device->SetSleepTime(sleepTime);
    loop.RunFor(300ms);  // a wait of the new slice has begun
    const std::int64_t before = platform.WaitsReturned();
    const auto start = TClock::now();
    loop.RunFor(std::chrono::seconds(idleSeconds));
    const double seconds = std::chrono::duration<double>(TClock::now() - start).count();
    const std::int64_t waits = platform.WaitsReturned() - before;
    std::printf("idle reader, SleepTime %d ms: %lld waits returned in %.1f s (%.2f/s)\n", sleepTime,
                static_cast<long long>(waits), seconds, static_cast<double>(waits) / seconds);
  }

  probe.Run(loop, [readServer](int i) {
    std::vector<std::uint8_t> report(TPipePlatform::kReportLength, 0);  // report ID, payload
    report[1] = static_cast<std::uint8_t>(i);
    report[2] = static_cast<std::uint8_t>(i >> 8);
    report[3] = static_cast<std::uint8_t>(i >> 16);
    if (!TStandInPipe::Send(readServer, report)) std::abort();
  });
  std::printf("pipe -> OnDeviceData on the main thread, %s\n", probe.Summary().c_str());
  return 0;
}
