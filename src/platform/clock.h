// The system tick of the library: milliseconds since an arbitrary start, wrapping at 2^32.
#pragma once

#include <cstdint>

namespace qb {

// Milliseconds of CLOCK_MONOTONIC, truncated to 32 bits (wraps after 49.7 days).
uint32_t MonotonicTickMs();
// Sleeps the calling thread for ms milliseconds.
void SleepForMs(uint32_t ms);

// Signed difference of two ticks, as every time-out and interval test compares them.
inline int32_t TickDiff(uint32_t later, uint32_t earlier) {
  return static_cast<int32_t>(later - earlier);
}

}  // namespace qb
