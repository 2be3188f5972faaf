// libFuzzer entry for the report-descriptor parser: whatever bytes a device offers, parsing
// ends, stays inside the input and gives lengths that fit a report.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "hid/platform/linux/report_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto info = glowstep::ParseReportDescriptor(std::span<const std::uint8_t>(data, size));
  if (info && (info->InputReportByteLength == 1 || info->OutputReportByteLength == 1 ||
               info->FeatureReportByteLength == 1))
    std::abort();  // a length counts the ID byte and at least one data byte, or is 0
  return 0;
}
