// The udev rule the package installs, read as udev reads it: every key known and used with an
// operator udev accepts for it, and what it gives to whom. Debian 12's udevadm has no `verify`,
// so the keys are checked here.
#include <fnmatch.h>

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "protocol/controller_link.h"

namespace glowstep {
namespace {

struct TRuleKey {
  std::string Name;  // with its {attribute}, if any
  std::string Operator;
  std::string Value;
};

using TRule = std::vector<TRuleKey>;

// One line of `KEY[{attribute}] OPERATOR "value"` pairs separated by commas, as udev parses it;
// nullopt for anything udev would refuse or read differently.
std::optional<TRule> ParseLine(const std::string& line) {
  TRule rule;
  std::size_t at = 0;
  auto skipSpace = [&] {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
  };
  for (;;) {
    skipSpace();
    TRuleKey key;
    while (at < line.size() && (std::isupper(static_cast<unsigned char>(line[at])) != 0))
      key.Name += line[at++];
    if (key.Name.empty()) return std::nullopt;
    if (at < line.size() && line[at] == '{') {
      const std::size_t close = line.find('}', at);
      if (close == std::string::npos || close == at + 1) return std::nullopt;
      key.Name += line.substr(at, close - at + 1);
      at = close + 1;
    }
    skipSpace();
    for (const char* op : {"==", "!=", "+=", "-=", ":=", "="}) {
      if (line.compare(at, std::char_traits<char>::length(op), op) == 0) {
        key.Operator = op;
        at += key.Operator.size();
        break;
      }
    }
    if (key.Operator.empty()) return std::nullopt;
    skipSpace();
    if (at >= line.size() || line[at] != '"') return std::nullopt;
    const std::size_t close = line.find('"', at + 1);
    if (close == std::string::npos) return std::nullopt;
    key.Value = line.substr(at + 1, close - at - 1);
    at = close + 1;
    rule.push_back(key);
    skipSpace();
    if (at == line.size()) return rule;
    if (line[at] != ',') return std::nullopt;
    ++at;
  }
}

std::vector<TRule> ReadRules(const std::string& path) {
  std::ifstream file(path);
  EXPECT_TRUE(file) << path;
  std::vector<TRule> rules;
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#') continue;
    EXPECT_NE(line.back(), '\\') << "a continued line: " << line;
    const std::optional<TRule> rule = ParseLine(line);
    EXPECT_TRUE(rule.has_value()) << "udev would not read: " << line;
    if (rule) rules.push_back(*rule);
  }
  return rules;
}

std::string BaseName(const std::string& key) { return key.substr(0, key.find('{')); }

TEST(UdevRuleParser, RefusesWhatUdevWouldNotRead) {
  EXPECT_TRUE(ParseLine(R"(SUBSYSTEM=="hidraw", MODE="0660")").has_value());
  EXPECT_TRUE(ParseLine(R"(ATTRS{product}=="*x*",TAG+="uaccess")").has_value());
  EXPECT_FALSE(ParseLine(R"(SUBSYSTEM==hidraw)").has_value());
  EXPECT_FALSE(ParseLine(R"(SUBSYSTEM=="hidraw" MODE="0660")").has_value());
  EXPECT_FALSE(ParseLine(R"(SUBSYSTEM~"hidraw")").has_value());
  EXPECT_FALSE(ParseLine(R"(ATTRS{}=="x")").has_value());
  EXPECT_FALSE(ParseLine(R"(MODE="0660)").has_value());
  EXPECT_FALSE(ParseLine(R"(subsystem=="hidraw")").has_value());
  EXPECT_FALSE(ParseLine(R"(SUBSYSTEM=="hidraw",)").has_value());
}

TEST(UdevRule, UsesOnlyKeysUdevKnowsWithTheirOperators) {
  const std::set<std::string> matchOnly = {"SUBSYSTEM", "SUBSYSTEMS", "KERNEL",  "KERNELS",
                                           "ATTR",      "ATTRS",      "DRIVERS", "ACTION"};
  const std::map<std::string, std::set<std::string>> assignments = {
      {"GROUP", {"=", ":="}}, {"MODE", {"=", ":="}}, {"TAG", {"+=", "-=", "="}}};
  const std::vector<TRule> rules = ReadRules(GLOWSTEP_UDEV_RULE);
  ASSERT_FALSE(rules.empty());
  for (const TRule& rule : rules) {
    for (const TRuleKey& key : rule) {
      const std::string name = BaseName(key.Name);
      if (matchOnly.count(name) != 0) {
        EXPECT_TRUE(key.Operator == "==" || key.Operator == "!=") << key.Name << key.Operator;
      } else {
        ASSERT_EQ(assignments.count(name), 1U) << "unknown or unexpected key " << key.Name;
        EXPECT_EQ(assignments.at(name).count(key.Operator), 1U) << key.Name << key.Operator;
      }
    }
  }
}

TEST(UdevRule, GivesTheControllersNodeToTheSeatAndToPlugdevAndToNobodyElse) {
  const std::vector<TRule> rules = ReadRules(GLOWSTEP_UDEV_RULE);
  ASSERT_EQ(rules.size(), 1U);
  std::map<std::string, std::string> keys;
  for (const TRuleKey& key : rules[0]) keys[key.Name + key.Operator] = key.Value;

  // Only hidraw nodes of USB devices, and only the controller's by its product string.
  EXPECT_EQ(keys["SUBSYSTEM=="], "hidraw");
  EXPECT_EQ(keys["KERNEL=="], "hidraw*");
  EXPECT_EQ(keys["SUBSYSTEMS=="], "usb");
  ASSERT_EQ(keys.count("ATTRS{product}=="), 1U);

  EXPECT_EQ(keys["TAG+="], "uaccess");
  EXPECT_EQ(keys["GROUP="], "plugdev");
  EXPECT_EQ(keys["MODE="], "0660");
  EXPECT_EQ(keys.count("OWNER="), 0U);
  // Read and write for owner and group; nothing for others.
  const unsigned long mode = std::stoul(keys["MODE="], nullptr, 8);
  EXPECT_EQ(mode & 07U, 0U);
}

TEST(UdevRule, MatchesTheProductsTheProgramTakesAndNoOthers) {
  const std::vector<TRule> rules = ReadRules(GLOWSTEP_UDEV_RULE);
  ASSERT_EQ(rules.size(), 1U);
  std::string pattern;
  for (const TRuleKey& key : rules[0])
    if (key.Name == "ATTRS{product}") pattern = key.Value;
  ASSERT_FALSE(pattern.empty());
  // udev's patterns are shell globs; this one has no '|' alternatives.
  ASSERT_EQ(pattern.find('|'), std::string::npos);
  for (const std::string product :
       {"Glowstep 3", "Glowstep 3.2", "Glowstep 3 v1.2", "My Glowstep 3", "Glowstep 2",
        "glowstep 3", "Glowstep3", "USB Keyboard", "", "Glowstep 30"}) {
    const bool ruleMatches = fnmatch(pattern.c_str(), product.c_str(), 0) == 0;
    EXPECT_EQ(ruleMatches, IsControllerProduct(product)) << '"' << product << '"';
  }
}

}  // namespace
}  // namespace glowstep
