// What the setup service reports about one HID interface.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hid/hid_platform.h"

namespace glowstep {

// Registry property codes of the setup service, in the order they are read.
// NOLINTBEGIN(readability-identifier-naming): named as the service names them (SPDRP_...)
namespace spdrp {
inline constexpr std::uint32_t DeviceDesc = 0;
inline constexpr std::uint32_t HardwareId = 1;
inline constexpr std::uint32_t CompatibleIds = 2;
inline constexpr std::uint32_t Service = 4;
inline constexpr std::uint32_t Class = 7;
inline constexpr std::uint32_t ClassGuid = 8;
inline constexpr std::uint32_t Driver = 9;
inline constexpr std::uint32_t ConfigFlags = 10;
inline constexpr std::uint32_t Mfg = 11;
inline constexpr std::uint32_t FriendlyName = 12;
inline constexpr std::uint32_t LocationInformation = 13;
inline constexpr std::uint32_t PhysicalDeviceObjectName = 14;
inline constexpr std::uint32_t Capabilities = 15;
inline constexpr std::uint32_t UiNumber = 16;
inline constexpr std::uint32_t UpperFilters = 17;
inline constexpr std::uint32_t LowerFilters = 18;
inline constexpr std::uint32_t BusTypeGuid = 19;
inline constexpr std::uint32_t LegacyBusType = 20;
inline constexpr std::uint32_t BusNumber = 21;
inline constexpr std::uint32_t EnumeratorName = 22;
inline constexpr std::uint32_t SecuritySds = 24;
inline constexpr std::uint32_t DevType = 25;
inline constexpr std::uint32_t Exclusive = 26;
inline constexpr std::uint32_t Characteristics = 27;
inline constexpr std::uint32_t Address = 28;
inline constexpr std::uint32_t UiNumberDescFormat = 30;
}  // namespace spdrp
// NOLINTEND(readability-identifier-naming)

// Read once, when the scan finds the interface; the device made from it owns it. A property the
// service cannot give is left empty (text, list) or 0 (number).
class THidPnPInfo {
 public:
  THidPnPInfo(THidPlatform& platform,
              TDeviceInfoSet set,
              const TDeviceInfoRecord& info,
              std::string devicePath);

  std::uint32_t DeviceInstance = 0;
  std::string DevicePath;
  // Names that outlast a re-plug and a restart (THidStableNames); empty where there is none.
  std::string PortName;
  std::string SerialNumber;

  std::uint32_t Capabilities = 0;
  std::string Class;
  std::string ClassGuid;
  std::vector<std::string> CompatibleIds;
  std::uint32_t ConfigFlags = 0;
  std::string DeviceDesc;
  std::string Driver;
  std::string FriendlyName;
  std::vector<std::string> HardwareId;
  std::vector<std::string> LowerFilters;
  std::string Mfg;
  std::vector<std::string> UpperFilters;
  std::string Address;
  std::uint32_t BusNumber = 0;
  std::string BusTypeGuid;
  std::string Characteristics;
  std::uint32_t DevType = 0;
  std::string EnumeratorName;
  std::uint32_t Exclusive = 0;
  std::uint32_t LegacyBusType = 0;
  std::string LocationInformation;
  std::string PhysicalDeviceObjectName;
  std::string SecuritySds;
  std::string Service;
  std::uint32_t UiNumber = 0;
  std::string UiNumberDescFormat;
};

}  // namespace glowstep
