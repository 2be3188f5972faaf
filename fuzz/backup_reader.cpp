// The backup reader, on any bytes: only the tool's own refusals (usage errors, in its own words)
// come out of it; what it accepts holds values the window's controls hold; and the backup the
// tool writes of them reads back as the same settings.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "cli/settings_document.h"
#include "fuzz/fuzz_check.h"

using namespace glowstep;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  StairSettings settings;
  try {
    settings = ParseBackupDocument(text);
  } catch (const ECliFailure& refusal) {
    fuzz::Check(refusal.Status() == TExitStatus::Usage, "a refused backup is a usage error");
    fuzz::CheckMessage(refusal.what(), text);
    return 0;
  }
  fuzz::CheckHeldValues(settings);
  TControllerReading reading;
  reading.Product = "Glowstep 3.2";
  reading.Firmware = 2;
  reading.Settings = settings;
  const std::string written = JsonText(BackupDocument(reading));
  fuzz::Check(fuzz::SameSettings(ParseBackupDocument(written), settings),
              "a backup written reads back the same", written);
  return 0;
}
