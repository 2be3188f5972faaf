// Measures two figures of the HID layer on the simulated platform:
//  1. the time from an input report arriving at a held device to its OnDeviceData call on the
//     main thread (one report at a time, each sent once the previous one was handled);
//  2. how often the reader of a held, idle device wakes up, counted by the kernel as the context
//     switches of the reader thread (Linux only).
//
// Usage: glowstep-hid-bench [reports] [idle seconds]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "hid_device.h"
#include "hid_device_controller.h"
#include "main_loop.h"
#include "sim_platform.h"
#include "thread_stats.h"

using namespace glowstep;
using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

namespace {

double Microseconds(TClock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int reports = argc > 1 ? std::atoi(argv[1]) : 10000;
  const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 5;

  TMainLoop loop;
  TSimPlatform sim;
  const auto id = sim.Plug(TSimInterfaceSpec{});
  THidDeviceController controller(sim, loop);
  controller.SetDevThreadSleepTime(50);  // the configurator's setting

  std::vector<TClock::time_point> sent(static_cast<std::size_t>(reports));
  std::vector<TClock::duration> latency;
  latency.reserve(static_cast<std::size_t>(reports));
  std::atomic<int> handled{0};
  controller.SetOnDeviceData(
      THidDataEvent([&](THidDevice*, std::uint8_t, const std::uint8_t* data, std::uint16_t) {
        const auto now = TClock::now();
        const std::size_t index = data[0] | static_cast<std::size_t>(data[1]) << 8 |
                                  static_cast<std::size_t>(data[2]) << 16;
        latency.push_back(now - sent[index]);
        handled.fetch_add(1, std::memory_order_release);
      }));
  loop.RunPending();  // the first refresh lists the device
  THidDevice* device = nullptr;
  if (!controller.CheckOutAt(device, 0)) {
    std::fprintf(stderr, "no device\n");
    return 1;
  }

  std::thread producer([&] {
    std::vector<std::uint8_t> report(65, 0);
    for (int i = 0; i < reports; ++i) {
      report[1] = static_cast<std::uint8_t>(i);
      report[2] = static_cast<std::uint8_t>(i >> 8);
      report[3] = static_cast<std::uint8_t>(i >> 16);
      sent[static_cast<std::size_t>(i)] = TClock::now();
      sim.SendInputReport(id, report);
      while (handled.load(std::memory_order_acquire) <= i) std::this_thread::yield();
    }
  });
  loop.RunUntil([&] { return handled.load() == reports; }, std::chrono::minutes(5));
  producer.join();

  std::sort(latency.begin(), latency.end());
  const auto at = [&](double q) {
    return latency[std::min(latency.size() - 1,
                            static_cast<std::size_t>(q * static_cast<double>(latency.size())))];
  };
  std::printf("input report -> OnDeviceData on the main thread, %zu reports:\n", latency.size());
  std::printf("  median %.1f us, p99 %.1f us, max %.1f us\n", Microseconds(at(0.5)),
              Microseconds(at(0.99)), Microseconds(latency.back()));

  for (std::int32_t sleepTime : {50, 100}) {
    device->SetSleepTime(sleepTime);
    loop.RunFor(300ms);  // let a slice of the new length begin
    const long long before = ContextSwitchesOfThreadNamed("THidDeviceRead");
    const auto start = TClock::now();
    loop.RunFor(std::chrono::seconds(idleSeconds));
    const long long after = ContextSwitchesOfThreadNamed("THidDeviceRead");
    const double seconds = std::chrono::duration<double>(TClock::now() - start).count();
    if (before < 0 || after < 0) {
      std::printf("idle reader, SleepTime %d ms: wake-ups not measurable on this system\n",
                  sleepTime);
      continue;
    }
    std::printf("idle reader, SleepTime %d ms: %.1f wake-ups/s (%lld in %.1f s)\n", sleepTime,
                static_cast<double>(after - before) / seconds, after - before, seconds);
  }
  return 0;
}
