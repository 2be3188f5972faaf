#include "cli/cli.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <set>

#include "cli/backup_file.h"
#include "cli/controller_session.h"
#include "cli/escaped_text.h"
#include "cli/settings_document.h"
#include "hid/main_loop.h"
#include "hid/platform/sim/sim_platform.h"
#include "protocol/controller_link.h"
#include "testing/virtual_staircase_controller.h"

#ifndef GLOWSTEP_VERSION
#define GLOWSTEP_VERSION "unknown"
#endif

namespace glowstep {

namespace {

constexpr int kDefaultTimeoutMs = 1000;
constexpr std::string_view kStandardStream = "-";

struct TOptions {
  int TimeoutMs = kDefaultTimeoutMs;
  bool Simulate = false;
  bool Json = false;
  bool All = false;
  std::optional<std::string> Device;
  std::vector<std::string> Assignments;
  std::string File;
};

// The simulated system of --simulate: one factory-fresh controller and one other HID device.
std::unique_ptr<TSimPlatform> MakeSimulatedSystem() {
  auto sim = std::make_unique<TSimPlatform>();
  TSimInterfaceSpec controller;
  controller.ProductString = u"Glowstep 3.2";
  controller.Behaviour = std::make_shared<TVirtualStaircaseController>();
  sim->Plug(controller);
  TSimInterfaceSpec keyboard;
  keyboard.ProductString = u"USB Keyboard";
  keyboard.Attributes = THidAttributes{12, 0x2A4C, 0x0101, 0x0110};
  keyboard.InputReportLength = 9;
  keyboard.OutputReportLength = 2;
  keyboard.Faults.RefuseReadWrite = true;
  sim->Plug(keyboard);
  return sim;
}

std::string HexId(std::uint16_t id) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", id);
  return text;
}

std::string ListingLine(const TDeviceListing& device) {
  std::string line = device.Path + "  " + HexId(device.VendorID) + ":" + HexId(device.ProductID) +
                     "  \"" + Escaped(device.Product) + "\"  ";
  line += device.IsController
              ? "staircase controller, firmware version " + std::to_string(device.Firmware)
              : std::string("not a staircase controller");
  if (device.ReadWrite) return line + "  read/write";
  line += "  cannot be opened for reading and writing: ";
  // What this user may do is said only when the system refused access.
  if (!IsAccessRefused(device.OpenError))
    return line + ErrorCodeMessage(device.OpenError).English();
  line += ControllerAccessReason(device.AccessReason).English();
  if (device.IsController) line += ". " + ControllerAccessFix(device.AccessReason).English();
  return line;
}

TJson ListingJson(const TDeviceListing& device) {
  TJson json = TJson::object();
  json["path"] = device.Path;
  json["vendor_id"] = HexId(device.VendorID);
  json["product_id"] = HexId(device.ProductID);
  json["product"] = device.Product;
  json["controller"] = device.IsController;
  json["firmware"] = device.IsController ? TJson(device.Firmware) : TJson(nullptr);
  json["read_write"] = device.ReadWrite;
  if (!device.ReadWrite && !IsAccessRefused(device.OpenError)) {
    json["reason"] = ErrorCodeMessage(device.OpenError).English();
  } else if (!device.ReadWrite) {
    json["reason"] = ControllerAccessReason(device.AccessReason).English();
    if (device.IsController) json["fix"] = ControllerAccessFix(device.AccessReason).English();
  }
  return json;
}

std::string Heading(const TControllerReading& reading) {
  return Escaped(reading.Product) + " at " + reading.Path + " (firmware version " +
         std::to_string(reading.Firmware) + "):\n";
}

// Runs one command against the devices; the failures of single controllers are reported and
// counted, the worst status is the result.
class TCommandRunner {
 public:
  TCommandRunner(TCliHost& host, THidPlatform& platform, TMainLoop& loop, const TOptions& options)
      : Host_(host),
        Options_(options),
        Session_(platform, loop, std::chrono::milliseconds(options.TimeoutMs)) {}

  TExitStatus List() {
    const auto devices = Session_.List();
    if (Options_.Json) {
      TJson json = TJson::array();
      for (const auto& device : devices) json.push_back(ListingJson(device));
      Host_.Out() << JsonText(json);
    } else {
      for (const auto& device : devices) Host_.Out() << ListingLine(device) << '\n';
      if (devices.empty()) Host_.Err() << "No HID device is present.\n";
    }
    return TExitStatus::Done;
  }

  TExitStatus Read() {
    return ForEachTarget([this](THidDevice* device) {
      const TControllerReading reading = Session_.Read(device);
      if (Options_.Json) {
        Host_.Out() << JsonText(ReadingJson(reading));
      } else {
        Host_.Out() << Heading(reading) << SettingsListing(reading.Settings);
      }
    });
  }

