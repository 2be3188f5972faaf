#include "cli/cli.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "cli/help_text.h"
#include "cli/settings_document.h"
#include "hid/hid_device_controller.h"
#include "protocol/controller_link.h"
#include "protocol/settings_codec.h"
#include "tests/cli/cli_test_support.h"
#include "tests/cli/json_schema.h"

#ifdef _WIN32
#include "base/windows_api.h"
#endif

namespace glowstep::testing {
namespace {

using TSettings = TVirtualStaircaseController::TSettings;
using nlohmann::json;

// Positions in the settings part of a report (report byte - 2).
constexpr std::size_t kOnTime = 10;
constexpr std::size_t kSensor = 14;

// The backup of a factory-fresh controller.
json FactoryBackup() {
  return {{"format", "glowstep-settings"},
          {"version", 1},
          {"product", "Glowstep 3.2"},
          {"firmware", 2},
          {"settings",
           {{"stairs", 10},
            {"leds_per_stair", 60},
            {"standby_leds", 1},
            {"on_time", 20},
            {"delay", 15},
            {"sensor_time", 0.08},
            {"photo_time", 10},
            {"photo_level", 100},
            {"main_colour", "#FFFFFF"},
            {"standby_colour", "#303000"}}}};
}

// That backup with `change` applied to its settings.
std::string BackupText(const std::function<void(json&)>& change = nullptr) {
  json document = FactoryBackup();
  if (change) change(document["settings"]);
  return document.dump();
}

class CliTest : public ::testing::Test {
 protected:
  int Run(const std::vector<std::string>& args) {
    Host = std::make_unique<TTestHost>(&Sim);
    if (DuringWatch) Host->DuringWatch = DuringWatch;
    return RunCli(args, *Host);
  }
  std::string Out() const { return Host->OutText(); }
  std::string Err() const { return Host->ErrText(); }

