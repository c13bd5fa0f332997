// When the master called write() on its serial port. The device notes a request only when its
// thread has woken for it, which after a silence on this emulated line costs the device's and the
// pseudo-terminal's wake-ups; on a UART the request is on the wire as soon as it is written. The
// time of the write itself is the master's own part of the send path.
//
// The benchmark defines write() itself (it calls the system call directly), so the library and
// libmodbus, whichever is the master, are noted alike without being changed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qb::bench {

// From now on, notes the time of every write to the terminal at `path` (the master's port, not the
// device's side), up to `capacity` of them.
void StampWritesTo(const std::string& path, size_t capacity);
// Stops noting; the times of the writes (CLOCK_MONOTONIC ns), in order.
std::vector<int64_t> TakeWriteStamps();

}  // namespace qb::bench
