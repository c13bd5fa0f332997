// The comparison master: libmodbus's blocking RTU master reading the same ten blocks of registers,
// one call after another on the calling thread, as a simple polling program would.
#pragma once

#include <cstddef>
#include <string>

#include "master_run.h"

namespace qb::bench {

struct LibmodbusConfig {
  int baud = 9600;
  int timeOutMs = 1000;
  size_t warmUp = 10;
  size_t measured = 100;
};

MasterRun RunLibmodbus(const LibmodbusConfig& config, const std::string& devicePath);

}  // namespace qb::bench