  std::string TempFile(const std::string& name) {
    const auto path =
        std::filesystem::temp_directory_path() /
        ("glowstep-cli-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "-" + name);
    Files.push_back(path);
    return path.string();
  }

  ~CliTest() override {
    for (const auto& file : Files) {
      std::error_code ignored;
      std::filesystem::remove(file, ignored);
    }
  }

  TSimPlatform Sim;
  std::unique_ptr<TTestHost> Host;
  std::function<void(const std::function<void()>&)> DuringWatch;
  std::vector<std::filesystem::path> Files;
};

// --- list -----------------------------------------------------------------------------------

TEST_F(CliTest, ListShowsEveryDeviceInColumnsWithItsNamesAndWhetherItOpens) {
  PlugController(Sim, u"Glowstep 3.2", std::make_shared<TVirtualStaircaseController>(),
                 "usb-0000:00:14.0-1.2/input0", "GS3-17");
  TSimInterfaceSpec other;
  other.ProductString = u"USB Keyboard";
  other.Attributes = THidAttributes{12, 0x2A4C, 0x0101, 1};
  other.PortName = "usb-0000:00:14.0-3/input1";
  Sim.Plug(other);
  TSimInterfaceSpec refused;
  refused.ProductString = u"Glowstep 3.1";
  refused.Faults.RefuseReadWrite = true;
  Sim.Plug(refused);

  EXPECT_EQ(Run({"list"}), 0);
  EXPECT_EQ(Out(),
            "PATH       PORT                         SERIAL  ID         CONTROLLER  ACCESS      "
            "PRODUCT\n"
            "sim:hid#1  usb-0000:00:14.0-1.2/input0  GS3-17  16c0:05df  firmware 2  read/write  "
            "\"Glowstep 3.2\"\n"
            "sim:hid#2  usb-0000:00:14.0-3/input1    -       2a4c:0101  no          read/write  "
            "\"USB Keyboard\"\n"
            "sim:hid#3  -                            -       16c0:05df  firmware 1  refused     "
            "\"Glowstep 3.1\"\n"
            "sim:hid#3: cannot be opened for reading and writing: " +
                ControllerAccessReason(THidAccessReason::Unknown).English() + ". " +
                ControllerAccessFix(THidAccessReason::Unknown).English() + "\n");

  EXPECT_EQ(Run({"list", "--json"}), 0);
  const json listing = json::parse(Out())["devices"];
  ASSERT_EQ(listing.size(), 3U);
  EXPECT_EQ(listing[0]["product"], "Glowstep 3.2");
  EXPECT_EQ(listing[0]["vendor_id"], "16c0");
  EXPECT_EQ(listing[0]["firmware"], 2);
  EXPECT_EQ(listing[0]["port"], "usb-0000:00:14.0-1.2/input0");
  EXPECT_EQ(listing[0]["name"], "GS3-17");
  EXPECT_EQ(listing[1]["controller"], false);
  EXPECT_TRUE(listing[1]["firmware"].is_null());
  EXPECT_TRUE(listing[1]["serial"].is_null());
  EXPECT_EQ(listing[1]["name"], "usb-0000:00:14.0-3/input1");
  EXPECT_EQ(listing[2]["read_write"], false);
  EXPECT_EQ(listing[2]["name"], Sim.PathOf(3));  // neither port nor serial: only its path
  EXPECT_EQ(listing[2]["fix"], ControllerAccessFix(THidAccessReason::Unknown).English());
}

TEST_F(CliTest, ListOfNothingIsNoFailure) {
  EXPECT_EQ(Run({"list"}), 0);
  EXPECT_EQ(Out(), "");
  EXPECT_EQ(Run({"list", "--json"}), 0);
  EXPECT_EQ(json::parse(Out()),
            json({{"format", "glowstep-devices"}, {"version", 1}, {"devices", json::array()}}));
}

// A list the system could not make is no list of nothing: the run ends with an I/O error that
// says why, where "list" would show no device and "read" no controller.
TEST_F(CliTest, AListTheSystemCannotMakeIsAnIoError) {
  PlugController(Sim);
  Sim.SetCallFilter([](std::string_view operation) {
    return operation == "List" ? THidError{kErrorGenFailure, 0} : THidError{};
  });
  const std::string told =
      "glowstep-cli: " +
      TMessage(THidDeviceController::kDevicesNotListed, {ErrorCodeMessage(kErrorGenFailure)})
          .English() +
      "\n";
  for (const std::string command : {"list", "read"}) {
    EXPECT_EQ(Run({command}), 4) << command;
    EXPECT_EQ(Out(), "") << command;
    EXPECT_EQ(Err(), told) << command;
  }
}

// --- read -------------------------------------------------------------------------------------

TEST_F(CliTest, ReadShowsTheSettingsInTheWindowsUnits) {
  auto controller = PlugController(Sim);
  TSettings settings = TVirtualStaircaseController::kDefaultSettings;
  settings[0] = 6;  // 6 stairs of 201 LEDs: the on-time counts in units of k = 1.06128
  settings[1] = 201;
  settings[kOnTime] = 471 & 0xFF;
  settings[kOnTime + 1] = 471 >> 8;
  settings[kSensor] = 62;
  settings[4] = 0x80;  // main colour: green 0x80, red 0xFF, blue 0x00
  settings[6] = 0x00;
  controller->SetSettings(settings);

  EXPECT_EQ(Run({"read"}), 0);
  EXPECT_EQ(Out(), "Glowstep 3.2 at " + Sim.PathOf(1) +
                       " (firmware version 2):\n"
                       "stairs          6\n"
                       "leds_per_stair  201\n"
                       "standby_leds    1\n"
                       "on_time         20 s\n"
                       "delay           15 s\n"
                       "sensor_time     2.48 s\n"
                       "photo_time      10 s\n"
                       "photo_level     100\n"
                       "main_colour     #FF8000\n"
                       "standby_colour  #303000\n");

  EXPECT_EQ(Run({"read", "--json", "--device", Sim.PathOf(1)}), 0);
  const json reading = json::parse(Out());
  EXPECT_EQ(reading["format"], "glowstep-settings");
  EXPECT_EQ(reading["device"]["path"], Sim.PathOf(1));
  EXPECT_EQ(reading["settings"]["on_time"], 20);
  EXPECT_EQ(reading["settings"]["sensor_time"], 2.48);
  EXPECT_EQ(reading["settings"]["main_colour"], "#FF8000");
  EXPECT_EQ(reading["firmware"], 2);
}

TEST_F(CliTest, ReadTakesTheFirstControllerOrTheOneNamed) {
  TSimInterfaceSpec other;
  other.ProductString = u"Keyboard";
  Sim.Plug(other);
  PlugController(Sim, u"Glowstep 3.1");
  PlugController(Sim, u"Glowstep 3.2");
  EXPECT_EQ(Run({"read"}), 0);
  EXPECT_EQ(Out().rfind("Glowstep 3.1 at " + Sim.PathOf(2), 0), 0U) << Out();
  EXPECT_EQ(Run({"--timeout", "500", "read", "--device", Sim.PathOf(3)}), 0);
  EXPECT_EQ(Out().rfind("Glowstep 3.2 at " + Sim.PathOf(3), 0), 0U) << Out();
}

TEST_F(CliTest, NoControllerOrANamedDeviceThatIsNoneExits1) {
  TSimInterfaceSpec other;
  other.ProductString = u"Glowstep 4";  // the name alone is not the controller
  Sim.Plug(other);
  EXPECT_EQ(Run({"read"}), 1);
  EXPECT_NE(Err().find("No staircase controller is connected"), std::string::npos);
  EXPECT_EQ(Out(), "");
  EXPECT_EQ(Run({"read", "--device", Sim.PathOf(1)}), 1);
  EXPECT_NE(Err().find("is not a staircase controller"), std::string::npos);
  EXPECT_EQ(Run({"write", "--device", "/dev/nothing", "stairs=5"}), 1);
  EXPECT_NE(Err().find("There is no HID device /dev/nothing"), std::string::npos);
  EXPECT_EQ(Run({"backup", TempFile("none.json")}), 1);
  EXPECT_FALSE(std::filesystem::exists(Files.back()));
}

TEST_F(CliTest, AControllerThatMayNotBeOpenedExits3WithTheReasonAndTheFix) {
  TSimInterfaceSpec refused;
  refused.ProductString = u"Glowstep 3.2";
  refused.Faults.RefuseReadWrite = true;
  Sim.Plug(refused);
  EXPECT_EQ(Run({"read"}), 3);
  EXPECT_EQ(Err(),
            "glowstep-cli: " +
                ControllerAccessMessage("Glowstep 3.2", Sim.PathOf(1), THidAccessReason::Unknown)
                    .English() +
                "\n");
}

TEST_F(CliTest, ListAndReadSayWhichCaseKeepsTheUserOut) {
  TSimInterfaceSpec rootOnly;
  rootOnly.ProductString = u"Glowstep 3.2";
  rootOnly.Faults.RefuseReadWrite = true;
  rootOnly.Faults.AccessReason = THidAccessReason::RootOnly;
  Sim.Plug(rootOnly);
  TSimInterfaceSpec notInGroup = rootOnly;
  notInGroup.Faults.AccessReason = THidAccessReason::NotInPlugdev;
  Sim.Plug(notInGroup);
  const auto listed = [](THidAccessReason reason) {
    return "cannot be opened for reading and writing: " + ControllerAccessReason(reason).English() +
           ". " + ControllerAccessFix(reason).English() + "\n";
  };

  EXPECT_EQ(Run({"list"}), 0);
  const std::string text = Out();
  const std::string first = Sim.PathOf(1) + ": " + listed(THidAccessReason::RootOnly);
  EXPECT_NE(text.find(first), std::string::npos) << text;
  EXPECT_TRUE(text.ends_with(Sim.PathOf(2) + ": " + listed(THidAccessReason::NotInPlugdev)))
      << text;

  EXPECT_EQ(Run({"list", "--json"}), 0);
  const json listing = json::parse(Out())["devices"];
  ASSERT_EQ(listing.size(), 2U);
  EXPECT_EQ(listing[0]["reason"], ControllerAccessReason(THidAccessReason::RootOnly).English());
  EXPECT_EQ(listing[0]["fix"], ControllerAccessFix(THidAccessReason::RootOnly).English());
  EXPECT_EQ(listing[1]["reason"], ControllerAccessReason(THidAccessReason::NotInPlugdev).English());
  EXPECT_EQ(listing[1]["fix"], ControllerAccessFix(THidAccessReason::NotInPlugdev).English());

  EXPECT_EQ(Run({"read", "--device", Sim.PathOf(2)}), 3);
  EXPECT_EQ(Err(), "glowstep-cli: " +
                       ControllerAccessMessage("Glowstep 3.2", Sim.PathOf(2),
                                               THidAccessReason::NotInPlugdev)
                           .English() +
                       "\n");
#ifndef _WIN32
  // The two cases read differently, and only the second sends the user to the group.
  EXPECT_NE(listing[0]["fix"], listing[1]["fix"]);
  EXPECT_EQ(first.find("plugdev"), std::string::npos) << text;
  EXPECT_NE(Err().find("sudo usermod -aG plugdev $USER"), std::string::npos) << Err();
#endif
}

TEST_F(CliTest, AControllerThatNeverRepliesExits4) {
  TSimInterfaceSpec silent;
  silent.ProductString = u"Glowstep 3.2";  // no behaviour: nothing answers
  Sim.Plug(silent);
  EXPECT_EQ(Run({"--timeout", "50", "read"}), 4);
  EXPECT_NE(Err().find("did not answer within 50 ms"), std::string::npos) << Err();
  EXPECT_EQ(Out(), "");
}

TEST_F(CliTest, AReplyTooShortIsToldAndExits4) {
  TSimInterfaceSpec shortReply;
  shortReply.ProductString = u"Glowstep 3.2";
  shortReply.Behaviour = std::make_shared<TVirtualStaircaseController>();
  shortReply.Faults.AnswerLength = 32;  // report ID and 31 payload bytes
  const auto id = Sim.Plug(shortReply);
  EXPECT_EQ(Run({"--timeout", "50", "read"}), 4);
  EXPECT_NE(Err().find("answered with 31 bytes, too few to hold its settings (Glowstep 3.2 at " +
                       Sim.PathOf(id) + ")"),
            std::string::npos)
      << Err();
}

TEST_F(CliTest, ARequestTheControllerDoesNotTakeInTimeIsToldAndExits4) {
  TSimInterfaceSpec stalled;
  stalled.ProductString = u"Glowstep 3.2";
  stalled.Behaviour = std::make_shared<TVirtualStaircaseController>();
  stalled.Faults.FailWrite = true;
  stalled.Faults.WriteError = kErrorTimeout;
  const auto id = Sim.Plug(stalled);
  EXPECT_EQ(Run({"read"}), 4);
  EXPECT_NE(Err().find(TMessage(kReportNotTakenMessage).English() + " (Glowstep 3.2 at " +
                       Sim.PathOf(id) + ")"),
            std::string::npos)
      << Err();
}

TEST_F(CliTest, AControllerUnpluggedWhileAskedExits4) {
  TSimInterfaceSpec vanishing;
  vanishing.ProductString = u"Glowstep 3.2";
  vanishing.Behaviour = std::make_shared<TVirtualStaircaseController>();
  vanishing.Faults.VanishOnRead = true;
  Sim.Plug(vanishing);
  EXPECT_EQ(Run({"read"}), 4);
  EXPECT_NE(Err().find("unplugged"), std::string::npos) << Err();
}

// Answers the first read, then is gone: every later write fails as on a device unplugged.
class TGoneAfterRead final : public TSimBehaviour {
 public:
  TGoneAfterRead(TSimPlatform& sim, TVirtualStaircaseController& inner)
      : Sim_(sim), Inner_(inner) {}
  std::vector<std::vector<std::uint8_t>> OutputReport(
      std::span<const std::uint8_t> report) override {
    auto replies = Inner_.OutputReport(report);
    TSimFaults gone;
    gone.FailWrite = true;
    gone.WriteError = kErrorDeviceNotConnected;
    Sim_.SetFaults(1, gone);
    return replies;
  }

