#include "testing/fault_sweep.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "hid/main_loop.h"
#include "hid/platform/sim/sim_platform.h"
#include "hid/platform/windows/windows_backend.h"
#include "protocol/settings_fields.h"
#include "testing/emulated_platform.h"
#include "testing/thread_stats.h"
#include "testing/virtual_staircase_controller.h"
#include "testing/waiting.h"

namespace glowstep {

namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;
using TSettings = TVirtualStaircaseController::TSettings;

// A step waits this long at most for what it asked for, and as long again for the program to
// come to rest.
constexpr auto kStepBound = 3000ms;
// A whole run ends within this, or the watchdog ends the process.
constexpr auto kRunBound = std::chrono::seconds(60);
// A planned call that does not come is tried this often before it counts as not reached.
constexpr int kAttempts = 3;
// The window's wait slice of the readers.
constexpr std::int32_t kSleepTime = 50;
// The kernel's name of a reader thread, cut to 15 characters.
constexpr std::string_view kReaderThreadName = "THidDeviceRead";

// The settings the two controllers hold (report bytes 2 to 20): neither is the window's default,
// so a read shows in the fields.
constexpr TSettings kFirstSettings = {12,   50, 2,    0, 0x10, 0x20, 0x30, 0x05, 0x06, 0x07,
                                      0xC2, 1,  0xFA, 0, 5,    30,   0,    200,  0};
constexpr TSettings kSecondSettings = {20,   30, 3,    0, 0x40, 0x50, 0x60, 0x01, 0x02, 0x03,
                                       0x2C, 1,  0xC8, 0, 10,   60,   0,    0x90, 1};

// Ends the process when a run takes longer than its bound: a hang must not pass for a slow run.
class TWatchdog {
 public:
  TWatchdog(std::string label, std::chrono::seconds bound)
      : Thread_([this, label = std::move(label), bound] {
          std::unique_lock lock(Lock_);
          if (Changed_.wait_for(lock, bound, [this] { return Done_; })) return;
          std::fprintf(stderr, "fault sweep: the run \"%s\" did not end within %lld s\n",
                       label.c_str(), static_cast<long long>(bound.count()));
          std::fflush(stderr);
          std::abort();
        }) {}
  TWatchdog(const TWatchdog&) = delete;
  TWatchdog& operator=(const TWatchdog&) = delete;
  ~TWatchdog() {
    {
      std::lock_guard lock(Lock_);
      Done_ = true;
    }
    Changed_.notify_all();
    Thread_.join();
  }

 private:
  std::mutex Lock_;
  std::condition_variable Changed_;
  bool Done_ = false;
  std::thread Thread_;  // last: it uses the members above
};

// The settings bytes a set of values is written as.
TSettings Encoded(const StairSettings& settings) {
  SettingsReport report{};
  EncodeWriteReport(settings, report);
  TSettings bytes{};
  std::copy_n(report.begin() + kSettingsBegin, kSettingsSize, bytes.begin());
  return bytes;
}

// What the window holds once it applied a reply carrying `settings`, written back as bytes.
TSettings AsApplied(const TSettings& settings) {
  std::array<std::uint8_t, kSettingsReportSize - 1> payload{};  // report byte 1 onward
  payload[0] = kReadCommand;
  std::copy(settings.begin(), settings.end(), payload.begin() + (kSettingsBegin - 1));
  TSettingsValues values;
  TSettingsCodec codec;
  codec.ApplyReply(payload.data(), payload.size(), values);
  return Encoded(codec.CurrentSettings(values));
}

// The settings a reply spoiled with garbage brings.
TSettings GarbageSettings() {
  TSettings settings{};
  for (std::size_t i = 0; i < settings.size(); ++i)
    settings[i] = TSimPlatform::GarbageByte(kSettingsBegin + i);
  return settings;
}

// The words of a message that stay whatever fills its places: its longest stretch between them.
std::string Fragment(const TMessageText& text) {
  const std::string_view english = text.English;
  std::string_view longest;
  std::size_t begin = 0;
  while (begin <= english.size()) {
    std::size_t end = english.find('%', begin);
    if (end == std::string_view::npos) end = english.size();
    if (end - begin > longest.size()) longest = english.substr(begin, end - begin);
    begin = end + 2;  // past "%N"
  }
  return std::string(longest);
}

// --- The controller link on its own loop ---------------------------------------------------------

class TPlainView final : public TControllerView {
 public:
  Extended FieldValue(TSettingsField field) const override { return Values.FieldValue(field); }
  void SetFieldValue(TSettingsField field, Extended value) override {
    Values.SetFieldValue(field, value);
  }
  void SetSwatchColor(TColorSwatch /*swatch*/, TColor /*color*/) override {}
  void SetDeviceStatus(bool on) override { Led = on; }
  void SetPhotoControlsEnabled(bool /*enabled*/) override {}
  void SetErrorCaption(const TMessage& caption) override { Caption = caption.English(); }
  void ShowError(const TMessage& message) override { Shown.push_back(message.English()); }

