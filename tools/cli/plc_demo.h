// `quillbox demo --protocol LSMK|MKLD|MBFX`: the simulated controller of that protocol on a new
// pseudo-terminal pair, polled through the library as the Modbus demo polls its slave.
#pragma once

#include <cstdint>
#include <string>

namespace qb::cli {

struct PlcDemoArgs {
  std::string protocol;  // "LSMK", "MKLD" or "MBFX"
  double seconds = 3;
  uint32_t baud = 38400;
  bool json = false;
  bool precise = false;
};

// 0 when every value read is the one the simulator holds and nothing timed out.
int RunPlcDemo(const PlcDemoArgs& args);

}  // namespace qb::cli
