#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "hid/platform/linux/linux_backend.h"
#include "hid/platform/linux/sysfs_fixture.h"
#include "hid/platform/linux/sysfs_hid.h"

namespace glowstep {
namespace {

TEST(Utf8ToUtf16, DecodesWellFormedTextAndReplacesEachBadSequenceOnce) {
  const std::pair<std::string, std::u16string> cases[] = {
      {"Glowstep 3", u"Glowstep 3"},
      {"\xD0\x9B\xD0\xB5\xD1\x81\xD1\x82\xD0\xBD\xD0\xB8\xD1\x86\xD0\xB0", u"Лестница"},
      {"\xE2\x82\xAC 3", u"€ 3"},
      {"\xF0\x9F\x92\xA1", u"\U0001F4A1"},  // outside the BMP: a surrogate pair
      {"a\xFF"
       "b",
       u"a\uFFFD"
       "b"},                          // a byte that never starts a character
      {"\xC0\xAF", u"\uFFFD\uFFFD"},  // overlong form of '/'
      {"\xED\xA0\x80", u"\uFFFD"},    // an encoded surrogate
      {"\xE2\x82", u"\uFFFD"},        // cut off at the end
      {"\xE2\x82"
       "A",
       u"\uFFFD"
       "A"},                            // cut off by an ASCII byte
      {"\xF4\x90\x80\x80", u"\uFFFD"},  // beyond U+10FFFF
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
  };
  for (const auto& [utf8, utf16] : cases) EXPECT_EQ(Utf8ToUtf16(utf8), utf16) << utf8;
}

TEST(ParseUevent, TakesKeyValueLinesAndSkipsTheRest) {
  const auto values = ParseUevent("DRIVER=hid-generic\nHID_NAME=A=B\n\nnonsense\n=x\nLAST=1");
  EXPECT_EQ(values.size(), 3u);
  EXPECT_EQ(values.at("DRIVER"), "hid-generic");
  EXPECT_EQ(values.at("HID_NAME"), "A=B");
  EXPECT_EQ(values.at("LAST"), "1");
}

class SysfsHid : public ::testing::Test {
 protected:
  TSysfsHidDevice Open(const std::string& sysPath) {
    auto device = TSysfsHidDevice::Open(sysPath);
    EXPECT_TRUE(device.has_value());
    return device.value_or(TSysfsHidDevice());
  }

