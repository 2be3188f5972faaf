#include "cli/cli.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "cli/backup_file.h"
#include "cli/controller_session.h"
#include "cli/did_you_mean.h"
#include "cli/escaped_text.h"
#include "cli/help_text.h"
#include "cli/reports.h"
#include "cli/settings_document.h"
#include "cli/simulation.h"
#include "hid/main_loop.h"
#include "protocol/controller_link.h"

#ifndef GLOWSTEP_VERSION
#define GLOWSTEP_VERSION "unknown"
#endif

namespace glowstep {

namespace {

constexpr int kDefaultTimeoutMs = 1000;
constexpr std::string_view kStandardStream = "-";
constexpr const char* kStateVariable = "GLOWSTEP_SIMULATE_STATE";

struct TOptions {
  std::string Command;
  int TimeoutMs = kDefaultTimeoutMs;
  std::string Simulation;  // empty: the devices attached
  bool Json = false;
  bool All = false;
  bool DryRun = false;
  std::vector<std::string> Devices;
  std::vector<std::string> Arguments;  // KEY=VALUE or KEY
  std::string File;
  std::string HelpTopic;

  // Whether the command works on several controllers, so that its JSON is an array: decided by
  // the command line, not by how many controllers are found.
  bool Several() const { return All || Devices.size() > 1; }
};

// A file name of the characters every system takes, from a device's name: "usb-0000_00_14.0-1.2_
// input0" for "usb-0000:00:14.0-1.2/input0".
std::string FileNameOf(const std::string& name) {
  std::string file = name;
  for (char& c : file) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_' || c == '.';
    if (!plain) c = '_';
  }
  if (file.empty() || file.front() == '.') file.insert(file.begin(), '_');
  return file + ".json";
}

// Tells a failure on standard error at once: as a line of text, or with --json as a
// "glowstep-error" document on a line of its own, so that standard error, like standard output,
// holds only JSON then.
void Tell(TCliHost& host,
          bool json,
          int status,
          const std::string& message,
          const TDeviceNames* device = nullptr) {
  if (json) {
    host.Err() << JsonLine(ErrorJson(status, message, device)) << std::flush;
  } else {
    host.Err() << "glowstep-cli: " << message << std::endl;
  }
}

// Whether the command line asks for JSON: told before it is understood whole, so that a usage
// error is told in the form the caller reads.
bool AsksForJson(const std::vector<std::string>& args) {
  return std::find(args.begin(), args.end(), "--json") != args.end();
}

// Runs one command against the devices; with several controllers, the failures of single ones
// are reported and counted, and the worst status is the result.
class TCommandRunner {
 public:
  TCommandRunner(TCliHost& host, THidBackend& platform, TMainLoop& loop, const TOptions& options)
      : Host_(host),
        Options_(options),
        Session_(platform, loop, std::chrono::milliseconds(options.TimeoutMs)) {}

  TExitStatus List() {
    const auto devices = Session_.List();
    if (Options_.Json) {
      Host_.Out() << JsonText(DeviceListJson(devices));
    } else if (devices.empty()) {
      Host_.Err() << "No HID device is present.\n";
    } else {
      Host_.Out() << ListingTable(devices);
    }
    return TExitStatus::Done;
  }

  TExitStatus Read() {
    return ForEachTarget([this](THidDevice* device) {
      const TControllerReading reading = Session_.Read(device);
      if (Options_.Json) return Print(BackupDocument(reading));
      Host_.Out() << ControllerHeading(reading) << ":\n" << SettingsListing(reading.Settings);
      return TExitStatus::Done;
    });
  }

  TExitStatus Get() {
    const TControllerReading reading = Session_.Read(Session_.Targets(Options_.Devices, false)[0]);
    for (const std::string& key : Options_.Arguments) {
      Host_.Out() << SettingText(reading.Settings, key) << '\n';
    }
    return TExitStatus::Done;
  }

