#include "protocol/settings_fields.h"

#include <gtest/gtest.h>

namespace glowstep {
namespace {

// In the order a row reads; the padding of a test table does not matter.
struct TTextCase {  // NOLINT(clang-analyzer-optin.performance.Padding)
  TSettingsField Field;
  const char* Text;
  TValueProblem Problem;
  const char* Held;  // the text the field shows for the value it holds
};

TEST(SettingsFieldsTest, TextsReadAsTheFieldsHoldThem) {
  const TTextCase cases[] = {
      {TSettingsField::Stairs_count, "3", TValueProblem::None, "3"},
      {TSettingsField::Stairs_count, "+250", TValueProblem::None, "250"},
      {TSettingsField::Stairs_count, "2", TValueProblem::OutOfRange, ""},
      {TSettingsField::Stairs_count, " 5", TValueProblem::Malformed, ""},
      {TSettingsField::Stairs_count, "$10", TValueProblem::Malformed, ""},
      {TSettingsField::Idle_LEDs, "-0", TValueProblem::None, "0"},
      {TSettingsField::Sensor_time, "2.125", TValueProblem::None, "2.13"},
      {TSettingsField::Sensor_time, "25e-1", TValueProblem::None, "2.50"},
      {TSettingsField::Sensor_time, "2.5000001", TValueProblem::OutOfRange, ""},
      {TSettingsField::Sensor_time, ".", TValueProblem::None, "0.00"},
      {TSettingsField::Sensor_time, "1e99999", TValueProblem::Malformed, ""},
      {TSettingsField::PhotoLevel, "999", TValueProblem::None, "999"},
      {TSettingsField::PhotoLevel, "1.5", TValueProblem::Malformed, ""},
  };
  for (const TTextCase& c : cases) {
    SCOPED_TRACE(c.Text);
    const TFieldRule& rule = FieldRule(c.Field);
    TValueProblem problem = TValueProblem::None;
    const auto value = ParseFieldText(rule, c.Text, problem);
    EXPECT_EQ(problem, c.Problem);
    EXPECT_EQ(value.has_value(), c.Problem == TValueProblem::None);
    if (value) {
      EXPECT_EQ(FieldText(rule, *value), c.Held);
    }
  }
}

TEST(SettingsFieldsTest, NumbersHandedToAFieldAreHeldAsItsControlHoldsThem) {
  // An integer field shows 1.24 as "1" and 1.5 as "2"; the slider truncates; each crops to its
  // range; the real field keeps what its two decimals show.
  EXPECT_EQ(HeldValue(FieldRule(TSettingsField::ON_time), 1.24_ext), 1);
  EXPECT_EQ(HeldValue(FieldRule(TSettingsField::ON_time), 1.5_ext), 2);
  EXPECT_EQ(HeldValue(FieldRule(TSettingsField::ON_time), 0), 1);
  EXPECT_EQ(HeldValue(FieldRule(TSettingsField::PhotoLevel), 999.9_ext), 999);
  EXPECT_EQ(HeldValue(FieldRule(TSettingsField::PhotoLevel), 4095), 1000);
  EXPECT_EQ(HeldValue(FieldRule(TSettingsField::Photo_time), 65535), 1800);
  EXPECT_EQ(HeldValue(FieldRule(TSettingsField::Sensor_time), Extended{53} / 25), 2.12_ext);
  EXPECT_EQ(HeldValue(FieldRule(TSettingsField::Sensor_time), Extended{255} / 25), 2.5_ext);
}

TEST(SettingsFieldsTest, ColoursAreWrittenAndReadRedFirst) {
  EXPECT_EQ(ColorText(0x003030), "#303000");
  EXPECT_EQ(ColorText(0x0080FF), "#FF8000");
  EXPECT_EQ(ParseColorText("#ff8000"), 0x0080FFU);
  EXPECT_EQ(ParseColorText("#FF8000"), 0x0080FFU);
  for (const char* bad : {"FF8000", "#FF800", "#FF80000", "#GG8000", "", "#"}) {
    EXPECT_FALSE(ParseColorText(bad).has_value()) << bad;
  }
}

TEST(SettingsFieldsTest, EveryKeyNamesOneRule) {
  for (const TFieldRule& rule : kFieldRules) {
    EXPECT_EQ(FindFieldRule(rule.Key), &rule);
    EXPECT_EQ(&FieldRule(rule.Field), &rule);
  }
  EXPECT_EQ(FindFieldRule("Stairs"), nullptr);
}

}  // namespace
}  // namespace glowstep
