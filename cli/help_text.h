// The tool's commands and the help it gives about them, at most 80 columns wide. The same table
// decides which options each command takes.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace glowstep {

// The options a command takes besides the general ones.
enum TCommandOption : unsigned {
  kDeviceOption = 1,     // --device NAME, as often as wanted
  kOneDeviceOption = 2,  // --device NAME, once
  kAllOption = 4,        // --all
  kJsonOption = 8,       // --json
  kDryRunOption = 16,    // --dry-run
};

struct TCommand {
  std::string_view Name;
  std::string_view Summary;    // one line in the list of commands
  std::string_view Arguments;  // what follows the options in the usage line
  std::string_view About;      // what it does, for its help
  unsigned Options = 0;
  // Command lines that work, one per line, for its help and the manual. Those without shell
  // syntax run against every simulation in the tests.
  std::string_view Examples;
};

inline constexpr std::array<TCommand, 10> kCommands = {{
    {"list", "every HID device present, and the names to pick a controller by", "",
     "Lists every HID device present: its path, which may change at the next plug; its port and "
     "serial number, which do not (\"-\" where it has none); its vendor and product id; the "
     "firmware version of a staircase controller; and whether this user may open it, with the "
     "reason and the fix where not.",
     kJsonOption,
     "glowstep-cli list\n"
     "glowstep-cli list --json"},
    {"read", "show the settings a controller holds", "",
     "Shows the settings a controller holds, in the units the window shows. With --json the "
     "document is a backup file, which \"restore -\" takes.",
     kDeviceOption | kAllOption | kJsonOption,
     "glowstep-cli read\n"
     "glowstep-cli read --device usb-0000:00:14.0-1/input0\n"
     "glowstep-cli read --all --json"},
    {"get", "print the bare values of settings, one per line", "KEY...",
     "Prints the value of each key given, as \"read\" shows it but without the unit, one per "
     "line: for $(glowstep-cli get on_time) in a script.",
     kOneDeviceOption,
     "glowstep-cli get stairs on_time\n"
     "seconds=$(glowstep-cli get --device GS3-0001 on_time)"},
    {"write", "change settings: KEY=VALUE ...", "KEY=VALUE...",
     "Reads the settings, changes the keys given, writes them, reads them back and shows what the "
     "controller holds. A value the controller keeps in its own units is noted with what was "
     "asked for; any other difference means the write was not kept (exit status 4). A value that "
     "is not allowed is refused before anything is written.",
     kDeviceOption | kAllOption | kDryRunOption | kJsonOption,
     "glowstep-cli write on_time=25 sensor_time=0.5 main_colour=#FF8000\n"
     "glowstep-cli write --dry-run stairs=12\n"
     "glowstep-cli write --all standby_leds=2"},
    {"diff", "compare a backup file with what a controller holds", "FILE",
     "Compares the settings of a backup file (\"-\": standard input) with those the controller "
     "holds, as the controller holds them: the case of a colour's letters and what the "
     "controller's own units make of a value do not count. Exit status 0: the same, 1: "
     "different, 2 and above: an error, 5 among them when no controller is attached.",
     kDeviceOption | kAllOption | kJsonOption,
     "glowstep-cli diff stairs.json\n"
     "glowstep-cli diff --all --json stairs.json"},
    {"backup", "save a controller's settings to a JSON file", "FILE",
     "Saves the settings to FILE as a backup (\"-\": standard output), replacing a file whole. "
     "With --all or more than one --device, FILE is a directory, and each controller's backup "
     "in it is named after the controller (NAME.json, NAME as \"list --json\" gives it).",
     kDeviceOption | kAllOption,
     "glowstep-cli backup stairs.json\n"
     "glowstep-cli backup --all backups"},
    {"restore", "write the settings of a backup file to a controller", "FILE",
     "Writes the settings of a backup file (\"-\": standard input) to the controller, reads them "
     "back and shows what it holds, as \"write\" does. The file is checked whole before "
     "anything is written.",
     kDeviceOption | kAllOption | kDryRunOption | kJsonOption,
     "glowstep-cli restore --dry-run stairs.json\n"
     "glowstep-cli restore --all stairs.json\n"
     "glowstep-cli read --json --device GS3-0001 | glowstep-cli restore --all -"},
    {"keys", "every setting with its range, unit and factory value", "",
     "Lists every setting: its key, type, range, step, unit, the value of a factory-fresh "
     "controller and what it is.",
     kJsonOption,
     "glowstep-cli keys\n"
     "glowstep-cli keys --json"},
    {"watch", "show devices arriving and going until Ctrl+C", "",
     "Shows each HID device arriving and going, as it happens, until Ctrl+C. With --json each "
     "event is one JSON object on a line of its own, written out at once.",
     kJsonOption,
     "glowstep-cli watch --json\n"
     "glowstep-cli --simulate=replug watch"},
    {"help", "show the help of the tool or of a command", "[COMMAND]",
     "Shows the help of COMMAND, or of the tool.", 0, "glowstep-cli help write"},
}};

// The command named, or none.
const TCommand* FindCommand(std::string_view name);

// What a bare "glowstep-cli" prints: the commands, and where to read more.
std::string UsageText();
// The help of `command` (empty: of the tool).
std::string HelpText(std::string_view command);

}  // namespace glowstep
