#include "testing/fault_injection.h"

#include <cstdio>

namespace glowstep {

namespace {

// The last call of this thread was failed here, with this error (0: it was not).
thread_local std::uint32_t tInjected = 0;

// A number of the calling thread that no later thread gets: the system reuses thread ids.
std::atomic<std::uint64_t> gThreadSerials{0};
std::uint64_t ThreadSerial() {
  thread_local const std::uint64_t serial = ++gThreadSerials;
  return serial;
}

constexpr std::int32_t kHidpStatusInvalidPreparsedData = static_cast<std::int32_t>(0xC0110001u);

// FNV-1a: the same number for the same seed and key on every system, so a random plan fails the
// same calls in every run.
std::uint64_t Hash(std::uint64_t seed, std::string_view text) {
  std::uint64_t hash = 14695981039346656037ULL;
  const auto mix = [&hash](std::uint8_t byte) {
    hash ^= byte;
    hash *= 1099511628211ULL;
  };
  for (int i = 0; i < 8; ++i) mix(static_cast<std::uint8_t>(seed >> (8 * i)));
  for (const char c : text) mix(static_cast<std::uint8_t>(c));
  return hash;
}

}  // namespace

// --- Keys and plans -----------------------------------------------------------------------------

std::string TCallKey::Text() const {
  std::string text = Thread == 0 ? "main" : "thread " + std::to_string(Thread);
  return text + " " + Operation + " #" + std::to_string(Ordinal);
}

std::optional<TCallKey> TCallKey::Parse(std::string_view text) {
  TCallKey key;
  std::string_view rest = text;
  const auto word = [&rest]() {
    const auto end = rest.find(' ');
    const std::string_view first = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    return first;
  };
  const auto number = [](std::string_view digits) -> std::optional<int> {
    if (digits.empty() || digits.size() > 6) return std::nullopt;
    int value = 0;
    for (const char c : digits) {
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + (c - '0');
    }
    return value;
  };
  const std::string_view thread = word();
  if (thread == "thread") {
    const auto n = number(word());
    if (!n || *n == 0) return std::nullopt;
    key.Thread = *n;
  } else if (thread != "main") {
    return std::nullopt;
  }
  key.Operation = std::string(word());
  const std::string_view ordinal = word();
  if (key.Operation.empty() || !rest.empty() || ordinal.size() < 2 || ordinal[0] != '#')
    return std::nullopt;
  const auto n = number(ordinal.substr(1));
  if (!n || *n == 0) return std::nullopt;
  key.Ordinal = *n;
  return key;
}

TFaultPlan::TFaultPlan(TMode mode, TCallKey target, std::uint64_t seed, double probability)
    : Mode_(mode),
      Target_(std::move(target)),
      Seed_(seed),
      Probability_(probability),
      MainThread_(ThreadSerial()),
      Reached_(mode == TMode::Count || mode == TMode::Random) {}

TFaultPlan::TFaultPlan(TMode mode, TCallKey target, TCallKey second, TSpoil spoil)
    : TFaultPlan(mode, std::move(target), 0, 0) {
  Second_ = std::move(second);
  Spoil_ = spoil;
}

TFaultPlan TFaultPlan::Pair(TCallKey first, TCallKey second) {
  return TFaultPlan(TMode::Pair, std::move(first), std::move(second), TSpoil::None);
}

TFaultPlan TFaultPlan::Spoiled(TCallKey target, TSpoil spoil) {
  return TFaultPlan(TMode::Spoil, std::move(target), TCallKey{}, spoil);
}

std::string TFaultPlan::Text() const {
  switch (Mode_) {
    case TMode::Count:
      return "count";
    case TMode::Once:
      return "once " + Target_.Text();
    case TMode::From:
      return "from " + Target_.Text();
    case TMode::Random: {
      char text[64];
      std::snprintf(text, sizeof text, "random %llu p=%g", static_cast<unsigned long long>(Seed_),
                    Probability_);
      return text;
    }
    case TMode::Pair:
      return "pair " + Target_.Text() + " and " + Second_.Text();
    case TMode::Spoil:
      return (Spoil_ == TSpoil::Garbage ? "garbage " : "short ") + Target_.Text();
  }
  return {};
}

int TFaultPlan::ThreadNumber(std::uint64_t thread) {
  if (thread == MainThread_) return 0;
  const auto [it, added] = Threads_.emplace(thread, static_cast<int>(Threads_.size()) + 1);
  return it->second;
}

TFaultPlan::TDecision TFaultPlan::Decide(std::string_view operation) {
  std::lock_guard lock(Lock_);
  const int thread = ThreadNumber(ThreadSerial());
  int& ordinal = Ordinals_[{thread, std::string(operation)}];
  TCallKey key{thread, std::string(operation), ++ordinal};
  bool fail = false;
  bool spoil = false;
  switch (Mode_) {
    case TMode::Count:
      break;
    case TMode::Once:
      fail = key == Target_;
      break;
    case TMode::From:
      Dead_ = Dead_ || key == Target_;
      fail = Dead_;
      break;
    case TMode::Random:
      fail = static_cast<double>(Hash(Seed_, key.Text()) % 1000000) < Probability_ * 1e6;
      break;
    case TMode::Pair:
      SecondReached_ = SecondReached_ || key == Second_;
      fail = key == Target_ || key == Second_;
      break;
    case TMode::Spoil:
      spoil = key == Target_;
      break;
  }
  if (key == Target_) Reached_ = true;
  if (fail || spoil) Failed_.push_back(key);
  Calls_.push_back(std::move(key));
  return {fail ? kInjectedError : 0, spoil ? Spoil_ : TSpoil::None};
}

std::vector<TCallKey> TFaultPlan::Calls() const {
  std::lock_guard lock(Lock_);
  return Calls_;
}

std::size_t TFaultPlan::CallCount() const {
  std::lock_guard lock(Lock_);
  return Calls_.size();
}

std::vector<TCallKey> TFaultPlan::Failed() const {
  std::lock_guard lock(Lock_);
  return Failed_;
}

std::size_t TFaultPlan::FailedCount() const {
  std::lock_guard lock(Lock_);
  return Failed_.size();
}

bool TFaultPlan::Reached() const {
  std::lock_guard lock(Lock_);
  return Reached_ && (Mode_ != TMode::Pair || SecondReached_);
}

// --- Reads --------------------------------------------------------------------------------------

// One reader's read, asking the plan before each step; used by the reader thread only.
class TFaultyPlatform::TRead final : public TPlatformRead {
 public:
  TRead(TFaultyPlatform& owner, std::unique_ptr<TPlatformRead> inner)
      : Owner_(owner), Inner_(std::move(inner)) {
    ++Owner_.LiveReads_;
  }
  TRead(const TRead&) = delete;
  TRead& operator=(const TRead&) = delete;
  ~TRead() override {
    SetOutstanding(false);
    --Owner_.LiveReads_;
  }