  TSettingsValues Values;
  bool Led = false;
  std::string Caption = ">";
  std::vector<std::string> Shown;
};

class TLinkApp final : public TSweepApp {
 public:
  // Built as the window builds it: the controller, its error handler, its wait slice while
  // loading, the link bound.
  explicit TLinkApp(THidBackend& platform)
      : Controller_(platform, Loop_), Link_(Controller_, View_) {
    Controller_.SetOnError(THidErrorEvent(
        [this](THidDeviceController*, const TMessage& message) { View_.ShowError(message); }));
    Controller_.SetLoading(true);
    Controller_.SetDevThreadSleepTime(kSleepTime);
    Link_.Bind();
    Controller_.SetLoading(false);
    Link_.ResetColors();
  }

  THidDeviceController& HidController() override { return Controller_; }
  TControllerLink& Link() override { return Link_; }
  TSettingsControls& Controls() override { return View_; }
  TMainThreadPort& Port() override { return Loop_; }
  bool RunEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds bound) override {
    return Loop_.RunUntil(done, bound);
  }
  bool Led() const override { return View_.Led; }
  bool ErrorCaptionShown() const override { return View_.Caption == kReadErrorCaption.English; }
  void ClearErrorCaption() override { View_.Caption = ">"; }
  std::vector<std::string> Messages() const override {
    std::vector<std::string> messages = View_.Shown;
    messages.insert(messages.end(), Loop_.Errors().begin(), Loop_.Errors().end());
    return messages;
  }
  void ClickRead() override {
    Loop_.Post([this] { Link_.RequestSettings(); });
  }
  void ClickWrite() override {
    Loop_.Post([this] { Link_.WriteSettings(); });
  }
  void EditField(TSettingsField field, Extended value) override {
    View_.SetFieldValue(field, value);
  }

 private:
  TMainLoop Loop_;
  TPlainView View_;
  THidDeviceController Controller_;
  TControllerLink Link_;  // unbinds before the controller goes
};

// --- The scenario --------------------------------------------------------------------------------

struct TPlugged {
  TSimPlatform::TInterfaceId Id = 0;
  std::uint32_t Instance = 0;
  std::shared_ptr<TVirtualStaircaseController> Staircase;  // none for the plain device
};

class TScenario {
 public:
  // `emulation` is the Windows system interface under the Windows backend, when the faults go
  // in there; none otherwise.
  TScenario(TSimPlatform& sim,
            const TEmulatedHidPlatform* emulation,
            TFaultLayer layer,
            const TFaultPlan& seamPlan,
            const TFaultPlan& plan,
            std::vector<std::string>& problems)
      : Sim_(sim),
        Emulation_(emulation),
        Layer_(layer),
        SeamPlan_(seamPlan),
        Plan_(plan),
        Problems_(problems) {}

