// Platform calls failed on purpose, for the fault sweeps.
//
// A fault plan counts the platform calls a program makes and fails the ones it is told to: none
// (a counting run), one call named by its key, one call and every call after it (a device or a
// system that dies mid-way), or each call with a given probability from a seed. A call's key is
// the thread that made it, the operation and how many calls of that operation the thread made
// before, so a key names the same call in every run of a scenario even where the main thread and
// the readers interleave differently.
//
// The plan is asked at two places: by TFaultyPlatform, which wraps the system interface
// (THidPlatform) of any platform and asks before every call that can fail, and by the simulated
// platform's device tree (TSimPlatform::SetCallFilter), the narrow backend under the emulation.
#pragma once

#include <atomic>
#include <compare>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hid/hid_platform.h"

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

// The system interface of `inner` with every call that can fail asking `plan` first. A call the
// plan fails returns the operation's failure and leaves kInjectedError as the thread's last error;
// a call that releases something (closing a handle, freeing preparsed data, cancelling a read) is
// still carried out and only reports the failure, as a system does, so that the failure itself
// leaks nothing. A read failed while it waits completes with the error, as a read that the device
// ends with an I/O error. Calls that cannot fail are passed on uncounted: the HID class GUID, the
// system version, freeing a library or a device-information set, naming a thread, the last error
// and the reason for a refused access, waking a read, and the wait of a reader that has no read
// outstanding.
//
// It also tells whether every reader of the program waits (no reader is between two calls), which
// the sweeps use to let a step settle.
class TFaultyPlatform final : public THidPlatform {
 public:
  TFaultyPlatform(THidPlatform& inner, TFaultPlan& plan);
  ~TFaultyPlatform() override;

  // Read objects alive, and those of them waiting now.
  int LiveReads() const { return LiveReads_.load(); }
  int WaitingReads() const { return WaitingReads_.load(); }
  // Reads begun and not yet completed or cancelled.
  int OutstandingReads() const { return OutstandingReads_.load(); }
  // How many waits began so far.
  std::uint64_t WaitsBegun() const { return WaitsBegun_.load(); }
  bool ReadersWaiting() const { return WaitingReads() == LiveReads(); }

  TLibraryHandle LoadLibraryByName(std::string_view name) override;
  void FreeLibraryHandle(TLibraryHandle library) override;
  TEntryAddress ResolveExport(TLibraryHandle library, std::string_view name) override;
  bool IsNtVersionAtLeast(int major, int minor) override;

  TGuid GetHidGuid() override;
  TDeviceInfoSet GetClassDevs(const TGuid& interfaceClass) override;
  bool EnumDeviceInterfaces(TDeviceInfoSet set,
                            const TGuid& interfaceClass,
                            std::uint32_t index,
                            TDeviceInterfaceRecord& record) override;
  bool GetDeviceInterfaceDetail(TDeviceInfoSet set,
                                const TDeviceInterfaceRecord& record,
                                char* pathBuffer,
                                std::uint32_t bufferSize,
                                std::uint32_t& required,
                                TDeviceInfoRecord& info) override;
  bool GetDeviceRegistryProperty(TDeviceInfoSet set,
                                 const TDeviceInfoRecord& info,
                                 std::uint32_t property,
                                 std::uint8_t* buffer,
                                 std::uint32_t bufferSize) override;
  void DestroyDeviceInfoList(TDeviceInfoSet set) override;

  THidHandle OpenFile(const std::string& path, TFileAccess access, bool overlapped) override;
  bool CloseFile(THidHandle handle) override;
  bool WriteFile(THidHandle handle,
                 const std::uint8_t* buffer,
                 std::uint32_t length,
                 std::uint32_t& written) override;
  // The limit is the inner platform's, which does the writes.
  void SetWriteTimeLimit(std::chrono::milliseconds limit) override;
  std::unique_ptr<TPlatformRead> CreateRead() override;
  std::uint32_t LastError() override;
  TMessage LastErrorMessage() override;
  THidAccessReason QueryAccessReason(THidHandle handle) override;

  bool GetAttributes(THidHandle handle, THidAttributes& attributes) override;
  bool GetProductString(THidHandle handle, char16_t* buffer, std::uint32_t bufferBytes) override;
  bool GetPreparsedData(THidHandle handle, TPreparsedData& preparsed) override;
  bool FreePreparsedData(TPreparsedData preparsed) override;
  std::int32_t GetCaps(TPreparsedData preparsed, THidCaps& caps) override;
  bool SetNumInputBuffers(THidHandle handle, std::uint32_t count) override;
  bool GetNumInputBuffers(THidHandle handle, std::uint32_t& count) override;

  std::unique_ptr<TDeviceNotifier> CreateDeviceNotifier(TMainThreadPort& port,
                                                        TDeviceChangeCallback callback) override;
  void NameCurrentThread(std::string_view name) override;

 private:
  class TRead;

  // Asks the plan about one call; a failure becomes the thread's last error.
  bool Fails(std::string_view operation);

  THidPlatform& Inner_;
  TFaultPlan& Plan_;
  std::atomic<int> LiveReads_{0};
  std::atomic<int> WaitingReads_{0};
  std::atomic<int> OutstandingReads_{0};
  std::atomic<std::uint64_t> WaitsBegun_{0};
};

}  // namespace glowstep