  bool Begin(THidHandle handle, std::uint8_t* buffer, std::uint32_t length) override {
    if (Owner_.Fails("Begin")) return false;
    if (!Inner_->Begin(handle, buffer, length)) return false;
    Handle_ = handle;
    Completion_ = 0;
    SetOutstanding(true);
    return true;
  }

  std::uint32_t Wait(std::int32_t milliseconds) override {
    if (Outstanding_ && Owner_.Fails("Wait")) {
      // The read ends with an I/O error: taken back from the system, so the buffer is free.
      Inner_->Cancel(Handle_);
      SetOutstanding(false);
      Completion_ = kInjectedError;
      return kWaitIoCompletion;
    }
    if (!Outstanding_) tInjected = 0;
    ++Owner_.WaitsBegun_;
    ++Owner_.WaitingReads_;
    const std::uint32_t result = Inner_->Wait(milliseconds);
    --Owner_.WaitingReads_;
    if (result == kWaitIoCompletion) SetOutstanding(false);
    return result;
  }

  bool Result(THidHandle handle, std::uint32_t& count) override {
    count = 0;
    if (Owner_.Fails("Result")) return false;
    if (Completion_ != 0) {
      tInjected = Completion_;
      return false;
    }
    return Inner_->Result(handle, count);
  }