  // The step each of the plan's calls came in, in the order of the calls.
  std::vector<std::string> CallSteps() const {
    std::vector<std::string> steps;
    for (std::size_t i = 0; i < StepStarts_.size(); ++i) {
      const std::size_t end =
          i + 1 < StepStarts_.size() ? StepStarts_[i + 1].first : Plan_.CallCount();
      steps.resize(std::max(steps.size(), end), StepStarts_[i].second);
    }
    return steps;
  }

  void Run(TSweepApp& app) {
    App_ = &app;
    BeginStep("first refresh");
    Settle();
    CheckList();

    BeginStep("plug a plain device and a controller");
    TSimInterfaceSpec plain;
    plain.ProductString = u"USB Optical Mouse";
    plain.Attributes = THidAttributes{12, 0x046D, 0xC077, 0x0100};
    Plug(plain);
    const TPlugged first = PlugController(kFirstSettings);
    Notice(first);

    Read("read", first, kFirstSettings);
    Write(first);

    BeginStep("unplug the controller");
    const bool outstanding = Sim_.Counters().ReadsUnderWay > 0;
    Unplug(first);
    // The reader meets the unplug before the refresh does, so it makes the same calls in every
    // run.
    if (outstanding) {
      App_->RunEventsUntil([&] { return Sim_.Counters().ReadsUnderWay == 0 && ReadersWaiting(); },
                           kStepBound);
    }
    Sim_.NotifyDeviceChange();
    Settle();
    if (App_->Led() && !Told()) Problem("the LED still shows the unplugged controller, untold");
    CheckList();

    BeginStep("plug another controller in");
    const TPlugged second = PlugController(kSecondSettings);
    Notice(second);

    Read("read again", second, kSecondSettings);

    // What the user was told is true: every controller of the scenario lets this user read and
    // write it, whatever else fails.
    Step_ = "the whole run";
    for (const std::string& message : App_->Messages()) {
      for (const auto reason : {THidAccessReason::Unknown, THidAccessReason::RootOnly,
                                THidAccessReason::NotInPlugdev}) {
        if (message.find(ControllerAccessReason(reason).English()) != std::string::npos)
          Problem("the user was told that the controller refuses access, which it does not");
      }
    }
  }

  // After the shutdown: nothing of the program is left on the platform.
  void CheckShutdown(int readerThreadsBefore) {
    Step_ = "shut down";
    const TSimCounters counters = Sim_.Counters();
    const auto expectNone = [this](std::int64_t count, const char* what) {
      if (count != 0) Problem(std::to_string(count) + " " + what);
    };
    expectNone(counters.OpenConnections, "connections left open");
    expectNone(counters.ReadsUnderWay, "reads left waiting");
    expectNone(counters.Notifiers, "device-change notifiers left");
    expectNone(counters.Misuse, "misused connections");
    expectNone(counters.Starts, "starts of the backend not stopped");
    if (Emulation_ != nullptr) {
      const THidEmulationCounters system = Emulation_->Counters();
      expectNone(system.OpenHandles, "handles left open");
      expectNone(system.DeviceInfoSets, "device-information sets left");
      expectNone(system.PreparsedData, "preparsed data left");
      expectNone(system.Reads, "read objects left");
      expectNone(system.HandleMisuse, "calls on unknown or closed handles");
      expectNone(system.ClosedWithPendingRead, "handles closed under an outstanding read");
      expectNone(system.ReadsAbandoned, "reads abandoned while outstanding");
      expectNone(Emulation_->LibraryReferences(kSetupLibraryName),
                 "loads of the setup library left");
      expectNone(Emulation_->LibraryReferences(kHidLibraryName), "loads of the HID library left");
    }
    // The kernel may list a thread joined a moment ago until it has reaped it.
    AwaitOtherThread([&] { return ThreadsNamed(kReaderThreadName) <= readerThreadsBefore; });
    const int threads = ThreadsNamed(kReaderThreadName);
    if (readerThreadsBefore >= 0 && threads > readerThreadsBefore)
      Problem(std::to_string(threads - readerThreadsBefore) + " reader threads left");
  }

