// The simulator on a live pseudo-terminal, driven by raw frames: replies and exception replies,
// silence for other slaves, broadcasts and damaged requests. (Everything a master sees of it is
// also checked by libmodbus, mbpoll and pymodbus, and by the end-to-end tests.)
#include <gtest/gtest.h>

#include "sim_test_util.h"

namespace qb::sim {
namespace {

using simtest::Bytes;
using simtest::Hex;
using simtest::LineEnd;
using simtest::SimOnPty;
using simtest::WithCrc;

TEST(SimSimulatorTest, RepliesInOrderAndSilenceWhereNoneIsDue) {
  SimOnPty sim({}, {1, 7}, TableSizes{16, 16, 16, 16});
  ASSERT_TRUE(sim.Ready());
  sim.model.Set(7, Table::kInputRegisters, 15, {0x0102});
  LineEnd client(sim.Path());
  ASSERT_TRUE(client.Ok());
  ASSERT_TRUE(client.Write(WithCrc(Hex("07 04 000F 0001"))));
  EXPECT_EQ(client.Read(7, 3000), WithCrc(Hex("07 04 02 0102")));
  ASSERT_TRUE(client.Write(WithCrc(Hex("01 07"))));  // ended by the silence
  EXPECT_EQ(client.Read(5, 3000), WithCrc(Hex("01 87 01")));

  // No reply: another slave, a broadcast (done on every slave), a damaged request.
  Bytes damaged = WithCrc(Hex("01 06 0003 0005"));
  damaged[5] ^= 0x01;
  const std::pair<Bytes, uint64_t SimulatorCounters::*> silent[] = {
      {WithCrc(Hex("05 03 0000 0001")), &SimulatorCounters::notAddressed},
      {WithCrc(Hex("00 10 0001 0002 04 1111 2222")), &SimulatorCounters::broadcasts},
      {damaged, &SimulatorCounters::checksumErrors},
  };
  for (const auto& [request, counter] : silent) {
    ASSERT_TRUE(client.Write(request));
    ASSERT_TRUE(sim.WaitCount(counter, 1));
    EXPECT_TRUE(client.Quiet(100));
  }
  for (const uint8_t s : {1, 7}) EXPECT_EQ(sim.model.Get(s, Table::kHoldingRegisters, 2), 0x2222);
  EXPECT_EQ(sim.model.Get(1, Table::kHoldingRegisters, 3), 0);  // the damaged write was not done

  // After the silence the device listens again.
  ASSERT_TRUE(client.Write(WithCrc(Hex("01 03 0001 0001"))));
  EXPECT_EQ(client.Read(7, 3000), WithCrc(Hex("01 03 02 1111")));
  const SimulatorCounters c = sim.CountersOnce(&SimulatorCounters::replies, 3);
  EXPECT_EQ(c.requests, 4u);
  EXPECT_EQ(c.exceptions, 1u);
  EXPECT_EQ(c.bytesIn, 8u + 4u + 8u + 13u + 8u + 8u);
}

}  // namespace
}  // namespace qb::sim