 private:
  TSimPlatform& Sim_;
  TVirtualStaircaseController& Inner_;
};

TEST_F(CliTest, AControllerUnpluggedBetweenReadAndWriteGetsNothingAndExits4) {
  TVirtualStaircaseController inner;
  TSimInterfaceSpec setup;
  setup.ProductString = u"Glowstep 3.2";
  setup.Behaviour = std::make_shared<TGoneAfterRead>(Sim, inner);
  Sim.Plug(setup);
  EXPECT_EQ(Run({"write", "stairs=5"}), 4);
  EXPECT_NE(Err().find(FillPlaces(kSendFailedMessage.English, {""})), std::string::npos) << Err();
  EXPECT_TRUE(WritesTo(inner).empty());
  EXPECT_EQ(inner.Settings(), TVirtualStaircaseController::kDefaultSettings);
}

TEST_F(CliTest, AShortWriteIsAFailedWriteAndExits4) {
  TSimInterfaceSpec setup;
  setup.ProductString = u"Glowstep 3.2";
  setup.Behaviour = std::make_shared<TVirtualStaircaseController>();
  setup.Faults.WriteLength = 40;
  Sim.Plug(setup);
  EXPECT_EQ(Run({"read"}), 4);
  EXPECT_NE(Err().find(FillPlaces(kSendFailedMessage.English,
                                  {"the controller took only 40 of the 65 bytes"})),
            std::string::npos)
      << Err();
}

// --- write ------------------------------------------------------------------------------------

TEST_F(CliTest, WriteChangesWhatIsAskedKeepsTheRestAndShowsTheControllersState) {
  auto controller = PlugController(Sim);
  EXPECT_EQ(Run({"write", "stairs=12", "sensor_time=2.12", "standby_colour=#102030"}), 0);
  const auto writes = WritesTo(*controller);
  ASSERT_EQ(writes.size(), 1U);
  StairSettings expected;
  expected.Stairs_count = 12;
  expected.Sensor_time = 2.12_ext;
  expected.IdleColorValue = 0x302010;
  SettingsReport report{};
  EncodeWriteReport(expected, report);
  // The default sensor time the controller held (2 ticks) was replaced; the rest is its own.
  EXPECT_EQ(writes[0], std::vector<std::uint8_t>(report.begin(), report.end()));
  EXPECT_EQ(controller->Settings()[kSensor], 52);
  EXPECT_NE(Out().find("stairs          12\n"), std::string::npos) << Out();
  EXPECT_NE(Out().find("sensor_time     2.08 s  (asked for 2.12; the controller keeps it in its "
                       "own units)\n"),
            std::string::npos)
      << Out();
  EXPECT_NE(Out().find("standby_colour  #102030\n"), std::string::npos) << Out();
}

TEST_F(CliTest, WriteShowsTheOnTimeTheControllerKeepsAboveTwelveHundredLeds) {
  PlugController(Sim);
  EXPECT_EQ(Run({"write", "stairs=250", "leds_per_stair=240", "on_time=20"}), 0);
  EXPECT_NE(Out().find("on_time         19 s  (asked for 20;"), std::string::npos) << Out();
}

TEST_F(CliTest, AWriteTheControllerDidNotKeepExits4AndSaysWhatItHolds) {
  auto controller = PlugController(Sim);
  controller->SetDropWrites(true);  // answers reads, forgets writes
  EXPECT_EQ(Run({"write", "stairs=20", "sensor_time=0.5", "delay=15"}), 4);
  EXPECT_EQ(WritesTo(*controller).size(), 1U);
  EXPECT_NE(Out().find("stairs          10  (asked for 20; not kept)\n"), std::string::npos)
      << Out();
  EXPECT_NE(Out().find("sensor_time     0.08 s  (asked for 0.50; not kept)\n"), std::string::npos)
      << Out();
  EXPECT_NE(Out().find("delay           15 s\n"), std::string::npos) << Out();
  EXPECT_EQ(Err(), "glowstep-cli: The controller Glowstep 3.2 at " + Sim.PathOf(1) +
                       " did not keep what was written: stairs, sensor_time.\n");

  // The same for a restore, and with --all for each controller that did not keep it.
  auto keeping = PlugController(Sim, u"Glowstep 3.1");
  const std::string file = TempFile("kept.json");
  ASSERT_EQ(Run({"write", "--device", Sim.PathOf(2), "photo_level=500"}), 0);
  ASSERT_EQ(Run({"backup", "--device", Sim.PathOf(2), file}), 0);
  EXPECT_EQ(Run({"restore", "--all", file}), 4);
  EXPECT_NE(Err().find("at " + Sim.PathOf(1) + " did not keep what was written: photo_level."),
            std::string::npos)
      << Err();
  EXPECT_EQ(Err().find(Sim.PathOf(2)), std::string::npos) << Err();
}

TEST_F(CliTest, BadChangesAreRefusedBeforeAnythingIsWritten) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"stairs=2", "for stairs: allowed is a whole number from 3 to 250."},
      {"stairs=251", "for stairs: allowed is a whole number from 3 to 250."},
      {"stairs=ten", "for stairs: allowed is a whole number from 3 to 250."},
      {"stairs=10.5", "for stairs: allowed is a whole number from 3 to 250."},
      {"stairs=99999999999", "for stairs: allowed is a whole number from 3 to 250."},
      {"leds_per_stair=", "for leds_per_stair: allowed is a whole number from 3 to 240."},
      {"standby_leds=-1", "for standby_leds: allowed is a whole number from 0 to 120."},
      {"on_time=0", "for on_time: allowed is a whole number from 1 to 300 s."},
      {"delay=1e2", "for delay: allowed is a whole number from 1 to 300 s."},
      {"sensor_time=2.51", "for sensor_time: allowed is a number from 0 to 2.5 s, 2 decimals."},
      {"sensor_time=-0.1", "for sensor_time: allowed is a number from 0 to 2.5 s, 2 decimals."},
      {"sensor_time=1e99999", "for sensor_time: allowed is a number from 0 to 2.5 s, 2 decimals."},
      {"sensor_time=0,5", "for sensor_time: allowed is a number from 0 to 2.5 s, 2 decimals."},
      {"photo_time=1801", "for photo_time: allowed is a whole number from 1 to 1800 s."},
      {"photo_level=1001", "for photo_level: allowed is a whole number from 0 to 1000."},
      {"main_colour=#12345", "for main_colour: allowed is a colour as #RRGGBB."},
      {"standby_colour=red", "for standby_colour: allowed is a colour as #RRGGBB."},
      {"speed=3", "Unknown setting \"speed\": the settings are stairs, leds_per_stair,"},
      {"stairs", "\"stairs\" is not a change of the form KEY=VALUE."},
      {"=5", "\"=5\" is not a change of the form KEY=VALUE."},
      // Values are taken as written: white space is refused for every key alike.
      {"stairs= 10", "Invalid value \" 10\" for stairs: allowed is a whole number"},
      {"sensor_time= 0.5", "Invalid value \" 0.5\" for sensor_time: allowed is a number"},
      {"sensor_time=0.5 ", "Invalid value \"0.5 \" for sensor_time: allowed is a number"},
      {"main_colour= #FFFFFF", "Invalid value \" #FFFFFF\" for main_colour: allowed is a colour"},
      // What the user typed comes back escaped: no terminal control, no broken UTF-8.
      {"stairs=\x1b[2J", "Invalid value \"\\u001b[2J\" for stairs"},
      {"st\xff\xc2\x9b=1", "Unknown setting \"st\\xff\\u009b\": the settings are"},
      {"delay=\n5", "Invalid value \"\\n5\" for delay"},
  };
  auto controller = PlugController(Sim);
  for (const auto& [change, message] : cases) {
    SCOPED_TRACE(change);
    EXPECT_EQ(Run({"write", "stairs=20", change}), 2);
    EXPECT_NE(Err().find(message), std::string::npos) << Err();
    EXPECT_EQ(Err().find_first_of("\x1b\xff\x9b"), std::string::npos) << Err();
  }
  EXPECT_EQ(controller->ReceivedCount(), 0U);  // not even asked for its settings
}