 private:
  void BeginStep(std::string name) {
    StepStarts_.emplace_back(Plan_.CallCount(), name);
    Step_ = std::move(name);
    MessagesBefore_ = App_->Messages().size();
    App_->ClearErrorCaption();
  }

  void Problem(const std::string& text) { Problems_.push_back(Step_ + ": " + text); }

  // The user was told in this step, in words that name what failed: at the backend, a message of
  // the table of the operations failed or spoiled in this run (or the caption, where it names
  // one), and, once a controller was unplugged, of the operations that fail on a device that is
  // gone (a program that could not learn of the unplug still uses it); at the system interface,
  // any message or the caption.
  bool Told() const {
    const std::vector<std::string> messages = App_->Messages();
    if (Layer_ == TFaultLayer::System)
      return messages.size() > MessagesBefore_ || App_->ErrorCaptionShown();
    std::vector<std::string> operations;
    for (const TCallKey& call : Plan_.Failed()) operations.push_back(call.Operation);
    if (ControllerUnplugged_)
      operations.insert(operations.end(), {"Open", "Status", "Write", "Read"});
    for (const std::string& operation : operations) {
      const TToldOf told = ToldFragments(operation, Plan_.Spoiling());
      if (told.Caption && App_->ErrorCaptionShown()) return true;
      for (std::size_t i = MessagesBefore_; i < messages.size(); ++i) {
        for (const std::string& fragment : told.Fragments)
          if (messages[i].find(fragment) != std::string::npos) return true;
      }
    }
    return false;
  }

  // States in which the program is known not to see a controller plugged in, and says so (or,
  // without HID services, documents that it sees no device at all).
  bool Blind() const {
    if (!App_->HidController().Started()) return true;
    const auto messages = App_->Messages();
    return std::any_of(messages.begin(), messages.end(), [](const std::string& message) {
      return message.find(THidDeviceController::kDeviceChangesNotFollowed.English) !=
             std::string::npos;
    });
  }

  TPlugged Plug(TSimInterfaceSpec setup) {
    TPlugged plugged;
    plugged.Staircase = std::dynamic_pointer_cast<TVirtualStaircaseController>(setup.Behaviour);
    plugged.Id = Sim_.Plug(std::move(setup));
    plugged.Instance = Sim_.DeviceInstanceOf(plugged.Id);
    Present_.push_back(plugged);
    return plugged;
  }

  TPlugged PlugController(const TSettings& settings) {
    auto staircase = std::make_shared<TVirtualStaircaseController>();
    staircase->SetSettings(settings);
    TSimInterfaceSpec setup;
    setup.ProductString = u"Glowstep 3.2";
    setup.Behaviour = staircase;
    return Plug(std::move(setup));
  }

  // The system notices what was plugged in; the program holds the controller, or says why not.
  void Notice(const TPlugged& controller) {
    Sim_.NotifyDeviceChange();
    Settle();
    CheckTaken(controller);
    CheckList();
  }

  void Unplug(const TPlugged& plugged) {
    ControllerUnplugged_ = ControllerUnplugged_ || plugged.Staircase != nullptr;
    Sim_.Unplug(plugged.Id);
    std::erase_if(Present_, [&](const TPlugged& p) { return p.Id == plugged.Id; });
  }

