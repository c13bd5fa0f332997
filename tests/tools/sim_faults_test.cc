// The fault options: which replies they hit and what they do to the bytes, then on a live
// pseudo-terminal with the exact bytes and timing a master sees. (Drop and corrupt as libmodbus
// sees them are in the libmodbus tests.)
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

// A live simulator for slave 1 with holding registers 0 and 1 = 0x1234, 0x5678.
struct LiveFaults {
  explicit LiveFaults(const FaultOptions& faults) : sim(SimulatorOptions{.faults = faults}) {
    sim.model.Set(1, Table::kHoldingRegisters, 0, {0x1234, 0x5678});
  }
  simtest::SimOnPty sim;
  simtest::LineEnd client{sim.Path()};
  const Bytes request = WithCrc(Hex("01 03 0000 0002"));
  const Bytes reply = WithCrc(Hex("01 03 04 1234 5678"));
};

TEST(SimFaultsLiveTest, NoiseOnEverySecondReply) {
  LiveFaults t(FaultOptions{.noiseEvery = 2, .noise = {0xFF, 0x00}});
  ASSERT_TRUE(t.sim.Ready() && t.client.Ok());
  ASSERT_TRUE(t.client.Write(t.request));
  EXPECT_EQ(t.client.Read(t.reply.size(), 3000), t.reply);
  EXPECT_TRUE(t.client.Quiet(50));
  ASSERT_TRUE(t.client.Write(t.request));
  EXPECT_EQ(t.client.Read(t.reply.size() + 2, 3000), Concat(Hex("FF 00"), t.reply));
  EXPECT_TRUE(t.client.Quiet(50));
  EXPECT_EQ(t.sim.CountersOnce(&SimulatorCounters::replies, 2).noisy, 1u);
}

TEST(SimFaultsLiveTest, DelayedReplyComesInTwoPiecesWithAGap) {
  LiveFaults t(FaultOptions{.replyDelayMs = 300, .splitEvery = 1, .splitAt = 4, .splitGapMs = 200});
  ASSERT_TRUE(t.sim.Ready() && t.client.Ok());
  const auto sent = std::chrono::steady_clock::now();
  ASSERT_TRUE(t.client.Write(t.request));
  EXPECT_EQ(t.client.Read(t.reply.size(), 5000), t.reply);
  const auto& at = t.client.ArrivalTimes();
  ASSERT_EQ(at.size(), t.reply.size());
  EXPECT_EQ(at[0], at[3]);  // the first piece came as one block, the second one later
  EXPECT_LT(at[3], at[4]);
  EXPECT_EQ(at[4], at[8]);
  EXPECT_GE(at[0] - sent, std::chrono::milliseconds(300));
  EXPECT_GE(at[4] - at[3], std::chrono::milliseconds(150));
  EXPECT_EQ(t.sim.CountersOnce(&SimulatorCounters::split, 1).split, 1u);
}

}  // namespace
}  // namespace qb::sim
