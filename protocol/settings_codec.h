// The controller's settings record and the one 65-byte report that carries it both ways.
//
// Report byte 0 is the HID report ID (0), byte 1 the command letter ("r" asks for the settings,
// "w" carries new ones), bytes 2 to 20 the settings, the rest zero. The controller answers a read
// request with an input report in the same layout; the HID layer hands it over as a payload
// starting at report byte 1, so payload index = report byte - 1.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "base/numbers.h"

namespace glowstep {

// 24-bit RGB with red in the low byte, green in the middle byte and blue in the third byte.
using TColor = std::uint32_t;

constexpr std::size_t kSettingsReportSize = 65;
using SettingsReport = std::array<std::uint8_t, kSettingsReportSize>;

constexpr std::uint8_t kReadCommand = 'r';   // 114
constexpr std::uint8_t kWriteCommand = 'w';  // 119

// Where the command letter and the settings (bytes 2 to 20) stand in the report.
constexpr std::size_t kCommandByte = 1;
constexpr std::size_t kSettingsBegin = 2;
constexpr std::size_t kSettingsSize = 19;

// The numeric settings, each shown and edited by the window's control of the same name.
enum class TSettingsField {
  Stairs_count,       // integer, 3 to 250, one byte
  LEDs_in_one_stair,  // integer, 3 to 240, one byte
  Idle_LEDs,          // integer, 0 to 120, one byte
  ON_time,            // seconds, 1 to 300, 16 bits in units set by the on-time rule
  Delay_time,         // seconds, 1 to 300, 16 bits of 40 ms ticks
  Sensor_time,        // seconds, 0 to 2.5 in steps of 0.1, 8 bits of 40 ms ticks
  Photo_time,         // seconds, 1 to 1800, 16 bits
  PhotoLevel,         // raw level, 0 to 1000 in steps of 20, 16 bits
};

enum class TColorSwatch { MainColor, IdleColor };

// One set of the controller's settings, in the units they are edited in, each value as its field
// holds it (settings_fields.h).
struct StairSettings {
  Extended Stairs_count = 10;
  Extended LEDs_in_one_stair = 60;
  Extended Idle_LEDs = 1;
  TColor MainColorValue = 0xFFFFFF;
  TColor IdleColorValue = 0x003030;
  Extended ON_time = 20;
  Extended Delay_time = 15;
  Extended Sensor_time = 0.1_ext;  // the value the field gives back for its text "0.10"
  Extended Photo_time = 10;
  Extended PhotoLevel = 100;
};

// Where the codec reads and writes the settings: the window's controls, or values held as they
// hold them (TSettingsValues). A reply is applied value by value, and the on-time step reads the
// counts back after they were set, so the implementation must behave like the real controls:
// SetFieldValue hands a number to the control, which applies its own type and range, and
// FieldValue gives back what the control holds now.
class TSettingsControls {
 public:
  virtual ~TSettingsControls() = default;
  virtual Extended FieldValue(TSettingsField field) const = 0;
  virtual void SetFieldValue(TSettingsField field, Extended value) = 0;
  // Shows a colour on a swatch (the display form, see NormalizeColor).
  virtual void SetSwatchColor(TColorSwatch swatch, TColor color) = 0;
};

// The display form of a stored colour: scaled so that its largest channel is at full brightness
// (255, or 254 for some channel values, as the scale is rounded to double). Black stays black.
TColor NormalizeColor(TColor color);

// The on-time rule. With more than 1200 LEDs in all the controller counts the switch-on time in
// units of k * 40 ms, k = N * 0.88 / 1000 rounded to double.
std::uint16_t EncodeOnTime(Extended seconds, Extended stairs, Extended ledsPerStair);
Extended DecodeOnTime(std::uint16_t wireValue, Extended stairs, Extended ledsPerStair);

// Encodes a write report (command "w") from a settings record into a cleared report.
void EncodeWriteReport(const StairSettings& settings, SettingsReport& report);

// The report buffer and the two stored colours, which live for the program's whole run.
class TSettingsCodec {
 public:
  // The smallest payload that holds every setting (payload indices 1 to 19).
  static constexpr std::size_t kReplySettingsSize = kSettingsBegin + kSettingsSize - kCommandByte;

  const SettingsReport& Report() const { return Report_; }

  void ClearReport() { Report_.fill(0); }

  // Clears the report and puts the read command in it.
  void BuildReadRequest();

  // Clears the report and encodes the controls' current values (and the stored colours).
  void BuildWriteReport(const TSettingsControls& controls);

  // Applies a reply payload (report byte 1 onward) to the controls in the controller's order:
  // counts, main colour, standby colour, on-time (with the counts read back), delay, sensor,
  // photo-sensor time and level. A payload too short to hold the settings changes nothing and
  // gives false.
  bool ApplyReply(const std::uint8_t* payload, std::size_t size, TSettingsControls& controls);

  TColor MainColorValue() const { return MainColor_; }
  TColor IdleColorValue() const { return IdleColor_; }
  void SetMainColorValue(TColor color) { MainColor_ = color & 0xFFFFFF; }
  void SetIdleColorValue(TColor color) { IdleColor_ = color & 0xFFFFFF; }

  // Gathers the controls' values and the stored colours into one record.
  StairSettings CurrentSettings(const TSettingsControls& controls) const;

 private:
  SettingsReport Report_{};
  TColor MainColor_ = 0xFFFFFF;
  TColor IdleColor_ = 0x003030;
};

}  // namespace glowstep