  // Runs events until the program rests: every reader waits, and a round trip through the event
  // loop makes no platform call and shows nothing, twice in a row.
  void Settle() {
    const auto deadline = TClock::now() + kStepBound;
    for (int quietRounds = 0; quietRounds < 2;) {
      if (TClock::now() > deadline) {
        Problem("the program did not come to rest within the time bound");
        return;
      }
      const std::size_t calls = SeamPlan_.CallCount() + Plan_.CallCount();
      const std::size_t messages = App_->Messages().size();
      const auto ran = std::make_shared<bool>(false);
      App_->Port().Post([ran] { *ran = true; });
      App_->RunEventsUntil([&] { return *ran; }, kStepBound);
      const bool quiet = *ran && ReadersWaiting() &&
                         SeamPlan_.CallCount() + Plan_.CallCount() == calls &&
                         App_->Messages().size() == messages;
      quietRounds = quiet ? quietRounds + 1 : 0;
    }
    CheckLed();
  }

  // Whether every reader of the listed devices waits: for a report, or before it tries again.
  bool ReadersWaiting() const {
    const auto& devices = App_->HidController().Devices();
    return std::all_of(devices.begin(), devices.end(),
                       [](const auto& d) { return d->ReaderWaiting(); });
  }

  bool Listed(const THidDevice* device) const {
    const auto& devices = App_->HidController().Devices();
    return std::any_of(devices.begin(), devices.end(),
                       [device](const auto& d) { return d.get() == device; });
  }

  void CheckLed() {
    THidDevice* held = App_->Link().HeldDevice();
    if (App_->Led() != (held != nullptr))
      Problem(App_->Led() ? "the LED is on with no controller held"
                          : "the LED is off while a controller is held");
    if (held == nullptr) return;
    if (!Listed(held)) {
      Problem("the held controller is not in the device list");
      return;
    }
    if (!held->CheckedOut()) Problem("the held controller is not checked out");
  }

  void CheckTaken(const TPlugged& controller) {
    THidDevice* held = App_->Link().HeldDevice();
    const bool taken = held != nullptr && Listed(held) && held->PluggedIn() &&
                       held->PnPInfo().DeviceInstance == controller.Instance;
    if (taken || Told() || Blind() || Unnamed(controller)) return;
    Problem("the controller plugged in is not held, untold");
  }

  // The program knows the controller by its name alone. A controller whose name cannot be read is
  // to it a device it does not recognise, of which it says nothing, as of any device that is not
  // the controller; the LED shows that none is held. It asks for a name twice, so one failure
  // alone must not keep the controller from being held.
  bool Unnamed(const TPlugged& controller) const {
    if (Plan_.FailedCount() < 2) return false;
    for (const auto& device : App_->HidController().Devices()) {
      if (device->PluggedIn() && device->PnPInfo().DeviceInstance == controller.Instance)
        return device->ProductText().empty();
    }
    return false;
  }

  void CheckList() {
    const THidDeviceController& controller = App_->HidController();
    std::int32_t checkedIn = 0;
    std::int32_t checkedOut = 0;
    std::int32_t unplugged = 0;
    std::multiset<std::uint32_t> listed;
    for (const auto& device : controller.Devices()) {
      ++(device->CheckedOut() ? checkedOut : checkedIn);
      if (device->PluggedIn()) {
        listed.insert(device->PnPInfo().DeviceInstance);
        continue;
      }
      ++unplugged;
      if (!device->CheckedOut()) Problem("an unplugged entry is not checked out");
    }
    if (controller.CheckedInCount() != checkedIn ||
        controller.CheckedOutCount() != checkedOut - unplugged ||
        controller.UnpluggedCount() != unplugged)
      Problem("the controller's counts do not match its list");
    if (unplugged > 0 && App_->Link().PendingGiveBacks() == 0)
      Problem("an unplugged controller stays in the list after it was given back");
    std::multiset<std::uint32_t> present;
    for (const TPlugged& plugged : Present_) present.insert(plugged.Instance);
    if (listed != present && !Told() && !Blind())
      Problem("the device list (" + std::to_string(listed.size()) + " plugged in) is not the " +
              std::to_string(present.size()) + " devices present, untold");
  }