TEST_F(CliTest, WriteAllChangesEveryControllerAndReportsThoseThatFail) {
  auto first = PlugController(Sim);
  TSimInterfaceSpec silent;
  silent.ProductString = u"Glowstep 3.2";
  Sim.Plug(silent);
  auto third = PlugController(Sim, u"Glowstep 3.1");
  EXPECT_EQ(Run({"--timeout", "50", "write", "--all", "delay=30"}), 4);
  EXPECT_EQ(first->Settings()[12], 750 & 0xFF);
  EXPECT_EQ(third->Settings()[12], 750 & 0xFF);
  EXPECT_NE(Out().find("Glowstep 3.2 at " + Sim.PathOf(1)), std::string::npos);
  EXPECT_NE(Out().find("Glowstep 3.1 at " + Sim.PathOf(3)), std::string::npos);
  EXPECT_NE(Err().find("at " + Sim.PathOf(2) + " did not answer"), std::string::npos) << Err();

  EXPECT_EQ(Run({"write", "--all", "--device", Sim.PathOf(1), "delay=30"}), 2);
}

// --- backup and restore -----------------------------------------------------------------------

TEST_F(CliTest, BackupAndRestoreCarryTheSettingsFromOneControllerToOthers) {
  auto source = PlugController(Sim, u"Glowstep 3.2");
  auto target1 = PlugController(Sim, u"Glowstep 3.1");
  auto target2 = PlugController(Sim, u"Glowstep 3.2");
  ASSERT_EQ(Run({"write", "--device", Sim.PathOf(1), "stairs=20", "leds_per_stair=100",
                 "on_time=20", "sensor_time=1.5", "photo_level=940", "main_colour=#00FF7F"}),
            0);
  const std::string file = TempFile("backup.json");
  ASSERT_EQ(Run({"backup", file}), 0);
  std::ifstream stream(file);
  json document = json::parse(stream);
  EXPECT_EQ(document["format"], "glowstep-settings");
  EXPECT_EQ(document["version"], 2);
  EXPECT_EQ(document["device"]["path"], Sim.PathOf(1));
  EXPECT_EQ(document["product"], "Glowstep 3.2");
  EXPECT_EQ(document["firmware"], 2);
  EXPECT_EQ(document["settings"]["sensor_time"], 1.48);  // 37 ticks
  EXPECT_EQ(document["settings"]["photo_level"], 940);

  EXPECT_EQ(Run({"restore", file, "--device", Sim.PathOf(2)}), 0);
  EXPECT_EQ(target1->Settings(), source->Settings());
  EXPECT_EQ(Run({"restore", file, "--all"}), 0);
  EXPECT_EQ(target2->Settings(), source->Settings());

  // Standard output and input stand for the file with "-".
  ASSERT_EQ(Run({"backup", "-", "--device", Sim.PathOf(3)}), 0);
  json copied = json::parse(Out());
  EXPECT_EQ(copied["device"]["path"], Sim.PathOf(3));
  copied.erase("device");
  document.erase("device");
  EXPECT_EQ(copied, document);
}

TEST_F(CliTest, RestoreRefusesABadFileBeforeAnythingIsWritten) {
  const json good = FactoryBackup();
  auto with = [&good](const std::function<void(json&)>& change) {
    json document = good;
    change(document);
    return document.dump();
  };
  auto replaced = [&good](const std::string& from, const std::string& to) {
    std::string text = good.dump();
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
  };
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"{\"format\": ", "it is not valid JSON"},
      {"[1, 2]", "it is not a JSON object."},
      {with([](json& d) { d["format"] = "other"; }), "it is not a \"glowstep-settings\" document"},
      {with([](json& d) { d["version"] = 3; }), "it has format version 3, newer than version 2"},
      {with([](json& d) {
         d["device"] = {{"path", 1}};
       }),
       "unknown or malformed entry \"device\""},
      {with([](json& d) { d["version"] = "1"; }), "\"version\" is missing"},
      {with([](json& d) { d["comment"] = "x"; }), "unknown or malformed entry \"comment\""},
      {with([](json& d) { d["settings"]["speed"] = 3; }), "Unknown setting \"speed\""},
      {with([](json& d) { d["settings"].erase("delay"); }), "the setting \"delay\" is missing"},
      {with([](json& d) { d["settings"].erase("main_colour"); }),
       "the setting \"main_colour\" is missing"},
      {with([](json& d) { d["settings"]["stairs"] = 300; }),
       "Invalid value \"300\" for stairs: allowed is a whole number from 3 to 250."},
      {with([](json& d) { d["settings"]["sensor_time"] = 2.6; }),
       "Invalid value \"2.6\" for sensor_time"},
      {with([](json& d) { d["settings"]["on_time"] = true; }),
       "Invalid value \"true\" for on_time"},
      {with([](json& d) { d["settings"]["main_colour"] = 16777215; }),
       "for main_colour: allowed is a colour as #RRGGBB."},
      // The library's own words never reach the user.
      {"", "it is empty"},
      {replaced("\"on_time\":20", "\"on_time\":1e309"),
       "Invalid value (a number too large) for on_time: allowed is a whole number from 1 to 300 "
       "s."},
      {replaced("\"on_time\":20", "\"on_time\":-1e309"), "for on_time: allowed is"},
      {with([](json& d) { d["settings"]["stairs"] = json::array({1}); }),
       "Invalid value (an array) for stairs: allowed is a whole number from 3 to 250."},
      {with([](json& d) { d["settings"]["delay"] = json::object(); }),
       "Invalid value (an object) for delay: allowed is"},
      // Any depth is refused, without a crash: within the size limit by the depth.
      {replaced("\"stairs\":10", "\"stairs\":" + std::string(30000, '[') + std::string(30000, ']')),
       "(nested more than 8 deep) for stairs: allowed is a whole number from 3 to 250."},
      {std::string(30000, '[') + std::string(30000, ']'), "nested more than 8 deep"},
      {replaced("\"stairs\":10",
                "\"stairs\":" + std::string(100000, '[') + std::string(100000, ']')),
       "is larger than 64 KiB"},
      // A key given twice is refused, not taken once.
      {replaced("\"stairs\":10", "\"stairs\":300,\"stairs\":10"),
       "the key \"stairs\" appears twice in \"settings\""},
      {replaced("\"version\":1", "\"version\":1,\"format\":\"glowstep-settings\""),
       "the key \"format\" appears twice"},
      {with([](json& d) { d["settings"]["sensor_time"] = " 0.5"; }),
       "Invalid value \" 0.5\" for sensor_time"},
      // Text from the file comes back escaped.
      {with([](json& d) { d["settings"]["\x1b[31m\u202e"] = 1; }),
       "Unknown setting \"\\u001b[31m\\u202e\""},
      {with([](json& d) { d["settings"]["main_colour"] = "\x1b]0;owned\x07"; }),
       "Invalid value \"\\u001b]0;owned\\u0007\" for main_colour"},
  };
  auto controller = PlugController(Sim);
  for (const auto& [text, message] : cases) {
    SCOPED_TRACE(text.substr(0, 160));
    Host = nullptr;
    const std::string file = TempFile("bad.json");
    std::ofstream(file) << text;
    EXPECT_EQ(Run({"restore", file}), 2);
    EXPECT_NE(Err().find(message), std::string::npos) << Err();
    EXPECT_EQ(Err().find("json.exception"), std::string::npos) << Err();
    EXPECT_EQ(Err().find_first_of("\x1b\x07"), std::string::npos) << Err();
    const std::string err = Err();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  }
  EXPECT_EQ(Run({"restore", TempFile("missing.json")}), 2);
  EXPECT_NE(Err().find("cannot be read"), std::string::npos);

  // A backup is small: a file larger than 64 KiB is refused after reading 64 KiB and a byte, and
  // a directory is named as one.
  const std::string padded = good.dump() + std::string(kMaxBackupSize - good.dump().size(), ' ');
  Host = nullptr;
  std::ofstream(TempFile("large.json")) << padded << ' ';
  EXPECT_EQ(Run({"restore", Files.back().string()}), 2);
  EXPECT_NE(Err().find("is larger than 64 KiB"), std::string::npos) << Err();
  Host = std::make_unique<TTestHost>(&Sim);
  Host->SetInput(std::string(1 << 20, '{'));
  EXPECT_EQ(RunCli({"restore", "-"}, *Host), 2);
  EXPECT_NE(Err().find("is larger than 64 KiB"), std::string::npos) << Err();
  EXPECT_LE(Host->In().tellg(), 64 * 1024 + 1);
  const std::string folder = TempFile("folder");
  std::filesystem::create_directory(folder);
  EXPECT_EQ(Run({"restore", folder}), 2);
  EXPECT_NE(Err().find(folder + " is a directory"), std::string::npos) << Err();
  EXPECT_EQ(controller->ReceivedCount(), 0U);

  // Up to the limit a backup is taken.
  std::ofstream(TempFile("limit.json")) << padded;
  EXPECT_EQ(Run({"restore", Files.back().string()}), 0);
  ASSERT_EQ(WritesTo(*controller).size(), 1U);
  Host = nullptr;

  // The same document, well formed, restores.
  const std::string file = TempFile("good.json");
  std::ofstream(file) << good.dump();
  EXPECT_EQ(Run({"restore", file}), 0);
  EXPECT_EQ(WritesTo(*controller).size(), 2U);
}