  // Reads each controller, applies `change` to what it holds and, unless this is a dry run,
  // writes the result and reads back what the controller holds. A setting read back as neither
  // what was asked for nor what the controller's units make of it was not kept: ECliFailure Io
  // after the output.
  TExitStatus Change(const std::function<void(StairSettings&)>& change) {
    return ForEachTarget([&](THidDevice* device) {
      TChange result;
      result.Before = Session_.Read(device);
      result.Asked = result.Before.Settings;
      change(result.Asked);
      result.DryRun = Options_.DryRun;
      if (result.DryRun) {
        result.Held = SettingsAsKept(result.Asked);
      } else {
        Session_.Write(device, result.Asked);
        result.Held = Session_.Read(device).Settings;
      }
      if (Options_.Json) {
        Print(ChangeJson(result));
      } else {
        Host_.Out() << ChangeText(result);
      }
      if (const std::string keys = NotKept(result); !keys.empty()) {
        throw ECliFailure(TExitStatus::Io, "The controller " + Describe(device) +
                                               " did not keep what was written: " + keys + ".");
      }
      return TExitStatus::Done;
    });
  }

  TExitStatus Diff(const StairSettings& backup) {
    return ForEachTarget([&](THidDevice* device) {
      const TControllerReading reading = Session_.Read(device);
      if (Options_.Json) {
        Print(DiffJson(reading, backup, Options_.File));
      } else {
        Host_.Out() << DiffText(reading, backup, Options_.File);
      }
      return DifferentKeys(backup, reading.Settings).empty() ? TExitStatus::Done
                                                             : TExitStatus::Different;
    });
  }

  // Saves one controller's settings to `destination`, or to standard output without one.
  TExitStatus Backup(TBackupDestination* destination) {
    const TControllerReading reading = Session_.Read(Session_.Targets(Options_.Devices, false)[0]);
    const std::string document = JsonText(BackupDocument(reading));
    if (destination == nullptr) {
      Host_.Out() << document;
    } else {
      destination->Commit(document);
      Saved(reading, Options_.File);
    }
    return TExitStatus::Done;
  }

  // Saves each controller's settings to a file of its own, named after it, in `folder`.
  TExitStatus BackupEach(const std::string& folder) {
    const std::vector<THidDevice*> targets = Session_.Targets(Options_.Devices, Options_.All);
    std::map<THidDevice*, std::string> files;
    for (THidDevice* device : targets) {
      std::string path = folder;
      if (!path.ends_with('/') && !path.ends_with(std::filesystem::path::preferred_separator))
        path += '/';
      path += FileNameOf(Session_.NamesOf(device).Name);
      for (const auto& [other, taken] : files) {
        if (taken == path) {
          throw ECliFailure(TExitStatus::Usage, "The controllers " + Describe(other) + " and " +
                                                    Describe(device) +
                                                    " would be saved to the same file " +
                                                    Escaped(path) + ": save them one by one.");
        }
      }
      files[device] = std::move(path);
    }
    return ForEach(targets, [&](THidDevice* device) {
      const std::string& path = files.at(device);
      const auto destination = TBackupDestination::Open(path);
      const TControllerReading reading = Session_.Read(device);
      destination->Commit(JsonText(BackupDocument(reading)));
      Saved(reading, path);
      return TExitStatus::Done;
    });
  }

  // Shows each device arriving and going from now on: the interfaces present were listed by the
  // first refresh.
  void Watch() {
    THidDeviceController& controller = Session_.HidController();
    controller.SetOnArrival(
        THidPlugEvent([this](THidDevice* device) { Event("arrived", device); }));
    controller.SetOnRemoval(
        THidPlugEvent([this](THidDevice* device) { Event("removed", device); }));
  }

 private:
  TExitStatus Print(const TJson& json) {
    if (Options_.Several()) {
      Printed_.push_back(json);
    } else {
      Host_.Out() << JsonText(json);
    }
    return TExitStatus::Done;
  }

  void Saved(const TControllerReading& reading, const std::string& path) {
    Host_.Err() << "Saved the settings of " << Escaped(reading.Product) << " at "
                << Escaped(reading.Names.Path) << " to " << Escaped(path) << ".\n";
  }

  void Event(std::string_view event, THidDevice* device) {
    const TDeviceListing listing = Session_.Listing(device);
    // A device that went away while it was being looked at is not shown, nor its removal, which
    // follows: nothing true could be said of it.
    if (event == "arrived" && !listing.ReadWrite && IsDeviceGoneError(listing.OpenError)) {
      Unshown_.insert(device);
      return;
    }
    if (event == "removed" && Unshown_.erase(device) != 0) return;
    if (Options_.Json) {
      Host_.Out() << JsonLine(EventJson(event, listing)) << std::flush;
    } else {
      Host_.Out() << event << "  " << ListingRow(listing) << std::endl;
    }
  }