  void Read(const char* step, const TPlugged& controller, const TSettings& settings) {
    BeginStep(step);
    const TSettings expected = AsApplied(settings);
    // A reply spoiled with garbage is what came from the controller: the window shows it as any.
    const bool garbage =
        Plan_.Mode() == TFaultPlan::TMode::Spoil && Plan_.Spoiling() == TSpoil::Garbage;
    const TSettings garbled = AsApplied(GarbageSettings());
    Click(
        controller, [this] { App_->ClickRead(); },
        [&] {
          const TSettings shown = Encoded(App_->Link().Codec().CurrentSettings(App_->Controls()));
          return shown == expected || (garbage && shown == garbled);
        },
        "the window does not show the controller's settings, untold");
  }

  void Write(const TPlugged& controller) {
    BeginStep("write");
    App_->EditField(TSettingsField::Stairs_count, 14);
    const TSettings expected = Encoded(App_->Link().Codec().CurrentSettings(App_->Controls()));
    Click(
        controller, [this] { App_->ClickWrite(); },
        [&] { return controller.Staircase->Settings() == expected; },
        "the controller does not hold what was written, untold");
  }

  // A button the user clicks, and whether what it asks for happened. With the LED off nothing is
  // sent; with it on, it happened or the user was told.
  void Click(const TPlugged& controller,
             const std::function<void()>& click,
             const std::function<bool()>& done,
             const char* untold) {
    const bool ready = App_->Led();
    const std::size_t received = controller.Staircase->ReceivedCount();
    click();
    if (ready) App_->RunEventsUntil([&] { return done() || Told(); }, kStepBound);
    Settle();
    if (!ready) {
      if (controller.Staircase->ReceivedCount() != received)
        Problem("a report was sent with no controller shown as ready");
      return;
    }
    if (!done() && !Told()) Problem(untold);
    CheckList();
  }

  TSimPlatform& Sim_;
  const TEmulatedHidPlatform* Emulation_;
  TFaultLayer Layer_;
  const TFaultPlan& SeamPlan_;
  const TFaultPlan& Plan_;
  std::vector<std::string>& Problems_;
  TSweepApp* App_ = nullptr;
  std::vector<TPlugged> Present_;
  std::string Step_ = "start";
  std::vector<std::pair<std::size_t, std::string>> StepStarts_{{0, "start"}};
  std::size_t MessagesBefore_ = 0;
  bool ControllerUnplugged_ = false;
};

}  // namespace

std::unique_ptr<TSweepApp> MakeLinkApp(THidBackend& platform) {
  return std::make_unique<TLinkApp>(platform);
}

TToldOf ToldFragments(std::string_view operation, TSpoil spoil) {
  // The controller found but not opened for reading and writing (protocol/controller_link.cpp).
  const std::string notOpened = "cannot be opened for reading and writing";
  const std::string sendFailed = Fragment(kSendFailedMessage);
  const std::string notReceived = Fragment(kReplyNotReceivedMessage);
  if (operation == "List") return {{Fragment(THidDeviceController::kDevicesNotListed)}};
  if (operation == "Watch") return {{Fragment(THidDeviceController::kDeviceChangesNotFollowed)}};
  if (operation == "Open")
    return {{Fragment(kDeviceCannotBeOpened), notOpened, sendFailed, notReceived}, true};
  if (operation == "Status") {
    return {{Fragment(kDeviceCannotBeOpened), Fragment(kDeviceCannotBeIdentified), notOpened,
             sendFailed, notReceived},
            true};
  }
  if (operation == "Write") {
    if (spoil != TSpoil::None) return {{sendFailed}};
    return {{sendFailed, Fragment(kReportNotTakenMessage)}};
  }
  if (operation == "Read" && spoil == TSpoil::Short) return {{Fragment(kShortReplyMessage)}};
  if (operation == "ReadStartError" || operation == "Read") return {{notReceived}, true};
  // A backend that does not start leaves a program that sees no device, as documented; the
  // input buffers are the system's business, and a reason for a refused access means nothing
  // to a controller that does not refuse it.
  return {};
}