TEST_F(CliTest, BackupIntoADirectoryIsRefusedBeforeAnyDeviceIsAsked) {
  auto controller = PlugController(Sim);
  const std::string folder = TempFile("folder");
  std::filesystem::create_directory(folder);
  for (const std::string& path : {folder, folder + "/"}) {
    EXPECT_EQ(Run({"backup", path}), 2);
    EXPECT_NE(Err().find("The backup file " + path + " is a directory."), std::string::npos)
        << Err();
  }
  EXPECT_EQ(controller->ReceivedCount(), 0U);
  EXPECT_TRUE(std::filesystem::is_empty(folder));
  EXPECT_FALSE(std::filesystem::exists(folder + ".partial"));
}

#ifdef _WIN32
// The file cases on Windows (elsewhere the program's own tests run them, with devices and
// signals): a file is replaced whole by the system's replace, keeping its attributes, with
// nothing left beside it; a device is written through.
TEST_F(CliTest, BackupOnWindowsReplacesFilesWholeAndWritesThroughDevices) {
  PlugController(Sim);
  const std::string folder = TempFile("folder");
  std::filesystem::create_directory(folder);
  const std::string file = folder + "\\f.json";
  std::ofstream(file) << "old";
  std::ofstream(folder + "\\f.json.partial") << "mine";
  SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(Run({"backup", file}), 0) << Err();
  EXPECT_EQ(json::parse(std::ifstream(file))["format"], "glowstep-settings");
  EXPECT_NE(GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0U);
  std::ostringstream partial;
  partial << std::ifstream(folder + "\\f.json.partial").rdbuf();
  EXPECT_EQ(partial.str(), "mine");

  EXPECT_EQ(Run({"backup", folder + "\\new.json"}), 0) << Err();
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.insert(entry.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"f.json", "f.json.partial", "new.json"}));

  EXPECT_EQ(Run({"backup", "NUL"}), 0) << Err();
  EXPECT_EQ(Run({"backup", folder + "\\missing\\x.json"}), 4);
  EXPECT_NE(Err().find("cannot be written: "), std::string::npos) << Err();
  std::filesystem::remove_all(folder);
}
#endif

// --- watch ------------------------------------------------------------------------------------

TEST_F(CliTest, WatchShowsArrivalsAndRemovalsUntilInterrupted) {
  PlugController(Sim);
  std::string path;
  DuringWatch = [this, &path](const std::function<void()>& interrupt) {
    const auto id = Sim.Plug([] {
      TSimInterfaceSpec setup;
      setup.ProductString = u"Glowstep 3.1";
      return setup;
    }());
    path = Sim.PathOf(id);
    Host->Loop->Post([this, id, interrupt] {
      Sim.Unplug(id);
      Host->Loop->Post(interrupt);
    });
  };
  EXPECT_EQ(Run({"watch"}), 0);
  const std::string row = path + "  -  -  16c0:05df  firmware 1  read/write  \"Glowstep 3.1\"\n";
  EXPECT_EQ(Out(), "arrived  " + row + "removed  " + row);
  EXPECT_EQ(Sim.Counters().Notifiers, 0);
}

// --- for scripts ------------------------------------------------------------------------------

struct TJsonCase {
  std::vector<std::string> Args;
  std::string Format;  // of the document, or of each in an array
  std::size_t Count;   // documents: 0 for one that is not in an array
};

TEST_F(CliTest, EveryJsonOutputFitsTheSchemaInTheTree) {
  std::ifstream schemaFile(GLOWSTEP_CLI_SCHEMA);
  const TSchemaCheck schema(json::parse(schemaFile));
  auto controller =
      PlugController(Sim, u"Glowstep 3.2", std::make_shared<TVirtualStaircaseController>(),
                     "usb-1/input0", "GS3-1");
  PlugController(Sim, u"Glowstep 3.1", std::make_shared<TVirtualStaircaseController>(),
                 "usb-2/input0");
  const std::string file = TempFile("schema.json");
  std::ofstream(file) << BackupText([](json& s) { s["stairs"] = 12; });
  const std::vector<TJsonCase> cases = {
      {{"list", "--json"}, "glowstep-devices", 0},
      {{"keys", "--json"}, "glowstep-keys", 0},
      {{"read", "--json"}, "glowstep-settings", 0},
      {{"read", "--json", "--all"}, "glowstep-settings", 2},
      {{"read", "--json", "--device", "GS3-1", "--device", "usb-2/input0"}, "glowstep-settings", 2},
      {{"read", "--json", "--device", "GS3-1", "--device", "GS3-1"}, "glowstep-settings", 1},
      {{"write", "--json", "sensor_time=0.1"}, "glowstep-write", 0},
      {{"write", "--json", "--dry-run", "--all", "stairs=11"}, "glowstep-write", 2},
      {{"restore", "--json", file}, "glowstep-write", 0},
      {{"diff", "--json", file}, "glowstep-diff", 0},
      {{"diff", "--json", "--all", file}, "glowstep-diff", 2},
  };
  for (const TJsonCase& test : cases) {
    SCOPED_TRACE(::testing::PrintToString(test.Args));
    EXPECT_LE(Run(test.Args), 1) << Err();
    const json output = json::parse(Out());
    EXPECT_EQ(schema.Errors(output), std::vector<std::string>()) << output.dump(2);
    const json documents = test.Count == 0 ? json::array({output}) : output;
    EXPECT_EQ(output.is_array(), test.Count != 0);
    EXPECT_EQ(documents.size(), std::max<std::size_t>(test.Count, 1));
    for (const json& document : documents) EXPECT_EQ(document["format"], test.Format);
  }

  // watch: a line for each event, each a document of its own.
  DuringWatch = [this](const std::function<void()>& interrupt) {
    const auto id = Sim.Plug(TSimInterfaceSpec{});
    Host->Loop->Post([this, id, interrupt] {
      Sim.Unplug(id);
      Host->Loop->Post(interrupt);
    });
  };
  EXPECT_EQ(Run({"watch", "--json"}), 0);
  std::istringstream lines(Out());
  std::vector<std::string> events;
  for (std::string line; std::getline(lines, line);) {
    const json event = json::parse(line);
    EXPECT_EQ(schema.Errors(event), std::vector<std::string>()) << line;
    events.push_back(event["event"]);
  }
  EXPECT_EQ(events, (std::vector<std::string>{"arrived", "removed"}));
  EXPECT_EQ(controller->Settings()[0], 12);  // the restore above was written
}

