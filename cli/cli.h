// glowstep-cli: the staircase controller from the command line. RunCli is the whole program
// apart from what the system gives it (TCliHost), so tests run it on the simulated platform.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace glowstep {

class THidPlatform;
class TMainLoop;

// What the tool takes from the system it runs on.
class TCliHost {
 public:
  virtual ~TCliHost() = default;

  virtual std::ostream& Out() = 0;  // results
  virtual std::ostream& Err() = 0;  // messages
  virtual std::istream& In() = 0;   // a backup restored from "-"

  // The system's HID platform, made on first use; none where it cannot be had.
  virtual THidPlatform* NativePlatform() = 0;

  // Called once the tool's main loop exists, before any device is looked at.
  virtual void Started(TMainLoop& loop) { (void)loop; }

  // Runs `loop` until `stopped` holds. The user's interrupt (Ctrl+C) calls `interrupt` on the
  // main loop meanwhile. Where the system's device-change notification arrives as window
  // messages, they are dispatched too.
  virtual void RunUntilStopped(TMainLoop& loop,
                               const std::function<bool()>& stopped,
                               const std::function<void()>& interrupt) = 0;
};

// Runs the tool with its arguments (without the program name); returns the exit status.
int RunCli(const std::vector<std::string>& args, TCliHost& host);

}  // namespace glowstep
