#include "tests/base/x87_differential.h"

#include <gtest/gtest.h>

#ifdef GLOWSTEP_HAS_X87

namespace glowstep::x87 {
namespace {

std::string Examples(const TReport& report) {
  std::string text;
  for (const std::string& example : report.Examples) text += "\n  " + example;
  return text;
}

// A modest share of what extended-differential runs (see the README), on every test run.
TEST(X87Differential, RandomOperationsMatchTheHardwareBitForBit) {
  TReport report;
  CompareRandomOperations(400000, 1, report);
  EXPECT_EQ(report.Operations, 400000U);
  EXPECT_EQ(report.Mismatches, 0U) << Examples(report);
}

TEST(X87Differential, CodecFormulasMatchTheHardware) {
  TReport report;
  CompareCodecFormulas(97, report);
  EXPECT_GT(report.Operations, 65536U);
  EXPECT_EQ(report.Mismatches, 0U) << Examples(report);
}

TEST(X87Differential, TextsReadAsTheHardwareReadsThem) {
  TReport report;
  CompareTexts(report);
  EXPECT_GT(report.Operations, 251U);
  EXPECT_EQ(report.Mismatches, 0U) << Examples(report);
}

}  // namespace
}  // namespace glowstep::x87

#endif