struct TJsonFailureCase {
  std::vector<std::string> Args;
  int Status;
  std::vector<std::string> Errors;  // the "error" of each document on standard error
  std::size_t Documents;            // on standard output: in the array of --all
};

TEST_F(CliTest, WithJsonEveryFailureIsAnErrorDocumentOnStandardError) {
  std::ifstream schemaFile(GLOWSTEP_CLI_SCHEMA);
  const TSchemaCheck schema(json::parse(schemaFile));
  PlugController(Sim, u"Glowstep 3.2", std::make_shared<TVirtualStaircaseController>(),
                 "usb-1/input0", "GS3-1");
  TSimInterfaceSpec silent;
  silent.ProductString = u"Glowstep 3.2";
  silent.SerialNumber = "silent";
  Sim.Plug(silent);
  TSimInterfaceSpec refused;
  refused.ProductString = u"Glowstep 3.1";
  refused.SerialNumber = "refused";
  refused.Faults.RefuseReadWrite = true;
  Sim.Plug(refused);
  const std::string file = TempFile("errors.json");
  std::ofstream(file) << BackupText();
  const std::vector<TJsonFailureCase> cases = {
      {{"read", "--json", "--device", "nothing"}, 1, {"no_controller"}, 0},
      {{"diff", "--json", "--device", "nothing", file}, 5, {"no_controller"}, 0},
      {{"read", "--json", "extra"}, 2, {"usage"}, 0},
      {{"write", "--json", "stairs=2"}, 2, {"usage"}, 0},
      {{"read", "--json", "--device", "refused"}, 3, {"cannot_open"}, 0},
      {{"--timeout", "50", "read", "--json", "--device", "silent"}, 4, {"io"}, 0},
      // With several, each controller that fails is one document, and the others are done.
      {{"--timeout", "50", "read", "--json", "--all"}, 4, {"io", "cannot_open"}, 1},
  };
  for (const TJsonFailureCase& test : cases) {
    SCOPED_TRACE(::testing::PrintToString(test.Args));
    EXPECT_EQ(Run(test.Args), test.Status);
    std::istringstream lines(Err());
    std::vector<std::string> errors;
    for (std::string line; std::getline(lines, line);) {
      const json error = json::parse(line);
      EXPECT_EQ(schema.Errors(error), std::vector<std::string>()) << line;
      errors.push_back(error["error"]);
      EXPECT_EQ(error["device"].is_null(), test.Documents == 0) << line;
    }
    EXPECT_EQ(errors, test.Errors);
    if (test.Documents == 0) {
      EXPECT_EQ(Out(), "");
    } else {
      EXPECT_EQ(json::parse(Out()).size(), test.Documents);
    }
  }
}

TEST_F(CliTest, ReadJsonIsABackupThatRestoreTakesFromStandardInput) {
  auto source = PlugController(Sim);
  auto target = PlugController(Sim, u"Glowstep 3.1");
  ASSERT_EQ(Run({"write", "stairs=20", "sensor_time=1.5", "standby_colour=#123456"}), 0);
  ASSERT_EQ(Run({"read", "--json"}), 0);
  const std::string reading = Out();
  Host = std::make_unique<TTestHost>(&Sim);
  Host->SetInput(reading);
  EXPECT_EQ(RunCli({"restore", "-", "--device", Sim.PathOf(2)}, *Host), 0) << Err();
  EXPECT_EQ(target->Settings(), source->Settings());
}

TEST_F(CliTest, GetPrintsBareValuesAndKeysTellsEveryRangeAndTheFactoryValue) {
  auto controller = PlugController(Sim);
  TSettings settings = TVirtualStaircaseController::kDefaultSettings;
  settings[kSensor] = 62;
  controller->SetSettings(settings);
  EXPECT_EQ(Run({"get", "on_time", "sensor_time", "main_colour", "on_time"}), 0);
  EXPECT_EQ(Out(), "20\n2.48\n#FFFFFF\n20\n");

  // The factory values are what a factory-fresh controller gives back.
  auto fresh = PlugController(Sim);
  ASSERT_EQ(Run({"read", "--json", "--device", Sim.PathOf(2)}), 0);
  const json held = json::parse(Out())["settings"];
  ASSERT_EQ(Run({"keys", "--json"}), 0);
  const json keys = json::parse(Out())["keys"];
  ASSERT_EQ(keys.size(), held.size());
  for (const json& key : keys) {
    SCOPED_TRACE(key.dump());
    EXPECT_EQ(key["factory"], held[key["key"].get<std::string>()]);
    if (key["type"] == "colour") continue;
    const TFieldRule* rule = FindFieldRule(key["key"].get<std::string>());
    ASSERT_NE(rule, nullptr);
    EXPECT_EQ(key["minimum"].get<double>(), RoundToDouble(rule->MinValue));
    EXPECT_EQ(key["maximum"].get<double>(), RoundToDouble(rule->MaxValue));
    EXPECT_EQ(key["decimals"], rule->Decimals);
  }
  ASSERT_EQ(Run({"keys"}), 0);
  EXPECT_NE(Out().find("sensor_time     decimal  0 to 2.5   0.01  s     0.08     "),
            std::string::npos)
      << Out();
  EXPECT_EQ(fresh->ReceivedCount(), 1U);  // keys asks no device
}

struct TNameCase {
  std::string Name;
  int Status;
  TSimPlatform::TInterfaceId Plugged;  // the interface it finds
  std::string Message;
};

TEST_F(CliTest, ControllersAreFoundByPortAndSerialAfterAReplugToAnotherNode) {
  TSimInterfaceSpec first;
  first.ProductString = u"Glowstep 3.2";
  first.Behaviour = std::make_shared<TVirtualStaircaseController>();
  first.PortName = "usb-0000:00:14.0-1.2/input0";
  first.SerialNumber = "GS3-1";
  const auto id = Sim.Plug(first);
  const std::string before = Sim.PathOf(id);
  Sim.Unplug(id);
  PlugController(Sim, u"Glowstep 3.1", std::make_shared<TVirtualStaircaseController>(),
                 "usb-0000:00:14.0-2/input0", "TWIN");
  TSimInterfaceSpec keyboard;
  keyboard.ProductString = u"USB Keyboard";
  keyboard.PortName = "usb-0000:00:14.0-3/input0";
  keyboard.SerialNumber = "TWIN";  // another device with the same serial number
  Sim.Plug(keyboard);
  const auto again = Sim.Plug(first);  // the first one back, at another node
  ASSERT_NE(Sim.PathOf(again), before);

  const std::vector<TNameCase> cases = {
      {"usb-0000:00:14.0-1.2/input0", 0, again, ""},
      {"GS3-1", 0, again, ""},
      {Sim.PathOf(again), 0, again, ""},
      {"TWIN", 0, 2, ""},  // of the two, one is a controller
      {"usb-0000:00:14.0-2/input0", 0, 2, ""},
      {before, 1, 0, "There is no HID device " + before},
      {"usb-0000:00:14.0-3/input0", 1, 0, "(USB Keyboard) is not a staircase controller"},
  };
  for (const TNameCase& test : cases) {
    SCOPED_TRACE(test.Name);
    EXPECT_EQ(Run({"read", "--json", "--device", test.Name}), test.Status);
    if (test.Status == 0) {
      EXPECT_EQ(json::parse(Out())["device"]["path"], Sim.PathOf(test.Plugged));
    }
    EXPECT_NE(Err().find(test.Message), std::string::npos) << Err();
  }
  // A serial number shared is no name: the port names the device.
  ASSERT_EQ(Run({"list", "--json"}), 0);
  const json devices = json::parse(Out())["devices"];
  EXPECT_EQ(devices[0]["name"], "usb-0000:00:14.0-2/input0");
  EXPECT_EQ(devices[2]["name"], "GS3-1");

  // Two controllers sharing one are told apart only by their ports.
  keyboard.ProductString = u"Glowstep 3.2";
  keyboard.Behaviour = std::make_shared<TVirtualStaircaseController>();
  Sim.Plug(keyboard);
  EXPECT_EQ(Run({"read", "--device", "TWIN"}), 2);
  EXPECT_NE(Err().find("\"TWIN\" names more than one controller"), std::string::npos) << Err();
}

