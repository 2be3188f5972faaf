#include "hid/platform/linux/sysfs_hid.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <memory>

#include "hid/platform/linux/report_descriptor.h"

namespace glowstep {

namespace {

// The canonical absolute path, symbolic links resolved; empty when it does not exist.
std::string RealPath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr), &std::free);
  return resolved ? std::string(resolved.get()) : std::string();
}

std::string Parent(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::optional<std::uint32_t> Hex(std::string_view text) {
  if (text.empty() || text.size() > 8) return std::nullopt;
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::string> ReadSysfsFile(const std::string& path, std::size_t maxBytes) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string contents(maxBytes, '\0');
  std::size_t used = 0;
  bool failed = false;
  while (used < maxBytes) {
    const ssize_t n = read(fd, contents.data() + used, maxBytes - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) failed = true;
    if (n <= 0) break;
    used += static_cast<std::size_t>(n);
  }
  close(fd);
  if (failed) return std::nullopt;
  contents.resize(used);
  return contents;
}

std::optional<std::string> ReadSysfsText(const std::string& path) {
  auto text = ReadSysfsFile(path);
  if (text && !text->empty() && text->back() == '\n') text->pop_back();
  return text;
}

std::map<std::string, std::string> ParseUevent(std::string_view text) {
  std::map<std::string, std::string> values;
  while (!text.empty()) {
    const auto end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    const auto equals = line.find('=');
    if (equals != std::string_view::npos && equals > 0)
      values.emplace(std::string(line.substr(0, equals)), std::string(line.substr(equals + 1)));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return values;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<std::uint8_t>(text[i]);
    std::size_t length = 0;
    char32_t code = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
      out.push_back(lead);
      ++i;
      continue;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      code = lead & 0x1Fu;
      minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      code = lead & 0x0Fu;
      minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      code = lead & 0x07u;
      minimum = 0x10000;
    }
    // Take continuation bytes while they fit; a sequence that breaks off, or decodes to an
    // overlong form, a surrogate or beyond U+10FFFF, is replaced by one U+FFFD covering the
    // bytes consumed (at least the lead byte).
    std::size_t taken = 1;
    while (length != 0 && taken < length && i + taken < text.size()) {
      const auto next = static_cast<std::uint8_t>(text[i + taken]);
      if ((next & 0xC0u) != 0x80u) break;
      code = (code << 6) | (next & 0x3Fu);
      ++taken;
    }
    const bool valid = length != 0 && taken == length && code >= minimum && code <= 0x10FFFF &&
                       (code < 0xD800 || code > 0xDFFF);
    if (!valid) {
      out.push_back(u'\uFFFD');
    } else if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FFu)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
    i += taken;
  }
  return out;
}

std::optional<TSysfsHidDevice> TSysfsHidDevice::Open(const std::string& sysPath) {
  TSysfsHidDevice device;
  device.SysPath_ = sysPath;
  device.HidPath_ = RealPath(sysPath + "/device");
  if (device.HidPath_.empty()) return std::nullopt;
  const auto uevent = ReadSysfsFile(device.HidPath_ + "/uevent");
  if (!uevent) return std::nullopt;
  device.Uevent_ = ParseUevent(*uevent);

  // HID_ID=0003:000016C0:000005DF: bus, vendor, product.
  const std::string id = device.Property("HID_ID");
  const auto first = id.find(':');
  const auto second = first == std::string::npos ? first : id.find(':', first + 1);
  if (second != std::string::npos) {
    const std::string_view view(id);
    const auto bus = Hex(view.substr(0, first));
    const auto vendor = Hex(view.substr(first + 1, second - first - 1));
    const auto product = Hex(view.substr(second + 1));
    if (bus && vendor && product) {
      device.Bus_ = *bus;
      device.Vendor_ = *vendor;
      device.Product_ = *product;
    }
  }
  // On USB: HID device -> USB interface -> USB device. Only that exact place counts, so that a
  // Bluetooth device behind a USB radio is not given the radio's name.
  if (device.Bus_ == kBusUsb) {
    const std::string usb = Parent(Parent(device.HidPath_));
    if (!usb.empty() && Exists(usb + "/idVendor")) device.UsbPath_ = usb;
  }
  return device;
}

std::string TSysfsHidDevice::Property(const std::string& key) const {
  const auto it = Uevent_.find(key);
  return it != Uevent_.end() ? it->second : std::string();
}

std::optional<THidAttributes> TSysfsHidDevice::Attributes() const {
  // The HID device's directory goes with the device: reading it again tells whether it is
  // still there.
  if (!Exists(HidPath_ + "/uevent") || Property("HID_ID").empty()) return std::nullopt;
  THidAttributes attributes;
  attributes.VendorID = static_cast<std::uint16_t>(Vendor_ & 0xFFFF);
  attributes.ProductID = static_cast<std::uint16_t>(Product_ & 0xFFFF);
  if (const auto version = Hex(UsbAttribute("bcdDevice")))
    attributes.VersionNumber = static_cast<std::uint16_t>(*version & 0xFFFF);
  return attributes;
}

std::optional<std::u16string> TSysfsHidDevice::ProductString() const {
  if (!UsbPath_.empty()) {
    const auto product = ReadSysfsText(UsbPath_ + "/product");
    if (product && !product->empty()) return Utf8ToUtf16(*product);
  }
  if (!Exists(HidPath_ + "/uevent")) return std::nullopt;
  const auto it = Uevent_.find("HID_NAME");
  if (it == Uevent_.end()) return std::nullopt;
  return Utf8ToUtf16(it->second);
}

std::optional<std::vector<std::uint8_t>> TSysfsHidDevice::ReportDescriptor() const {
  // One byte more than allowed, to tell an oversized descriptor from one that fits exactly.
  const auto bytes = ReadSysfsFile(HidPath_ + "/report_descriptor", kMaxReportDescriptorSize + 1);
  if (!bytes || bytes->size() > kMaxReportDescriptorSize) return std::nullopt;
  return std::vector<std::uint8_t>(bytes->begin(), bytes->end());
}

std::string TSysfsHidDevice::DevNumber() const {
  return ReadSysfsText(SysPath_ + "/dev").value_or(std::string());
}

std::string TSysfsHidDevice::UsbAttribute(const std::string& name) const {
  if (UsbPath_.empty()) return {};
  return ReadSysfsText(UsbPath_ + "/" + name).value_or(std::string());
}

}  // namespace glowstep
