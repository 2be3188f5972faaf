// Platform calls failed on purpose, for the fault sweeps.
//
// A fault plan counts the platform calls a program makes and fails the ones it is told to: none
// (a counting run), one call named by its key, one call and every call after it (a device or a
// system that dies mid-way), or each call with a given probability from a seed. A call's key is
// the thread that made it, the operation and how many calls of that operation the thread made
// before, so a key names the same call in every run of a scenario even where the main thread and
// the readers interleave differently.
//
// The plan is asked at two places: by the emulated Windows system interface under the Windows
// backend (TEmulatedHidPlatform::SetFaultPlan), before every call that can fail, and by the
// simulated device tree (TSimPlatform::SetCallFilter), a backend of its own.
#pragma once

#include <compare>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hid/platform/windows/hid_platform.h"

namespace glowstep {

// The error an injected failure leaves: "a device attached to the system is not functioning".
inline constexpr std::uint32_t kInjectedError = kErrorGenFailure;

struct TCallKey {
  int Thread =
      0;  // 0: the main thread; 1, 2, ...: the other threads in the order they first called
  std::string Operation;
  int Ordinal = 1;  // 1 for the thread's first call of the operation

  // "main OpenFile #3", "thread 1 Begin #2"
  std::string Text() const;
  // Reads what Text writes.
  static std::optional<TCallKey> Parse(std::string_view text);
  friend auto operator<=>(const TCallKey&, const TCallKey&) = default;
};

// How a call is spoiled instead of failed: it succeeds, but a write takes fewer bytes than it was
// given, or a read brings its report cut short or with bytes the device never sent.
enum class TSpoil { None, Short, Garbage };

class TFaultPlan {
 public:
  enum class TMode {
    Count,   // fails nothing
    Once,    // fails the target call only
    From,    // fails the target call and every call after it, on any thread
    Random,  // fails each call with a probability, decided by the seed and the call's key
    Pair,    // fails the target call and a second one
    Spoil,   // spoils the target call
  };

  // The thread that makes the plan is the main thread. `target` counts for Once and From,
  // `seed` and `probability` for Random.
  TFaultPlan(TMode mode, TCallKey target, std::uint64_t seed, double probability);
  static TFaultPlan Counting() { return TFaultPlan(TMode::Count, {}, 0, 0); }
  static TFaultPlan Once(TCallKey target) {
    return TFaultPlan(TMode::Once, std::move(target), 0, 0);
  }
  static TFaultPlan From(TCallKey target) {
    return TFaultPlan(TMode::From, std::move(target), 0, 0);
  }
  static TFaultPlan Random(std::uint64_t seed, double probability) {
    return TFaultPlan(TMode::Random, {}, seed, probability);
  }
  // Pair: `target` and `second` fail; Spoil: `target` is spoiled as `spoil` says.
  TFaultPlan(TMode mode, TCallKey target, TCallKey second, TSpoil spoil);
  static TFaultPlan Pair(TCallKey first, TCallKey second);
  static TFaultPlan Spoiled(TCallKey target, TSpoil spoil);

  TFaultPlan(const TFaultPlan&) = delete;
  TFaultPlan& operator=(const TFaultPlan&) = delete;

  // What becomes of one call: it fails with Error, or, when Error is 0, it is spoiled or not.
  struct TDecision {
    std::uint32_t Error = 0;
    TSpoil Spoil = TSpoil::None;
  };
  // One call of `operation` on the calling thread. Any thread.
  TDecision Decide(std::string_view operation);
  // The same, where a call can only fail: the error to fail it with, or 0.
  std::uint32_t Call(std::string_view operation) { return Decide(operation).Error; }

  TMode Mode() const { return Mode_; }
  const TCallKey& Target() const { return Target_; }
  TSpoil Spoiling() const { return Spoil_; }
  // "count", "once main OpenFile #3", "from thread 1 Begin #1", "random 17 p=0.05",
  // "pair main Open #2 and thread 1 Read #1", "short main Write #1", "garbage thread 1 Read #2"
  std::string Text() const;

  // Every call asked about, in the order asked.
  std::vector<TCallKey> Calls() const;
  std::size_t CallCount() const;
  // The calls failed or spoiled.
  std::vector<TCallKey> Failed() const;
  std::size_t FailedCount() const;
  // Whether the target calls came (always true without a target).
  bool Reached() const;

 private:
  int ThreadNumber(std::uint64_t threadSerial);  // with Lock_ held

  TMode Mode_;
  TCallKey Target_;
  TCallKey Second_;  // Pair
  TSpoil Spoil_ = TSpoil::None;
  bool SecondReached_ = false;
  std::uint64_t Seed_;
  double Probability_;
  std::uint64_t MainThread_;
  mutable std::mutex Lock_;
  std::map<std::uint64_t, int> Threads_;
  std::map<std::pair<int, std::string>, int> Ordinals_;
  std::vector<TCallKey> Calls_;
  std::vector<TCallKey> Failed_;
  bool Reached_ = false;
  bool Dead_ = false;  // From: the target came
};

}  // namespace glowstep
