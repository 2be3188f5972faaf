#include "testing/fault_injection.h"

#include <atomic>
#include <cstdio>

namespace glowstep {

namespace {

// A number of the calling thread that no later thread gets: the system reuses thread ids.
std::atomic<std::uint64_t> gThreadSerials{0};
std::uint64_t ThreadSerial() {
  thread_local const std::uint64_t serial = ++gThreadSerials;
  return serial;
}

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

}  // namespace glowstep
