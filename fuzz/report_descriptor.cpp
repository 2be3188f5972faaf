// The report-descriptor parser, on whatever bytes a device offers: what it accepts gives lengths
// a report can have and counts the descriptor can hold; a descriptor written from what it found
// (one application collection with reports of those lengths) is read back as the same; and a
// descriptor accepted stays accepted with one more collection after it, and is refused with an
// End Collection too many.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "hid/platform/linux/report_descriptor.h"

using namespace glowstep;

namespace {

// The largest report the parser takes: 16 KiB of data and the report-ID byte.
constexpr std::uint16_t kMaxLength = 16384 + 1;
constexpr std::uint32_t kMaxCountPerItem = 12288;

std::string Shown(const TReportDescriptorInfo& info) {
  return "input " + std::to_string(info.InputReportByteLength) + ", output " +
         std::to_string(info.OutputReportByteLength) + ", feature " +
         std::to_string(info.FeatureReportByteLength) + ", numbered " +
         std::to_string(info.NumberedReports);
}

void Item(std::vector<std::uint8_t>& bytes, std::uint8_t prefix, std::uint32_t value) {
  bytes.push_back(static_cast<std::uint8_t>(prefix | 0x2));  // two data bytes
  bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
  bytes.push_back(static_cast<std::uint8_t>(value >> 8));
}

// A descriptor with one application collection and reports of the lengths `info` gives.
std::vector<std::uint8_t> Written(const TReportDescriptorInfo& info) {
  std::vector<std::uint8_t> bytes;
  Item(bytes, 0x04, info.UsagePage);                                  // Usage Page
  Item(bytes, 0x08, info.Usage);                                      // Usage
  bytes.insert(bytes.end(), {0xA1, 0x01});                            // Collection (Application)
  if (info.NumberedReports) bytes.insert(bytes.end(), {0x85, 0x01});  // Report ID 1
  bytes.insert(bytes.end(), {0x75, 0x08});                            // Report Size 8
  // Input, Output and Feature items with one data byte.
  const std::pair<std::uint16_t, std::uint8_t> kinds[] = {{info.InputReportByteLength, 0x81},
                                                          {info.OutputReportByteLength, 0x91},
                                                          {info.FeatureReportByteLength, 0xB1}};
  for (const auto& [length, mainItem] : kinds) {
    // Every length counts the report-ID byte; the rest are data bytes, in items the parser takes.
    for (std::uint32_t data = length == 0 ? 0 : length - 1u; data > 0;) {
      const std::uint32_t count = std::min(data, kMaxCountPerItem);
      Item(bytes, 0x94, count);  // Report Count
      bytes.insert(bytes.end(), {mainItem, 0x02});
      data -= count;
    }
  }
  bytes.push_back(0xC0);  // End Collection
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const auto info = ParseReportDescriptor(bytes);
  if (!info) return 0;

  for (const std::uint16_t length :
       {info->InputReportByteLength, info->OutputReportByteLength, info->FeatureReportByteLength}) {
    fuzz::Check(length == 0 || (length >= 2 && length <= kMaxLength),
                "a report is empty or holds its ID and data within the limit", Shown(*info));
  }
  fuzz::Check(info->TopLevelCollections <= info->Collections && info->Collections <= size,
              "the collections counted are in the descriptor");

  const auto again = ParseReportDescriptor(Written(*info));
  fuzz::Check(again.has_value(), "a descriptor written from what was found is taken", Shown(*info));
  fuzz::Check(again->InputReportByteLength == info->InputReportByteLength &&
                  again->OutputReportByteLength == info->OutputReportByteLength &&
                  again->FeatureReportByteLength == info->FeatureReportByteLength &&
                  again->NumberedReports == info->NumberedReports &&
                  again->UsagePage == info->UsagePage && again->Usage == info->Usage,
              "a descriptor written from what was found reads back the same", Shown(*info));

  if (size + 3 <= kMaxReportDescriptorSize) {
    std::vector<std::uint8_t> longer(bytes.begin(), bytes.end());
    longer.insert(longer.end(), {0xA1, 0x00, 0xC0});  // Collection (Physical), End Collection
    const auto withCollection = ParseReportDescriptor(longer);
    fuzz::Check(withCollection.has_value() &&
                    withCollection->Collections == info->Collections + 1 &&
                    withCollection->InputReportByteLength == info->InputReportByteLength,
                "one more collection changes only the count");
    longer.resize(size);
    longer.push_back(0xC0);
    fuzz::Check(!ParseReportDescriptor(longer), "an End Collection too many is refused");
  }
  return 0;
}