const char* LayerName(TFaultLayer layer) {
  return layer == TFaultLayer::System ? "system interface" : "backend";
}

TRunResult RunScenario(const TSweepAppFactory& factory, TFaultLayer layer, TFaultPlan& plan) {
  TRunResult result;
  result.Plan = std::string(LayerName(layer)) + ", " + plan.Text();
  const TWatchdog watchdog(result.Plan, kRunBound);
  const auto start = TClock::now();
  const int readerThreadsBefore = ThreadsNamed(kReaderThreadName);
  // The seam's calls are always counted: they tell when the program has come to rest.
  TFaultPlan counting = TFaultPlan::Counting();
  TFaultPlan& seamPlan = layer == TFaultLayer::Backend ? plan : counting;
  TSimPlatform sim;
  sim.SetAutoNotify(false);  // the scenario says when the system notices a change
  sim.SetCallFilter([&seamPlan](std::string_view operation) -> TSimPlatform::TCallOutcome {
    const TFaultPlan::TDecision decision = seamPlan.Decide(operation);
    if (decision.Error != 0) return THidError{decision.Error, 0};
    switch (decision.Spoil) {
      case TSpoil::None:
        break;
      case TSpoil::Short:
        return TSimPlatform::TSpoilKind::Short;
      case TSpoil::Garbage:
        return TSimPlatform::TSpoilKind::Garbage;
    }
    return {};
  });
  {
    // At the system interface the program runs on the Windows backend, over the system emulated
    // on the simulated tree, which asks the plan.
    std::unique_ptr<TEmulatedHidPlatform> emulation;
    std::unique_ptr<TWindowsHidBackend> windows;
    THidBackend* backend = &sim;
    if (layer == TFaultLayer::System) {
      emulation = std::make_unique<TEmulatedHidPlatform>(sim);
      emulation->SetFaultPlan(&plan);
      windows = std::make_unique<TWindowsHidBackend>(*emulation);
      backend = windows.get();
    }
    TScenario scenario(sim, emulation.get(), layer, seamPlan, plan, result.Problems);
    try {
      const std::unique_ptr<TSweepApp> app = factory(*backend);
      scenario.Run(*app);
      result.Messages = app->Messages();
    } catch (const std::exception& e) {
      result.Problems.push_back(std::string("the scenario raised: ") + e.what());
    }
    scenario.CheckShutdown(readerThreadsBefore);
    result.CallSteps = scenario.CallSteps();
  }
  sim.SetCallFilter(nullptr);
  result.Reached = plan.Reached();
  result.Calls = plan.Calls();
  result.Failed = plan.Failed();
  result.Duration = std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - start);
  return result;
}

