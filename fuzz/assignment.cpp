// The KEY=VALUE parser of "write", on any text: only the tool's own refusals come out of it;
// what it accepts is in range and held as the control holds it; and the value as the tool
// prints it, given again, gives the same value.
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
    ApplyAssignment(settings, text);
  } catch (const ECliFailure& refusal) {
    fuzz::Check(refusal.Status() == TExitStatus::Usage, "a refused change is a usage error");
    fuzz::CheckMessage(refusal.what(), text);
    return 0;
  }
  fuzz::CheckHeldValues(settings);
  const std::string_view key = text.substr(0, text.find('='));
  const std::string printed = SettingText(settings, key);
  StairSettings again;
  try {
    ApplySetting(again, key, printed);
  } catch (const ECliFailure& refusal) {
    fuzz::Fail("a printed value is taken again", refusal.what());
  }
  fuzz::Check(SettingText(again, key) == printed && fuzz::SameSettings(again, settings),
              "a printed value reads back the same", printed);
  return 0;
}
