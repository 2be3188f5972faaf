#include "protocol/controller_link.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "hid/main_loop.h"
#include "hid/platform/sim/sim_platform.h"
#include "testing/virtual_staircase_controller.h"
#include "testing/waiting.h"
#include "tests/protocol/fake_controls.h"

namespace glowstep {
namespace {

using namespace std::chrono_literals;
using TSettings = TVirtualStaircaseController::TSettings;

class FakeView : public fakes::FakeControls, public TControllerView {
 public:
  Extended FieldValue(TSettingsField field) const override {
    return FakeControls::FieldValue(field);
  }
  void SetFieldValue(TSettingsField field, Extended value) override {
    FakeControls::SetFieldValue(field, value);
  }
  void SetSwatchColor(TColorSwatch swatch, TColor color) override {
    FakeControls::SetSwatchColor(swatch, color);
  }
  void SetDeviceStatus(bool on) override { led = on; }
  void SetPhotoControlsEnabled(bool enabled) override { photo = enabled; }
  void SetErrorCaption(const TMessage& caption) override { error = caption.English(); }
  void ShowError(const TMessage& message) override { errors.push_back(message.English()); }

  bool led = false;
  bool photo = false;
  std::string error = ">";
  std::vector<std::string> errors;  // shown in the error box
};

// One window's worth of the link on the simulated platform, wired as the window wires it.
class ControllerLinkTest : public ::testing::Test {
 protected:
  ControllerLinkTest() : controller(platform, loop), link(controller, view) {
    controller.SetDevThreadSleepTime(50);
    link.Bind();
    link.ResetColors();
  }

  TSimPlatform::TInterfaceId PlugController(const std::u16string& product = u"Glowstep 3.2",
                                            TSimFaults faults = {}) {
    auto behaviour = std::make_shared<TVirtualStaircaseController>();
    TSimInterfaceSpec setup;
    setup.ProductString = product;
    setup.Behaviour = behaviour;
    setup.Faults = faults;
    const auto id = platform.Plug(setup);
    staircases[id] = behaviour;
    return id;
  }

  TSimPlatform::TInterfaceId PlugOther(const std::u16string& product = u"USB Optical Mouse") {
    TSimInterfaceSpec setup;
    setup.ProductString = product;
    setup.Attributes = THidAttributes{12, 0x046D, 0xC077, 0x0100};
    return platform.Plug(setup);
  }

  // Runs the loop until everything asked of it so far has run: the refreshes the plugs and
  // notifications posted, and what they posted in turn (an error to show, a give-back).
  void Settle() { ASSERT_TRUE(loop.RunUntilIdle(kPatience)) << "the loop never came to rest"; }

  bool RunUntil(const std::function<bool()>& done) { return loop.RunUntil(done, kPatience); }

  std::u16string HeldProduct() const {
    return link.HeldDevice() ? link.HeldDevice()->QueryProductName() : u"";
  }

