// What sysfs tells about one hidraw device, read without opening the device node.
//
// A hidraw device's directory (its syspath, e.g. .../0003:16C0:05DF.0007/hidraw/hidraw3) links
// through `device` to the HID device, whose `uevent` holds HID_ID, HID_NAME, HID_PHYS, DRIVER
// and MODALIAS and whose `report_descriptor` is the raw descriptor. On USB the HID device sits
// below the USB interface, below the USB device with its `product`, `manufacturer` and
// `bcdDevice`. Every file is read with a size limit: the contents come from the device.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hid/hid_backend.h"

namespace glowstep {

// The most read of a text attribute; sysfs itself hands out at most a page.
inline constexpr std::size_t kMaxAttributeSize = 4096;

// The file's contents, at most `maxBytes` of them; nullopt when it cannot be read.
std::optional<std::string> ReadSysfsFile(const std::string& path,
                                         std::size_t maxBytes = kMaxAttributeSize);
// A text attribute without its one trailing newline.
std::optional<std::string> ReadSysfsText(const std::string& path);
// KEY=VALUE lines of a uevent file.
std::map<std::string, std::string> ParseUevent(std::string_view text);
// UTF-8 to UTF-16; each ill-formed sequence becomes one U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);

// HID bus types as the kernel numbers them (HID_ID's first field).
inline constexpr std::uint32_t kBusUsb = 0x03;
inline constexpr std::uint32_t kBusBluetooth = 0x05;

class TSysfsHidDevice {
 public:
  // Reads the links and the HID device's uevent; nullopt when `sysPath` is not a hidraw device
  // directory with a HID device behind it (any more).
  static std::optional<TSysfsHidDevice> Open(const std::string& sysPath);

  const std::string& SysPath() const { return SysPath_; }
  const std::string& HidPath() const { return HidPath_; }
  // The USB device's directory; empty for a device on another bus.
  const std::string& UsbPath() const { return UsbPath_; }
  std::uint32_t Bus() const { return Bus_; }
  // A uevent value of the HID device; empty when absent.
  std::string Property(const std::string& key) const;

  // Vendor and product from HID_ID; version from the USB device's bcdDevice (0 elsewhere).
  std::optional<THidAttributes> Attributes() const;
  // The USB device's `product`; otherwise HID_NAME; nullopt when neither exists.
  std::optional<std::u16string> ProductString() const;
  std::optional<std::vector<std::uint8_t>> ReportDescriptor() const;
  // The `dev` attribute of the hidraw device ("major:minor"); empty once the device is gone.
  std::string DevNumber() const;
  // A text attribute of the USB device; empty when absent or not on USB.
  std::string UsbAttribute(const std::string& name) const;

 private:
  std::string SysPath_;
  std::string HidPath_;
  std::string UsbPath_;
  std::uint32_t Bus_ = 0;
  std::uint32_t Vendor_ = 0;
  std::uint32_t Product_ = 0;
  std::map<std::string, std::string> Uevent_;
};

}  // namespace glowstep
