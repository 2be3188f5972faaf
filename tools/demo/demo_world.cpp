#include "demo_world.h"

#include "numbers.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <sstream>

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
    "reply [@<id>] <hex bytes> what the controller replies from now on (report bytes from 0)",
    "list                      the devices",
    "quit                      end the demo",
};

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

bool ParseNumber(const std::string& text, std::uint32_t& value) {
  if (text.empty() || !std::all_of(text.begin(), text.end(), ::isdigit) || text.size() > 9) {
    return false;
  }
  value = static_cast<std::uint32_t>(std::stoul(text));
  return true;
}

bool ParseHexByte(const std::string& text, std::uint8_t& byte) {
  if (text.empty() || text.size() > 2 || !std::all_of(text.begin(), text.end(), ::isxdigit)) {
    return false;
  }
  byte = static_cast<std::uint8_t>(std::stoul(text, nullptr, 16));
  return true;
}

}  // namespace

// Passes the reports on to the virtual controller and writes both directions to the log.
class TDemoWorld::TLoggingBehaviour final : public TSimBehaviour {
 public:
  TLoggingBehaviour(TDemoWorld& world, std::shared_ptr<TSimBehaviour> inner)
      : World_(world), Inner_(std::move(inner)) {}

  void SetId(TSimPlatform::TInterfaceId id) { Id_ = id; }

  std::vector<std::vector<std::uint8_t>> OutputReport(
      std::span<const std::uint8_t> report) override {
    World_.Write("out " + std::to_string(Id_) + " " +
                 HexBytes(std::vector<std::uint8_t>(report.begin(), report.end())));
    std::vector<std::vector<std::uint8_t>> replies;
    if (Inner_) replies = Inner_->OutputReport(report);
    for (const auto& reply : replies)
      World_.Write("in " + std::to_string(Id_) + " " + HexBytes(reply));
    return replies;
  }

 private:
  TDemoWorld& World_;
  std::atomic<TSimPlatform::TInterfaceId> Id_{0};
  std::shared_ptr<TSimBehaviour> Inner_;
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
  auto logging = std::make_shared<TLoggingBehaviour>(*this, device.Staircase);
  setup.Behaviour = logging;
  const TSimPlatform::TInterfaceId id = Platform_.Plug(setup);
  // Reports reach the behaviour only after the window has seen the device, which happens on
  // this (the main) thread after this command: the identity is in place by then.
  logging->SetId(id);
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
  const std::vector<std::string> words = Words(line);
  if (words.empty()) return true;
  const std::string& command = words[0];
  if (command == "quit" || command == "exit") return false;
  if (command == "help") {
    for (const char* text : kHelp) Write(text);
  } else if (command == "plug") {
    const auto at = line.find("plug") + 4;
    std::string product = line.substr(std::min(at, line.size()));
    product.erase(0, product.find_first_not_of(' '));
    if (product.empty()) {
      Write("error: plug needs a product string");
      return true;
    }
    const auto id = Plug(product);
    Write("plugged " + std::to_string(id) + " " + Devices_[id].Path + " " + product);
  } else if (command == "unplug") {
    std::uint32_t id = 0;
    if (words.size() != 2 || !ParseNumber(words[1], id) || !Platform_.Unplug(id)) {
      Write("error: no plugged device " + (words.size() > 1 ? words[1] : std::string()));
      return true;
    }
    Devices_[id].Plugged = false;
    Write("unplugged " + std::to_string(id));
  } else if (command == "reply") {
    Reply(words);
  } else if (command == "list") {
    List();
  } else {
    Write("error: unknown command " + command + " (try help)");
  }
  return true;
}

void TDemoWorld::Reply(const std::vector<std::string>& words) {
  std::size_t first = 1;
  std::shared_ptr<TVirtualStaircaseController> staircase;
  std::uint32_t id = 0;
  // "reply @2 00 72 ..." names the device; without it, the first controller still plugged in.
  if (words.size() > 1 && words[1].size() > 1 && words[1][0] == '@') {
    if (!ParseNumber(words[1].substr(1), id)) {
      Write("error: not a device number: " + words[1]);
      return;
    }
    first = 2;
  }
  if (first == 2) {
    staircase = Controller(id);
  } else {
    for (const auto& [deviceId, device] : Devices_) {
      if (device.Staircase && device.Plugged) {
        staircase = device.Staircase;
        id = deviceId;
        break;
      }
    }
  }
  if (!staircase) {
    Write("error: no staircase controller to reply from");
    return;
  }
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = first; i < words.size(); ++i) {
    std::uint8_t byte = 0;
    if (!ParseHexByte(words[i], byte)) {
      Write("error: not a hex byte: " + words[i]);
      return;
    }
    bytes.push_back(byte);
  }
  constexpr std::size_t kBegin = TVirtualStaircaseController::kSettingsBegin;
  constexpr std::size_t kSize = TVirtualStaircaseController::kSettingsSize;
  if (bytes.size() < kBegin + kSize || bytes.size() > TVirtualStaircaseController::kReportSize) {
    Write("error: a reply has 21 to 65 bytes (report ID, command, 19 settings bytes, ...)");
    return;
  }
  TVirtualStaircaseController::TSettings settings{};
  std::copy_n(bytes.begin() + kBegin, kSize, settings.begin());
  staircase->SetSettings(settings);
  Write("reply " + std::to_string(id) + " set");
}

void TDemoWorld::List() const {
  for (const auto& [id, device] : Devices_) {
    Write(std::to_string(id) + " " + (device.Plugged ? "plugged" : "unplugged") + " " +
          device.Path + " " + device.Product);
  }
}

}  // namespace glowstep
