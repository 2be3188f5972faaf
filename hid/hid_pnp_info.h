// What the system reports about one HID interface.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace glowstep {

// What the system says of one HID interface besides its reports, filled by each backend from its
// own sources (Windows: the setup service's registry properties, under the same names; Linux: the
// device's uevent and USB attributes, for the few fields that mean the same there). A field a
// platform has no source for is empty (text, list) or 0 (number).
struct THidPnPProperties {
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
  friend bool operator==(const THidPnPProperties&, const THidPnPProperties&) = default;
};

// Read once, when the scan finds the interface; the device made from it owns it.
struct THidPnPInfo : THidPnPProperties {
  std::uint32_t DeviceInstance = 0;  // the identity of the interface across refreshes
  std::string DevicePath;
  // Names that outlast a re-plug and a restart; empty where there is none.
  std::string PortName;
  std::string SerialNumber;
};

}  // namespace glowstep
