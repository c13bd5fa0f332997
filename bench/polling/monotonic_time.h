// One clock for every timestamp of a run: CLOCK_MONOTONIC, the clock the library's millisecond
// tick is taken from, so that a reply's time can be related to the tick the library saw.
#pragma once

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

}  // namespace qb::bench
