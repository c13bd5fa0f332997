// The fault options: which replies they hit and what they do to the bytes. (Drop and corrupt as
// libmodbus sees them are in the libmodbus tests, every fault against the library in the PLC link
// tests.)
#include <gtest/gtest.h>

#include "sim/fault_options.h"
#include "sim_test_util.h"

namespace qb::sim {
namespace {

using simtest::AsciiFrame;
using simtest::Bytes;
using simtest::Concat;
using simtest::Hex;
using simtest::Text;
using simtest::WithCrc;

Bytes InvertLastTwo(Bytes frame) {
  frame[frame.size() - 2] ^= 0xFF;
  frame[frame.size() - 1] ^= 0xFF;
  return frame;
}

TEST(SimShapeReplyTest, EveryNthReplyInOrder) {
  FaultOptions f;
  f.dropEvery = 3;
  f.corruptEvery = 2;
  const Bytes frame = WithCrc(Hex("01 06 0001 0003"));
  std::string seen;
  for (uint64_t n = 1; n <= 6; ++n) {
    const ShapedReply r = ShapeReply(f, n, Framing::kRtu, frame);
    seen += r.dropped ? 'D' : r.corrupted ? 'C' : '.';
    EXPECT_EQ(r.first, r.dropped ? Bytes{} : r.corrupted ? InvertLastTwo(frame) : frame) << n;
  }
  EXPECT_EQ(seen, ".CDC.D");  // a dropped reply takes no other fault
}

TEST(SimShapeReplyTest, CorruptNoiseAndSplit) {
  FaultOptions f;
  f.corruptEvery = 1;
  // ASCII: the LRC plus one (sum 0x0B: F5 -> F6), and FF wraps to 00 (sum 0x01).
  EXPECT_EQ(ShapeReply(f, 1, Framing::kAscii, Text(":0103020005F5\r\n")).first,
            Text(":0103020005F6\r\n"));
  EXPECT_EQ(ShapeReply(f, 1, Framing::kAscii, AsciiFrame(Hex("00 01"))).first, Text(":000100\r\n"));

  const Bytes frame = WithCrc(Hex("01 03 02 0005"));  // 7 bytes
  FaultOptions s;
  s.noiseEvery = 1;
  s.noise = {0xAA, 0x55};
  s.noiseAfter = true;
  EXPECT_EQ(ShapeReply(s, 1, Framing::kRtu, frame).first, Concat(frame, Hex("AA 55")));
  s.noiseEvery = 0;
  s.splitEvery = 1;
  const std::pair<size_t, size_t> cuts[] = {{0, 3}, {1, 1}, {100, 6}};  // 0: half; never empty
  for (const auto& [at, firstSize] : cuts) {
    s.splitAt = at;
    const ShapedReply r = ShapeReply(s, 1, Framing::kRtu, frame);
    EXPECT_TRUE(r.split);
    EXPECT_EQ(r.first, Bytes(frame.begin(), frame.begin() + firstSize)) << at;
    EXPECT_EQ(r.second, Bytes(frame.begin() + firstSize, frame.end())) << at;
  }
}

}  // namespace
}  // namespace qb::sim
