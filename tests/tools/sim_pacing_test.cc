// Line timing: character and silence times from the baud rate and character format, then a paced
// simulator on a pseudo-terminal measured with generous bounds (lower bounds only: a busy machine
// can make bytes late, never early).
#include <gtest/gtest.h>

#include <set>

#include "sim/line_pacing.h"
#include "sim_test_util.h"

namespace qb::sim {
namespace {

using simtest::Hex;
using simtest::WithCrc;
using std::chrono::microseconds;
using std::chrono::milliseconds;

TEST(SimLinePacingTest, CharacterSilenceAndWireTimes) {
  EXPECT_EQ(BitsPerChar({9600, 8, 'N', 1}), 10);
  EXPECT_EQ(BitsPerChar({9600, 8, 'E', 1}), 11);
  EXPECT_EQ(BitsPerChar({9600, 8, 'N', 2}), 11);
  EXPECT_EQ(BitsPerChar({9600, 7, 'O', 2}), 11);
  EXPECT_EQ(BitsPerChar({9600, 7, 'N', 1}), 9);

  const LinePacing p9600({9600, 8, 'N', 1}, true);
  EXPECT_EQ(p9600.CharTime(), microseconds(1042));      // 10 / 9600 s = 1041.7 us
  EXPECT_EQ(p9600.FrameSilence(), microseconds(3646));  // 35 / 9600 s = 3645.8 us
  EXPECT_EQ(p9600.WireTime(8), microseconds(8334));     // 80 / 9600 s = 8333.3 us
  const LinePacing p19200({19200, 8, 'E', 1}, false);
  EXPECT_EQ(p19200.CharTime(), microseconds(573));       // 11 / 19200 s = 572.9 us
  EXPECT_EQ(p19200.FrameSilence(), microseconds(2006));  // 38.5 / 19200 s = 2005.2 us
  // Above 19200 baud the silence stays at 1750 us.
  EXPECT_EQ(LinePacing({38400, 8, 'N', 1}, true).FrameSilence(), microseconds(1750));
  EXPECT_EQ(LinePacing({115200, 8, 'N', 2}, true).WireTime(256), microseconds(24445));

  EXPECT_EQ(CheckLineFormat({9600, 8, 'N', 1}), "");
  EXPECT_EQ(CheckLineFormat({0, 8, 'N', 1}), "the baud rate must be positive");
  EXPECT_EQ(CheckLineFormat({9600, 6, 'N', 1}), "data bits must be 7 or 8");
  EXPECT_EQ(CheckLineFormat({9600, 8, 'n', 1}), "parity must be N, E or O");
  EXPECT_EQ(CheckLineFormat({9600, 8, 'N', 3}), "stop bits must be 1 or 2");
}

// 1200 baud 8N1, 8.33 ms a character: the 8-byte request occupies 66.7 ms, the silence 29.2 ms,
// and the 25-byte reply of 10 registers 208.3 ms.
TEST(SimLinePacingTest, PacedRtuReplyTakesTheLinesTime) {
  simtest::SimOnPty sim(SimulatorOptions{.line = {1200, 8, 'N', 1}, .paced = true});
  ASSERT_TRUE(sim.Ready());
  sim.model.Set(1, Table::kHoldingRegisters, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  simtest::LineEnd client(sim.Path());
  const auto sent = std::chrono::steady_clock::now();
  ASSERT_TRUE(client.Write(WithCrc(Hex("01 03 0000 000A"))));
  EXPECT_EQ(client.Read(25, 5000),
            WithCrc(Hex("01 03 14 0001 0002 0003 0004 0005 0006 0007 0008 0009 000A")));
  const auto& at = client.ArrivalTimes();
  ASSERT_EQ(at.size(), 25u);
  EXPECT_GE(at.front() - sent, milliseconds(95));  // 66.7 + 29.2 ms before the first byte
  EXPECT_GE(at.back() - sent, milliseconds(295));  // and 24 character times to the last
  EXPECT_LT(at.back() - sent, milliseconds(5000));
  EXPECT_GE(std::set(at.begin(), at.end()).size(), 5u);  // one by one, not as a block
}

}  // namespace
}  // namespace qb::sim
