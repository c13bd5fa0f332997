// Faults the simulated device can put on the line, to see how a master copes: a late reply, a
// missing reply, a reply with a bad checksum, noise bytes around a reply, a reply in two pieces.
// Each fault hits every n-th reply (counting every reply the device means to send, from 1), so a
// test knows exactly which replies are hit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "sim/modbus_codec.h"

namespace qb::sim {

struct FaultOptions {
  int replyDelayMs = 0;  // extra wait before every reply
  int dropEvery = 0;     // 0 = never; n = replies n, 2n, ... are not sent at all
  int corruptEvery = 0;  // replies whose checksum is damaged (RTU CRC bytes inverted, LRC + 1)
  int noiseEvery = 0;    // replies with noise bytes next to them
  std::vector<uint8_t> noise{0x00};  // the noise: by default the 0 byte of a line turning round
  bool noiseAfter = false;           // noise after the reply instead of before it
  int splitEvery = 0;                // replies sent in two pieces
  size_t splitAt = 0;                // bytes in the first piece; 0 = half the reply
  int splitGapMs = 20;               // pause between the pieces
};

// What one reply looks like on the wire once the faults have been applied.
struct ShapedReply {
  bool dropped = false;
  bool corrupted = false;
  bool noisy = false;
  bool split = false;
  std::vector<uint8_t> first;   // sent first (noise included)
  std::vector<uint8_t> second;  // sent splitGapMs later; empty unless split
};

// Applies the faults that hit reply number `replyNumber` (from 1) to an encoded frame.
ShapedReply ShapeReply(const FaultOptions& faults, uint64_t replyNumber, Framing framing,
                       std::vector<uint8_t> frame);
// The same for a frame of another protocol, whose check sum `corrupt` damages (false when the
// frame has none: the reply then goes out as it is and is not counted as corrupted).
ShapedReply ShapeReply(const FaultOptions& faults, uint64_t replyNumber, std::vector<uint8_t> frame,
                       const std::function<bool(std::vector<uint8_t>*)>& corrupt);

}  // namespace qb::sim
