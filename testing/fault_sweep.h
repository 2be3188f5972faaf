// The fault sweep: one scenario of the configurator's life run with every platform call failing
// in turn.
//
// The scenario: start, the first refresh, a plain HID device and a controller plugged in (the
// controller is checked out), read (the controller replies), write, unplug the controller, plug
// another one in, read again, shut down. It runs once to count the platform calls, then once per
// call with that call failing, then once per call with that call and every later one failing (a
// device or system that dies mid-way). A random plan drives longer soaks.
//
// After each step, and after each run, the harness checks what the user can rely on:
//  - the program comes to rest within a time bound (no step hangs), and the whole run within
//    another (a watchdog ends the process otherwise, naming the run);
//  - the LED is on exactly while a controller is held, and the held device is listed and checked
//    out;
//  - the device list is consistent: its counts match its entries, an unplugged entry is one the
//    application still holds, and no unplugged entry stays once the controller link gave it back;
//    its plugged-in entries are the devices present, unless the user was told in that step that
//    the list could not be brought up to date;
//  - what the user asked for happened, or the user was told, during that step, in words that name
//    what failed (at the backend: a message of the table of its operations (ToldFragments), or the
//    "ERROR" caption for the reader's calls; at the system interface: an error box, a failure
//    that reached the main loop and is shown there, or the caption):
//      plugging the controller in: the controller is held (or the program said when it started
//        that it cannot follow device changes, or it has no HID services, the documented state in
//        which it sees no device, or the controller's name could not be read with more than one
//        call failed: the program knows the controller by its name alone, and asks twice);
//      read: the window shows the controller's settings;
//      write: the controller holds the settings the window shows;
//      unplugging: the LED is off;
//      and with no controller held (LED off) read and write send nothing;
//  - what the user is told is true: no message blames access rights the controller grants;
//  - after the shutdown: no connection, read or notifier is left on the backend, nothing was
//    misused and every start was stopped; at the system interface also no handle,
//    device-information set or preparsed data is left and both libraries are freed; no reader
//    thread is left.
// ASan and LeakSanitizer check the rest where the harness is built with them.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "hid/hid_device_controller.h"
#include "protocol/controller_link.h"
#include "protocol/settings_codec.h"
#include "testing/fault_injection.h"

namespace glowstep {

class TMainThreadPort;

// The configurator as the scenario drives and watches it. Destroying it is the shutdown.
class TSweepApp {
 public:
  virtual ~TSweepApp() = default;

  virtual THidDeviceController& HidController() = 0;
  virtual TControllerLink& Link() = 0;
  // The settings fields.
  virtual TSettingsControls& Controls() = 0;
  virtual TMainThreadPort& Port() = 0;
  // Runs the program's events until `done` holds or `bound` has passed; returns done().
  virtual bool RunEventsUntil(const std::function<bool()>& done,
                              std::chrono::milliseconds bound) = 0;

  virtual bool Led() const = 0;
  // Whether the hidden error label reads "ERROR"; Clear puts it back so a step sees its own.
  virtual bool ErrorCaptionShown() const = 0;
  virtual void ClearErrorCaption() = 0;
  // Every message shown to the user so far: error boxes, whatever way they came.
  virtual std::vector<std::string> Messages() const = 0;

  // The user's actions: each runs from the program's event loop, as a click does.
  virtual void ClickRead() = 0;
  virtual void ClickWrite() = 0;
  virtual void EditField(TSettingsField field, Extended value) = 0;
};
using TSweepAppFactory = std::function<std::unique_ptr<TSweepApp>(THidBackend& platform)>;

// The controller link with a plain view on its own main loop, wired as the window wires it.
std::unique_ptr<TSweepApp> MakeLinkApp(THidBackend& platform);

// Where the faults go in.
enum class TFaultLayer {
  System,   // the Windows system interface (THidPlatform), under the Windows backend
  Backend,  // the HID backend (the seam the logic calls), here the simulated tree
};
const char* LayerName(TFaultLayer layer);

struct TRunResult {
  std::string Plan;
  bool Reached = true;                 // the planned call came
  std::vector<std::string> Problems;   // each check that failed, with its step
  std::vector<TCallKey> Calls;         // every call at the layer swept, in order
  std::vector<std::string> CallSteps;  // the step of the scenario each call came in
  std::vector<std::string> Messages;   // what the user was told in the whole run
  std::vector<TCallKey> Failed;        // the calls failed
  std::chrono::milliseconds Duration{0};
  // The plan, the calls failed when they were not the plan's target alone, then each problem on
  // a line of its own.
  std::string Text() const;
};

// What the user may be told when a call of the backend's `operation` fails or is spoiled: parts
// of the messages that name it; and whether the hidden "ERROR" caption names it.
struct TToldOf {
  std::vector<std::string> Fragments;
  bool Caption = false;
};
TToldOf ToldFragments(std::string_view operation, TSpoil spoil);

// Runs the scenario once with `plan` deciding the calls at `layer`.
TRunResult RunScenario(const TSweepAppFactory& factory, TFaultLayer layer, TFaultPlan& plan);

struct TSweepOptions {
  bool Once = true;  // each call failing alone
  bool From = true;  // each call failing with every later one
  // Pairs of calls from distinct steps failing together: this many, drawn from all such pairs by
  // the seed (all of them when there are no more).
  std::size_t Pairs = 0;
  std::uint64_t PairSeed = 1;
  // Each write spoiled short, each read spoiled short and with garbage (the backend only).
  bool Spoil = false;
  // Called after every run (progress, logs).
  std::function<void(const TRunResult&)> OnRun;
};

struct TSweepReport {
  std::size_t Calls = 0;       // in the counting run
  std::size_t Pairs = 0;       // pairs of calls run
  std::size_t PairsTotal = 0;  // pairs of calls from distinct steps there are
  std::size_t Spoiled = 0;     // calls spoiled
  std::size_t Runs = 0;        // counting run, retries and every planned run
  std::vector<TRunResult> Failed;
  // Planned calls that did not come in any of their attempts (the scenario took another path).
  std::vector<std::string> Unreached;
  std::chrono::milliseconds Time{0};
  std::chrono::milliseconds LongestRun{0};
  std::string Summary(TFaultLayer layer) const;
  // The runs with problems (the first `most` of them) and the calls not reached.
  std::string Problems(std::size_t most = 30) const;
};

TSweepReport Sweep(const TSweepAppFactory& factory,
                   TFaultLayer layer,
                   const TSweepOptions& options);

}  // namespace glowstep
