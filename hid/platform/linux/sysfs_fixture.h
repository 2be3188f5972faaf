// A sysfs tree of hidraw devices in a scratch directory, laid out as the kernel lays it out.
//
// USB devices sit at devices/pci0000:00/0000:00:14.0/usb1/1-N/1-N:1.0/BBBB:VVVV:PPPP.SSSS with
// the USB device's attributes two levels up; Bluetooth devices below devices/virtual/misc/uhid.
// Each hidraw directory has its `dev` and a `device` link to the HID device, and
// class/hidraw/<name> links to it. Devices are added and removed while a backend reads the tree,
// as plugs do.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "hid/platform/linux/linux_backend.h"
#include "hid/platform/linux/sysfs_hid.h"

namespace glowstep {

// The controller's descriptor: one vendor-defined collection with a 64-byte input and a 64-byte
// output report, no report IDs.
std::vector<std::uint8_t> VendorDescriptor64();

struct TFixtureDevice {
  std::string Name = "hidraw0";
  std::uint32_t Bus = kBusUsb;
  std::uint16_t Vendor = 0x16C0;
  std::uint16_t Product = 0x05DF;
  // The kernel numbers every HID device it creates; a plug-in again gets a new number.
  std::uint32_t Sequence = 1;
  std::string DevNumber = "243:0";
  std::optional<std::string> UsbProduct = "Glowstep 3 v1.2";  // nullopt: no such attribute
  std::optional<std::string> UsbManufacturer = "Glowstep";
  std::string BcdDevice = "0102";
  std::string BusNumber = "1";
  std::optional<std::string> HidName = "Glowstep Glowstep 3 v1.2";  // nullopt: not in uevent
  std::string Driver = "hid-generic";
  std::vector<std::uint8_t> ReportDescriptor = VendorDescriptor64();
};

class TSysfsFixture {
 public:
  TSysfsFixture();
  TSysfsFixture(const TSysfsFixture&) = delete;
  TSysfsFixture& operator=(const TSysfsFixture&) = delete;
  ~TSysfsFixture();

  const std::string& Dir() const { return Dir_; }
  std::string SysfsRoot() const { return Dir_ + "/sys"; }
  std::string NodeRoot() const { return Dir_ + "/dev"; }
  // Options for a backend that reads this tree (libudev still loads from the system). The udev
  // daemon counts as not running, so plugs are watched for in NodeRoot, until StartUdev.
  TLinuxBackendOptions Options() const;
  std::string UdevControlPath() const { return Dir_ + "/run/udev/control"; }
  // Makes udev's control socket: backends made afterwards listen to the udev monitor.
  void StartUdev();

  // Adds the device; returns its hidraw syspath.
  std::string Add(const TFixtureDevice& device);
  // Takes the device away as an unplug does: its directories and its class link go.
  void Remove(const std::string& name);
  // The HID device's directory of the hidraw device `name` (where uevent and the descriptor are).
  std::string HidDir(const std::string& name) const;
  std::string UsbDir(const std::string& name) const;
  // Writes `contents` to the file at `path` (relative to the fixture or absolute).
  static void WriteFile(const std::string& path, const std::string& contents);

 private:
  std::string Dir_;
};

}  // namespace glowstep