  TSimPlatform platform;
  TMainLoop loop;
  THidDeviceController controller;
  FakeView view;
  TControllerLink link;
  std::map<TSimPlatform::TInterfaceId, std::shared_ptr<TVirtualStaircaseController>> staircases;
};

TEST(ProductMatch, FindsTheProductNameAnywhereWithExactCase) {
  EXPECT_TRUE(IsControllerProduct("Glowstep 3"));
  EXPECT_TRUE(IsControllerProduct("Glowstep 3.2"));
  EXPECT_TRUE(IsControllerProduct("Stair light Glowstep 3.1 rev B"));
  EXPECT_TRUE(IsControllerProduct("Glowstep 30"));  // contains the literal
  EXPECT_FALSE(IsControllerProduct("Glowstep 4"));
  EXPECT_FALSE(IsControllerProduct("glowstep 3"));
  EXPECT_FALSE(IsControllerProduct("GLOWSTEP 3"));
  EXPECT_FALSE(IsControllerProduct("Glowstep  3"));
  EXPECT_FALSE(IsControllerProduct(""));
}

TEST(ProductMatch, TakesTheFirmwareDigitAfterTheFirstMarker) {
  EXPECT_EQ(FirmwareVersion("Glowstep 3.2"), 2);
  EXPECT_EQ(FirmwareVersion("Glowstep 3.1"), 1);
  EXPECT_EQ(FirmwareVersion("Glowstep 3"), 0);
  EXPECT_EQ(FirmwareVersion("Glowstep 3."), 0);
  EXPECT_EQ(FirmwareVersion("Glowstep 3.x"), 0);
  EXPECT_EQ(FirmwareVersion("Glowstep 3.9 beta"), 9);
  EXPECT_EQ(FirmwareVersion("Hub 3.5 Glowstep 3.1"), 5);  // the first marker counts
}

TEST(ProductMatch, NarrowsWideProductText) {
  EXPECT_EQ(ProductToNarrow(u"Glowstep 3.2"), "Glowstep 3.2");
  EXPECT_EQ(ProductToNarrow(u""), "");
  // Neither the C locale nor a Western ANSI code page has a counterpart for a CJK character.
  EXPECT_EQ(ProductToNarrow(u"Glowstep 3 \u4E2D"), "Glowstep 3 ?");
}

TEST(AccessMessage, SaysWhereTheControllerIsAndWhichCaseKeepsTheUserOut) {
#ifdef _WIN32
  // Windows names no reason: every case reads the same.
  for (const auto reason :
       {THidAccessReason::Unknown, THidAccessReason::RootOnly, THidAccessReason::NotInPlugdev}) {
    EXPECT_EQ(
        ControllerAccessMessage("Glowstep 3.2", "\\\\?\\hid#vid_16c0&pid_05df", reason).English(),
        "The controller Glowstep 3.2 was found, but it cannot be opened for reading and "
        "writing: another program may be using it.\n"
        "Close that program, then plug the controller in again.");
  }
#else
  // No rule: the node is root's alone.
  EXPECT_EQ(
      ControllerAccessMessage("Glowstep 3.2", "/dev/hidraw3", THidAccessReason::RootOnly).English(),
      "The controller Glowstep 3.2 was found at /dev/hidraw3, but only root may read and "
      "write it.\n"
      "Install the udev rule (the package installs it; from the sources: sudo cp "
      "packaging/linux/70-glowstep.rules /etc/udev/rules.d/), then plug the controller in "
      "again or run \"sudo udevadm trigger --subsystem-match=hidraw\".");
  // The rule applied, but this user is neither at the seat nor in the group.
  EXPECT_EQ(
      ControllerAccessMessage("Glowstep 3.2", "/dev/hidraw3", THidAccessReason::NotInPlugdev)
          .English(),
      "The controller Glowstep 3.2 was found at /dev/hidraw3, but this user is neither logged in "
      "at the seat nor in the plugdev group.\n"
      "The udev rule is installed: join the plugdev group (sudo usermod -aG plugdev $USER), then "
      "log in again; or use the controller from a login at the desktop itself.");
  // Neither can be told: both remedies.
  EXPECT_EQ(
      ControllerAccessMessage("Glowstep 3.2", "/dev/hidraw3", THidAccessReason::Unknown).English(),
      "The controller Glowstep 3.2 was found at /dev/hidraw3, but this user may not read "
      "and write it.\n"
      "Install the udev rule (the package installs it; from the sources: sudo cp "
      "packaging/linux/70-glowstep.rules /etc/udev/rules.d/), then plug the controller in "
      "again. If it is installed, join the plugdev group (sudo usermod -aG plugdev $USER), "
      "then log in again; or use the controller from a login at the desktop itself.");
#endif
}

TEST(AccessMessage, BlamesAccessOnlyWhenTheSystemRefusedIt) {
  for (const std::uint32_t refusal : {0U, kErrorAccessDenied, kErrorSharingViolation}) {
    EXPECT_EQ(
        ControllerOpenMessage("Glowstep 3.2", "/dev/hidraw3", THidAccessReason::RootOnly, refusal)
            .English(),
        ControllerAccessMessage("Glowstep 3.2", "/dev/hidraw3", THidAccessReason::RootOnly)
            .English());
  }
  const std::string failure = ControllerOpenMessage("Glowstep 3.2", "/dev/hidraw3",
                                                    THidAccessReason::Unknown, kErrorGenFailure)
                                  .English();
#ifdef _WIN32
  EXPECT_EQ(failure,
            "The controller Glowstep 3.2 was found, but it cannot be opened for reading and "
            "writing: " +
                ErrorCodeText(kErrorGenFailure));
#else
  EXPECT_EQ(failure,
            "The controller Glowstep 3.2 was found at /dev/hidraw3, but it cannot be opened for "
            "reading and writing: the device does not work");
#endif
}

TEST_F(ControllerLinkTest, StartsWithNothingHeld) {
  EXPECT_EQ(link.HeldDevice(), nullptr);
  EXPECT_FALSE(view.led);
  EXPECT_EQ(link.Codec().MainColorValue(), 0xFFFFFFU);
  EXPECT_EQ(link.Codec().IdleColorValue(), 0x003030U);
}

TEST_F(ControllerLinkTest, HoldsAControllerPresentAtStartAndOffersPhotoSettingsToNewFirmware) {
  PlugOther();
  PlugController(u"Glowstep 3.2");
  Settle();
  ASSERT_NE(link.HeldDevice(), nullptr);
  EXPECT_EQ(HeldProduct(), u"Glowstep 3.2");
  EXPECT_TRUE(view.led);
  EXPECT_TRUE(view.photo);
}

TEST_F(ControllerLinkTest, OlderFirmwareIsHeldWithoutPhotoSettings) {
  for (const char16_t* product : {u"Glowstep 3", u"Glowstep 3.1"}) {
    const auto id = PlugController(product);
    Settle();
    EXPECT_TRUE(view.led) << ToUtf8(product);
    EXPECT_FALSE(view.photo) << ToUtf8(product);
    platform.Unplug(id);
    Settle();
    EXPECT_FALSE(view.led);
  }
}

TEST_F(ControllerLinkTest, IgnoresDevicesThatAreNotTheController) {
  PlugOther(u"Glowstep 4");
  PlugOther(u"glowstep 3.2");
  Settle();
  EXPECT_EQ(link.HeldDevice(), nullptr);
  EXPECT_FALSE(view.led);
  EXPECT_EQ(controller.CheckedOutCount(), 0);
}

TEST_F(ControllerLinkTest, TakesTheFirstOfTwoControllersAndTheSecondOnlyAfterAnotherArrival) {
  platform.SetAutoNotify(false);
  const auto first = PlugController(u"Glowstep 3.2 A");
  PlugController(u"Glowstep 3.1 B");
  platform.NotifyDeviceChange();
  Settle();
  EXPECT_EQ(HeldProduct(), u"Glowstep 3.2 A");
  EXPECT_TRUE(view.photo);

  platform.Unplug(first);
  platform.NotifyDeviceChange();
  Settle();
  EXPECT_EQ(link.HeldDevice(), nullptr);
  EXPECT_FALSE(view.led);
  EXPECT_FALSE(view.photo);  // the removed controller had photo settings

  PlugOther();
  platform.NotifyDeviceChange();
  Settle();
  EXPECT_EQ(HeldProduct(), u"Glowstep 3.1 B");
  EXPECT_TRUE(view.led);
}

TEST_F(ControllerLinkTest, AnotherDeviceArrivingWhileHeldChangesNothing) {
  PlugController();
  Settle();
  THidDevice* held = link.HeldDevice();
  ASSERT_NE(held, nullptr);
  PlugOther();
  PlugController(u"Glowstep 3.2 second");
  Settle();
  EXPECT_EQ(link.HeldDevice(), held);
  EXPECT_EQ(controller.CheckedOutCount(), 1);
}

TEST_F(ControllerLinkTest, ReadRequestReachesTheControllerAndItsReplyFillsTheControls) {
  const auto id = PlugController();
  Settle();
  TSettings settings{};
  settings[0] = 20;    // stairs
  settings[1] = 100;   // LEDs per stair: 2000 LEDs, k = 1.76
  settings[2] = 7;     // standby LEDs
  settings[4] = 0x40;  // main colour: green 0x40, red 0x20, blue 0x10
  settings[5] = 0x20;
  settings[6] = 0x10;
  settings[10] = 0x1C;  // on-time 284 units: 20 s
  settings[11] = 0x01;
  settings[12] = 250;   // delay 250 ticks: 10 s
  settings[14] = 25;    // sensor 1 s
  settings[15] = 0x2C;  // photo time 300 s
  settings[16] = 0x01;
  settings[17] = 0xE8;  // level 1000
  settings[18] = 0x03;
  staircases[id]->SetSettings(settings);

  link.RequestSettings();
  ASSERT_TRUE(RunUntil([&] { return view.order_.size() == 8; }));

  const auto received = staircases[id]->ReceivedReports();
  ASSERT_EQ(received.size(), 1U);
  std::vector<std::uint8_t> request(65, 0);
  request[1] = 'r';
  EXPECT_EQ(received[0], request);

  EXPECT_EQ(view.Text(TSettingsField::Stairs_count), "20");
  EXPECT_EQ(view.Text(TSettingsField::LEDs_in_one_stair), "100");
  EXPECT_EQ(view.Text(TSettingsField::Idle_LEDs), "7");
  EXPECT_EQ(view.Text(TSettingsField::ON_time), "20");
  EXPECT_EQ(view.Text(TSettingsField::Delay_time), "10");
  EXPECT_EQ(view.Text(TSettingsField::Sensor_time), "1.00");
  EXPECT_EQ(view.Text(TSettingsField::Photo_time), "300");
  EXPECT_EQ(view.level_, 1000);
  EXPECT_EQ(link.Codec().MainColorValue(), 0x104020U);
  EXPECT_EQ(view.swatches_[TColorSwatch::MainColor], NormalizeColor(0x104020));
}

TEST_F(ControllerLinkTest, WriteStoresExactlyTheEncodedReportInTheController) {
  const auto id = PlugController();
  Settle();
  view.SetText(TSettingsField::Stairs_count, u"12");
  view.SetText(TSettingsField::Sensor_time, u"2.12");
  link.WriteSettings();

  const auto received = staircases[id]->ReceivedReports();
  ASSERT_EQ(received.size(), 1U);
  const SettingsReport& sent = link.Codec().Report();
  EXPECT_EQ(received[0], std::vector<std::uint8_t>(sent.begin(), sent.end()));
  EXPECT_EQ(sent[2], 12);
  EXPECT_EQ(sent[16], 52);
  const TSettings stored = staircases[id]->Settings();
  EXPECT_TRUE(std::equal(stored.begin(), stored.end(), sent.begin() + 2));
}

TEST_F(ControllerLinkTest, ReadAndWriteWithoutAControllerSendNothing) {
  PlugOther();
  Settle();
  link.RequestSettings();
  link.WriteSettings();
  EXPECT_EQ(platform.Counters().ReportsWritten, 0);
  EXPECT_EQ(link.Codec().Report()[1], 'w');  // the report is still built
}

TEST_F(ControllerLinkTest, RepliesShorterThan32PayloadBytesAreToldAndNotApplied) {
  for (const std::uint16_t length : {std::uint16_t{32}, std::uint16_t{33}}) {  // with the ID byte
    TSimFaults faults;
    faults.AnswerLength = length;
    const auto id = PlugController(u"Glowstep 3.2", faults);
    Settle();
    view.order_.clear();
    link.RequestSettings();
    // A full reply read after it proves that the first one was handled: they come in order.
    platform.SetFaults(id, TSimFaults{});
    link.RequestSettings();
    const std::size_t expected = length == 33 ? 16U : 8U;
    ASSERT_TRUE(RunUntil([&] { return view.order_.size() >= expected; }));
    Settle();
    EXPECT_EQ(view.order_.size(), expected) << "payload " << length - 1;
    // The one too short is told, in words of its own.
    EXPECT_EQ(view.errors,
              length == 33
                  ? std::vector<std::string>{}
                  : std::vector{TMessage(kShortReplyMessage, {TMessage::Plain("31")}).English()});
    view.errors.clear();
    platform.Unplug(id);
    Settle();
  }
}

TEST_F(ControllerLinkTest, ReportsFromOtherDevicesAreIgnored) {
  PlugOther(u"Keyboard");
  Settle();
  THidDevice* other = controller.Devices().front().get();
  std::uint8_t payload[64] = {0, 50, 50};
  link.HidControllerDeviceData(other, 0, payload, 64);
  link.HidControllerDeviceDataError(other, 31);
  EXPECT_TRUE(view.order_.empty());
  EXPECT_EQ(view.error, ">");
}

TEST_F(ControllerLinkTest, ReadErrorsOfTheControllerSetTheHiddenCaption) {
  TSimFaults faults;
  faults.FailReadStart = true;
  PlugController(u"Glowstep 3.2", faults);
  ASSERT_TRUE(RunUntil([&] { return view.error == "ERROR"; }));
  EXPECT_TRUE(view.led);  // nothing else changes
}

// The held controller's reader lost its read handle and cannot open it again: a read still
// sends the request, and the user learns that no answer can come of it.
TEST_F(ControllerLinkTest, AReadWhileTheReaderCannotListenIsTold) {
  const auto id = PlugController();
  Settle();
  ASSERT_TRUE(link.HeldDevice() != nullptr && link.HeldDevice()->Listening());
  const std::thread::id mainThread = std::this_thread::get_id();
  platform.SetCallFilter([mainThread](std::string_view operation) -> THidError {
    if (operation == "Open" && std::this_thread::get_id() != mainThread)
      return THidError{kErrorSharingViolation, 0};
    return {};
  });
  link.HeldDevice()->CloseChannel(TChannel::Read);  // its reader opens it again
  ASSERT_TRUE(RunUntil([&] { return view.error == "ERROR"; }));
  ASSERT_FALSE(link.HeldDevice()->Listening());

  link.RequestSettings();
  EXPECT_EQ(staircases[id]->ReceivedReports().size(), 1U);
  EXPECT_EQ(view.errors, std::vector<std::string>{TMessage(kReplyNotReceivedMessage).English()});
  platform.SetCallFilter(nullptr);
}

TEST_F(ControllerLinkTest, RemovedControllerIsGivenBackAfterTheRefreshAndItsReaderEnds) {
  const auto id = PlugController();
  Settle();
  ASSERT_EQ(platform.Counters().ReadConnections, 1);
  platform.Unplug(id);
  ASSERT_TRUE(RunUntil([&] { return controller.Devices().empty(); }));
  EXPECT_FALSE(view.led);
  EXPECT_EQ(link.PendingGiveBacks(), 0U);
  EXPECT_EQ(platform.Counters().ReadConnections, 0);
  EXPECT_EQ(controller.UnpluggedCount(), 0);

  PlugController(u"Glowstep 3.1");  // a later arrival starts a new enumeration
  Settle();
  EXPECT_EQ(HeldProduct(), u"Glowstep 3.1");
}

TEST_F(ControllerLinkTest, AReplyQueuedBeforeTheRemovalIsStillDecoded) {
  platform.SetAutoNotify(false);
  const auto id = PlugController();
  platform.NotifyDeviceChange();
  Settle();
  link.RequestSettings();
  // The reader picks the reply up and waits in its hand-off to the main thread; the refresh
  // that removes the controller runs before the loop gets to that hand-off.
  ASSERT_TRUE(AwaitOtherThread([&] { return loop.WaitingHandOffs() == 1; }));
  platform.Unplug(id);
  controller.DeviceChange();
  EXPECT_FALSE(view.led);
  EXPECT_TRUE(view.order_.empty());
  ASSERT_TRUE(RunUntil([&] { return controller.Devices().empty(); }));
  EXPECT_EQ(view.order_.size(), 8U);
}

TEST_F(ControllerLinkTest, ReplugStormLeavesOnlyTheHeldControllersReader) {
  std::optional<TSimPlatform::TInterfaceId> plugged;
  for (int cycle = 0; cycle < 1000; ++cycle) {
    if (plugged) platform.Unplug(*plugged);
    plugged = PlugController(cycle % 2 ? u"Glowstep 3.1" : u"Glowstep 3.2");
    staircases.clear();
    loop.RunPending();
  }
  ASSERT_TRUE(RunUntil([&] { return controller.Devices().size() == 1 && link.HeldDevice(); }));
  EXPECT_EQ(platform.Counters().ReadConnections, 1);
  EXPECT_EQ(controller.CheckedOutCount(), 1);
  EXPECT_EQ(controller.UnpluggedCount(), 0);
  EXPECT_TRUE(view.led);
  EXPECT_FALSE(view.photo);  // the last one plugged was 3.1
}

TEST_F(ControllerLinkTest, AControllerThatCannotBeOpenedIsNotTakenAndTheUserIsToldOncePerArrival) {
  TSimFaults denied;
  denied.RefuseReadWrite = true;  // found and named, but not to be read or written
  const auto first = PlugController(u"Glowstep 3.2", denied);
  Settle();
  EXPECT_EQ(link.HeldDevice(), nullptr);
  EXPECT_FALSE(view.led);
  EXPECT_FALSE(view.photo);
  EXPECT_EQ(controller.CheckedOutCount(), 0);
  EXPECT_EQ(view.errors,
            std::vector<std::string>{ControllerAccessMessage("Glowstep 3.2", platform.PathOf(first),
                                                             THidAccessReason::Unknown)
                                         .English()});

  PlugOther();  // another arrival looks at every device again
  Settle();
  EXPECT_EQ(view.errors.size(), 1u);

  platform.Unplug(first);  // plugged in again: a new arrival
  const auto second = PlugController(u"Glowstep 3.2", denied);
  Settle();
  ASSERT_EQ(view.errors.size(), 2u);
  EXPECT_EQ(view.errors[1], ControllerAccessMessage("Glowstep 3.2", platform.PathOf(second),
                                                    THidAccessReason::Unknown)
                                .English());
  EXPECT_FALSE(view.led);

  // The user is let in (the rule applied, the other program closed) and the system says so.
  platform.SetFaults(second, TSimFaults{});
  platform.NotifyDeviceChange();
  Settle();
  ASSERT_NE(link.HeldDevice(), nullptr);
  EXPECT_TRUE(view.led);
  EXPECT_TRUE(view.photo);
  EXPECT_EQ(view.errors.size(), 2u);
  link.RequestSettings();
  EXPECT_TRUE(RunUntil([&] { return view.order_.size() == 8; }));
}

TEST_F(ControllerLinkTest, TheErrorBoxNamesTheCaseTheSystemTellsOfEachController) {
  TSimFaults rootOnly;
  rootOnly.RefuseReadWrite = true;
  rootOnly.AccessReason = THidAccessReason::RootOnly;
  TSimFaults notInGroup = rootOnly;
  notInGroup.AccessReason = THidAccessReason::NotInPlugdev;
  const auto first = PlugController(u"Glowstep 3.2", rootOnly);
  const auto second = PlugController(u"Glowstep 3.1", notInGroup);
  Settle();
  EXPECT_EQ(link.HeldDevice(), nullptr);
  ASSERT_EQ(view.errors.size(), 2u);
  EXPECT_EQ(view.errors[0], ControllerAccessMessage("Glowstep 3.2", platform.PathOf(first),
                                                    THidAccessReason::RootOnly)
                                .English());
  EXPECT_EQ(view.errors[1], ControllerAccessMessage("Glowstep 3.1", platform.PathOf(second),
                                                    THidAccessReason::NotInPlugdev)
                                .English());
#ifndef _WIN32
  EXPECT_NE(view.errors[1].find("sudo usermod -aG plugdev $USER"), std::string::npos)
      << view.errors[1];
  EXPECT_EQ(view.errors[0].find("plugdev"), std::string::npos) << view.errors[0];
#endif
}

TEST_F(ControllerLinkTest, AFailingWriteIsShownWithTheSystemsReason) {
  platform.SetAutoNotify(false);
  const auto id = PlugController();
  platform.NotifyDeviceChange();
  Settle();
  ASSERT_NE(link.HeldDevice(), nullptr);
  link.WriteSettings();
  EXPECT_TRUE(view.errors.empty());

  TSimFaults faults;
  faults.FailWrite = true;  // an I/O error
  faults.WriteError = kErrorGenFailure;
  platform.SetFaults(id, faults);
  link.WriteSettings();
  link.RequestSettings();
  EXPECT_EQ(view.errors,
            std::vector<std::string>(
                2, TMessage(kSendFailedMessage, {ErrorCodeMessage(kErrorGenFailure)}).English()));
  // Not taken in time: said in words of its own.
  faults.WriteError = kErrorTimeout;
  platform.SetFaults(id, faults);
  link.WriteSettings();
  EXPECT_EQ(view.errors.back(), TMessage(kReportNotTakenMessage).English());

  platform.Unplug(id);  // gone in the middle, before any refresh noticed
  link.WriteSettings();
  ASSERT_EQ(view.errors.size(), 4u);
  EXPECT_EQ(view.errors[3],
            TMessage(kSendFailedMessage, {ErrorCodeMessage(kErrorDeviceNotConnected)}).English());
  EXPECT_EQ(view.error, ">");  // the read error's caption has nothing to do with it
}

TEST_F(ControllerLinkTest, AShortWriteIsAFailedWrite) {
  platform.SetAutoNotify(false);
  TSimFaults faults;
  faults.WriteLength = 40;  // the system takes part of the report and says so
  const auto id = PlugController(u"Glowstep 3.2", faults);
  platform.NotifyDeviceChange();
  ASSERT_TRUE(RunUntil([&] { return link.HeldDevice() != nullptr; }));
  EXPECT_FALSE(link.SendData());
  link.WriteSettings();
  ASSERT_EQ(view.errors.size(), 2u);
  for (const std::string& error : view.errors) {
    EXPECT_EQ(error.rfind(FillPlaces(kSendFailedMessage.English, {""}), 0), 0u) << error;
    EXPECT_NE(error.find("40 of the 65 bytes"), std::string::npos) << error;
  }
  EXPECT_EQ(staircases[id]->ReceivedCount(), 0u);  // nothing of it reached the controller
}

}  // namespace
}  // namespace glowstep
