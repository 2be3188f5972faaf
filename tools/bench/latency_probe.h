// What the HID benchmarks share: the time from a report entering a device to its OnDeviceData
// call on the main thread, and the wake-ups of an idle reader.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "hid/hid_events.h"
#include "hid/main_loop.h"
#include "testing/thread_stats.h"

namespace glowstep::bench {

using TClock = std::chrono::steady_clock;

inline double Microseconds(TClock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

// Each report carries its number in the first three bytes of its payload; the data handler
// notes when it arrived. Reports go one at a time, each once the previous one was handled.
class TLatencyProbe {
 public:
  explicit TLatencyProbe(int reports)
      : Sent_(static_cast<std::size_t>(reports)), Reports_(reports) {
    Latency_.reserve(Sent_.size());
  }

  THidDataEvent Handler() {
    return THidDataEvent(
        [this](THidDevice*, std::uint8_t, const std::uint8_t* data, std::uint16_t) {
          const auto now = TClock::now();
          const std::size_t index = data[0] | static_cast<std::size_t>(data[1]) << 8 |
                                    static_cast<std::size_t>(data[2]) << 16;
          Latency_.push_back(now - Sent_[index]);
          Handled_.fetch_add(1, std::memory_order_release);
        });
  }

  // `send(i)` puts report number i into the device, from a producer thread; meanwhile `loop`
  // runs the handler on this thread.
  void Run(TMainLoop& loop, const std::function<void(int index)>& send) {
    std::thread producer([&] {
      for (int i = 0; i < Reports_; ++i) {
        Sent_[static_cast<std::size_t>(i)] = TClock::now();
        send(i);
        while (Handled_.load(std::memory_order_acquire) <= i) std::this_thread::yield();
      }
    });
    loop.RunUntil([&] { return Handled_.load() == Reports_; }, std::chrono::minutes(5));
    producer.join();
    std::sort(Latency_.begin(), Latency_.end());
  }

  // "N reports: median .. us, p99 .. us, max .. us"
  std::string Summary() const {
    if (Latency_.empty()) return "no report was handled";
    const auto at = [&](double q) {
      return Latency_[std::min(Latency_.size() - 1,
                               static_cast<std::size_t>(q * static_cast<double>(Latency_.size())))];
    };
    char text[160];
    std::snprintf(text, sizeof text, "%zu reports: median %.1f us, p99 %.1f us, max %.1f us",
                  Latency_.size(), Microseconds(at(0.5)), Microseconds(at(0.99)),
                  Microseconds(Latency_.back()));
    return text;
  }

 private:
  std::vector<TClock::time_point> Sent_;
  std::vector<TClock::duration> Latency_;
  std::atomic<int> Handled_{0};
  int Reports_;
};

// "SleepTime N ms: R wake-ups/s (K in S s)" for the reader thread while `loop` idles, or a
// sentence saying the system does not count them.
inline std::string IdleReaderWakeups(TMainLoop& loop,
                                     std::chrono::seconds idle,
                                     std::int32_t sleepTime) {
  const std::int64_t before = ContextSwitchesOfThreadNamed("THidDeviceRead");
  const auto start = TClock::now();
  loop.RunFor(idle);
  const std::int64_t after = ContextSwitchesOfThreadNamed("THidDeviceRead");
  const double seconds = std::chrono::duration<double>(TClock::now() - start).count();
  char text[160];
  if (before < 0 || after < 0) {
    std::snprintf(text, sizeof text, "SleepTime %d ms: wake-ups not measurable on this system",
                  sleepTime);
  } else {
    std::snprintf(text, sizeof text, "SleepTime %d ms: %.2f wake-ups/s (%lld in %.1f s)", sleepTime,
                  static_cast<double>(after - before) / seconds,
                  static_cast<long long>(after - before), seconds);
  }
  return text;
}

}  // namespace glowstep::bench
