// The rules of each setting as the window's controls apply them: the range, the decimals a field
// shows, what a control gives back after it was handed a number, and the text forms in which the
// command-line tool and the backup file name and write the settings.
//
// The window's controls carry the same ranges and decimals in their stored form; a test of the
// window compares them with these rules, and a shared table of cases proves that the window and
// the tool write the same reports for the same texts.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/numbers.h"
#include "protocol/settings_codec.h"

namespace glowstep {

// The kind of control that shows a setting, which decides how it holds a number.
enum class TFieldKind {
  Integer,  // a spin edit of whole numbers: shows the number rounded to 0 decimals
  Decimal,  // a spin edit of reals: shows the number rounded to its decimals
  Slider,   // a slider: takes the number truncated
};

struct TFieldRule {
  TSettingsField Field;
  std::string_view Key;      // the name on the command line and in a backup file
  std::string_view Caption;  // what the setting is, for people
  std::string_view Unit;     // "s" for the times, empty otherwise
  TFieldKind Kind;
  Extended MinValue;
  Extended MaxValue;
  int Decimals;  // shown after the decimal point
};

// In the order the tool prints them.
inline constexpr std::array<TFieldRule, 8> kFieldRules = {{
    {TSettingsField::Stairs_count, "stairs", "stairs", "", TFieldKind::Integer, 3, 250, 0},
    {TSettingsField::LEDs_in_one_stair, "leds_per_stair", "LEDs per stair", "", TFieldKind::Integer,
     3, 240, 0},
    {TSettingsField::Idle_LEDs, "standby_leds", "standby LEDs", "", TFieldKind::Integer, 0, 120, 0},
    {TSettingsField::ON_time, "on_time", "switch-on time", "s", TFieldKind::Integer, 1, 300, 0},
    {TSettingsField::Delay_time, "delay", "delay", "s", TFieldKind::Integer, 1, 300, 0},
    {TSettingsField::Sensor_time, "sensor_time", "sensor signal length", "s", TFieldKind::Decimal,
     0, 2.5, 2},
    {TSettingsField::Photo_time, "photo_time", "photo-sensor time", "s", TFieldKind::Integer, 1,
     1800, 0},
    {TSettingsField::PhotoLevel, "photo_level", "photo-sensor level", "", TFieldKind::Slider, 0,
     1000, 0},
}};

inline constexpr std::string_view kMainColorKey = "main_colour";
inline constexpr std::string_view kIdleColorKey = "standby_colour";

const TFieldRule& FieldRule(TSettingsField field);
// The rule named `key`, or none.
const TFieldRule* FindFieldRule(std::string_view key);

// What the control gives back after it was handed `value`: the number cut to the range, then as
// its text shows it (integer fields round halves away from zero, the real field to its
// decimals), read back; the slider truncates.
Extended HeldValue(const TFieldRule& rule, Extended value);

// The text the control shows for a value it holds ("20", "0.08"), with "." as decimal point.
std::string FieldText(const TFieldRule& rule, Extended value);

// "3 to 250", "0 to 2.5 s, two decimals": the allowed values, for messages.
std::string AllowedText(const TFieldRule& rule);

enum class TValueProblem { None, Malformed, OutOfRange };

// Reads a value typed for the setting as the control reads its text: whole numbers for the
// integer fields and the slider (optional sign and digits), a decimal number with "." and an
// optional exponent for the real field. A value outside the range is refused (the window would
// crop it), never cut. The result is the value the control holds for the text.
std::optional<Extended> ParseFieldText(const TFieldRule& rule,
                                       std::string_view text,
                                       TValueProblem& problem);

// "#RRGGBB" for a stored colour (red in the low byte).
std::string ColorText(TColor color);
// Reads "#RRGGBB" (hexadecimal digits in either case); none for anything else.
std::optional<TColor> ParseColorText(std::string_view text);

// One set of settings held as the window's controls hold them: a number handed to a field is
// kept as HeldValue gives it back. The codec decodes replies into it and encodes from it.
class TSettingsValues final : public TSettingsControls {
 public:
  TSettingsValues() = default;
  explicit TSettingsValues(const StairSettings& settings) : Values_(settings) {}

  Extended FieldValue(TSettingsField field) const override;
  void SetFieldValue(TSettingsField field, Extended value) override;
  void SetSwatchColor(TColorSwatch /*swatch*/, TColor /*color*/) override {}

  const StairSettings& Values() const { return Values_; }
  StairSettings& Values() { return Values_; }

 private:
  StairSettings Values_;
};

// What a controller that keeps what it is sent gives back after it was written `asked`: the
// settings encoded into a write report, and that report decoded as its reply. It differs from
// `asked` only where the controller counts in units of its own (the on-time rule, the sensor
// time in ticks).
StairSettings SettingsAsKept(const StairSettings& asked);

// The field of the record that holds `field`.
Extended& FieldOf(StairSettings& settings, TSettingsField field);
Extended FieldOf(const StairSettings& settings, TSettingsField field);

}  // namespace glowstep