  bool Cancel(THidHandle handle) override {
    const bool fails = Owner_.Fails("Cancel");
    const bool cancelled = Inner_->Cancel(handle);
    SetOutstanding(false);
    if (fails) tInjected = kInjectedError;
    return cancelled && !fails;
  }

  void Wake() override { Inner_->Wake(); }

 private:
  void SetOutstanding(bool outstanding) {
    if (Outstanding_ == outstanding) return;
    Outstanding_ = outstanding;
    if (outstanding)
      ++Owner_.OutstandingReads_;
    else
      --Owner_.OutstandingReads_;
  }

  TFaultyPlatform& Owner_;
  std::unique_ptr<TPlatformRead> Inner_;
  THidHandle Handle_ = kInvalidHandle;
  std::uint32_t Completion_ = 0;  // the error an injected failure ended the read with
  bool Outstanding_ = false;
};

// --- The platform -------------------------------------------------------------------------------

TFaultyPlatform::TFaultyPlatform(THidPlatform& inner, TFaultPlan& plan)
    : Inner_(inner), Plan_(plan) {}

TFaultyPlatform::~TFaultyPlatform() { Bindings().ReleaseAll(); }

bool TFaultyPlatform::Fails(std::string_view operation) {
  tInjected = Plan_.Call(operation);
  return tInjected != 0;
}

TLibraryHandle TFaultyPlatform::LoadLibraryByName(std::string_view name) {
  if (Fails("LoadLibrary")) return 0;
  return Inner_.LoadLibraryByName(name);
}

void TFaultyPlatform::FreeLibraryHandle(TLibraryHandle library) {
  tInjected = 0;
  Inner_.FreeLibraryHandle(library);
}

TEntryAddress TFaultyPlatform::ResolveExport(TLibraryHandle library, std::string_view name) {
  if (Fails("ResolveExport")) return nullptr;
  return Inner_.ResolveExport(library, name);
}

bool TFaultyPlatform::IsNtVersionAtLeast(int major, int minor) {
  tInjected = 0;
  return Inner_.IsNtVersionAtLeast(major, minor);
}

TGuid TFaultyPlatform::GetHidGuid() {
  tInjected = 0;
  return Inner_.GetHidGuid();
}

TDeviceInfoSet TFaultyPlatform::GetClassDevs(const TGuid& interfaceClass) {
  if (Fails("GetClassDevs")) return kInvalidDeviceInfoSet;
  return Inner_.GetClassDevs(interfaceClass);
}

bool TFaultyPlatform::EnumDeviceInterfaces(TDeviceInfoSet set,
                                           const TGuid& interfaceClass,
                                           std::uint32_t index,
                                           TDeviceInterfaceRecord& record) {
  if (Fails("EnumDeviceInterfaces")) return false;
  return Inner_.EnumDeviceInterfaces(set, interfaceClass, index, record);
}

bool TFaultyPlatform::GetDeviceInterfaceDetail(TDeviceInfoSet set,
                                               const TDeviceInterfaceRecord& record,
                                               char* pathBuffer,
                                               std::uint32_t bufferSize,
                                               std::uint32_t& required,
                                               TDeviceInfoRecord& info) {
  if (Fails("GetDeviceInterfaceDetail")) return false;
  return Inner_.GetDeviceInterfaceDetail(set, record, pathBuffer, bufferSize, required, info);
}

bool TFaultyPlatform::GetDeviceRegistryProperty(TDeviceInfoSet set,
                                                const TDeviceInfoRecord& info,
                                                std::uint32_t property,
                                                std::uint8_t* buffer,
                                                std::uint32_t bufferSize) {
  if (Fails("GetDeviceRegistryProperty")) return false;
  return Inner_.GetDeviceRegistryProperty(set, info, property, buffer, bufferSize);
}

void TFaultyPlatform::DestroyDeviceInfoList(TDeviceInfoSet set) {
  tInjected = 0;
  Inner_.DestroyDeviceInfoList(set);
}

THidHandle TFaultyPlatform::OpenFile(const std::string& path, TFileAccess access, bool overlapped) {
  if (Fails("OpenFile")) return kInvalidHandle;
  return Inner_.OpenFile(path, access, overlapped);
}

bool TFaultyPlatform::CloseFile(THidHandle handle) {
  const bool fails = Fails("CloseFile");
  const bool closed = Inner_.CloseFile(handle);
  if (fails) tInjected = kInjectedError;
  return closed && !fails;
}

bool TFaultyPlatform::WriteFile(THidHandle handle,
                                const std::uint8_t* buffer,
                                std::uint32_t length,
                                std::uint32_t& written) {
  if (Fails("WriteFile")) {
    written = 0;
    return false;
  }
  return Inner_.WriteFile(handle, buffer, length, written);
}

void TFaultyPlatform::SetWriteTimeLimit(std::chrono::milliseconds limit) {
  THidPlatform::SetWriteTimeLimit(limit);
  Inner_.SetWriteTimeLimit(limit);
}

std::unique_ptr<TPlatformRead> TFaultyPlatform::CreateRead() {
  tInjected = 0;
  return std::make_unique<TRead>(*this, Inner_.CreateRead());
}

std::uint32_t TFaultyPlatform::LastError() {
  return tInjected != 0 ? tInjected : Inner_.LastError();
}

TMessage TFaultyPlatform::LastErrorMessage() {
  return tInjected != 0 ? ErrorCodeMessage(tInjected) : Inner_.LastErrorMessage();
}

THidAccessReason TFaultyPlatform::QueryAccessReason(THidHandle handle) {
  return Inner_.QueryAccessReason(handle);
}

bool TFaultyPlatform::GetAttributes(THidHandle handle, THidAttributes& attributes) {
  if (Fails("GetAttributes")) return false;
  return Inner_.GetAttributes(handle, attributes);
}

bool TFaultyPlatform::GetProductString(THidHandle handle,
                                       char16_t* buffer,
                                       std::uint32_t bufferBytes) {
  if (Fails("GetProductString")) return false;
  return Inner_.GetProductString(handle, buffer, bufferBytes);
}

bool TFaultyPlatform::GetPreparsedData(THidHandle handle, TPreparsedData& preparsed) {
  if (Fails("GetPreparsedData")) return false;
  return Inner_.GetPreparsedData(handle, preparsed);
}

bool TFaultyPlatform::FreePreparsedData(TPreparsedData preparsed) {
  const bool fails = Fails("FreePreparsedData");
  const bool freed = Inner_.FreePreparsedData(preparsed);
  if (fails) tInjected = kInjectedError;
  return freed && !fails;
}

std::int32_t TFaultyPlatform::GetCaps(TPreparsedData preparsed, THidCaps& caps) {
  if (Fails("GetCaps")) return kHidpStatusInvalidPreparsedData;
  return Inner_.GetCaps(preparsed, caps);
}

bool TFaultyPlatform::SetNumInputBuffers(THidHandle handle, std::uint32_t count) {
  if (Fails("SetNumInputBuffers")) return false;
  return Inner_.SetNumInputBuffers(handle, count);
}

bool TFaultyPlatform::GetNumInputBuffers(THidHandle handle, std::uint32_t& count) {
  if (Fails("GetNumInputBuffers")) return false;
  return Inner_.GetNumInputBuffers(handle, count);
}

std::unique_ptr<TDeviceNotifier> TFaultyPlatform::CreateDeviceNotifier(
    TMainThreadPort& port,
    TDeviceChangeCallback callback) {
  if (Fails("CreateDeviceNotifier")) return nullptr;
  return Inner_.CreateDeviceNotifier(port, std::move(callback));
}

void TFaultyPlatform::NameCurrentThread(std::string_view name) {
  tInjected = 0;
  Inner_.NameCurrentThread(name);
}

}  // namespace glowstep
