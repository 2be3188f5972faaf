// The simulated systems of --simulate: scripts try their paths, the failing ones too, without a
// controller. Each situation is a small device tree of virtual controllers beside one other HID
// device; the controllers' settings can be kept from run to run in a state file.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hid/main_loop.h"
#include "hid/platform/sim/sim_platform.h"
#include "testing/virtual_staircase_controller.h"

namespace glowstep {

struct TSituation {
  std::string_view Name;
  std::string_view Summary;  // for the help and the manual
};

inline constexpr TSituation kSituations[] = {
    {"one", "a controller \"Glowstep 3.2\" (the default)"},
    {"two", "two controllers, the second without a serial number"},
    {"none", "no controller, only a keyboard"},
    {"silent", "a controller that never answers"},
    {"refused", "a controller this user may not open"},
    {"deaf", "a controller that answers but keeps nothing written"},
    {"replug", "\"watch\" sees the controller unplugged and plugged in again"},
};

class TSimulatedSystem {
 public:
  // The situation named, its controllers holding what `stateFile` (if any, and once it exists)
  // kept for them. ECliFailure Usage for another name or a state file that cannot be read.
  TSimulatedSystem(std::string_view situation, std::optional<std::string> stateFile);
  TSimulatedSystem(const TSimulatedSystem&) = delete;
  TSimulatedSystem& operator=(const TSimulatedSystem&) = delete;

  THidBackend& Platform() { return Sim_; }

  // Whether "watch" has something to see: it then calls `ended` once all of it happened.
  bool HasEvents() const;
  void PlayEvents(TMainLoop& loop, std::function<void()> ended);

  // Keeps the controllers' settings in the state file when one of them changed. ECliFailure Io
  // when the file cannot be written.
  void Save();

 private:
  struct TController {
    TSimInterfaceSpec Setup;
    std::shared_ptr<TVirtualStaircaseController> Behaviour;
    TVirtualStaircaseController::TSettings Loaded{};
    TSimPlatform::TInterfaceId Id = 0;
  };

  void LoadState();

  TSimPlatform Sim_;
  std::string Situation_;
  std::optional<std::string> StateFile_;
  std::map<std::string, std::string> State_;  // port name: the settings bytes in hexadecimal
  std::vector<TController> Controllers_;
};

}  // namespace glowstep
