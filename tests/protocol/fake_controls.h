// Settings controls that behave like the window's, for tests of the codec and the link.
#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "protocol/settings_codec.h"

namespace glowstep::fakes {

// Controls that behave like the window's: each numeric field keeps only its text, formatted
// with its decimals and clamped to its range, and gives back what the text reads as; the level
// slider keeps an integer.
class FakeControls : public TSettingsControls {
 public:
  struct Field {
    Extended min = 0, max = 0;
    int decimals = 0;
    std::u16string text;
  };

  FakeControls() {
    fields_[TSettingsField::Stairs_count] = {3, 250, 0, u"10"};
    fields_[TSettingsField::LEDs_in_one_stair] = {3, 240, 0, u"60"};
    fields_[TSettingsField::Idle_LEDs] = {0, 120, 0, u"1"};
    fields_[TSettingsField::ON_time] = {1, 300, 0, u"20"};
    fields_[TSettingsField::Delay_time] = {1, 300, 0, u"15"};
    fields_[TSettingsField::Sensor_time] = {0, 2.5, 2, u"0.10"};
    fields_[TSettingsField::Photo_time] = {1, 1800, 0, u"10"};
  }

  Extended FieldValue(TSettingsField field) const override {
    if (field == TSettingsField::PhotoLevel) return level_;
    return *TextToFloat(fields_.at(field).text, u'.');
  }

  void SetFieldValue(TSettingsField field, Extended value) override {
    order_.push_back(field);
    if (field == TSettingsField::PhotoLevel) {
      level_ = static_cast<int>(Trunc(value));
      return;
    }
    Field& f = fields_.at(field);
    value = std::clamp(value, f.min, f.max);
    f.text = FormatFixed(value, f.decimals, TNumberFormat{});
  }

  void SetSwatchColor(TColorSwatch swatch, TColor color) override { swatches_[swatch] = color; }

  void SetText(TSettingsField field, const std::u16string& text) { fields_.at(field).text = text; }
  std::string Text(TSettingsField field) const { return ToUtf8(fields_.at(field).text); }

  std::map<TSettingsField, Field> fields_;
  int level_ = 100;
  std::map<TColorSwatch, TColor> swatches_;
  std::vector<TSettingsField> order_;
};

}  // namespace glowstep::fakes