  TSysfsFixture Fixture;
};

TEST_F(SysfsHid, AUsbDeviceIsIdentifiedFromItsUsbAttributes) {
  const auto device = Open(Fixture.Add(TFixtureDevice{}));
  EXPECT_EQ(device.Bus(), kBusUsb);
  EXPECT_FALSE(device.UsbPath().empty());
  const auto attributes = device.Attributes();
  ASSERT_TRUE(attributes.has_value());
  EXPECT_EQ(attributes->VendorID, 0x16C0);
  EXPECT_EQ(attributes->ProductID, 0x05DF);
  EXPECT_EQ(attributes->VersionNumber, 0x0102);
  EXPECT_EQ(device.ProductString(), u"Glowstep 3 v1.2");  // not HID_NAME, which adds the maker
  EXPECT_EQ(device.DevNumber(), "243:0");
  EXPECT_EQ(device.ReportDescriptor(), VendorDescriptor64());
}

TEST_F(SysfsHid, ABluetoothDeviceIsNamedByItsHidName) {
  TFixtureDevice setup;
  setup.Bus = kBusBluetooth;
  setup.Vendor = 0x046D;
  setup.Product = 0xB012;
  setup.HidName = "MX Anywhere";
  const auto device = Open(Fixture.Add(setup));
  EXPECT_TRUE(device.UsbPath().empty());
  EXPECT_EQ(device.ProductString(), u"MX Anywhere");
  const auto attributes = device.Attributes();
  ASSERT_TRUE(attributes.has_value());
  EXPECT_EQ(attributes->VendorID, 0x046D);
  EXPECT_EQ(attributes->VersionNumber, 0);  // only USB has a device release number
}

TEST_F(SysfsHid, MissingAttributesFallBackOrFailWithoutGuessing) {
  TFixtureDevice noProduct;
  noProduct.UsbProduct.reset();
  const auto fallback = Open(Fixture.Add(noProduct));
  EXPECT_EQ(fallback.ProductString(), u"Glowstep Glowstep 3 v1.2");

  TFixtureDevice nameless;
  nameless.Name = "hidraw1";
  nameless.Sequence = 2;
  nameless.UsbProduct.reset();
  nameless.HidName.reset();
  const auto none = Open(Fixture.Add(nameless));
  EXPECT_FALSE(none.ProductString().has_value());

  TFixtureDevice broken;
  broken.Name = "hidraw2";
  broken.Sequence = 3;
  const std::string sysPath = Fixture.Add(broken);
  std::filesystem::remove(Fixture.HidDir("hidraw2") + "/uevent");
  EXPECT_FALSE(TSysfsHidDevice::Open(sysPath).has_value());
  EXPECT_FALSE(TSysfsHidDevice::Open(Fixture.SysfsRoot() + "/devices/nothing").has_value());
}

TEST_F(SysfsHid, ADeviceThatWentAwayAnswersNothing) {
  const auto device = Open(Fixture.Add(TFixtureDevice{}));
  Fixture.Remove("hidraw0");
  EXPECT_FALSE(device.Attributes().has_value());
  EXPECT_FALSE(device.ProductString().has_value());
  EXPECT_FALSE(device.ReportDescriptor().has_value());
  EXPECT_EQ(device.DevNumber(), "");
}

TEST_F(SysfsHid, AnOversizedDescriptorIsNotRead) {
  TFixtureDevice setup;
  setup.ReportDescriptor.assign(5000, 0x81);
  EXPECT_FALSE(Open(Fixture.Add(setup)).ReportDescriptor().has_value());
}

// What a list records of each device, without opening any node.
class SysfsList : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(Backend.Start()); }
  void TearDown() override { Backend.Stop(); }

  std::vector<THidInterfaceRecord> List() {
    THidError error;
    auto records = Backend.List(error);
    EXPECT_FALSE(error);
    return records;
  }

  // The product string of a device nobody opens, through a description-only connection.
  std::u16string QueryProduct(const TFixtureDevice& setup) {
    Fixture.Add(setup);
    List();  // a list is what tells the backend which device stands at which node
    THidError error;
    const auto connection =
        Backend.Open(Fixture.NodeRoot() + "/" + setup.Name, TFileAccess::None, error);
    EXPECT_FALSE(error);
    if (!connection) return u"(failed)";
    std::u16string text;
    if (connection->ProductString(text)) return u"(failed)";
    return text;
  }

  TSysfsFixture Fixture;
  TLinuxHidBackend Backend{Fixture.Options()};
};

TEST_F(SysfsList, AProductStringArrivesWholeAndNonUtf8BytesAsReplacementCharacters) {
  const std::pair<std::string, std::u16string> cases[] = {
      {std::string(300, 'x'), std::u16string(300, u'x')},
      {std::string(252, 'y') + "\xF0\x9F\x92\xA1", std::u16string(252, u'y') + u"\U0001F4A1"},
      {"Glowstep 3 \xFF\xFE v1", u"Glowstep 3 \uFFFD\uFFFD v1"},
  };
  std::uint32_t sequence = 0;
  for (const auto& [product, expected] : cases) {
    SCOPED_TRACE(product);
    TFixtureDevice setup;
    setup.Name = "hidraw" + std::to_string(sequence);
    setup.Sequence = ++sequence;
    setup.UsbProduct = product;
    EXPECT_EQ(QueryProduct(setup), expected);
  }
}