TEST_F(CliTest, BackupAllWritesAFileForEachControllerNamedAfterIt) {
  auto first = PlugController(Sim, u"Glowstep 3.2", std::make_shared<TVirtualStaircaseController>(),
                              "usb-0000:00:14.0-1.2/input0", "GS3-1");
  auto second =
      PlugController(Sim, u"Glowstep 3.1", std::make_shared<TVirtualStaircaseController>(),
                     "usb-0000:00:14.0-2/input0");
  ASSERT_EQ(Run({"write", "--device", "GS3-1", "stairs=33"}), 0);
  const std::string folder = TempFile("all");
  std::filesystem::create_directory(folder);
  EXPECT_EQ(Run({"backup", "--all", folder}), 0) << Err();
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.insert(entry.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"GS3-1.json", "usb-0000_00_14.0-2_input0.json"}));
  EXPECT_EQ(json::parse(std::ifstream(folder + "/GS3-1.json"))["settings"]["stairs"], 33);
  EXPECT_EQ(
      json::parse(std::ifstream(folder + "/usb-0000_00_14.0-2_input0.json"))["device"]["port"],
      "usb-0000:00:14.0-2/input0");
  std::filesystem::remove_all(folder);

  // Several controllers need a directory, checked before any is asked.
  const std::size_t asked = first->ReceivedCount() + second->ReceivedCount();
  EXPECT_EQ(Run({"backup", "--all", TempFile("file.json")}), 2);
  EXPECT_NE(Err().find("is not a directory"), std::string::npos) << Err();
  EXPECT_EQ(first->ReceivedCount() + second->ReceivedCount(), asked);
}

struct TDiffCase {
  const char* Name;
  std::function<void(json&)> Change;
  std::vector<std::string> Options;
  int Status;
  std::string Out;
};

TEST_F(CliTest, DiffComparesAsTheControllerHoldsAndExitsLikeDiff) {
  const std::vector<TDiffCase> cases = {
      {"the same", nullptr, {}, 0, ""},
      {"a colour in small letters and a sensor time between steps",
       [](json& s) {
         s["main_colour"] = "#ffffff";
         s["sensor_time"] = 0.1;
       },
       {},
       0,
       ""},
      {"different",
       [](json& s) {
         s["stairs"] = 12;
         s["on_time"] = 25;
       },
       {},
       1,
       " differs from "},
      {"different",
       [](json& s) { s["on_time"] = 25; },
       {},
       1,
       "on_time         backup 25 s, controller 20 s\n"},
      // An error outweighs a difference.
      {"different, every controller, one of them not answering",
       [](json& s) { s["on_time"] = 25; },
       {"--all"},
       4,
       "Glowstep 3.1 at "},
      {"a controller that does not answer", nullptr, {"--device", "silent"}, 4, ""},
      {"no such controller", nullptr, {"--device", "nothing"}, 5, ""},
      {"a bad file", [](json& s) { s["stairs"] = 1; }, {}, 2, ""},
  };
  auto controller = PlugController(Sim);
  PlugController(Sim, u"Glowstep 3.1");
  TSimInterfaceSpec silent;
  silent.ProductString = u"Glowstep 3.2";
  silent.SerialNumber = "silent";
  Sim.Plug(silent);
  for (const TDiffCase& test : cases) {
    SCOPED_TRACE(test.Name);
    const std::string file = TempFile("diff.json");
    std::ofstream(file) << BackupText(test.Change);
    std::vector<std::string> args = {"--timeout", "50", "diff", file};
    args.insert(args.end(), test.Options.begin(), test.Options.end());
    EXPECT_EQ(Run(args), test.Status) << Err();
    EXPECT_NE(Out().find(test.Out), std::string::npos) << Out();
    if (test.Out.empty()) {
      EXPECT_EQ(Out(), "");
    }
  }
  EXPECT_TRUE(WritesTo(*controller).empty());
}

TEST_F(CliTest, ADryRunShowsEachChangeAndTheReportAndWritesNothing) {
  auto controller = PlugController(Sim);
  const std::string file = TempFile("dry.json");
  std::ofstream(file) << BackupText([](json& s) { s["delay"] = 30; });
  EXPECT_EQ(Run({"write", "--dry-run", "stairs=12", "sensor_time=2.12", "delay=15"}), 0);
  EXPECT_NE(Out().find("dry run: nothing is written\n"
                       "stairs          10 -> 12\n"
                       "sensor_time     0.08 s -> 2.12 s  (the controller will hold 2.08 s)\n"
                       "The report that would be sent (65 bytes):\n"
                       "  00 77 0c 3c 01 00 ff ff ff 30 30 00 f4 01 77 01\n"
                       "  34 0a 00 64 00 00"),
            std::string::npos)
      << Out();
  EXPECT_EQ(Run({"restore", "--dry-run", "--json", file}), 0);
  const json change = json::parse(Out());
  EXPECT_EQ(change["dry_run"], true);
  EXPECT_EQ(change["settings"]["delay"],
            json({{"before", 15}, {"asked", 30}, {"held", 30}, {"kept", "as_asked"}}));
  // The report shown is the one a write sends.
  StairSettings asked;
  asked.Delay_time = 30;
  asked.Sensor_time = 0.08_ext;
  SettingsReport report{};
  EncodeWriteReport(asked, report);
  std::string hex;
  for (const std::uint8_t byte : report) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", byte);
    hex += digits;
  }
  EXPECT_EQ(change["report"], hex);
  EXPECT_EQ(controller->ReceivedCount(), 2U);  // the two reads
  EXPECT_TRUE(WritesTo(*controller).empty());
}

struct TSituationCase {
  std::string Simulation;
  std::vector<std::string> Args;
  int Status;
  std::string Out;
};

TEST_F(CliTest, EachSimulationGivesItsDocumentedStatusAndTheStateLastsBetweenRuns) {
  const std::vector<TSituationCase> cases = {
      {"--simulate", {"write", "photo_level=500"}, 0, "photo_level     500\n"},
      {"--simulate=one", {"list"}, 0, "usb-0000:00:14.0-1/input0  GS3-0001  16c0:05df  firmware 2"},
      {"--simulate=two",
       {"read", "--all"},
       0,
       "Glowstep 3.1 at sim:hid#2 (usb-0000:00:14.0-2/input0"},
      {"--simulate=none", {"read"}, 1, ""},
      {"--simulate=silent", {"--timeout", "50", "read"}, 4, ""},
      {"--simulate=refused", {"read"}, 3, ""},
      {"--simulate=deaf", {"write", "stairs=20"}, 4, "(asked for 20; not kept)"},
      {"--simulate=deaf", {"read"}, 0, "stairs          10\n"},
      {"--simulate=replug", {"watch"}, 0, "removed  sim:hid#1  usb-0000:00:14.0-1/input0"},
      {"--simulate=replug", {"watch"}, 0, "arrived  sim:hid#3  usb-0000:00:14.0-1/input0"},
      {"--simulate=bogus", {"read"}, 2, ""},
  };
  for (const TSituationCase& test : cases) {
    SCOPED_TRACE(test.Simulation + " " + ::testing::PrintToString(test.Args));
    std::vector<std::string> args = {test.Simulation};
    args.insert(args.end(), test.Args.begin(), test.Args.end());
    EXPECT_EQ(Run(args), test.Status) << Err();
    EXPECT_NE(Out().find(test.Out), std::string::npos) << Out();
    EXPECT_EQ(Host->NativePlatformCalls, 0);
  }

  // The state file keeps what was written, for each controller, from one run to the next.
  const std::string state = TempFile("state.json");
  const auto run = [&](const std::vector<std::string>& args) {
    Host = std::make_unique<TTestHost>(&Sim);
    Host->Env["GLOWSTEP_SIMULATE_STATE"] = state;
    return RunCli(args, *Host);
  };
  ASSERT_EQ(run({"--simulate=two", "write", "--device", "usb-0000:00:14.0-2/input0", "stairs=22"}),
            0);
  ASSERT_EQ(run({"--simulate", "write", "stairs=11"}), 0);
  EXPECT_EQ(run({"--simulate=two", "get", "stairs", "--device", "GS3-0001"}), 0);
  EXPECT_EQ(Out(), "11\n");
  EXPECT_EQ(run({"--simulate=two", "get", "stairs", "--device", "usb-0000:00:14.0-2/input0"}), 0);
  EXPECT_EQ(Out(), "22\n");
  std::ofstream(state) << "{\"format\": \"glowstep-simulation\", \"version\": 1, \"controllers\": "
                          "{\"usb-0000:00:14.0-1/input0\": \"0a\"}}";
  EXPECT_EQ(run({"--simulate", "read"}), 2);
  EXPECT_NE(Err().find("are malformed"), std::string::npos) << Err();
}

