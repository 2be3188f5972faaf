#include "cli/help_text.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "cli/settings_document.h"
#include "cli/simulation.h"

namespace glowstep {

namespace {

constexpr std::size_t kWidth = 80;
constexpr std::size_t kOptionColumn = 22;
constexpr std::string_view kUsage = "Usage: glowstep-cli [OPTIONS] COMMAND [ARGUMENTS]\n";
constexpr std::string_view kReadMore =
    "Run \"glowstep-cli help COMMAND\" for a command's options and \"man glowstep-cli\" for the "
    "manual: the JSON output, the simulations and the exit statuses.";

constexpr std::string_view kToolExamples =
    "glowstep-cli --simulate read\n"
    "glowstep-cli list\n"
    "glowstep-cli write --device GS3-0001 on_time=25\n"
    "glowstep-cli diff --all stairs.json";

// `text` in lines of at most kWidth columns: the first starts with `first`, the others with
// spaces as wide as it, so a list's entries hang under their text.
std::string Wrapped(std::string_view first, std::string_view text) {
  std::string result(first);
  const std::string indent(first.size(), ' ');
  std::size_t column = first.size();
  bool lineEmpty = true;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find(' '), text.size());
    const std::string_view word = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (!lineEmpty && column + 1 + word.size() > kWidth) {
      result += "\n" + indent;
      column = indent.size();
      lineEmpty = true;
    }
    if (!lineEmpty) {
      result += ' ';
      ++column;
    }
    result += word;
    column += word.size();
    lineEmpty = false;
  }
  return result + "\n";
}

// A list entry: `name` in a column `width` wide, then its text.
std::string Entry(std::string_view name, std::size_t width, std::string_view text) {
  std::string first = "  " + std::string(name);
  first.resize(std::max(width, first.size() + 2), ' ');
  return Wrapped(first, text);
}

std::string CommandList() {
  std::string text = "Commands:\n";
  for (const TCommand& command : kCommands) text += Entry(command.Name, 12, command.Summary);
  return text;
}

std::string GeneralOptions() {
  std::string simulations;
  for (const TSituation& situation : kSituations) {
    simulations += (simulations.empty() ? "" : ", ") + std::string(situation.Name);
  }
  return "Options (before or after the command):\n" +
         Entry("-h, --help", kOptionColumn, "show this help, or a command's, and exit") +
         Entry("-V, --version", kOptionColumn, "show the version and exit") +
         Entry("--timeout MS", kOptionColumn,
               "how long each exchange with a controller may take, its request and the "
               "reply, in milliseconds (default 1000)") +
         Entry("--simulate[=WHAT]", kOptionColumn,
               "a simulated system instead of the devices attached: " + simulations +
                   " (one when WHAT is left out)");
}

std::string CommandOptions(unsigned options) {
  std::vector<std::pair<std::string_view, std::string_view>> entries;
  if ((options & kDeviceOption) != 0) {
    entries.emplace_back("--device NAME",
                         "the controller with this path, port or serial number, as \"list\" "
                         "shows them; given more than once, each of them. Without it: the first "
                         "controller found");
  }
  if ((options & kOneDeviceOption) != 0) {
    entries.emplace_back("--device NAME",
                         "the controller with this path, port or serial number, as \"list\" "
                         "shows them. Without it: the first controller found");
  }
  if ((options & kAllOption) != 0) entries.emplace_back("--all", "every controller attached");
  if ((options & kDryRunOption) != 0) {
    entries.emplace_back("--dry-run",
                         "read the controller, show each change and the report that would be "
                         "sent, and write nothing");
  }
  if ((options & kJsonOption) != 0) {
    entries.emplace_back("--json", "as JSON, documented in the manual (JSON OUTPUT)");
  }
  std::string text = "Options:\n";
  for (const auto& [name, about] : entries) text += Entry(name, 17, about);
  return text + "  and the general options of \"glowstep-cli --help\"\n";
}

// The examples, one per line, each indented under the heading.
std::string ExampleList(std::string_view examples) {
  std::string text = "Examples:\n";
  while (!examples.empty()) {
    const std::size_t end = std::min(examples.find('\n'), examples.size());
    text += "  " + std::string(examples.substr(0, end)) + "\n";
    examples.remove_prefix(std::min(end + 1, examples.size()));
  }
  return text;
}

std::string KeyList() {
  std::string text = "Keys:\n";
  for (const std::string_view key : SettingKeyList()) {
    text += Entry(key, 18, std::string(SettingCaption(key)) + ": " + AllowedFor(key));
  }
  return text;
}

}  // namespace

const TCommand* FindCommand(std::string_view name) {
  const auto found = std::find_if(kCommands.begin(), kCommands.end(),
                                  [name](const TCommand& command) { return command.Name == name; });
  return found == kCommands.end() ? nullptr : &*found;
}

std::string UsageText() {
  return std::string(kUsage) + "\n" + CommandList() + "\n" + Wrapped("", kReadMore);
}

std::string HelpText(std::string_view name) {
  const TCommand* command = FindCommand(name);
  if (command == nullptr) {
    return std::string(kUsage) +
           Wrapped("",
                   "Reads, changes, backs up and restores the settings of Glowstep 3 "
                   "staircase-lighting controllers. " +
                       std::string(kReadMore)) +
           "\n" + CommandList() + "\n" + GeneralOptions() + "\n" + ExampleList(kToolExamples);
  }
  std::string usage = "Usage: glowstep-cli " + std::string(command->Name);
  if (command->Options != 0) usage += " [OPTIONS]";
  if (!command->Arguments.empty()) usage += " " + std::string(command->Arguments);
  std::string text = usage + "\n" + Wrapped("", command->About);
  if (command->Options != 0) text += "\n" + CommandOptions(command->Options);
  if (command->Name == "write" || command->Name == "get") text += "\n" + KeyList();
  return text + "\n" + ExampleList(command->Examples);
}

}  // namespace glowstep
