#include "hid/hid_pnp_info.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace glowstep {

namespace {

constexpr std::uint32_t kTextBufferSize = 1024;
constexpr std::uint32_t kTextListBufferSize = 16384;

class TPropertyReader {
 public:
  TPropertyReader(THidPlatform& platform, TDeviceInfoSet set, const TDeviceInfoRecord& info)
      : Platform_(platform), Set_(set), Info_(info) {}

  // The text up to its first zero byte; a text that fills the buffer ends with the buffer.
  std::string Text(std::uint32_t property) {
    std::vector<std::uint8_t> buffer(kTextBufferSize, 0);
    Platform_.GetDeviceRegistryProperty(Set_, Info_, property, buffer.data(), kTextBufferSize);
    const auto end = std::find(buffer.begin(), buffer.end(), std::uint8_t{0});
    return std::string(buffer.begin(), end);
  }

  // Zero-separated strings, ending at the first empty one or at the end of the buffer.
  std::vector<std::string> TextList(std::uint32_t property) {
    std::vector<std::uint8_t> buffer(kTextListBufferSize, 0);
    Platform_.GetDeviceRegistryProperty(Set_, Info_, property, buffer.data(), kTextListBufferSize);
    std::vector<std::string> list;
    auto begin = buffer.begin();
    while (begin != buffer.end()) {
      const auto end = std::find(begin, buffer.end(), std::uint8_t{0});
      if (end == begin) break;
      list.emplace_back(begin, end);
      if (end == buffer.end()) break;
      begin = end + 1;
    }
    return list;
  }

  std::uint32_t Number(std::uint32_t property) {
    std::uint8_t bytes[4] = {};
    if (!Platform_.GetDeviceRegistryProperty(Set_, Info_, property, bytes, sizeof bytes)) return 0;
    std::uint32_t value = 0;
    std::memcpy(&value, bytes, sizeof value);
    return value;
  }

 private:
  THidPlatform& Platform_;
  TDeviceInfoSet Set_;
  const TDeviceInfoRecord& Info_;
};

}  // namespace

THidPnPInfo::THidPnPInfo(THidPlatform& platform,
                         TDeviceInfoSet set,
                         const TDeviceInfoRecord& info,
                         std::string devicePath)
    : DeviceInstance(info.DevInst), DevicePath(std::move(devicePath)) {
  const THidStableNames names = platform.GetStableNames(set, info, DevicePath);
  PortName = names.Port;
  SerialNumber = names.Serial;
  TPropertyReader read(platform, set, info);
  Capabilities = read.Number(spdrp::Capabilities);
  Class = read.Text(spdrp::Class);
  ClassGuid = read.Text(spdrp::ClassGuid);
  CompatibleIds = read.TextList(spdrp::CompatibleIds);
  ConfigFlags = read.Number(spdrp::ConfigFlags);
  DeviceDesc = read.Text(spdrp::DeviceDesc);
  Driver = read.Text(spdrp::Driver);
  FriendlyName = read.Text(spdrp::FriendlyName);
  HardwareId = read.TextList(spdrp::HardwareId);
  LowerFilters = read.TextList(spdrp::LowerFilters);
  Mfg = read.Text(spdrp::Mfg);
  UpperFilters = read.TextList(spdrp::UpperFilters);
  Service = read.Text(spdrp::Service);
  Address = read.Text(spdrp::Address);
  BusNumber = read.Number(spdrp::BusNumber);
  BusTypeGuid = read.Text(spdrp::BusTypeGuid);
  Characteristics = read.Text(spdrp::Characteristics);
  DevType = read.Number(spdrp::DevType);
  EnumeratorName = read.Text(spdrp::EnumeratorName);
  Exclusive = read.Number(spdrp::Exclusive);
  LegacyBusType = read.Number(spdrp::LegacyBusType);
  LocationInformation = read.Text(spdrp::LocationInformation);
  PhysicalDeviceObjectName = read.Text(spdrp::PhysicalDeviceObjectName);
  SecuritySds = read.Text(spdrp::SecuritySds);
  UiNumber = read.Number(spdrp::UiNumber);
  UiNumberDescFormat = read.Text(spdrp::UiNumberDescFormat);
}

}  // namespace glowstep