// --- the command line -------------------------------------------------------------------------

struct TCommandLineCase {
  std::vector<std::string> Args;
  int Status;
  std::string Out;  // what standard output contains
  std::string Err;  // what standard error contains
};

TEST_F(CliTest, TheCommandLineLeadsToTheRightWordAndNoDeviceIsAskedMeanwhile) {
  const std::vector<TCommandLineCase> cases = {
      // A bare call shows the commands and where to read more, as a usage error.
      {{}, 2, "Commands:\n  list ", ""},
      {{}, 2, "\"glowstep-cli help COMMAND\"", ""},
      {{"reed"}, 2, "", "Unknown command \"reed\" (did you mean read?)."},
      {{"wirte", "stairs=3"}, 2, "", "Unknown command \"wirte\" (did you mean write?)."},
      {{"frobnicate"}, 2, "", "Unknown command \"frobnicate\". Run \"glowstep-cli\""},
      {{"read", "--jsno"}, 2, "", "Unknown option \"--jsno\" for read (did you mean --json?)."},
      {{"--simulat", "read"},
       2,
       "",
       "Unknown option \"--simulat\" for read (did you mean "
       "--simulate?)."},
      {{"--simulate", "two", "read"}, 2, "", "A simulation is named as --simulate=two."},
      {{"read", "extra"}, 2, "", "Unexpected argument \"extra\" for read."},
      {{"get", "stiars"}, 2, "", "Unknown setting \"stiars\" (did you mean stairs?)"},
      {{"write", "ledsperstair=5"}, 2, "", "\"ledsperstair\" (did you mean leds_per_stair?)"},
      {{"help", "reed"}, 2, "", "Unknown command \"reed\" (did you mean read?)."},
      {{"--timeout", "0", "list"}, 2, "", "--timeout"},
      {{"--timeout", "soon", "list"}, 2, "", "--timeout"},
      {{"write"}, 2, "", "Run \"glowstep-cli help write\" for the usage."},
      {{"backup"}, 2, "", "FILE is required"},
      {{"read", "--all", "--device", "x"}, 2, "", "--device excludes --all"},
      {{"get", "--device", "a", "--device", "b", "stairs"}, 2, "", "give --device once"},
      // Help and version, as an option and as a command.
      {{"--help"}, 0, "Usage: glowstep-cli [OPTIONS] COMMAND [ARGUMENTS]\n", ""},
      {{"help"}, 0, "--simulate[=WHAT]", ""},
      {{"help", "write"}, 0, "Usage: glowstep-cli write [OPTIONS] KEY=VALUE...\n", ""},
      {{"write", "--help"}, 0, "Usage: glowstep-cli write [OPTIONS] KEY=VALUE...\n", ""},
      {{"diff", "-h"}, 0, "1: different", ""},
      {{"-V"}, 0, "glowstep-cli ", ""},
      {{"--version"}, 0, "glowstep-cli ", ""},
  };
  PlugController(Sim);
  for (const TCommandLineCase& test : cases) {
    SCOPED_TRACE(::testing::PrintToString(test.Args));
    EXPECT_EQ(Run(test.Args), test.Status);
    EXPECT_NE(Out().find(test.Out), std::string::npos) << Out();
    EXPECT_NE(Err().find(test.Err), std::string::npos) << Err();
    EXPECT_EQ(Host->NativePlatformCalls, 0);
  }
  EXPECT_EQ(Run({"help", "restore"}), 0);
  const std::string help = Out();
  EXPECT_EQ(Run({"restore", "--help"}), 0);
  EXPECT_EQ(Out(), help);
}

TEST_F(CliTest, EveryHelpFitsEightyColumnsAndWriteNamesEveryKeyWithItsRange) {
  std::vector<std::vector<std::string>> calls = {{}, {"--help"}};
  for (const TCommand& command : kCommands) calls.push_back({std::string(command.Name), "--help"});
  for (const auto& args : calls) {
    SCOPED_TRACE(::testing::PrintToString(args));
    Run(args);
    std::istringstream lines(Out());
    for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80U) << line;
  }
  Run({"write", "--help"});
  for (const TFieldRule& rule : kFieldRules) {
    EXPECT_NE(Out().find(std::string(rule.Key) + " "), std::string::npos) << rule.Key;
    EXPECT_NE(Out().find(AllowedText(rule)), std::string::npos) << rule.Key;
  }
}

TEST_F(CliTest, EveryExampleOfTheHelpWorksAgainstTheSimulation) {
  // The examples' files are in a directory of their own, which the test works in.
  const std::filesystem::path folder = TempFile("examples");
  std::filesystem::create_directories(folder / "backups");
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(folder);
  ASSERT_EQ(Run({"--simulate", "backup", "stairs.json"}), 0);
  DuringWatch = [](const std::function<void()>& interrupt) { interrupt(); };
  std::vector<std::string> examples;
  std::vector<std::vector<std::string>> helps = {{"--help"}};
  for (const TCommand& command : kCommands) helps.push_back({"help", std::string(command.Name)});
  for (const auto& help : helps) {
    ASSERT_EQ(Run(help), 0);
    const std::string text = Out();
    std::istringstream lines(text.substr(text.find("Examples:\n")));
    for (std::string line; std::getline(lines, line);) {
      if (line.starts_with("  ")) examples.push_back(line.substr(2));
    }
  }
  ASSERT_GE(examples.size(), kCommands.size());
  for (const std::string& example : examples) {
    SCOPED_TRACE(example);
    // What needs a shell (a pipe, a substitution) is left to the README's recipes.
    if (example.find_first_of("$|<>") != std::string::npos) continue;
    std::istringstream words(example);
    std::vector<std::string> args;
    for (std::string word; words >> word;) args.push_back(word);
    ASSERT_EQ(args.front(), "glowstep-cli");
    args.erase(args.begin());
    if (std::none_of(args.begin(), args.end(),
                     [](const std::string& arg) { return arg.starts_with("--simulate"); }))
      args.insert(args.begin(), "--simulate");
    EXPECT_EQ(Run(args), 0) << Err();
  }
  std::filesystem::current_path(previous);
  std::filesystem::remove_all(folder);
}

TEST_F(CliTest, EveryCommandLeavesNothingOpen) {
  PlugController(Sim);
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"list"}, {"read"}, {"write", "delay=20"}, {"backup", "-"}}) {
    EXPECT_EQ(Run(args), 0);
    const TSimCounters counters = Sim.Counters();
    EXPECT_EQ(counters.Starts, 0);
    EXPECT_EQ(counters.OpenConnections, 0);
    EXPECT_EQ(counters.Notifiers, 0);
    EXPECT_EQ(counters.Misuse, 0);
  }
}

}  // namespace
}  // namespace glowstep::testing
