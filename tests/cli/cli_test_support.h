// The command-line tool run in-process on a simulated device tree: its output captured, its
// exit status returned, and the tree changed from the tool's own main loop while it runs.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "hid/main_loop.h"
#include "hid/platform/sim/sim_platform.h"
#include "testing/virtual_staircase_controller.h"

namespace glowstep::testing {

class TTestHost final : public TCliHost {
 public:
  explicit TTestHost(TSimPlatform* platform) : Platform_(platform) {}

  std::ostream& Out() override { return Out_; }
  std::ostream& Err() override { return Err_; }
  std::istream& In() override { return In_; }
  THidBackend* NativePlatform() override {
    ++NativePlatformCalls;
    return Platform_;
  }
  std::optional<std::string> Environment(const std::string& name) override {
    const auto it = Env.find(name);
    if (it == Env.end()) return std::nullopt;
    return it->second;
  }
  void Started(TMainLoop& loop) override {
    Loop = &loop;
    if (OnStarted) OnStarted(loop);
  }

  // Runs `DuringWatch` from the loop, then the loop until the tool stops, for five seconds at
  // most; the interrupt is what the test's `DuringWatch` calls to end it.
  void RunUntilStopped(TMainLoop& loop,
                       const std::function<bool()>& stopped,
                       const std::function<void()>& interrupt) override {
    if (DuringWatch) loop.Post([this, interrupt] { DuringWatch(interrupt); });
    loop.RunUntil(stopped, std::chrono::seconds(5));
  }

  std::string OutText() const { return Out_.str(); }
  std::string ErrText() const { return Err_.str(); }
  void SetInput(const std::string& text) { In_.str(text); }

  TMainLoop* Loop = nullptr;
  int NativePlatformCalls = 0;
  std::map<std::string, std::string> Env;
  std::function<void(const std::function<void()>& interrupt)> DuringWatch;
  std::function<void(TMainLoop& loop)> OnStarted;

 private:
  TSimPlatform* Platform_;
  std::ostringstream Out_;
  std::ostringstream Err_;
  std::istringstream In_;
};

inline std::shared_ptr<TVirtualStaircaseController> PlugController(
    TSimPlatform& sim,
    std::u16string product = u"Glowstep 3.2",
    std::shared_ptr<TVirtualStaircaseController> controller =
        std::make_shared<TVirtualStaircaseController>(),
    std::string port = {},
    std::string serial = {}) {
  TSimInterfaceSpec setup;
  setup.ProductString = std::move(product);
  setup.Behaviour = controller;
  setup.PortName = std::move(port);
  setup.SerialNumber = std::move(serial);
  sim.Plug(setup);
  return controller;
}

// The write reports ("w") a virtual controller received.
inline std::vector<std::vector<std::uint8_t>> WritesTo(const TVirtualStaircaseController& c) {
  std::vector<std::vector<std::uint8_t>> writes;
  for (auto& report : c.ReceivedReports()) {
    if (report.size() > 1 && report[1] == 'w') writes.push_back(report);
  }
  return writes;
}

}  // namespace glowstep::testing