TSweepReport Sweep(const TSweepAppFactory& factory,
                   TFaultLayer layer,
                   const TSweepOptions& options) {
  TSweepReport report;
  const auto start = TClock::now();
  const auto record = [&](const TRunResult& result) {
    ++report.Runs;
    report.LongestRun = std::max(report.LongestRun, result.Duration);
    if (!result.Problems.empty()) report.Failed.push_back(result);
    if (options.OnRun) options.OnRun(result);
  };
  TFaultPlan counting = TFaultPlan::Counting();
  const TRunResult first = RunScenario(factory, layer, counting);
  record(first);
  report.Calls = first.Calls.size();
  for (const bool from : {false, true}) {
    if (!(from ? options.From : options.Once)) continue;
    for (const TCallKey& key : first.Calls) {
      bool reached = false;
      for (int attempt = 0; attempt < kAttempts && !reached; ++attempt) {
        TFaultPlan plan = from ? TFaultPlan::From(key) : TFaultPlan::Once(key);
        const TRunResult result = RunScenario(factory, layer, plan);
        reached = result.Reached;
        record(result);
      }
      if (!reached) report.Unreached.push_back((from ? "from " : "once ") + key.Text());
    }
  }

  if (options.Pairs > 0) {
    std::vector<std::pair<std::size_t, std::size_t>> pairs;
    for (std::size_t i = 0; i < first.Calls.size(); ++i) {
      for (std::size_t j = i + 1; j < first.Calls.size(); ++j)
        if (first.CallSteps.at(i) != first.CallSteps.at(j)) pairs.emplace_back(i, j);
    }
    report.PairsTotal = pairs.size();
    // The first `count` of a shuffle by a standard generator: the same pairs everywhere.
    std::mt19937_64 random(options.PairSeed);
    const std::size_t count = std::min(options.Pairs, pairs.size());
    for (std::size_t k = 0; k < count; ++k) {
      std::swap(pairs[k], pairs[k + static_cast<std::size_t>(random() % (pairs.size() - k))]);
      TFaultPlan plan = TFaultPlan::Pair(first.Calls[pairs[k].first], first.Calls[pairs[k].second]);
      // The first failure may take the scenario past the second call: then it ran as one.
      record(RunScenario(factory, layer, plan));
      ++report.Pairs;
    }
  }

  if (options.Spoil && layer == TFaultLayer::Backend) {
    for (const TCallKey& key : first.Calls) {
      std::vector<TSpoil> spoils;
      if (key.Operation == "Write") spoils = {TSpoil::Short};
      if (key.Operation == "Read") spoils = {TSpoil::Short, TSpoil::Garbage};
      for (const TSpoil spoil : spoils) {
        bool reached = false;
        for (int attempt = 0; attempt < kAttempts && !reached; ++attempt) {
          TFaultPlan plan = TFaultPlan::Spoiled(key, spoil);
          const TRunResult result = RunScenario(factory, layer, plan);
          reached = result.Reached;
          record(result);
        }
        ++report.Spoiled;
        if (!reached) report.Unreached.push_back(TFaultPlan::Spoiled(key, spoil).Text());
      }
    }
  }
  report.Time = std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - start);
  return report;
}

std::string TRunResult::Text() const {
  std::string text = Plan + " (" + std::to_string(Duration.count()) + " ms)";
  if (!Reached) text += ", the planned call did not come";
  text += "\n";
  if (Failed.size() > 1 ||
      (Failed.size() == 1 && Plan.find(Failed[0].Text()) == std::string::npos)) {
    text += "    failed:";
    for (std::size_t i = 0; i < Failed.size(); ++i)
      text += (i == 0 ? " " : ", ") + Failed[i].Text();
    text += "\n";
  }
  for (const std::string& problem : Problems) text += "    " + problem + "\n";
  if (!Problems.empty()) {
    for (const std::string& message : Messages) text += "    told: " + message + "\n";
  }
  return text;
}

std::string TSweepReport::Problems(std::size_t most) const {
  std::string text;
  for (std::size_t i = 0; i < Failed.size() && i < most; ++i) text += Failed[i].Text();
  if (Failed.size() > most) text += "... " + std::to_string(Failed.size() - most) + " more\n";
  for (const std::string& plan : Unreached) text += "not reached: " + plan + "\n";
  return text;
}

std::string TSweepReport::Summary(TFaultLayer layer) const {
  char text[384];
  std::snprintf(text, sizeof text,
                "%s: %zu calls swept, %zu pairs of %zu from distinct steps, %zu spoiled; %zu runs "
                "in %.1f s (longest run %.2f s); %zu runs with problems, %zu planned calls not "
                "reached",
                LayerName(layer), Calls, Pairs, PairsTotal, Spoiled, Runs,
                static_cast<double>(Time.count()) / 1000,
                static_cast<double>(LongestRun.count()) / 1000, Failed.size(), Unreached.size());
  return text;
}

}  // namespace glowstep