  // Reads each controller, applies `change` to what it holds, writes the result and shows what
  // the controller holds afterwards. A setting read back as neither what was asked for nor what
  // the controller's units make of it was not kept: ECliFailure Io after the listing.
  TExitStatus Change(const std::function<void(StairSettings&)>& change) {
    return ForEachTarget([&](THidDevice* device) {
      StairSettings asked = Session_.Read(device).Settings;
      change(asked);
      Session_.Write(device, asked);
      const TControllerReading after = Session_.Read(device);
      Host_.Out() << Heading(after) << SettingsListing(after.Settings, &asked);
      std::string notKept;
      for (const TSettingComparison& setting : CompareWithAsked(after.Settings, asked)) {
        if (setting.Kept != TKept::Not) continue;
        notKept += (notKept.empty() ? "" : ", ") + std::string(setting.Key);
      }
      if (!notKept.empty()) {
        throw ECliFailure(TExitStatus::Io, "The controller " + Describe(device) +
                                               " did not keep what was written: " + notKept + ".");
      }
    });
  }

  // Saves the first (or the named) controller's settings to `destination`, or to standard
  // output without one.
  TExitStatus Backup(TBackupDestination* destination) {
    const TControllerReading reading = Session_.Read(Session_.Targets(Options_.Device, false)[0]);
    const std::string document = JsonText(BackupDocument(reading));
    if (destination == nullptr) {
      Host_.Out() << document;
    } else {
      destination->Commit(document);
      Host_.Err() << "Saved the settings of " << Escaped(reading.Product) << " at " << reading.Path
                  << " to " << Escaped(Options_.File) << ".\n";
    }
    return TExitStatus::Done;
  }

  void Watch() {
    // The interfaces present were listed by the first refresh; from now on only changes count.
    THidDeviceController& controller = Session_.HidController();
    controller.SetOnArrival(THidPlugEvent([this](THidDevice* device) {
      const TDeviceListing listing = ListingOf(device);
      // A device that went away while it was being looked at is not shown, nor its removal,
      // which follows: nothing true could be said of it.
      if (!listing.ReadWrite && IsDeviceGoneError(listing.OpenError)) {
        Unshown_.insert(device);
        return;
      }
      Host_.Out() << "arrived  " << ListingLine(listing) << std::endl;
    }));
    controller.SetOnRemoval(THidPlugEvent([this](THidDevice* device) {
      if (Unshown_.erase(device) != 0) return;
      Host_.Out() << "removed  " << device->PnPInfo().DevicePath << std::endl;
    }));
  }

 private:
  TDeviceListing ListingOf(THidDevice* device) {
    for (auto& entry : Session_.List()) {
      if (entry.Path == device->PnPInfo().DevicePath) return entry;
    }
    return {};
  }

  TExitStatus ForEachTarget(const std::function<void(THidDevice*)>& command) {
    TExitStatus worst = TExitStatus::Done;
    for (THidDevice* device : Session_.Targets(Options_.Device, Options_.All)) {
      try {
        command(device);
      } catch (const ECliFailure& failure) {
        if (!Options_.All) throw;
        Host_.Err() << failure.what() << '\n';
        worst = std::max(worst, failure.Status());
      }
    }
    return worst;
  }

  TCliHost& Host_;
  const TOptions& Options_;
  TControllerSession Session_;
  std::set<const THidDevice*> Unshown_;  // arrivals not shown, until their removal
};

void AddDeviceOption(CLI::App& command, TOptions& options, bool withAll) {
  CLI::Option* device =
      command
          .add_option("--device", options.Device,
                      "the controller at this path (as \"list\" shows it); without it, the "
                      "first controller found")
          ->type_name("PATH");
  if (withAll) {
    CLI::Option* all = command.add_flag("--all", options.All, "every controller attached");
    device->excludes(all);
  }
}

// Ends standard output and error: output lost is a failure of its own, told once.
int Finish(TCliHost& host, int status) {
  const auto lost = host.FinishOut();
  if (lost) {
    host.Err() << "glowstep-cli: Standard output cannot be written: " << *lost << ".\n";
    status = static_cast<int>(TExitStatus::Io);
  }
  if (!host.FinishErr()) status = static_cast<int>(TExitStatus::Io);
  return status;
}

int RunCommand(const std::vector<std::string>& args, TCliHost& host);

}  // namespace

std::optional<std::string> TCliHost::FinishOut() {
  Out().flush();
  if (Out().fail()) return std::string("the output was refused");
  return std::nullopt;
}

bool TCliHost::FinishErr() {
  Err().flush();
  return !Err().fail();
}

int RunCli(const std::vector<std::string>& args, TCliHost& host) {
  return Finish(host, RunCommand(args, host));
}

