// Measures the Linux backend through the whole HID stack, on a fixture sysfs tree with socket
// pairs standing in for the hidraw nodes (no real device is needed):
//  1. wake-ups per second of the reader of a held, idle device, from the kernel's count of the
//     reader thread's context switches;
//  2. the time from a report written into the node to its OnDeviceData call on the main thread
//     (one report at a time);
//  3. the cost of one refresh (DeviceChange) with 50 devices in the tree: the first one, which
//     announces them all, and later ones that find nothing changed.
//
// Usage: glowstep-hid-linux-bench [reports] [idle seconds] [refreshes]
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "hid/hid_device.h"
#include "hid/hid_device_controller.h"
#include "hid/main_loop.h"
#include "hid/platform/linux/sysfs_fixture.h"
#include "tools/bench/latency_probe.h"

using namespace glowstep;
using namespace glowstep::bench;
using namespace std::chrono_literals;

namespace {

// Every open of a node gets a fresh socket pair; the device ends are kept by node and access.
struct TSocketNodes {
  std::vector<std::pair<int, int>> Ends;  // flags, device end
  int LastReadEnd = -1;

  TNodeOpener Opener() {
    return [this](const std::string&, int flags, const std::string&) {
      int pair[2];
      if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return -1;
      Ends.emplace_back(flags, pair[1]);
      if ((flags & O_ACCMODE) == O_RDONLY) LastReadEnd = pair[1];
      return pair[0];
    };
  }
  ~TSocketNodes() {
    for (const auto& end : Ends) close(end.second);
  }
};

void MeasureHeldDevice(int reports, int idleSeconds) {
  TSysfsFixture fixture;
  fixture.Add(TFixtureDevice{});
  TSocketNodes nodes;
  TLinuxBackendOptions options = fixture.Options();
  options.OpenNode = nodes.Opener();
  TLinuxHidBackend backend(options);
  TMainLoop loop;
  THidDeviceController controller(backend, loop);
  controller.SetDevThreadSleepTime(50);  // the configurator's setting

  TLatencyProbe probe(reports);
  controller.SetOnDeviceData(probe.Handler());
  loop.RunPending();
  THidDevice* device = nullptr;
  if (!controller.CheckOutAt(device, 0) || nodes.LastReadEnd < 0) {
    std::fprintf(stderr, "the fixture device could not be held\n");
    std::exit(1);
  }
  const int readEnd = nodes.LastReadEnd;

  loop.RunFor(200ms);
  std::printf("idle held device, reader %s\n",
              IdleReaderWakeups(loop, std::chrono::seconds(idleSeconds), 50).c_str());

  probe.Run(loop, [readEnd](int i) {
    // A device without numbered reports: the node gives the payload alone.
    std::vector<std::uint8_t> payload(64, 0);
    payload[0] = static_cast<std::uint8_t>(i);
    payload[1] = static_cast<std::uint8_t>(i >> 8);
    payload[2] = static_cast<std::uint8_t>(i >> 16);
    if (write(readEnd, payload.data(), payload.size()) != 64) std::abort();
  });
  std::printf("node -> OnDeviceData on the main thread, %s\n", probe.Summary().c_str());
}

void MeasureRefresh(int devices, int refreshes) {
  TSysfsFixture fixture;
  for (int i = 0; i < devices; ++i) {
    TFixtureDevice setup;
    setup.Name = "hidraw" + std::to_string(i);
    setup.Sequence = static_cast<std::uint32_t>(i + 1);
    setup.DevNumber = "243:" + std::to_string(i);
    fixture.Add(setup);
  }
  TSocketNodes nodes;
  TLinuxBackendOptions options = fixture.Options();
  options.OpenNode = nodes.Opener();
  TLinuxHidBackend backend(options);
  TMainLoop loop;
  THidDeviceController controller(backend, loop);
  int arrivals = 0;
  controller.SetOnArrival(THidPlugEvent([&](THidDevice* device) {
    ++arrivals;
    device->QueryProductName();  // as the configurator does for each arrival
  }));
  const auto first = TClock::now();
  loop.RunPending();
  const auto firstTime = TClock::now() - first;
  if (arrivals != devices) std::fprintf(stderr, "only %d of %d arrived\n", arrivals, devices);

  std::vector<TClock::duration> times;
  for (int i = 0; i < refreshes; ++i) {
    const auto start = TClock::now();
    controller.DeviceChange();
    times.push_back(TClock::now() - start);
  }
  std::sort(times.begin(), times.end());
  std::printf(
      "refresh with %d fixture devices: first (all arrive) %.2f ms; unchanged: median "
      "%.2f ms, p99 %.2f ms over %d\n",
      devices, Microseconds(firstTime) / 1000, Microseconds(times[times.size() / 2]) / 1000,
      Microseconds(times[times.size() * 99 / 100]) / 1000, refreshes);
}

}  // namespace

int main(int argc, char** argv) {
  const int reports = argc > 1 ? std::atoi(argv[1]) : 10000;
  const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 5;
  const int refreshes = argc > 3 ? std::atoi(argv[3]) : 100;
  MeasureHeldDevice(reports, idleSeconds);
  MeasureRefresh(50, refreshes);
  return 0;
}
