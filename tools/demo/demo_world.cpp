#include "tools/demo/demo_world.h"

#include "base/numbers.h"
#include "protocol/settings_codec.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>

namespace glowstep {

std::string HexBytes(const std::vector<std::uint8_t>& bytes) {
  std::string out;
  char pair[4];
  for (const std::uint8_t byte : bytes) {
    std::snprintf(pair, sizeof pair, "%02X", byte);
    if (!out.empty()) out += ' ';
    out += pair;
  }
  return out;
}

namespace {

constexpr const char* kHelp[] = {
    "plug <product string>     plug a device (\"Glowstep 3...\" is a staircase controller)",
    "unplug <id>               unplug a device",
    "reply [@<id>] <hex bytes> the report the controller answers with from now on: 21 to 65",
    "                          bytes from byte 0, zeros after them; a write replaces bytes 2-20",
    "list                      the devices",
    "help                      this list",
    "quit, exit                end the demo",
};

constexpr const char* kBlanks = " \t\r\f\v";

constexpr std::size_t kReportSize = TVirtualStaircaseController::kReportSize;
constexpr std::size_t kSettingsEnd = kSettingsBegin + kSettingsSize;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// The line as it can be shown on one line of text: a NUL byte as "\0".
std::string Printable(const std::string& line) {
  std::string out;
  for (const char c : line) {
    if (c == '\0') {
      out += "\\0";
    } else {
      out += c;
    }
  }
  return out;
}

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  for (std::size_t begin = line.find_first_not_of(kBlanks); begin != std::string::npos;) {
    const std::size_t end = line.find_first_of(kBlanks, begin);
    words.push_back(line.substr(begin, end - begin));
    begin = line.find_first_not_of(kBlanks, end);
  }
  return words;
}

bool ParseNumber(const std::string& text, std::uint32_t& value) {
  if (text.empty() || !std::all_of(text.begin(), text.end(), IsDigit) || text.size() > 9) {
    return false;
  }
  value = static_cast<std::uint32_t>(std::stoul(text));
  return true;
}

bool ParseHexByte(const std::string& text, std::uint8_t& byte) {
  if (text.empty() || text.size() > 2 || !std::all_of(text.begin(), text.end(), IsHexDigit)) {
    return false;
  }
  byte = static_cast<std::uint8_t>(std::stoul(text, nullptr, 16));
  return true;
}

}  // namespace

// Passes the reports on to the virtual controller and writes both directions to the log. Once
// a reply was given, the controller's answers are that report, with the settings the controller
// holds (the given ones until a write replaces them) in their place.
class TDemoWorld::TDeviceBehaviour final : public TSimBehaviour {
 public:
  TDeviceBehaviour(TDemoWorld& world, std::shared_ptr<TVirtualStaircaseController> inner)
      : World_(world), Inner_(std::move(inner)) {}

  void SetId(TSimPlatform::TInterfaceId id) { Id_ = id; }

  // `report` has the full report size.
  void SetReply(std::vector<std::uint8_t> report) {
    TVirtualStaircaseController::TSettings held{};
    std::copy(report.begin() + kSettingsBegin, report.begin() + kSettingsEnd, held.begin());
    const std::lock_guard lock(Lock_);
    Inner_->SetSettings(held);
    Reply_ = std::move(report);
  }

  std::vector<std::vector<std::uint8_t>> OutputReport(
      std::span<const std::uint8_t> report) override {
    World_.Write("out " + std::to_string(Id_) + " " +
                 HexBytes(std::vector<std::uint8_t>(report.begin(), report.end())));
    std::vector<std::vector<std::uint8_t>> replies;
    if (Inner_) replies = Inner_->OutputReport(report);
    {
      const std::lock_guard lock(Lock_);
      if (!Reply_.empty()) {
        for (auto& reply : replies) {
          if (reply.size() != kReportSize) continue;
          std::vector<std::uint8_t> framed = Reply_;
          std::copy(reply.begin() + kSettingsBegin, reply.begin() + kSettingsEnd,
                    framed.begin() + kSettingsBegin);
          reply = std::move(framed);
        }
      }
    }
    for (const auto& reply : replies)
      World_.Write("in " + std::to_string(Id_) + " " + HexBytes(reply));
    return replies;
  }

 private:
  TDemoWorld& World_;
  std::atomic<TSimPlatform::TInterfaceId> Id_{0};
  std::shared_ptr<TVirtualStaircaseController> Inner_;
  std::mutex Lock_;
  std::vector<std::uint8_t> Reply_;  // empty until a reply is given
};

TDemoWorld::TDemoWorld(TWriter writer) : Writer_(std::move(writer)) {}

