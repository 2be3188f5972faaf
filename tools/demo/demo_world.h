// The demo's virtual world: the simulated HID platform with its devices, driven by one command
// per line and reporting every report a virtual device receives or sends, one line each.
//
// Commands:
//   plug <product string>     plug a device; a product containing "Glowstep 3" is a virtual
//                             staircase controller, anything else a plain HID device
//   unplug <id>               unplug device <id>
//   reply [@<id>] <hex bytes> the report the controller answers with from now on: 21 to 65
//                             bytes from byte 0 (report ID, command, the 19 settings bytes,
//                             ...), zeros after them; a write replaces the settings bytes, as on
//                             the controller. Without @<id>, the first controller still plugged in
//   list                      one line per device: id, state, path, product
//   help                      the list of commands
//   quit, exit                close the window and end
// A line with a NUL byte is refused whole.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "hid/platform/sim/sim_platform.h"
#include "testing/virtual_staircase_controller.h"

namespace glowstep {

class TDemoWorld {
 public:
  using TWriter = std::function<void(const std::string& line)>;

  explicit TDemoWorld(TWriter writer);

  TSimPlatform& Platform() { return Platform_; }

  // Runs one command line; returns false for "quit".
  bool Execute(const std::string& line);

  TSimPlatform::TInterfaceId Plug(const std::string& product);
  std::shared_ptr<TVirtualStaircaseController> Controller(TSimPlatform::TInterfaceId id) const;

 private:
  class TDeviceBehaviour;
  struct TDevice {
    std::string Product;
    std::string Path;
    std::shared_ptr<TVirtualStaircaseController> Staircase;  // none for a plain device
    std::shared_ptr<TDeviceBehaviour> Behaviour;
    bool Plugged = true;
  };

  void Write(const std::string& line) const { Writer_(line); }
  void Unplug(const std::vector<std::string>& words);
  void Reply(const std::vector<std::string>& words);
  void List() const;

  TWriter Writer_;
  TSimPlatform Platform_;
  std::map<TSimPlatform::TInterfaceId, TDevice> Devices_;
};

// The bytes of a report as hex pairs separated by spaces ("00 72 00 ...").
std::string HexBytes(const std::vector<std::uint8_t>& bytes);

}  // namespace glowstep
