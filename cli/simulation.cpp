#include "cli/simulation.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "cli/backup_file.h"
#include "cli/controller_session.h"
#include "cli/escaped_text.h"
#include "cli/settings_document.h"

namespace glowstep {

namespace {

constexpr std::string_view kStateFormat = "glowstep-simulation";
constexpr int kStateVersion = 1;

TSimInterfaceSpec ControllerSpec(std::u16string product, std::string port, std::string serial) {
  TSimInterfaceSpec setup;
  setup.ProductString = std::move(product);
  setup.PortName = std::move(port);
  setup.SerialNumber = std::move(serial);
  return setup;
}

std::string Hex(const TVirtualStaircaseController::TSettings& settings) {
  std::string text;
  for (const std::uint8_t byte : settings) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", byte);
    text += digits;
  }
  return text;
}

std::optional<TVirtualStaircaseController::TSettings> FromHex(std::string_view text) {
  TVirtualStaircaseController::TSettings settings{};
  if (text.size() != settings.size() * 2) return std::nullopt;
  for (std::size_t i = 0; i < settings.size(); ++i) {
    unsigned value = 0;
    for (const char digit : text.substr(i * 2, 2)) {
      const auto at = std::string_view("0123456789abcdef").find(digit);
      if (at == std::string_view::npos) return std::nullopt;
      value = value * 16 + static_cast<unsigned>(at);
    }
    settings[i] = static_cast<std::uint8_t>(value);
  }
  return settings;
}

}  // namespace

TSimulatedSystem::TSimulatedSystem(std::string_view situation, std::optional<std::string> stateFile)
    : Situation_(situation), StateFile_(std::move(stateFile)) {
  const auto known = std::find_if(std::begin(kSituations), std::end(kSituations),
                                  [&](const TSituation& s) { return s.Name == situation; });
  if (known == std::end(kSituations)) {
    std::string names;
    for (const TSituation& s : kSituations)
      names += (names.empty() ? "" : ", ") + std::string(s.Name);
    throw ECliFailure(TExitStatus::Usage, "Unknown simulation \"" + Escaped(situation) +
                                              "\": the simulations are " + names + ".");
  }
  LoadState();

  if (situation != "none") {
    Controllers_.push_back(
        {ControllerSpec(u"Glowstep 3.2", "usb-0000:00:14.0-1/input0", "GS3-0001"), nullptr, {}, 0});
  }
  if (situation == "two") {
    Controllers_.push_back(
        {ControllerSpec(u"Glowstep 3.1", "usb-0000:00:14.0-2/input0", ""), nullptr, {}, 0});
  }
  for (TController& controller : Controllers_) {
    if (situation != "silent") {
      controller.Behaviour = std::make_shared<TVirtualStaircaseController>();
      if (const auto kept = State_.find(controller.Setup.PortName); kept != State_.end()) {
        controller.Behaviour->SetSettings(*FromHex(kept->second));
      }
      controller.Behaviour->SetDropWrites(situation == "deaf");
      controller.Loaded = controller.Behaviour->Settings();
      controller.Setup.Behaviour = controller.Behaviour;
    }
    if (situation == "refused") {
      controller.Setup.Faults.RefuseReadWrite = true;
      controller.Setup.Faults.AccessReason = THidAccessReason::NotInPlugdev;
    }
    controller.Id = Sim_.Plug(controller.Setup);
  }

  TSimInterfaceSpec keyboard;
  keyboard.ProductString = u"USB Keyboard";
  keyboard.PortName = "usb-0000:00:14.0-3/input0";
  keyboard.Attributes = THidAttributes{12, 0x2A4C, 0x0101, 0x0110};
  keyboard.InputReportLength = 9;
  keyboard.OutputReportLength = 2;
  keyboard.Faults.RefuseReadWrite = true;
  Sim_.Plug(keyboard);
}

void TSimulatedSystem::LoadState() {
  if (!StateFile_) return;
  const std::string& path = *StateFile_;
  std::ifstream file(path, std::ios::binary);
  if (!file) return;  // nothing kept yet: every controller starts factory-fresh
  std::string text(kMaxBackupSize + 1, '\0');
  file.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(file.gcount()));
  const auto refuse = [&path](const std::string& why) {
    return ECliFailure(TExitStatus::Usage, "The simulation's state file " + Escaped(path) +
                                               " (GLOWSTEP_SIMULATE_STATE) cannot be used: " + why +
                                               ". Remove it to start afresh.");
  };
  if (text.size() > kMaxBackupSize) throw refuse("it is too large");
  const TJson state = TJson::parse(text, nullptr, false);
  const auto has = [&state](const char* key, TJson::value_t type) {
    return state.contains(key) && state[key].type() == type;
  };
  if (!state.is_object() || !has("format", TJson::value_t::string) ||
      state["format"] != kStateFormat || !has("version", TJson::value_t::number_unsigned) ||
      state["version"] != kStateVersion || !has("controllers", TJson::value_t::object)) {
    throw refuse("it is not a \"" + std::string(kStateFormat) + "\" document of version " +
                 std::to_string(kStateVersion));
  }
  for (const auto& [port, settings] : state["controllers"].items()) {
    if (!settings.is_string() || !FromHex(settings.get<std::string>()))
      throw refuse("the settings kept for \"" + Escaped(port) + "\" are malformed");
    State_[port] = settings.get<std::string>();
  }
}

bool TSimulatedSystem::HasEvents() const { return Situation_ == "replug"; }

void TSimulatedSystem::PlayEvents(TMainLoop& loop, std::function<void()> ended) {
  if (!HasEvents()) return;
  // Each step runs once the loop has handled the device change of the one before.
  loop.Post([this, &loop, ended = std::move(ended)] {
    TController& controller = Controllers_.front();
    Sim_.Unplug(controller.Id);
    loop.Post([this, &loop, &controller, ended] {
      controller.Id = Sim_.Plug(controller.Setup);
      loop.Post(ended);
    });
  });
}

void TSimulatedSystem::Save() {
  if (!StateFile_) return;
  bool changed = false;
  for (const TController& controller : Controllers_) {
    if (!controller.Behaviour || controller.Behaviour->Settings() == controller.Loaded) continue;
    State_[controller.Setup.PortName] = Hex(controller.Behaviour->Settings());
    changed = true;
  }
  if (!changed) return;
  TJson state = TJson::object();
  state["format"] = kStateFormat;
  state["version"] = kStateVersion;
  state["controllers"] = TJson::object();
  for (const auto& [port, settings] : State_) state["controllers"][port] = settings;
  try {
    TBackupDestination::Open(*StateFile_)->Commit(JsonText(state));
  } catch (const ECliFailure& failure) {
    throw ECliFailure(TExitStatus::Io,
                      "The simulated settings were not kept: " + std::string(failure.what()));
  }
}

}  // namespace glowstep
