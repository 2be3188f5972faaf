#include "hid/platform/linux/sysfs_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace glowstep {

namespace fs = std::filesystem;

namespace {

std::string Hex(std::uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

}  // namespace

std::vector<std::uint8_t> VendorDescriptor64() {
  return {
      0x06, 0x00, 0xFF,  // Usage Page (vendor-defined 0xFF00)
      0x09, 0x01,        // Usage (1)
      0xA1, 0x01,        // Collection (Application)
      0x15, 0x00,        //   Logical Minimum (0)
      0x26, 0xFF, 0x00,  //   Logical Maximum (255)
      0x75, 0x08,        //   Report Size (8)
      0x95, 0x40,        //   Report Count (64)
      0x09, 0x01,        //   Usage (1)
      0x81, 0x02,        //   Input (Data, Variable, Absolute)
      0x95, 0x40,        //   Report Count (64)
      0x09, 0x01,        //   Usage (1)
      0x91, 0x02,        //   Output (Data, Variable, Absolute)
      0xC0,              // End Collection
  };
}

TSysfsFixture::TSysfsFixture() {
  std::string pattern = (fs::temp_directory_path() / "glowstep-sysfs.XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a fixture dir");
  Dir_ = pattern;
  fs::create_directories(SysfsRoot() + "/class/hidraw");
  fs::create_directories(NodeRoot());
}

TSysfsFixture::~TSysfsFixture() {
  std::error_code ignored;
  fs::remove_all(Dir_, ignored);
}

TLinuxBackendOptions TSysfsFixture::Options() const {
  TLinuxBackendOptions options;
  options.SysfsRoot = SysfsRoot();
  options.NodeRoot = NodeRoot();
  options.ListSysfs = true;
  options.UdevControlPath = UdevControlPath();
  return options;
}

void TSysfsFixture::StartUdev() {
  fs::create_directories(fs::path(UdevControlPath()).parent_path());
  WriteFile(UdevControlPath(), "");
}

void TSysfsFixture::WriteFile(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string TSysfsFixture::Add(const TFixtureDevice& device) {
  const std::string hidName = Hex(device.Bus, 4) + ":" + Hex(device.Vendor, 4) + ":" +
                              Hex(device.Product, 4) + "." + Hex(device.Sequence, 4);
  std::string hidDir;
  if (device.Bus == kBusUsb) {
    const std::string port = "1-" + std::to_string(device.Sequence);
    const std::string usbDir = SysfsRoot() + "/devices/pci0000:00/0000:00:14.0/usb1/" + port;
    fs::create_directories(usbDir);
    WriteFile(usbDir + "/idVendor", Hex(device.Vendor, 4) + "\n");
    WriteFile(usbDir + "/idProduct", Hex(device.Product, 4) + "\n");
    WriteFile(usbDir + "/bcdDevice", device.BcdDevice + "\n");
    WriteFile(usbDir + "/busnum", device.BusNumber + "\n");
    if (device.UsbProduct) WriteFile(usbDir + "/product", *device.UsbProduct + "\n");
    if (device.UsbManufacturer) WriteFile(usbDir + "/manufacturer", *device.UsbManufacturer + "\n");
    hidDir = usbDir + "/" + port + ":1.0/" + hidName;
  } else {
    hidDir = SysfsRoot() + "/devices/virtual/misc/uhid/" + hidName;
  }
  const std::string rawDir = hidDir + "/hidraw/" + device.Name;
  fs::create_directories(rawDir);
  std::string uevent = "DRIVER=" + device.Driver + "\nHID_ID=" + Hex(device.Bus, 4) + ":" +
                       Hex(device.Vendor, 8) + ":" + Hex(device.Product, 8) + "\n";
  if (device.HidName) uevent += "HID_NAME=" + *device.HidName + "\n";
  uevent += "HID_PHYS=usb-0000:00:14.0-" + std::to_string(device.Sequence) + "/input0\n";
  uevent += "MODALIAS=hid:b" + Hex(device.Bus, 4) + "g0001v" + Hex(device.Vendor, 8) + "p" +
            Hex(device.Product, 8) + "\n";
  WriteFile(hidDir + "/uevent", uevent);
  WriteFile(hidDir + "/report_descriptor",
            std::string(device.ReportDescriptor.begin(), device.ReportDescriptor.end()));
  WriteFile(rawDir + "/dev", device.DevNumber + "\n");
  WriteFile(rawDir + "/uevent", "DEVNAME=" + device.Name + "\n");
  fs::create_symlink("../..", rawDir + "/device");
  // The class comes with the first device where the HID core is a module that loads with it.
  fs::create_directories(SysfsRoot() + "/class/hidraw");
  const std::string link = SysfsRoot() + "/class/hidraw/" + device.Name;
  fs::create_symlink(fs::relative(rawDir, SysfsRoot() + "/class/hidraw"), link);
  return fs::canonical(rawDir).string();
}

std::string TSysfsFixture::HidDir(const std::string& name) const {
  return fs::canonical(SysfsRoot() + "/class/hidraw/" + name + "/device").string();
}

std::string TSysfsFixture::UsbDir(const std::string& name) const {
  return fs::path(HidDir(name)).parent_path().parent_path().string();
}

void TSysfsFixture::Remove(const std::string& name) {
  const std::string link = SysfsRoot() + "/class/hidraw/" + name;
  const fs::path hidDir = HidDir(name);
  fs::remove(link);
  // A USB device goes with its interface and HID device; a Bluetooth one with its HID device.
  const fs::path interfaceDir = hidDir.parent_path();
  if (fs::exists(interfaceDir.parent_path() / "idVendor"))
    fs::remove_all(interfaceDir.parent_path());
  else
    fs::remove_all(hidDir);
}

}  // namespace glowstep
