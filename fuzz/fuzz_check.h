// The properties the fuzz targets check, and what a target does when one fails: it says which
// and aborts, so that libFuzzer keeps the input that broke it.
#pragma once

#include <string>
#include <string_view>

#include "protocol/settings_codec.h"

namespace glowstep::fuzz {

[[noreturn]] void Fail(std::string_view property, std::string_view detail = {});
inline void Check(bool holds, std::string_view property, std::string_view detail = {}) {
  if (!holds) Fail(property, detail);
}

// Every value is one the window's control can hold: inside its range, as the control gives it
// back, and the colours 24-bit.
void CheckHeldValues(const StairSettings& settings);
// The same settings, value for value.
bool SameSettings(const StairSettings& a, const StairSettings& b);
// The settings as a line of text, for a failure's message.
std::string Shown(const StairSettings& settings);
// A message for the user about `input`: one line, UTF-8 without controls, in the tool's own
// words (the library's text only where the input itself holds it).
void CheckMessage(std::string_view message, std::string_view input);

}  // namespace glowstep::fuzz
