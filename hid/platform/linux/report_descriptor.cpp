#include "hid/platform/linux/report_descriptor.h"

#include <algorithm>
#include <array>

namespace glowstep {

namespace {

// Item types and the tags this parser acts on.
constexpr std::uint8_t kTypeMain = 0;
constexpr std::uint8_t kTypeGlobal = 1;
constexpr std::uint8_t kTypeLocal = 2;

constexpr std::uint8_t kMainInput = 0x8;
constexpr std::uint8_t kMainOutput = 0x9;
constexpr std::uint8_t kMainCollection = 0xA;
constexpr std::uint8_t kMainFeature = 0xB;
constexpr std::uint8_t kMainEndCollection = 0xC;

constexpr std::uint8_t kGlobalUsagePage = 0x0;
constexpr std::uint8_t kGlobalReportSize = 0x7;
constexpr std::uint8_t kGlobalReportId = 0x8;
constexpr std::uint8_t kGlobalReportCount = 0x9;
constexpr std::uint8_t kGlobalPush = 0xA;
constexpr std::uint8_t kGlobalPop = 0xB;

constexpr std::uint8_t kLocalUsage = 0x0;

constexpr std::uint8_t kLongItemPrefix = 0xFE;
constexpr std::uint8_t kCollectionApplication = 0x01;

// The kernel's limits: a field of at most 256 bits, at most 12288 fields per item, a report of
// at most 16 KiB, a global stack four deep. Collections may nest a little deeper here than
// devices ever do.
constexpr std::uint32_t kMaxReportSize = 256;
constexpr std::uint32_t kMaxReportCount = 12288;
constexpr std::uint64_t kMaxReportBits = 16384ull * 8;
constexpr std::size_t kMaxGlobalStack = 4;
constexpr std::size_t kMaxCollectionDepth = 32;

struct TGlobals {
  std::uint32_t UsagePage = 0;
  std::uint32_t ReportSize = 0;
  std::uint32_t ReportCount = 0;
  std::uint32_t ReportId = 0;
};

// Bits of each report, by report ID (0 for a device without IDs), for one kind of report.
using TReportBits = std::array<std::uint64_t, 256>;

std::uint32_t Unsigned(std::span<const std::uint8_t> data) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < data.size(); ++i) value |= std::uint32_t{data[i]} << (8 * i);
  return value;
}

std::optional<std::uint16_t> ByteLength(const TReportBits& bits) {
  const std::uint64_t largest = *std::max_element(bits.begin(), bits.end());
  if (largest == 0) return std::uint16_t{0};
  const std::uint64_t bytes = (largest + 7) / 8 + 1;
  if (bytes > 0xFFFF) return std::nullopt;
  return static_cast<std::uint16_t>(bytes);
}

}  // namespace

std::optional<TReportDescriptorInfo> ParseReportDescriptor(std::span<const std::uint8_t> bytes) {
  if (bytes.empty() || bytes.size() > kMaxReportDescriptorSize) return std::nullopt;

  TReportDescriptorInfo info;
  TGlobals globals;
  std::array<TGlobals, kMaxGlobalStack> stack{};
  std::size_t stackDepth = 0;
  std::size_t collectionDepth = 0;
  std::uint32_t usage = 0;  // the last Usage item since the last main item
  bool haveUsage = false;
  bool haveTopLevel = false;
  bool sawReportId = false;
  TReportBits input{};
  TReportBits output{};
  TReportBits feature{};

  std::size_t at = 0;
  while (at < bytes.size()) {
    const std::uint8_t prefix = bytes[at];
    if (prefix == kLongItemPrefix) {
      // Long items carry no meaning for report lengths; they are skipped whole.
      if (at + 2 >= bytes.size()) return std::nullopt;
      const std::size_t size = bytes[at + 1];
      if (size > bytes.size() - at - 3) return std::nullopt;
      at += 3 + size;
      continue;
    }
    static constexpr std::array<std::size_t, 4> kSizes = {0, 1, 2, 4};
    const std::size_t size = kSizes[prefix & 0x3u];
    if (size > bytes.size() - at - 1) return std::nullopt;  // truncated item
    const auto data = bytes.subspan(at + 1, size);
    const std::uint32_t value = Unsigned(data);
    const auto type = static_cast<std::uint8_t>((prefix >> 2) & 0x3u);
    const auto tag = static_cast<std::uint8_t>(prefix >> 4);
    at += 1 + size;

    if (type == kTypeMain) {
      TReportBits* kind = nullptr;
      switch (tag) {
        case kMainInput:
          kind = &input;
          break;
        case kMainOutput:
          kind = &output;
          break;
        case kMainFeature:
          kind = &feature;
          break;
        case kMainCollection:
          if (++collectionDepth > kMaxCollectionDepth) return std::nullopt;
          ++info.Collections;  // bounded: at most one per descriptor byte
          if (collectionDepth == 1 && value == kCollectionApplication) {
            if (!haveTopLevel && haveUsage) {
              // A four-byte usage carries its own page in the high half.
              info.UsagePage =
                  static_cast<std::uint16_t>(usage > 0xFFFF ? usage >> 16 : globals.UsagePage);
              info.Usage = static_cast<std::uint16_t>(usage & 0xFFFF);
            }
            haveTopLevel = true;
            ++info.TopLevelCollections;
          }
          break;
        case kMainEndCollection:
          if (collectionDepth == 0) return std::nullopt;
          --collectionDepth;
          break;
        default:
          return std::nullopt;  // a reserved main item
      }
      if (kind != nullptr) {
        const std::uint64_t bits = std::uint64_t{globals.ReportSize} * globals.ReportCount;
        std::uint64_t& total = (*kind)[globals.ReportId];
        total += bits;
        if (total > kMaxReportBits) return std::nullopt;
      }
      haveUsage = false;  // local items last until the next main item
      continue;
    }

    if (type == kTypeGlobal) {
      switch (tag) {
        case kGlobalUsagePage:
          globals.UsagePage = value & 0xFFFF;
          break;
        case kGlobalReportSize:
          if (value > kMaxReportSize) return std::nullopt;
          globals.ReportSize = value;
          break;
        case kGlobalReportCount:
          if (value > kMaxReportCount) return std::nullopt;
          globals.ReportCount = value;
          break;
        case kGlobalReportId:
          if (value == 0 || value > 0xFF) return std::nullopt;
          globals.ReportId = value;
          sawReportId = true;
          break;
        case kGlobalPush:
          if (stackDepth == kMaxGlobalStack) return std::nullopt;
          stack[stackDepth++] = globals;
          break;
        case kGlobalPop:
          if (stackDepth == 0) return std::nullopt;
          globals = stack[--stackDepth];
          break;
        default:
          break;  // logical and physical ranges, units: no bearing on lengths
      }
      continue;
    }

    if (type == kTypeLocal && tag == kLocalUsage && !haveUsage) {
      usage = size == 4 ? value : (value & 0xFFFF);
      haveUsage = true;
    }
    // Reserved item types and other local items are skipped: their size is known.
  }

  if (collectionDepth != 0) return std::nullopt;
  const auto inputLength = ByteLength(input);
  const auto outputLength = ByteLength(output);
  const auto featureLength = ByteLength(feature);
  if (!inputLength || !outputLength || !featureLength) return std::nullopt;
  info.InputReportByteLength = *inputLength;
  info.OutputReportByteLength = *outputLength;
  info.FeatureReportByteLength = *featureLength;
  info.NumberedReports = sawReportId;
  return info;
}

}  // namespace glowstep
