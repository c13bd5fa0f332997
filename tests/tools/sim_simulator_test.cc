// The simulator on a live pseudo-terminal, driven by raw frames: replies and exception replies,
// silence for other slaves, broadcasts and damaged requests, ASCII golden frames, a serial device
// opened by path, a line that fails, and a prompt stop in the middle of a slow reply.
#include <gtest/gtest.h>
#include <termios.h>

#include "sim_test_util.h"

namespace qb::sim {
namespace {

using simtest::AsciiFrame;
using simtest::Bytes;
using simtest::Hex;
using simtest::LineEnd;
using simtest::SimOnPty;
using simtest::Text;
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

TEST(SimSimulatorTest, AsciiGoldenFrames) {
  SimOnPty sim(SimulatorOptions{.framing = Framing::kAscii}, {0x11});
  ASSERT_TRUE(sim.Ready());
  sim.model.Set(0x11, Table::kCoils, 0x13, {1, 0, 1, 1, 0, 1, 1, 0, 1, 0});
  LineEnd client(sim.Path());
  ASSERT_TRUE(client.Ok());
  // 11 01 0013 000A -> 11 01 02 6D 01 (coils 1 0 1 1 0 1 1 0 | 1 0): sums 0x2F and 0x82.
  ASSERT_TRUE(client.Write(Text(":11010013000AD1\r\n")));
  EXPECT_EQ(client.Read(15, 3000), Text(":1101026D017E\r\n"));
  // A wrong LRC gets no reply; noise between frames is skipped.
  ASSERT_TRUE(client.Write(Text(":1103006B000280\r\n")));
  ASSERT_TRUE(sim.WaitCount(&SimulatorCounters::checksumErrors, 1));
  EXPECT_TRUE(client.Quiet(100));
  ASSERT_TRUE(client.Write(simtest::Concat(Text("\r\n##"), AsciiFrame(Hex("11 04 0000 0001")))));
  EXPECT_EQ(client.Read(15, 3000), AsciiFrame(Hex("11 04 02 0000")));
  EXPECT_EQ(sim.CountersOnce(&SimulatorCounters::replies, 2).strayBytes, 4u);
}

TEST(SimSimulatorTest, ServesASerialDeviceOpenedByPath) {
  test::Pty line;  // the test plays the master on its master side
  ASSERT_TRUE(line.Ok());
  std::string error;
  // 7E2: a pseudo-terminal keeps 8 bits without parity, but takes the speed and stop bits.
  const int fd = OpenSerialDevice(line.Path(), LineFormat{19200, 7, 'E', 2}, &error);
  ASSERT_GE(fd, 0) << error;
  termios t{};
  ASSERT_EQ(::tcgetattr(fd, &t), 0);
  EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B19200));
  EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8 | CSTOPB));
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);

  DeviceModel model;
  model.AddSlave(3);
  model.Set(3, Table::kDiscreteInputs, 100, {1, 1, 0, 1});
  {
    Simulator sim(fd, &model, {});
    ASSERT_TRUE(sim.Start(&error)) << error;
    EXPECT_FALSE(sim.Start(&error));
    EXPECT_EQ(error, "the simulator runs already");
    ASSERT_TRUE(line.Write(WithCrc(Hex("03 02 0064 0004"))));
    EXPECT_EQ(line.Read(6), WithCrc(Hex("03 02 01 0B")));
    EXPECT_TRUE(line.Quiet(50));
  }
  ::close(fd);
}

TEST(SimSimulatorTest, ALineThatIsNotOpenEndsTheThreadWithAReason) {
  const int notOpen = 1000;
  ASSERT_EQ(::fcntl(notOpen, F_GETFD), -1);
  DeviceModel model;
  Simulator sim(notOpen, &model, {});
  std::string error;
  ASSERT_TRUE(sim.Start(&error));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (sim.Running() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_FALSE(sim.Running());
  EXPECT_EQ(sim.Failure(), "the line's descriptor is not open");
}

TEST(SimSimulatorTest, StopCutsASlowPacedReplyShortAndStartResumes) {
  // 125 registers at 300 baud: 255 bytes, 8.5 s on the wire.
  SimOnPty sim(SimulatorOptions{.line = {300, 8, 'N', 1}, .paced = true});
  ASSERT_TRUE(sim.Ready());
  LineEnd client(sim.Path());
  ASSERT_TRUE(client.Write(WithCrc(Hex("01 03 0000 007D"))));
  EXPECT_EQ(client.Read(1, 5000), Hex("01"));
  const auto before = std::chrono::steady_clock::now();
  sim.simulator->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(200));
  EXPECT_FALSE(sim.simulator->Running());
  const SimulatorCounters c = sim.simulator->Counters();
  EXPECT_EQ(c.replies, 0u);
  EXPECT_LT(c.bytesOut, 20u);

  std::string error;
  ASSERT_TRUE(sim.simulator->Start(&error)) << error;
  ASSERT_TRUE(client.Write(WithCrc(Hex("01 06 0000 0001"))));
  EXPECT_TRUE(sim.WaitCount(&SimulatorCounters::replies, 1));
}

}  // namespace
}  // namespace qb::sim
