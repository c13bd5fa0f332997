// One clock for every timestamp of a run: CLOCK_MONOTONIC, the clock the library's millisecond
// tick is taken from, so that a reply's time can be related to the tick the library saw.
#pragma once

#include <sys/resource.h>
#include <time.h>

#include <cstdint>

namespace qb::bench {

inline int64_t NsOf(const timespec& ts) { return int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec; }

inline int64_t MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return NsOf(ts);
}

// CPU time consumed so far by the thread (or process) whose CPU clock is `clock`.
inline int64_t CpuNs(clockid_t clock) {
  timespec ts{};
  if (clock_gettime(clock, &ts) != 0) return 0;
  return NsOf(ts);
}

// How often the calling thread has gone to sleep of its own accord so far: each of those sleeps
// ends in a wake-up, whose cost on a small CPU is most of a poller's time per transaction.
inline int64_t ThreadSleeps() {
  rusage usage{};
  if (getrusage(RUSAGE_THREAD, &usage) != 0) return 0;
  return usage.ru_nvcsw;
}

}  // namespace qb::bench
