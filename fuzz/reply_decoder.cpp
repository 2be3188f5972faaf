// The reply decoder, on a payload of any length: a payload too short changes nothing; a decoded
// reply holds values the window's controls hold; and decode -> encode -> decode is a fixpoint:
// what was decoded once encodes to a report whose decoding encodes to the same report and
// decodes to the same settings. (The first decoding may still differ from the second where a
// control holds what the controller cannot: a sensor time of 2.5 s, 62.5 ticks, is sent as 62.)
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_check.h"
#include "protocol/settings_fields.h"

using namespace glowstep;

namespace {

StairSettings Decode(const std::uint8_t* payload, std::size_t size, bool& applied) {
  TSettingsCodec codec;
  TSettingsValues values;
  applied = codec.ApplyReply(payload, size, values);
  return codec.CurrentSettings(values);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  bool applied = false;
  const StairSettings first = Decode(data, size, applied);
  fuzz::Check(applied == (size >= TSettingsCodec::kReplySettingsSize),
              "a reply is decoded exactly when it holds every setting");
  if (!applied) {
    fuzz::Check(fuzz::SameSettings(first, StairSettings{}), "a short reply changes nothing");
    return 0;
  }
  fuzz::CheckHeldValues(first);

  SettingsReport report{};
  EncodeWriteReport(first, report);
  const StairSettings second = Decode(report.data() + kCommandByte, report.size() - 1, applied);
  SettingsReport again{};
  EncodeWriteReport(second, again);
  fuzz::Check(again == report, "settings read back encode to the report they came from",
              fuzz::Shown(first) + "\n" + fuzz::Shown(second));
  const StairSettings third = Decode(again.data() + kCommandByte, again.size() - 1, applied);
  fuzz::Check(fuzz::SameSettings(third, second), "decoding that report gives the same settings",
              fuzz::Shown(second) + "\n" + fuzz::Shown(third));
  return 0;
}
