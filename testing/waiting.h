// How the tests wait: for the event they expect, never for a time window, and up to a deadline
// that only a fault reaches, also on a machine busy with other work.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace glowstep {

// The deadline of a wait for an event that is sure to come unless something is broken.
inline constexpr std::chrono::milliseconds kPatience{10'000};

// Waits, without running any loop, until another thread has made `done` hold; false when it
// did not within kPatience.
inline bool AwaitOtherThread(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace glowstep