namespace {

int RunCommand(const std::vector<std::string>& args, TCliHost& host) {
  TOptions options;
  CLI::App app("The Glowstep 3 staircase-lighting controller from the command line.",
               "glowstep-cli");
  app.set_version_flag("--version", std::string("glowstep-cli ") + GLOWSTEP_VERSION);
  app.add_option("--timeout", options.TimeoutMs,
                 "how long each exchange with a controller may take, its request and the "
                 "reply, in ms (default " +
                     std::to_string(kDefaultTimeoutMs) + ")")
      ->type_name("MS")
      ->check(CLI::Range(1, 3600000).description(""));
  app.add_flag("--simulate", options.Simulate,
               "talk to a virtual controller instead of the devices attached");
  app.require_subcommand(1);
  app.fallthrough();

  CLI::App* list = app.add_subcommand("list", "list every HID device present");
  list->add_flag("--json", options.Json, "as JSON");
  app.add_subcommand("watch", "show devices arriving and going until Ctrl+C");
  CLI::App* read = app.add_subcommand("read", "show the settings a controller holds");
  AddDeviceOption(*read, options, false);
  read->add_flag("--json", options.Json, "as JSON");
  CLI::App* write = app.add_subcommand(
      "write", "change settings: KEY=VALUE ..., with the keys that \"read\" shows");
  AddDeviceOption(*write, options, true);
  write->add_option("KEY=VALUE", options.Assignments, "the changes, one or more")
      ->required()
      ->type_name("");
  CLI::App* backup = app.add_subcommand("backup", "save a controller's settings to a JSON file");
  AddDeviceOption(*backup, options, false);
  backup->add_option("FILE", options.File, "the file (\"-\": standard output)")
      ->required()
      ->type_name("");
  CLI::App* restore =
      app.add_subcommand("restore", "write the settings of a backup file to a controller");
  AddDeviceOption(*restore, options, true);
  restore->add_option("FILE", options.File, "the file (\"-\": standard input)")
      ->required()
      ->type_name("");
  app.footer(
      "Exit status: 0 done, 1 no controller (or the device named is not one), 2 usage, invalid "
      "value or invalid backup file, 3 the controller cannot be opened (permissions), 4 I/O "
      "error, no reply in time, a write the controller did not keep, or output that cannot be "
      "written.\nSettings: " +
      SettingKeys() + ".");

  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp& request) {
    return app.exit(request, host.Out(), host.Err());
  } catch (const CLI::CallForVersion& request) {
    return app.exit(request, host.Out(), host.Err());
  } catch (const CLI::ParseError& error) {
    app.exit(error, host.Out(), host.Err());
    return static_cast<int>(TExitStatus::Usage);
  }

  try {
    // Every change and file is checked before any device is touched.
    StairSettings scratch;
    for (const std::string& assignment : options.Assignments) {
      ApplyAssignment(scratch, assignment);
    }
    std::optional<StairSettings> restored;
    if (restore->parsed()) restored = ParseBackupDocument(ReadBackupText(options.File, host.In()));
    std::unique_ptr<TBackupDestination> destination;
    if (backup->parsed() && options.File != kStandardStream) {
      destination = TBackupDestination::Open(options.File);
    }

    std::unique_ptr<TSimPlatform> simulated;
    THidPlatform* platform = nullptr;
    if (options.Simulate) {
      simulated = MakeSimulatedSystem();
      platform = simulated.get();
    } else {
      platform = host.NativePlatform();
    }
    if (platform == nullptr) {
      throw ECliFailure(TExitStatus::Io, "The system's HID devices cannot be reached.");
    }
    TMainLoop loop;
    host.Started(loop);
    TCommandRunner runner(host, *platform, loop, options);
    TExitStatus status = TExitStatus::Done;
    // A failure is told before the runner lets go of the devices: that may wait for the system (a
    // report the controller did not take stays with the kernel until it gives the write up).
    try {
      if (list->parsed()) {
        status = runner.List();
      } else if (read->parsed()) {
        status = runner.Read();
      } else if (write->parsed()) {
        status = runner.Change([&options](StairSettings& settings) {
          for (const std::string& assignment : options.Assignments) {
            ApplyAssignment(settings, assignment);
          }
        });
      } else if (backup->parsed()) {
        status = runner.Backup(destination.get());
      } else if (restore->parsed()) {
        status = runner.Change([&restored](StairSettings& settings) { settings = *restored; });
      } else {
        runner.Watch();
        host.Err() << "Watching for HID devices arriving and going; Ctrl+C ends.\n";
        bool interrupted = false;
        host.RunUntilStopped(
            loop, [&interrupted] { return interrupted; }, [&interrupted] { interrupted = true; });
      }
    } catch (const ECliFailure& failure) {
      host.Err() << "glowstep-cli: " << failure.what() << std::endl;
      status = failure.Status();
    }
    return static_cast<int>(status);
  } catch (const ECliFailure& failure) {
    host.Err() << "glowstep-cli: " << failure.what() << '\n';
    return static_cast<int>(failure.Status());
  } catch (const std::exception& failure) {
    // What the system refused underneath (memory, a file, a device object that could not be
    // made) is an I/O error of this run.
    host.Err() << "glowstep-cli: " << failure.what() << '\n';
    return static_cast<int>(TExitStatus::Io);
  }
}

}  // namespace

}  // namespace glowstep