  // Runs `command` on each controller to work on. With several, one that fails is reported and
  // the others are still done; their JSON is printed as one array at the end, of those that did
  // not fail.
  TExitStatus ForEachTarget(const std::function<TExitStatus(THidDevice*)>& command) {
    return ForEach(Session_.Targets(Options_.Devices, Options_.All), command);
  }
  TExitStatus ForEach(const std::vector<THidDevice*>& targets,
                      const std::function<TExitStatus(THidDevice*)>& command) {
    TExitStatus worst = TExitStatus::Done;
    for (THidDevice* device : targets) {
      try {
        worst = std::max(worst, command(device));
      } catch (const ECliFailure& failure) {
        if (!Options_.Several()) throw;
        const TDeviceNames names = Session_.NamesOf(device);
        Tell(Host_, Options_.Json, static_cast<int>(failure.Status()), failure.what(), &names);
        worst = std::max(worst, failure.Status());
      }
    }
    if (Options_.Several() && Options_.Json) Host_.Out() << JsonText(Printed_);
    return worst;
  }

  TCliHost& Host_;
  const TOptions& Options_;
  TControllerSession Session_;
  TJson Printed_ = TJson::array();
  std::set<const THidDevice*> Unshown_;  // arrivals not shown, until their removal
};

// Every command's help is the tool's own (help_text.h), not the parser's.
class THelpFormatter final : public CLI::Formatter {
 public:
  std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const override {
    return HelpText(app->get_parent() != nullptr ? app->get_name() : std::string());
  }
};

// Registers the commands and their options on `app`.
void AddCommands(CLI::App& app, TOptions& options) {
  for (const TCommand& entry : kCommands) {
    CLI::App* command = app.add_subcommand(std::string(entry.Name), std::string(entry.Summary));
    command->callback([&options, name = entry.Name] { options.Command = name; });
    CLI::Option* device = nullptr;
    if ((entry.Options & (kDeviceOption | kOneDeviceOption)) != 0) {
      // One name each time: what follows is the command's own.
      device = command->add_option("--device", options.Devices)
                   ->allow_extra_args(false)
                   ->type_name("NAME");
    }
    if ((entry.Options & kAllOption) != 0) {
      command->add_flag("--all", options.All)->excludes(device);
    }
    if ((entry.Options & kDryRunOption) != 0) command->add_flag("--dry-run", options.DryRun);
    if ((entry.Options & kJsonOption) != 0) command->add_flag("--json", options.Json);
    if (entry.Arguments == "KEY=VALUE..." || entry.Arguments == "KEY...") {
      command
          ->add_option(std::string(entry.Arguments.substr(0, entry.Arguments.size() - 3)),
                       options.Arguments)
          ->required();
    } else if (entry.Arguments == "FILE") {
      command->add_option("FILE", options.File)->required();
    } else if (entry.Arguments == "[COMMAND]") {
      command->add_option("COMMAND", options.HelpTopic);
    }
  }
}

// The words that may stand where `word` does: the options of the command (and the general ones),
// or the commands.
std::vector<std::string_view> Alternatives(const std::string& command, bool option) {
  std::vector<std::string_view> words;
  if (!option) {
    for (const TCommand& entry : kCommands) words.push_back(entry.Name);
    return words;
  }
  words = {"--help", "--version", "--timeout", "--simulate"};
  if (const TCommand* entry = FindCommand(command)) {
    const unsigned options = entry->Options;
    if ((options & (kDeviceOption | kOneDeviceOption)) != 0) words.push_back("--device");
    if ((options & kAllOption) != 0) words.push_back("--all");
    if ((options & kDryRunOption) != 0) words.push_back("--dry-run");
    if ((options & kJsonOption) != 0) words.push_back("--json");
  }
  return words;
}

// What is wrong with a word the parser did not take, and the nearest right one.
std::string UnexpectedWord(const TOptions& options,
                           const std::string& word,
                           const std::vector<std::string>& args) {
  const bool option = word.starts_with('-');
  const std::string known = option ? word.substr(0, word.find('=')) : word;
  const std::string hint = DidYouMean(known, Alternatives(options.Command, option));
  if (option) {
    const std::string where = options.Command.empty() ? "" : " for " + options.Command;
    const std::string help = options.Command.empty() ? "--help" : "help " + options.Command;
    return "Unknown option \"" + Escaped(known) + "\"" + where + hint + ". Run \"glowstep-cli " +
           help + "\" for the options.";
  }
  const bool simulating = std::find(args.begin(), args.end(), "--simulate") != args.end();
  const bool situation = std::any_of(std::begin(kSituations), std::end(kSituations),
                                     [&](const TSituation& s) { return s.Name == word; });
  const std::string simulation =
      simulating && situation ? " A simulation is named as --simulate=" + word + "." : "";
  if (!options.Command.empty()) {
    return "Unexpected argument \"" + Escaped(word) + "\" for " + options.Command + "." +
           simulation + " Run \"glowstep-cli help " + options.Command + "\" for its usage.";
  }
  return "Unknown command \"" + Escaped(word) + "\"" + hint + "." + simulation +
         " Run \"glowstep-cli\" for the list of commands.";
}

// Ends standard output and error: output lost is a failure of its own, told once.
int Finish(TCliHost& host, int status, bool json) {
  const auto lost = host.FinishOut();
  if (lost) {
    status = static_cast<int>(TExitStatus::Io);
    Tell(host, json, status, "Standard output cannot be written: " + *lost + ".");
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

std::optional<std::string> TCliHost::Environment(const std::string& name) {
  const char* value = std::getenv(name.c_str());  // NOLINT(concurrency-mt-unsafe): one thread
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

int RunCli(const std::vector<std::string>& args, TCliHost& host) {
  return Finish(host, RunCommand(args, host), AsksForJson(args));
}

namespace {

// Reads the command line into `options`; an exit status when the tool ends here (help, version,
// usage errors), with what it has to say written out.
std::optional<int> ParseCommandLine(const std::vector<std::string>& args,
                                    TCliHost& host,
                                    TOptions& options) {
  CLI::App app("", "glowstep-cli");
  app.formatter(std::make_shared<THelpFormatter>());
  app.set_help_flag("-h,--help");
  app.set_version_flag("-V,--version", std::string("glowstep-cli ") + GLOWSTEP_VERSION);
  app.add_option("--timeout", options.TimeoutMs)->check(CLI::Range(1, 3600000));
  app.add_flag("--simulate{one}", options.Simulation);
  app.require_subcommand(0, 1);
  app.fallthrough();
  app.allow_extras();
  AddCommands(app, options);

  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    host.Out() << app.help();
    return 0;
  } catch (const CLI::CallForVersion& request) {
    host.Out() << request.what() << '\n';
    return 0;
  } catch (const CLI::ParseError& error) {
    const auto commands = app.get_subcommands();
    const std::string help =
        commands.empty() ? std::string("--help") : "help " + commands.front()->get_name();
    const int status = static_cast<int>(TExitStatus::Usage);
    Tell(host, AsksForJson(args), status,
         std::string(error.what()) + ". Run \"glowstep-cli " + help + "\" for the usage.");
    return status;
  }
  if (!app.remaining().empty()) {
    const int status = static_cast<int>(TExitStatus::Usage);
    Tell(host, AsksForJson(args), status, UnexpectedWord(options, app.remaining().front(), args));
    return status;
  }
  if (options.Command.empty()) {
    host.Out() << UsageText();
    return static_cast<int>(TExitStatus::Usage);
  }
  if (options.Command == "help") {
    if (!options.HelpTopic.empty() && FindCommand(options.HelpTopic) == nullptr) {
      const int status = static_cast<int>(TExitStatus::Usage);
      Tell(host, false, status, UnexpectedWord(TOptions{}, options.HelpTopic, args));
      return status;
    }
    host.Out() << HelpText(options.HelpTopic);
    return 0;
  }
  if (options.Command == "get" && options.Devices.size() > 1) {
    const int status = static_cast<int>(TExitStatus::Usage);
    Tell(host, false, status, "get reads one controller: give --device once.");
    return status;
  }
  return std::nullopt;
}

// Tells a failure that ends the command, at once, and gives its exit status.
int Failed(TCliHost& host, const TOptions& options, const ECliFailure& failure) {
  int status = static_cast<int>(failure.Status());
  // diff's status 1 says the settings differ; a missing controller must not read as that.
  if (options.Command == "diff" && failure.Status() == TExitStatus::NoController)
    status = static_cast<int>(TExitStatus::NoControllerToDiff);
  Tell(host, options.Json, status, failure.what());
  return status;
}

int RunCommand(const std::vector<std::string>& args, TCliHost& host) {
  TOptions options;
  if (const auto status = ParseCommandLine(args, host, options)) return *status;
  const std::string& command = options.Command;
  std::unique_ptr<TSimulatedSystem> simulated;
  int status = 0;
  try {
    // Every change and file is checked before any device is touched.
    StairSettings scratch;
    for (const std::string& argument : options.Arguments) {
      if (command == "write") {
        ApplyAssignment(scratch, argument);
      } else {
        CheckSettingKey(argument);
      }
    }
    std::optional<StairSettings> backup;
    if (command == "restore" || command == "diff")
      backup = ParseBackupDocument(ReadBackupText(options.File, host.In()));
    std::unique_ptr<TBackupDestination> destination;
    if (command == "backup" && options.Several()) {
      if (!std::filesystem::is_directory(options.File)) {
        throw ECliFailure(TExitStatus::Usage,
                          "With several controllers the backup goes to a directory, a file for "
                          "each: " +
                              Escaped(options.File) + " is not a directory.");
      }
    } else if (command == "backup" && options.File != kStandardStream) {
      destination = TBackupDestination::Open(options.File);
    }
    if (!options.Simulation.empty()) {
      simulated =
          std::make_unique<TSimulatedSystem>(options.Simulation, host.Environment(kStateVariable));
    }
    if (command == "keys") {
      host.Out() << (options.Json ? JsonText(KeysJson()) : KeysTable());
      return 0;
    }

    THidBackend* platform = simulated ? &simulated->Platform() : host.NativePlatform();
    if (platform == nullptr) {
      throw ECliFailure(TExitStatus::Io, "The system's HID devices cannot be reached.");
    }
    TMainLoop loop;
    host.Started(loop);
    TCommandRunner runner(host, *platform, loop, options);
    // A failure is told before the runner lets go of the devices: that may wait for the system (a
    // report the controller did not take stays with the kernel until it gives the write up).
    try {
      TExitStatus result = TExitStatus::Done;
      if (command == "list") {
        result = runner.List();
      } else if (command == "read") {
        result = runner.Read();
      } else if (command == "get") {
        result = runner.Get();
      } else if (command == "write") {
        result = runner.Change([&options](StairSettings& settings) {
          for (const std::string& assignment : options.Arguments) {
            ApplyAssignment(settings, assignment);
          }
        });
      } else if (command == "restore") {
        result = runner.Change([&backup](StairSettings& settings) { settings = *backup; });
      } else if (command == "diff") {
        result = runner.Diff(*backup);
      } else if (command == "backup") {
        result =
            options.Several() ? runner.BackupEach(options.File) : runner.Backup(destination.get());
      } else {
        runner.Watch();
        if (!options.Json)
          host.Err() << "Watching for HID devices arriving and going; Ctrl+C ends.\n";
        bool stopped = false;
        if (simulated && simulated->HasEvents()) {
          simulated->PlayEvents(loop, [&stopped] { stopped = true; });
        }
        host.RunUntilStopped(
            loop, [&stopped] { return stopped; }, [&stopped] { stopped = true; });
      }
      status = static_cast<int>(result);
    } catch (const ECliFailure& failure) {
      status = Failed(host, options, failure);
    }
  } catch (const ECliFailure& failure) {
    status = Failed(host, options, failure);
  } catch (const std::exception& failure) {
    // What the system refused underneath (memory, a file, a device object that could not be
    // made) is an I/O error of this run.
    status = static_cast<int>(TExitStatus::Io);
    Tell(host, options.Json, status, failure.what());
  }
  if (simulated) {
    try {
      simulated->Save();
    } catch (const ECliFailure& failure) {
      status = std::max(status, static_cast<int>(failure.Status()));
      Tell(host, options.Json, static_cast<int>(failure.Status()), failure.what());
    }
  }
  return status;
}

}  // namespace

}  // namespace glowstep
