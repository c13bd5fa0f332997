// The library as a host uses it: its own serial port in RTU framing, ten auto word reads, events
// to a window procedure on the library's owner thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "master_run.h"

namespace qb::bench {

struct LibraryConfig {
  uint32_t baud = 9600;
  int32_t timerPeriodMs = 10;  // 0: the precise timer
  int32_t queryIntervalMs = 10;
  int32_t timeOutMs = 1000;
  size_t warmUp = 10;
  size_t measured = 100;
  double idleSeconds = 1.0;  // how long the owner thread's idle CPU time is taken over
  // CPU time of every thread of the process but the device's, so far (null: not taken).
  std::function<int64_t()> hostCpuNs;
};

// Polls the device at `devicePath` until warmUp + measured transactions have ended (or a
// deadline passed), then stops the engine, takes the idle CPU time and closes the port.
MasterRun RunLibrary(const LibraryConfig& config, const std::string& devicePath);

}  // namespace qb::bench
