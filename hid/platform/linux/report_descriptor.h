// What the backend needs to know from a HID report descriptor.
//
// Report lengths are counted the way the Windows HID library counts them: the largest report of
// a kind, in whole bytes, plus one byte for the report ID (present in the buffer even when the
// device does not number its reports). A kind without reports has length 0.
//
// The descriptor comes from the device, so it is treated as hostile: every loop is bounded by the
// descriptor's length, every size by the kernel's own limits, and anything malformed (a
// truncated item, unbalanced collections or push/pop, report ID 0, a report too large) makes the
// whole descriptor invalid rather than giving a guess.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace glowstep {

struct TReportDescriptorInfo {
  std::uint16_t UsagePage = 0;  // of the first top-level collection
  std::uint16_t Usage = 0;
  std::uint16_t InputReportByteLength = 0;
  std::uint16_t OutputReportByteLength = 0;
  std::uint16_t FeatureReportByteLength = 0;
  std::uint16_t TopLevelCollections = 0;  // application collections at the outer level
  std::uint16_t Collections = 0;          // every collection, nested ones too
  bool NumberedReports = false;  // a Report ID item occurs: every report starts with its ID
};

// The largest descriptor a device may have (the kernel's limit); longer input is refused.
inline constexpr std::size_t kMaxReportDescriptorSize = 4096;

std::optional<TReportDescriptorInfo> ParseReportDescriptor(std::span<const std::uint8_t> bytes);

}  // namespace glowstep
