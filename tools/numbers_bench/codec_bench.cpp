// Times the settings codec's round trip: a write report is encoded, applied as the controller's
// reply to controls that keep only their texts (parsed and formatted like the window's fields),
// and encoded again from them. Settings vary over both on-time rules and every sensor tick.
//
// Usage: glowstep-codec-bench [round trips]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "protocol/settings_codec.h"
#include "tests/protocol/fake_controls.h"

using namespace glowstep;

namespace {

int Run(long trips) {
  fakes::FakeControls controls;
  TSettingsCodec codec;
  StairSettings settings;
  SettingsReport sent{};
  unsigned checksum = 0;
  long mismatches = 0;

  const auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < trips; ++i) {
    settings.Stairs_count = 3 + i % 248;
    settings.LEDs_in_one_stair = 3 + (i / 248) % 238;
    settings.ON_time = 1 + i % 300;
    settings.Delay_time = 1 + (i / 7) % 300;
    settings.Sensor_time = static_cast<Extended>(i % 63) / 25;
    EncodeWriteReport(settings, sent);
    codec.ApplyReply(sent.data() + 1, sent.size() - 1, controls);
    codec.BuildWriteReport(controls);
    const SettingsReport& back = codec.Report();
    for (std::size_t b = 2; b <= 20; ++b) checksum = checksum * 31 + back[b];
    if (back[12] != sent[12] || back[13] != sent[13]) ++mismatches;
  }
  const std::chrono::duration<double, std::micro> elapsed =
      std::chrono::steady_clock::now() - start;

  std::printf("round trips: %ld\n", trips);
  std::printf("per round trip: %.3f us\n", elapsed.count() / static_cast<double>(trips));
  std::printf("on-time bytes changed by the trip: %ld\n", mismatches);
  std::printf("checksum: %08x\n", checksum);
  return EXIT_SUCCESS;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc > 1 ? std::atol(argv[1]) : 100000);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "glowstep-codec-bench: %s\n", error.what());
    return EXIT_FAILURE;
  }
}