TEST_F(SysfsList, PropertiesComeFromUeventAndUsbAttributesOnly) {
  Fixture.Add(TFixtureDevice{});
  const auto records = List();
  ASSERT_EQ(records.size(), 1u);
  const THidPnPProperties& properties = records[0].Properties;
  EXPECT_EQ(properties.DeviceDesc, "Glowstep Glowstep 3 v1.2");
  EXPECT_EQ(properties.HardwareId, std::vector<std::string>{"hid:b0003g0001v000016C0p000005DF"});
  EXPECT_EQ(properties.Service, "hid-generic");
  EXPECT_EQ(properties.Class, "hidraw");
  EXPECT_EQ(properties.Mfg, "Glowstep");
  EXPECT_EQ(properties.LocationInformation, "usb-0000:00:14.0-1/input0");
  EXPECT_EQ(properties.BusNumber, 1u);
  EXPECT_NE(properties.PhysicalDeviceObjectName.find("/hidraw/hidraw0"), std::string::npos);
  EXPECT_TRUE(properties.FriendlyName.empty());  // nothing on Linux means the same
  EXPECT_TRUE(properties.CompatibleIds.empty());
  EXPECT_EQ(properties.Capabilities, 0u);

  // A device off USB has neither a maker nor a bus number to tell.
  TFixtureDevice bluetooth;
  bluetooth.Name = "hidraw1";
  bluetooth.Sequence = 2;
  bluetooth.Bus = kBusBluetooth;
  Fixture.Add(bluetooth);
  const auto both = List();
  ASSERT_EQ(both.size(), 2u);
  const auto other = std::find_if(both.begin(), both.end(), [](const THidInterfaceRecord& r) {
    return r.Path.ends_with("/hidraw1");
  });
  ASSERT_NE(other, both.end());
  EXPECT_TRUE(other->Properties.Mfg.empty());
  EXPECT_EQ(other->Properties.BusNumber, 0u);
}

TEST_F(SysfsList, StableNamesAreTheUsbPortAndTheSerialNumberOfTheDeviceOrItsUsbDevice) {
  struct TCase {
    std::uint32_t Bus;
    std::string UsbSerial;  // empty: no such attribute
    std::string HidUniq;    // empty: not in the uevent
    std::string Port;
    std::string Serial;
  };
  const std::vector<TCase> cases = {
      {kBusUsb, "", "", "usb-0000:00:14.0-1/input0", ""},
      {kBusUsb, "A1", "", "usb-0000:00:14.0-2/input0", "A1"},
      {kBusUsb, "A1", "U9", "usb-0000:00:14.0-3/input0", "U9"},
      // Elsewhere the physical path names the adapter, which all its devices share.
      {kBusBluetooth, "", "aa:bb:cc:dd:ee:ff", "", "aa:bb:cc:dd:ee:ff"},
  };
  for (std::uint32_t i = 0; i < cases.size(); ++i) {
    TFixtureDevice setup;
    setup.Name = "hidraw" + std::to_string(i);
    setup.Sequence = i + 1;
    setup.Bus = cases[i].Bus;
    Fixture.Add(setup);
    if (!cases[i].UsbSerial.empty())
      TSysfsFixture::WriteFile(Fixture.UsbDir(setup.Name) + "/serial", cases[i].UsbSerial + "\n");
    if (!cases[i].HidUniq.empty()) {
      const std::string uevent = Fixture.HidDir(setup.Name) + "/uevent";
      TSysfsFixture::WriteFile(
          uevent, ReadSysfsFile(uevent).value_or("") + "HID_UNIQ=" + cases[i].HidUniq + "\n");
    }
  }
  // The list is in syspath order: the USB devices by port, then the rest.
  const auto records = List();
  ASSERT_EQ(records.size(), cases.size());
  for (std::uint32_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(records[i].Path, Fixture.NodeRoot() + "/hidraw" + std::to_string(i));
    EXPECT_EQ(records[i].PortName, cases[i].Port);
    EXPECT_EQ(records[i].SerialNumber, cases[i].Serial);
  }
}

}  // namespace
}  // namespace glowstep
