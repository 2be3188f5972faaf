#pragma once

#include <type_traits>
#include <utility>

namespace glowstep {

// Sets a variable for the length of a scope and puts back the value it found there, also when
// the scope is left by an exception. Nested guards on the same variable unwind in order, so a
// re-entered scope never clears a flag an outer one still holds.
template <typename T>
class TScopeValue {
 public:
  [[nodiscard]] TScopeValue(T& variable, std::type_identity_t<T> value)
      : Variable_(variable), Found_(std::exchange(variable, std::move(value))) {}
  TScopeValue(const TScopeValue&) = delete;
  TScopeValue& operator=(const TScopeValue&) = delete;
  ~TScopeValue() { Variable_ = std::move(Found_); }

 private:
  T& Variable_;
  T Found_;
};

// Runs an action when the scope is left, returned or raised: the release of a handle, a count
// brought up to date. The action must not raise.
template <typename TAction>
class TScopeExit {
 public:
  [[nodiscard]] explicit TScopeExit(TAction action) : Action_(std::move(action)) {}
  TScopeExit(const TScopeExit&) = delete;
  TScopeExit& operator=(const TScopeExit&) = delete;
  ~TScopeExit() { Action_(); }

 private:
  TAction Action_;
};

}  // namespace glowstep
