// The controller on the Windows backend over the real system libraries. Under wine the system has
// two HID devices of its own, a mouse (vendor 845E, product 0001) and a keyboard (product 0002),
// found in that order; what the backend reports about them is checked against HID.dll called
// directly.
#include <atomic>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "base/numbers.h"
#include "hid/hid_device_controller.h"
#include "hid/native_platform.h"
#include "hid/platform/windows/windows_backend.h"
#include "tests/hid/windows/windows_test_support.h"

// After windows.h, which the support header brings.
extern "C" {
#include <hidsdi.h>
// hidsdi.h first: it declares the types hidpi.h uses.
#include <hidpi.h>
}

namespace glowstep::testing {
namespace {

bool StartsWithIgnoringCase(const std::string& text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, text.data(),
                        static_cast<int>(prefix.size()), prefix.data(),
                        static_cast<int>(prefix.size())) == CSTR_EQUAL;
}

// A platform that lacks one library or one export, as an old or broken system does.
class TPlatformMissing final : public TWindowsPlatform {
 public:
  explicit TPlatformMissing(std::string_view name) : Name_(name) {}
  TLibraryHandle LoadLibraryByName(std::string_view name) override {
    return name == Name_ ? 0 : TWindowsPlatform::LoadLibraryByName(name);
  }
  TEntryAddress ResolveExport(TLibraryHandle library, std::string_view name) override {
    return name == Name_ ? nullptr : TWindowsPlatform::ResolveExport(library, name);
  }

 private:
  std::string_view Name_;
};

// A platform whose notification window cannot be made: building a controller on it throws after
// the backend started.
class TPlatformWithoutWindow final : public TWindowsPlatform {
 public:
  std::unique_ptr<TDeviceNotifier> CreateDeviceNotifier(TMainThreadPort&,
                                                        TDeviceChangeCallback) override {
    throw std::runtime_error("no window");
  }
};

class SystemDevices : public ::testing::Test {
 protected:
  void MakeController(THidBackend& backend) {
    Controller = std::make_unique<THidDeviceController>(backend, Loop);
    Controller->SetOnArrival(THidPlugEvent([this](THidDevice* d) {
      // Inside the event the device may be asked without checking it out.
      const std::u16string product = d->QueryProductName();
      std::string narrow;
      for (char16_t c : product) narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
      Events.push_back("arrival " + narrow);
    }));
    Controller->SetOnRemoval(THidPlugEvent([this](THidDevice*) { Events.push_back("removal"); }));
    Controller->SetLoading(true);
    Controller->SetOnDeviceChange(
        TNotifyEvent([this](THidDeviceController*) { Events.push_back("change"); }));
    Controller->SetLoading(false);
  }

