// What the kernel counts of this process's threads, for tests and benchmarks: how many threads
// bear a name, and how often a thread went to sleep or was preempted. Linux only; elsewhere the
// answers are -1 (not known).
#pragma once

#include <cstdint>
#include <string_view>

namespace glowstep {

// Threads whose name starts with `prefix` (names are cut to 15 characters by the kernel).
int ThreadsNamed(std::string_view prefix);

// Voluntary and involuntary context switches of the first thread whose name starts with
// `prefix`, or of the thread `tid`; -1 when there is no such thread.
std::int64_t ContextSwitchesOfThreadNamed(std::string_view prefix);
std::int64_t ContextSwitchesOfThread(long tid);

// Whether the thread `tid` sleeps now, waiting for something in the kernel (state S); false when
// it runs, is ready to, or is not known.
bool ThreadSleeps(long tid);

}  // namespace glowstep
