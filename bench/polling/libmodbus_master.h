// The comparison master: libmodbus's blocking RTU master reading the same ten blocks of registers,
// one call after another on the calling thread, as a simple polling program would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "master_run.h"

namespace qb::bench {

struct LibmodbusConfig {
  int baud = 9600;
  int timeOutMs = 1000;
  size_t warmUp = 10;
  size_t measured = 100;
  // 0: the next request goes at once, as libmodbus's polling loops do. Above 0: after each reply
  // the loop waits as the library's RTU gap rule does, until the first millisecond tick of
  // CLOCK_MONOTONIC more than this many ms after the reply, sleeping to shortly before that edge
  // and spinning the rest, as the library's precise timer does. A master that waits like the
  // library, for telling the library's own costs from those of sending after a silence.
  int waitRuleMs = 0;
  // CPU time of every thread of the process but the device's, so far (null: not taken).
  std::function<int64_t()> hostCpuNs;
};

MasterRun RunLibmodbus(const LibmodbusConfig& config, const std::string& devicePath);

}  // namespace qb::bench
