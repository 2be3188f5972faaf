#include <gtest/gtest.h>

#include <vector>

#include "hid/platform/linux/report_descriptor.h"
#include "hid/platform/linux/sysfs_fixture.h"

namespace glowstep {
namespace {

using TBytes = std::vector<std::uint8_t>;

std::optional<TReportDescriptorInfo> Parse(const TBytes& bytes) {
  return ParseReportDescriptor(std::span<const std::uint8_t>(bytes));
}

// A boot keyboard as devices ship it: 8-byte input (modifiers, reserved, six keys), a 1-byte LED
// output, no report IDs.
const TBytes kBootKeyboard = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15, 0x00, 0x25, 0x01,
    0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x95, 0x01, 0x75, 0x08, 0x81, 0x01, 0x95, 0x05, 0x75, 0x01,
    0x05, 0x08, 0x19, 0x01, 0x29, 0x05, 0x91, 0x02, 0x95, 0x01, 0x75, 0x03, 0x91, 0x01, 0x95, 0x06,
    0x75, 0x08, 0x15, 0x00, 0x25, 0x65, 0x05, 0x07, 0x19, 0x00, 0x29, 0x65, 0x81, 0x00, 0xC0};

// A mouse with numbered reports: report 1 is buttons and X/Y/wheel (1 + 3 bytes), report 2 a
// 16-bit pair of axes with a nested physical collection.
const TBytes kNumberedMouse = {
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19,
    0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02, 0x95, 0x01,
    0x75, 0x05, 0x81, 0x01, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x09, 0x38, 0x15, 0x81, 0x25,
    0x7F, 0x75, 0x08, 0x95, 0x03, 0x81, 0x06, 0xC0, 0x85, 0x02, 0x09, 0x30, 0x09, 0x31, 0x16,
    0x00, 0x80, 0x26, 0xFF, 0x7F, 0x75, 0x10, 0x95, 0x02, 0x81, 0x02, 0xC0};

// Keyboard and consumer control in one descriptor, each in its own application collection and
// report ID (report 1: 7 bytes, the largest), plus a 2-byte feature report; Push and Pop
// around the consumer part.
const TBytes kComposite = {0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x85, 0x01, 0x05, 0x07, 0x19, 0xE0,
                           0x29, 0xE7, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02,
                           0x95, 0x06, 0x75, 0x08, 0x26, 0xFF, 0x00, 0x19, 0x00, 0x2A, 0xFF, 0x00,
                           0x81, 0x00, 0x85, 0x03, 0x95, 0x02, 0xB1, 0x02, 0xC0, 0xA4, 0x05, 0x0C,
                           0x09, 0x01, 0xA1, 0x01, 0x85, 0x02, 0x15, 0x00, 0x26, 0xFF, 0x03, 0x19,
                           0x00, 0x2A, 0xFF, 0x03, 0x75, 0x10, 0x95, 0x01, 0x81, 0x00, 0xC0, 0xB4};

TEST(ReportDescriptor, RealDescriptorsGiveTheLengthsWindowsReports) {
  struct TCase {
    const char* Name;
    TBytes Bytes;
    std::uint16_t Input, Output, Feature, UsagePage, Usage, TopLevel;
    bool Numbered;
  };
  const TCase cases[] = {
      {"controller", VendorDescriptor64(), 65, 65, 0, 0xFF00, 1, 1, false},
      {"boot keyboard", kBootKeyboard, 9, 2, 0, 0x01, 0x06, 1, false},
      {"numbered mouse", kNumberedMouse, 5, 0, 0, 0x01, 0x02, 1, true},
      {"composite", kComposite, 8, 0, 3, 0x01, 0x06, 2, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const auto info = Parse(c.Bytes);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->InputReportByteLength, c.Input);
    EXPECT_EQ(info->OutputReportByteLength, c.Output);
    EXPECT_EQ(info->FeatureReportByteLength, c.Feature);
    EXPECT_EQ(info->UsagePage, c.UsagePage);
    EXPECT_EQ(info->Usage, c.Usage);
    EXPECT_EQ(info->TopLevelCollections, c.TopLevel);
    EXPECT_EQ(info->NumberedReports, c.Numbered);
  }
}

TEST(ReportDescriptor, LongItemsAndExtendedUsagesAreUnderstood) {
  // A long item (skipped whole) and a four-byte usage carrying its own page.
  const TBytes bytes = {0xFE, 0x02, 0x10, 0xAA, 0xBB, 0x0B, 0x01, 0x00, 0x0D, 0x00,
                        0xA1, 0x01, 0x75, 0x08, 0x95, 0x07, 0x81, 0x02, 0xC0};
  const auto info = Parse(bytes);
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->UsagePage, 0x0D);
  EXPECT_EQ(info->Usage, 0x01);
  EXPECT_EQ(info->InputReportByteLength, 8);
}

TEST(ReportDescriptor, MalformedOrHostileDescriptorsAreRefused) {
  TBytes truncatedLong = {0xFE, 0x10, 0x01, 0x00};
  TBytes oversized(kMaxReportDescriptorSize + 1, 0x00);  // "Input" with no data, many times
  TBytes deepCollections;
  for (int i = 0; i < 40; ++i) deepCollections.insert(deepCollections.end(), {0xA1, 0x00});
  TBytes hugeReport = {0x75, 0xFF, 0x96, 0x00, 0x30, 0xA1, 0x01};  // 255 bits x 12288 ...
  for (int i = 0; i < 10; ++i) hugeReport.insert(hugeReport.end(), {0x81, 0x02});
  hugeReport.push_back(0xC0);
  TBytes pushes;
  for (int i = 0; i < 5; ++i) pushes.push_back(0xA4);

  const std::pair<const char*, TBytes> cases[] = {
      {"empty", {}},
      {"truncated short item", {0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x75}},
      {"truncated four-byte item", {0x07, 0x00, 0xFF}},
      {"truncated long item", truncatedLong},
      {"unclosed collection", {0xA1, 0x01, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02}},
      {"end without collection", {0xC0}},
      {"report id 0", {0xA1, 0x01, 0x85, 0x00, 0xC0}},
      {"report size too large", {0x76, 0x01, 0x01}},
      {"report count too large", {0x96, 0x01, 0x30}},
      {"report too large", hugeReport},
      {"pop without push", {0xB4}},
      {"push stack overflow", pushes},
      {"collections nested too deep", deepCollections},
      {"reserved main item", {0xF0}},
      {"larger than any device's", oversized},
  };
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(Parse(bytes).has_value());
  }
}

TEST(ReportDescriptor, EveryTruncationOfARealDescriptorEndsInsideTheInput) {
  // Cut at every length: each result is either refused or a sane set of lengths. Run under the
  // sanitizers, this also shows that no read goes past the cut.
  for (const TBytes& full : {kBootKeyboard, kNumberedMouse, kComposite, VendorDescriptor64()}) {
    for (std::size_t length = 0; length < full.size(); ++length) {
      const TBytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length));
      const auto info = Parse(cut);
      if (info) {
        EXPECT_LE(info->InputReportByteLength, 9);
      }
    }
  }
}

}  // namespace
}  // namespace glowstep
