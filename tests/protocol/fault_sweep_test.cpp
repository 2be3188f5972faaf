// The controller link and the HID layer under it with every platform call failing in turn, at
// the system interface and at the simulated platform's backend.
#include "testing/fault_sweep.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "hid/platform/sim/sim_platform.h"
#include "testing/emulated_platform.h"

namespace glowstep {
namespace {

// --- The plan, and the emulated system interface asking it
// ----------------------------------------

std::vector<std::string> Texts(const std::vector<TCallKey>& keys) {
  std::vector<std::string> texts;
  texts.reserve(keys.size());
  for (const TCallKey& key : keys) texts.push_back(key.Text());
  return texts;
}

TEST(FaultPlan, NamesEachCallByItsThreadOperationAndOrdinal) {
  TFaultPlan plan = TFaultPlan::Counting();
  plan.Call("OpenFile");
  plan.Call("OpenFile");
  std::thread([&plan] {
    plan.Call("OpenFile");
    plan.Call("Begin");
  }).join();
  std::thread([&plan] { plan.Call("Begin"); }).join();
  plan.Call("CloseFile");
  const std::vector<std::string> expected = {"main OpenFile #1",     "main OpenFile #2",
                                             "thread 1 OpenFile #1", "thread 1 Begin #1",
                                             "thread 2 Begin #1",    "main CloseFile #1"};
  EXPECT_EQ(Texts(plan.Calls()), expected);
  EXPECT_TRUE(plan.Failed().empty());
  for (const TCallKey& key : plan.Calls()) EXPECT_EQ(TCallKey::Parse(key.Text()), key);
  for (const char* text : {"", "main", "main OpenFile", "main OpenFile #0", "thread 0 Begin #1",
                           "thread x Begin #1", "main OpenFile #1 more", "other OpenFile #1"})
    EXPECT_EQ(TCallKey::Parse(text), std::nullopt) << text;
}

TEST(FaultPlan, FailsItsTargetOnceOrFromThereOnOrAtRandomBySeed) {
  const auto run = [](TFaultPlan& plan) {
    std::string failed;
    for (const char* operation : {"A", "B", "A", "B", "A"})
      failed += plan.Call(operation) == kInjectedError ? "x" : ".";
    return failed;
  };
  TFaultPlan once = TFaultPlan::Once(*TCallKey::Parse("main A #2"));
  EXPECT_EQ(run(once), "..x..");
  EXPECT_TRUE(once.Reached());
  TFaultPlan from = TFaultPlan::From(*TCallKey::Parse("main B #1"));
  EXPECT_EQ(run(from), ".xxxx");
  TFaultPlan never = TFaultPlan::Once(*TCallKey::Parse("main C #1"));
  EXPECT_EQ(run(never), ".....");
  EXPECT_FALSE(never.Reached());
  TFaultPlan first = TFaultPlan::Random(7, 0.5);
  TFaultPlan second = TFaultPlan::Random(7, 0.5);
  EXPECT_EQ(run(first), run(second));
}

TEST(EmulatedFaults, AFailedCloseStillClosesAndLeavesTheInjectedError) {
  TSimPlatform sim;
  const auto id = sim.Plug(TSimInterfaceSpec{});
  TEmulatedHidPlatform platform(sim);
  TFaultPlan plan = TFaultPlan::Once(*TCallKey::Parse("main CloseFile #1"));
  platform.SetFaultPlan(&plan);
  const THidHandle handle = platform.OpenFile(sim.PathOf(id), TFileAccess::ReadWrite, false);
  ASSERT_NE(handle, kInvalidHandle);
  EXPECT_FALSE(platform.CloseFile(handle));
  EXPECT_EQ(platform.LastError(), kInjectedError);
  EXPECT_EQ(platform.Counters().OpenHandles, 0);
  EXPECT_EQ(sim.Counters().OpenConnections, 0);
}

TEST(EmulatedFaults, AReadFailedWhileItWaitsEndsWithTheErrorAndTheNextOneWorks) {
  TSimPlatform sim;
  const auto id = sim.Plug(TSimInterfaceSpec{});
  TEmulatedHidPlatform platform(sim);
  TFaultPlan plan = TFaultPlan::Once(*TCallKey::Parse("main Wait #1"));
  platform.SetFaultPlan(&plan);
  const THidHandle handle = platform.OpenFile(sim.PathOf(id), TFileAccess::Read, true);
  auto read = platform.CreateRead();
  std::vector<std::uint8_t> buffer(65, 0xEE);
  ASSERT_TRUE(read->Begin(handle, buffer.data(), 65));
  EXPECT_EQ(platform.Counters().ReadsOutstanding, 1);
  EXPECT_EQ(read->Wait(10000), kWaitIoCompletion);  // at once
  std::uint32_t count = 0;
  EXPECT_FALSE(read->Result(handle, count));
  EXPECT_EQ(platform.LastError(), kInjectedError);
  EXPECT_EQ(platform.Counters().ReadsOutstanding, 0);
  sim.SendInputReport(id, std::vector<std::uint8_t>(65, 0x42));
  ASSERT_TRUE(read->Begin(handle, buffer.data(), 65));
  EXPECT_EQ(read->Wait(10000), kWaitIoCompletion);
  EXPECT_TRUE(read->Result(handle, count));
  EXPECT_EQ(count, 65u);
  EXPECT_EQ(buffer, std::vector<std::uint8_t>(65, 0x42));
  read.reset();
  EXPECT_TRUE(platform.CloseFile(handle));
  EXPECT_EQ(platform.Counters().ReadsAbandoned, 0);
  EXPECT_EQ(sim.Counters().OpenConnections, 0);
}

// --- The sweeps ----------------------------------------------------------------------------------

void ExpectSweepPasses(TFaultLayer layer, const TSweepOptions& options) {
  const TSweepReport report = Sweep(MakeLinkApp, layer, options);
  std::printf("%s\n", report.Summary(layer).c_str());
  EXPECT_GT(report.Calls, 0u);
  EXPECT_TRUE(report.Failed.empty() && report.Unreached.empty()) << report.Problems();
}

void ExpectSweepPasses(TFaultLayer layer, bool from) {
  TSweepOptions options;
  options.Once = !from;
  options.From = from;
  ExpectSweepPasses(layer, options);
}

TEST(FaultSweep, EverySystemCallFailingAlone) { ExpectSweepPasses(TFaultLayer::System, false); }

TEST(FaultSweep, EverySystemCallFailingWithAllLaterOnes) {
  ExpectSweepPasses(TFaultLayer::System, true);
}

TEST(FaultSweep, EveryBackendCallFailingAlone) { ExpectSweepPasses(TFaultLayer::Backend, false); }

TEST(FaultSweep, EveryBackendCallFailingWithAllLaterOnes) {
  ExpectSweepPasses(TFaultLayer::Backend, true);
}

// A sample of the pairs: all of them take about half a minute here (glowstep-fault-soak --pairs).
TEST(FaultSweep, PairsOfBackendCallsFromDistinctStepsFailingTogether) {
  TSweepOptions options;
  options.Once = false;
  options.From = false;
  options.Pairs = 300;
  ExpectSweepPasses(TFaultLayer::Backend, options);
}

TEST(FaultSweep, EveryBackendWriteAndReadSpoiled) {
  TSweepOptions options;
  options.Once = false;
  options.From = false;
  options.Spoil = true;
  ExpectSweepPasses(TFaultLayer::Backend, options);
}

// --- Runs the sweep found failing, kept as they were found ---------------------------------------

TCallKey Key(std::string_view text) {
  const auto key = TCallKey::Parse(text);
  EXPECT_TRUE(key.has_value()) << text;
  return key.value_or(TCallKey{});
}

void ExpectPasses(TFaultLayer layer, TFaultPlan::TMode mode, std::string_view call) {
  TFaultPlan plan(mode, Key(call), 0, 0);
  const TRunResult run = RunScenario(MakeLinkApp, layer, plan);
  EXPECT_TRUE(run.Reached && run.Problems.empty()) << run.Text();
}

constexpr auto kOnce = TFaultPlan::TMode::Once;
constexpr auto kFrom = TFaultPlan::TMode::From;

// The devices present could not be listed: taken for "none present", every device was dropped
// and the controller plugged in was never seen.
TEST(FaultSweepRun, AListingThatFailsKeepsTheListAndSaysWhy) {
  ExpectPasses(TFaultLayer::System, kOnce, "main GetClassDevs #2");
  ExpectPasses(TFaultLayer::System, kOnce, "main GetClassDevs #4");
  ExpectPasses(TFaultLayer::System, kFrom, "main GetClassDevs #3");
  ExpectPasses(TFaultLayer::Backend, kOnce, "main List #2");
}

// The listing broke off part-way: the devices after the break were taken for unplugged.
TEST(FaultSweepRun, AListingCutShortKeepsTheListAndSaysWhy) {
  ExpectPasses(TFaultLayer::System, kOnce, "main EnumDeviceInterfaces #2");
  ExpectPasses(TFaultLayer::System, kOnce, "main EnumDeviceInterfaces #3");
}

// The path of a device listed could not be read: the device was left out as if it were absent.
TEST(FaultSweepRun, AnInterfaceWhosePathCannotBeReadKeepsTheListAndSaysWhy) {
  ExpectPasses(TFaultLayer::System, kOnce, "main GetDeviceInterfaceDetail #1");
  ExpectPasses(TFaultLayer::System, kOnce, "main GetDeviceInterfaceDetail #4");
}

// The read that carried the controller's reply ended with an error: the reply was lost and
// nobody said so.
TEST(FaultSweepRun, AReadThatEndsInAnErrorSaysSo) {
  ExpectPasses(TFaultLayer::System, kOnce, "thread 1 Result #1");
  ExpectPasses(TFaultLayer::System, kOnce, "thread 2 Result #1");
}

// The controller's name could not be read once: it was taken for another device and never held.
TEST(FaultSweepRun, AControllerWhoseNameCouldNotBeReadIsAskedAgain) {
  ExpectPasses(TFaultLayer::System, kOnce, "main GetProductString #2");
  ExpectPasses(TFaultLayer::Backend, kOnce, "main Status #6");
}

// The controller could not be opened for reading and writing once, for a reason that was not its
// access rights: the user was told to fix access rights that were fine.
TEST(FaultSweepRun, AControllerThatCannotBeOpenedIsNotBlamedOnAccessRights) {
  ExpectPasses(TFaultLayer::System, kOnce, "main OpenFile #5");
  ExpectPasses(TFaultLayer::System, kFrom, "main CloseFile #4");
  ExpectPasses(TFaultLayer::Backend, kOnce, "main Open #5");
}

// No device watch, and the first refresh failed as well: its failure was shown, and the notice that
// later devices go unnoticed was lost with it.
TEST(FaultSweepRun, ADeviceWatchThatCannotBeMadeIsToldEvenWhenTheFirstRefreshFails) {
  ExpectPasses(TFaultLayer::System, kFrom, "main CreateDeviceNotifier #1");
  ExpectPasses(TFaultLayer::Backend, kFrom, "main Watch #1");
}

// The soak's run: the reader could open its read handle neither before it started nor at its
// first read, and waits a slice before trying again; a read asked for meanwhile got its reply
// lost, with the user told nothing in that step.
TEST(FaultSweepRun, AReplyThatCannotBeReceivedIsToldWhenAskedFor) {
  TFaultPlan plan = TFaultPlan::Random(18413558991064422635ULL, 0.01);
  const TRunResult run = RunScenario(MakeLinkApp, TFaultLayer::Backend, plan);
  const std::vector<std::string> failed = Texts(run.Failed);
  EXPECT_EQ(failed, (std::vector<std::string>{"main Open #6", "thread 1 Open #1"}));
  EXPECT_TRUE(run.Problems.empty()) << run.Text();
}

}  // namespace
}  // namespace glowstep
