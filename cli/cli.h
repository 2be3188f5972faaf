// glowstep-cli: the staircase controller from the command line. RunCli is the whole program
// apart from what the system gives it (TCliHost), so tests run it on the simulated platform.
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace glowstep {

class THidBackend;
class TMainLoop;

// What the tool takes from the system it runs on.
class TCliHost {
 public:
  virtual ~TCliHost() = default;

  virtual std::ostream& Out() = 0;  // results
  virtual std::ostream& Err() = 0;  // messages
  virtual std::istream& In() = 0;   // a backup restored from "-"

  // Hands on what was written to Out(), once at the end: none when all of it arrived, otherwise
  // the system's reason. The default flushes the stream and looks at its state.
  virtual std::optional<std::string> FinishOut();
  // The same for Err(): false when messages were lost.
  virtual bool FinishErr();

  // The system's HID platform, made on first use; none where it cannot be had.
  virtual THidBackend* NativePlatform() = 0;

  // The environment variable `name`; none when it is not set.
  virtual std::optional<std::string> Environment(const std::string& name);

  // Called once the tool's main loop exists, before any device is looked at.
  virtual void Started(TMainLoop& loop) { (void)loop; }

  // Runs `loop` until `stopped` holds. The user's interrupt (Ctrl+C) calls `interrupt` on the
  // main loop meanwhile. Where the system's device-change notification arrives as window
  // messages, they are dispatched too.
  virtual void RunUntilStopped(TMainLoop& loop,
                               const std::function<bool()>& stopped,
                               const std::function<void()>& interrupt) = 0;
};

// Runs the tool with its arguments (without the program name); returns the exit status. Output
// that could not be written makes it 4 (with a message when standard error still works).
int RunCli(const std::vector<std::string>& args, TCliHost& host);

}  // namespace glowstep