TSimPlatform::TInterfaceId TDemoWorld::Plug(const std::string& product) {
  TDevice device;
  device.Product = product;
  if (product.find("Glowstep 3") != std::string::npos) {
    device.Staircase = std::make_shared<TVirtualStaircaseController>();
  }
  TSimInterfaceSpec setup;
  setup.ProductString = FromUtf8(product);
  device.Behaviour = std::make_shared<TDeviceBehaviour>(*this, device.Staircase);
  setup.Behaviour = device.Behaviour;
  const TSimPlatform::TInterfaceId id = Platform_.Plug(setup);
  // Reports reach the behaviour only after the window has seen the device, which happens on
  // this (the main) thread after this command: the identity is in place by then.
  device.Behaviour->SetId(id);
  device.Path = Platform_.PathOf(id);
  Devices_[id] = device;
  return id;
}

std::shared_ptr<TVirtualStaircaseController> TDemoWorld::Controller(
    TSimPlatform::TInterfaceId id) const {
  const auto it = Devices_.find(id);
  return it == Devices_.end() ? nullptr : it->second.Staircase;
}

bool TDemoWorld::Execute(const std::string& line) {
  if (const auto nul = line.find('\0'); nul != std::string::npos) {
    Write("error: the line has a NUL byte (at " + std::to_string(nul) +
          ") and is ignored: " + Printable(line));
    return true;
  }
  const std::vector<std::string> words = Words(line);
  if (words.empty()) return true;
  const std::string& command = words[0];
  if (command == "quit" || command == "exit") return false;
  if (command == "help") {
    for (const char* text : kHelp) Write(text);
  } else if (command == "plug") {
    std::string product = line.substr(line.find("plug") + 4);
    product.erase(0, product.find_first_not_of(kBlanks));
    product.erase(product.find_last_not_of(kBlanks) + 1);
    if (product.empty()) {
      Write("error: plug needs a product string");
      return true;
    }
    const auto id = Plug(product);
    Write("plugged " + std::to_string(id) + " " + Devices_[id].Path + " " + product);
  } else if (command == "unplug") {
    Unplug(words);
  } else if (command == "reply") {
    Reply(words);
  } else if (command == "list") {
    List();
  } else {
    Write("error: unknown command " + command + " (try help)");
  }
  return true;
}

void TDemoWorld::Unplug(const std::vector<std::string>& words) {
  if (words.size() < 2) {
    Write("error: unplug needs a device id");
    return;
  }
  if (words.size() > 2) {
    Write("error: unplug takes one device id, not " + std::to_string(words.size() - 1) + " words");
    return;
  }
  std::uint32_t id = 0;
  if (!ParseNumber(words[1], id)) {
    Write("error: not a device id: " + words[1]);
    return;
  }
  const auto it = Devices_.find(id);
  if (it == Devices_.end() || !it->second.Plugged || !Platform_.Unplug(id)) {
    Write("error: no plugged device " + words[1]);
    return;
  }
  it->second.Plugged = false;
  Write("unplugged " + std::to_string(id));
}

void TDemoWorld::Reply(const std::vector<std::string>& words) {
  std::size_t first = 1;
  const TDevice* device = nullptr;
  std::uint32_t id = 0;
  // "reply @2 00 72 ..." names the device; without it, the first controller still plugged in.
  if (words.size() > 1 && words[1].size() > 1 && words[1][0] == '@') {
    if (!ParseNumber(words[1].substr(1), id)) {
      Write("error: not a device id: " + words[1]);
      return;
    }
    first = 2;
    const auto it = Devices_.find(id);
    if (it == Devices_.end() || !it->second.Staircase) {
      Write("error: device " + std::to_string(id) + " is not a staircase controller");
      return;
    }
    device = &it->second;
  } else {
    for (const auto& [deviceId, candidate] : Devices_) {
      if (candidate.Staircase && candidate.Plugged) {
        device = &candidate;
        id = deviceId;
        break;
      }
    }
    if (device == nullptr) {
      Write("error: no staircase controller is plugged in");
      return;
    }
  }
  std::vector<std::uint8_t> report;
  for (std::size_t i = first; i < words.size(); ++i) {
    std::uint8_t byte = 0;
    if (!ParseHexByte(words[i], byte)) {
      Write("error: not a hex byte: " + words[i]);
      return;
    }
    report.push_back(byte);
  }
  if (report.size() < kSettingsEnd || report.size() > kReportSize) {
    Write("error: a reply has " + std::to_string(kSettingsEnd) + " to " +
          std::to_string(kReportSize) + " bytes, not " + std::to_string(report.size()));
    return;
  }
  report.resize(kReportSize, 0);
  device->Behaviour->SetReply(std::move(report));
  Write("reply " + std::to_string(id) + " set");
}

void TDemoWorld::List() const {
  for (const auto& [id, device] : Devices_) {
    Write(std::to_string(id) + " " + (device.Plugged ? "plugged" : "unplugged") + " " +
          device.Path + " " + device.Product);
  }
}

}  // namespace glowstep