  TMainLoop Loop;
  TWindowsPlatform Platform;
  std::unique_ptr<THidBackend> Backend = CreateNativeBackend();
  std::unique_ptr<THidDeviceController> Controller;
  std::vector<std::string> Events;
};

TEST_F(SystemDevices, TheBindingsLoadEveryEntryFromTheSystemFolderOnly) {
  THidBindings& bindings = Platform.Bindings();
  ASSERT_TRUE(bindings.AcquireSetupBinding());
  ASSERT_TRUE(bindings.AcquireHidBinding());
  for (std::size_t i = 0; i < THidBindings::kHidEntryCount; ++i)
    EXPECT_NE(bindings.HidEntry(i), nullptr) << THidBindings::HidEntryNames()[i].Name;
  for (std::size_t i = 0; i < THidBindings::kSetupEntryNames.size(); ++i)
    EXPECT_NE(bindings.SetupEntry(i), nullptr) << THidBindings::kSetupEntryNames[i];
  char system[MAX_PATH] = {};
  GetSystemDirectoryA(system, MAX_PATH);
  char file[MAX_PATH] = {};
  GetModuleFileNameA(GetModuleHandleA("SetupApi.dll"), file, MAX_PATH);
  EXPECT_TRUE(StartsWithIgnoringCase(file, system)) << file;
  bindings.ReleaseHidBinding();
  bindings.ReleaseSetupBinding();

  // A missing library fails quietly and leaves the error modes as they were; a name with a
  // path in it would bypass the system folder and is refused.
  const UINT processMode = GetErrorMode();
  const DWORD threadMode = GetThreadErrorMode();
  EXPECT_EQ(Platform.LoadLibraryByName("NoSuchLibrary.dll"), 0u);
  EXPECT_EQ(Platform.LastError(), static_cast<std::uint32_t>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(GetErrorMode(), processMode);
  EXPECT_EQ(GetThreadErrorMode(), threadMode);
  EXPECT_EQ(Platform.LoadLibraryByName(std::string(system) + "\\HID.dll"), 0u);
  EXPECT_EQ(Platform.LoadLibraryByName(".\\HID.dll"), 0u);
  EXPECT_TRUE(Platform.IsNtVersionAtLeast(5, 1));
  EXPECT_FALSE(Platform.IsNtVersionAtLeast(99, 0));
}

TEST_F(SystemDevices, TheFirstRefreshAnnouncesWinesDevicesInScanOrderAsHidDllReportsThem) {
  MakeController(*Backend);
  EXPECT_TRUE(Controller->WatchesDeviceChanges());
  EXPECT_TRUE(Events.empty());  // nothing is scanned before the posted refresh runs
  ASSERT_TRUE(PumpUntil(Loop, [&] { return !Events.empty() && Events.back() == "change"; }));
  EXPECT_EQ(Events, (std::vector<std::string>{"arrival Wine HID mouse", "arrival Wine HID keyboard",
                                              "change"}));
  ASSERT_EQ(Controller->Devices().size(), 2u);
  EXPECT_EQ(Controller->LastChangeParam(), THidDeviceController::kInitialChangeParam);

  for (std::int32_t i = 0; i < 2; ++i) {
    THidDevice* device = nullptr;
    ASSERT_TRUE(Controller->CheckOutAt(device, i));
    const THidPnPInfo& info = device->PnPInfo();
    const std::string id = i == 0 ? "VID_845E&PID_0001" : "VID_845E&PID_0002";
    EXPECT_TRUE(StartsWithIgnoringCase(info.DevicePath, "\\\\?\\hid#" + id)) << info.DevicePath;
    ASSERT_FALSE(info.HardwareId.empty());
    EXPECT_TRUE(StartsWithIgnoringCase(info.HardwareId[0], "HID\\" + id));
    EXPECT_EQ(info.Class, "HIDClass");

    // What HID.dll says when asked directly.
    const HANDLE file = CreateFileA(info.DevicePath.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    ASSERT_TRUE(HidD_GetAttributes(file, &attributes));
    char16_t product[254] = {};
    ASSERT_TRUE(HidD_GetProductString(file, product, sizeof product));
    char16_t serial[128] = {};
    const bool hasSerial = HidD_GetSerialNumberString(file, serial, sizeof serial - 2) != FALSE;
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    ASSERT_TRUE(HidD_GetPreparsedData(file, &preparsed));
    HIDP_CAPS caps{};
    EXPECT_EQ(HidP_GetCaps(preparsed, &caps), HIDP_STATUS_SUCCESS);
    HidD_FreePreparsedData(preparsed);
    CloseHandle(file);

    EXPECT_EQ(device->HidAttributes().VendorID, attributes.VendorID);
    EXPECT_EQ(device->HidAttributes().ProductID, attributes.ProductID);
    EXPECT_EQ(device->HidAttributes().VersionNumber, attributes.VersionNumber);
    EXPECT_EQ(device->QueryProductName(), std::u16string(product));
    EXPECT_EQ(info.SerialNumber, hasSerial ? ToUtf8(serial) : std::string());
    THidCaps reported;
    device->QueryCaps(reported);
    EXPECT_EQ(reported.UsagePage, caps.UsagePage);
    EXPECT_EQ(reported.Usage, caps.Usage);
    EXPECT_EQ(reported.InputReportByteLength, caps.InputReportByteLength);
    EXPECT_EQ(reported.OutputReportByteLength, caps.OutputReportByteLength);
    EXPECT_EQ(reported.FeatureReportByteLength, caps.FeatureReportByteLength);
    EXPECT_EQ(reported.NumberLinkCollectionNodes, caps.NumberLinkCollectionNodes);
    EXPECT_EQ(reported.NumberInputValueCaps, caps.NumberInputValueCaps);
    device->Destroy();
  }
  EXPECT_EQ(Controller->CheckedInCount(), 2);
}

TEST_F(SystemDevices, OnlyTheDeviceTreeChangeRefreshesAndALaterRefreshFindsNothingNew) {
  MakeController(*Backend);
  ASSERT_TRUE(PumpUntil(Loop, [&] { return Controller->Devices().size() == 2; }));
  Events.clear();
  const THidDevice* mouse = Controller->Devices()[0].get();

  SendMessageA(NotifyWindow(), WM_DEVICECHANGE, kDbtDevNodesChanged, 41);
  EXPECT_EQ(Controller->LastChangeParam(), 41);
  EXPECT_TRUE(Events.empty());
  EXPECT_EQ(Controller->Devices()[0].get(), mouse);  // the same object, not a new one

  constexpr WPARAM kDbtDeviceArrival = 0x8000;
  SendMessageA(NotifyWindow(), WM_DEVICECHANGE, kDbtDeviceArrival, 42);
  SendMessageA(NotifyWindow(), WM_DEVICECHANGE, 0, 43);
  EXPECT_EQ(Controller->LastChangeParam(), 41);

  Controller.reset();
  EXPECT_EQ(NotifyWindow(), nullptr);
}

TEST(BackendTeardown, FreesWhatAControllerThatFailedToBuildStillHolds) {
  TMainLoop loop;
  TPlatformWithoutWindow platform;
  auto backend = std::make_unique<TWindowsHidBackend>(platform);
  EXPECT_THROW(THidDeviceController(*backend, loop), std::runtime_error);
  EXPECT_NE(GetModuleHandleA("SetupApi.dll"), nullptr);
  backend.reset();
  EXPECT_EQ(GetModuleHandleA("SetupApi.dll"), nullptr);
}

// The system's device-tree broadcast goes to every top-level window, so the notification window
// is one, not a message-only window. What is broadcast here is a configuration change, on which
// no controller refreshes: a test running beside this one is not disturbed.
TEST(NotifyWindow, HearsWhatIsBroadcastToEveryTopLevelWindow) {
  TMainLoop loop;
  TWindowsPlatform platform;
  constexpr WPARAM kDbtConfigChanged = 0x18;
  const auto marker = static_cast<std::intptr_t>(GetCurrentProcessId());
  std::vector<std::uintptr_t> heard;
  auto notifier =
      platform.CreateDeviceNotifier(loop,
                                    [&](std::uint32_t message, std::uintptr_t wParam,
                                        std::intptr_t lParam) -> TDeviceChangeReport {
                                      if (message == kWmDeviceChange && lParam == marker)
                                        heard.push_back(wParam);
                                      return nullptr;
                                    });
  ASSERT_NE(notifier, nullptr);
  ASSERT_TRUE(PostMessageA(HWND_BROADCAST, WM_DEVICECHANGE, kDbtConfigChanged, marker));
  ASSERT_TRUE(PumpUntil(loop, [&] { return !heard.empty(); }));
  EXPECT_EQ(heard, std::vector<std::uintptr_t>{kDbtConfigChanged});
}

TEST(NotifyWindow, GoesWithItsNotifierAlsoWhenThatEndsOnAnotherThread) {
  TMainLoop loop;
  TWindowsPlatform platform;
  auto notifier = platform.CreateDeviceNotifier(
      loop, [](std::uint32_t, std::uintptr_t, std::intptr_t) { return TDeviceChangeReport(); });
  ASSERT_NE(notifier, nullptr);
  ASSERT_NE(NotifyWindow(), nullptr);
  std::atomic<bool> ended = false;
  std::thread other([&] {
    notifier.reset();
    ended = true;
  });
  // The window's own thread goes on running its loop meanwhile, as the application's does.
  EXPECT_TRUE(PumpUntil(loop, [&] { return ended && NotifyWindow() == nullptr; }));
  other.join();
}

class MissingBinding : public SystemDevices, public ::testing::WithParamInterface<const char*> {};

TEST_P(MissingBinding, LeavesTheControllerEmptyAndQuiet) {
  TPlatformMissing platform(GetParam());
  TWindowsHidBackend backend(platform);
  MakeController(backend);
  EXPECT_FALSE(Controller->WatchesDeviceChanges());
  EXPECT_EQ(NotifyWindow(), nullptr);
  PumpPending(Loop);  // nothing was posted
  EXPECT_TRUE(Events.empty());
  EXPECT_EQ(Controller->EnumerateDevices(), 0);
  EXPECT_EQ(backend.InterfaceClass(), kHidInterfaceClassGuid);
  Controller.reset();
  EXPECT_EQ(platform.Bindings().SetupBindingCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Windows,
    MissingBinding,
    ::testing::Values("HID.dll", "SetupApi.dll", "HidD_Hello", "SetupDiGetDeviceInterfaceDetailA"),
    [](const auto& param) {
      std::string name = param.param;
      std::erase(name, '.');
      return name;
    });

}  // namespace
}  // namespace glowstep::testing
