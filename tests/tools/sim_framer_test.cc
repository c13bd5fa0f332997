// Request framing under a made-up clock: RTU frames by length and by silence, deafness after a
// bad CRC, bounds; ASCII frames from ':' to CR LF and their failure cases.
#include <gtest/gtest.h>

#include "sim/framer.h"
#include "sim_test_util.h"

namespace qb::sim {
namespace {

using simtest::AsciiFrame;
using simtest::Bytes;
using simtest::Concat;
using simtest::Hex;
using simtest::Text;
using simtest::WithCrc;
using us = std::chrono::microseconds;

constexpr us kSilence{4000};

std::vector<Bytes> TakeAll(Framer& f, us now) {
  std::vector<Bytes> out;
  while (auto frame = f.Take(now)) out.push_back(frame->adu);
  return out;
}

TEST(SimFramerTest, RtuFramesEndAtTheirLengthInAnyPieces) {
  Framer f(Framing::kRtu, kSilence);
  const Bytes write = WithCrc(Hex("11 10 0001 0002 04 000A 0102"));
  for (size_t i = 0; i < write.size(); ++i) {
    EXPECT_FALSE(f.Take(us(1000 + 100 * i)).has_value()) << i;
    f.Feed(Bytes{write[i]}, us(1000 + 100 * i));
  }
  auto frame = f.Take(us(2200));  // at once, no silence needed
  ASSERT_TRUE(frame.has_value());
  EXPECT_EQ(frame->adu, Hex("11 10 0001 0002 04 000A 0102"));
  EXPECT_EQ(frame->firstByte, us(1000));
  EXPECT_EQ(frame->wireBytes, 13u);
  EXPECT_FALSE(f.SilenceDeadline().has_value());

  f.Feed(Concat(WithCrc(Hex("01 05 0002 FF00")), WithCrc(Hex("02 16 0004 00F2 0025"))), us(9000));
  EXPECT_EQ(TakeAll(f, us(9000)),
            (std::vector<Bytes>{Hex("01 05 0002 FF00"), Hex("02 16 0004 00F2 0025")}));
}

TEST(SimFramerTest, RtuBadCrcMakesTheDeviceDeafUntilTheNextSilence) {
  Framer f(Framing::kRtu, kSilence);
  Bytes bad = WithCrc(Hex("01 03 0000 0002"));
  bad.back() ^= 0x01;
  f.Feed(bad, us(0));
  f.Feed(WithCrc(Hex("01 03 0000 0002")), us(3999));  // still the damaged transmission
  EXPECT_TRUE(TakeAll(f, us(3999)).empty());
  EXPECT_EQ(f.SilenceDeadline(), us(7999));
  f.Feed(WithCrc(Hex("01 04 0000 0001")), us(7999));
  EXPECT_EQ(TakeAll(f, us(7999)), std::vector<Bytes>{Hex("01 04 0000 0001")});
  EXPECT_EQ(f.Counters().checksumErrors, 1u);
  EXPECT_EQ(f.Counters().strayBytes, 8u);
}

TEST(SimFramerTest, RtuSilenceEndsUnknownFunctionsAndCutsShortFrames) {
  Framer f(Framing::kRtu, kSilence);
  f.Feed(WithCrc(Hex("01 07")), us(500));
  EXPECT_FALSE(f.Take(us(4499)).has_value());
  auto frame = f.Take(us(4500));
  ASSERT_TRUE(frame.has_value());
  EXPECT_EQ(frame->adu, Hex("01 07"));
  EXPECT_EQ(frame->wireBytes, 4u);

  const Bytes whole = WithCrc(Hex("01 03 0000 0002"));
  f.Feed(Bytes(whole.begin(), whole.begin() + 5), us(10000));
  f.Feed(Bytes(whole.begin() + 5, whole.end()), us(14000));  // after the silence: no join
  f.Feed(Hex("01 07 41"), us(20000));                        // too short for any frame
  Bytes badCrc = WithCrc(Hex("01 2B 0E 01 00"));
  badCrc[2] ^= 0x40;
  f.Feed(badCrc, us(30000));
  EXPECT_TRUE(TakeAll(f, us(40000)).empty());
  EXPECT_EQ(f.Counters().malformed, 3u);
  EXPECT_EQ(f.Counters().checksumErrors, 1u);
}

TEST(SimFramerTest, RtuSilenceOnly) {
  Framer f(Framing::kRtu, kSilence, RtuBoundary::kSilenceOnly);
  f.Feed(WithCrc(Hex("01 03 0000 0002")), us(0));
  EXPECT_FALSE(f.Take(us(3999)).has_value());
  EXPECT_EQ(TakeAll(f, us(4000)), std::vector<Bytes>{Hex("01 03 0000 0002")});
  // Two frames without a gap are one transmission with a wrong CRC; a frame longer than its
  // function needs is passed on for the slave to judge.
  f.Feed(Concat(WithCrc(Hex("01 03 0000 0002")), WithCrc(Hex("01 03 0000 0003"))), us(10000));
  f.Feed(WithCrc(Hex("01 03 0000 0002 00")), us(20000));
  EXPECT_EQ(TakeAll(f, us(30000)), std::vector<Bytes>{Hex("01 03 0000 0002 00")});
  EXPECT_EQ(f.Counters().checksumErrors, 1u);
}

TEST(SimFramerTest, RtuBounds) {
  Framer f(Framing::kRtu, kSilence);
  f.Feed(Bytes(300, 0x07), us(0));  // no known length: grows to the 256-byte bound
  f.Feed(Concat(Hex("01 10 0000 007F FF"), Bytes(260, 0)), us(10000));  // promises 264 bytes
  EXPECT_EQ(f.Counters().malformed, 2u);
  EXPECT_EQ(f.Counters().strayBytes, 300u - 257u + 267u - 257u);
  Bytes stream;
  for (uint8_t i = 0; i < 20; ++i) stream = Concat(stream, WithCrc(Bytes{1, 6, 0, i, 0, 0}));
  f.Feed(stream, us(20000));
  const auto frames = TakeAll(f, us(20000));
  ASSERT_EQ(frames.size(), 16u);  // frames not taken are bounded: the oldest four went
  EXPECT_EQ(frames.front(), (Bytes{1, 6, 0, 4, 0, 0}));
}

TEST(SimFramerTest, AsciiFrameFromColonToCrLfWithNoiseAround) {
  Framer f(Framing::kAscii, kSilence);
  const Bytes frame = Text(":1103006B00027F\r\n");
  for (size_t i = 0; i < frame.size(); ++i) f.Feed(Bytes{frame[i]}, us(1000 * i));
  auto got = f.Take(us(100000));
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->adu, Hex("11 03 006B 0002"));
  EXPECT_EQ(got->firstByte, us(0));
  EXPECT_EQ(got->wireBytes, 17u);
  EXPECT_FALSE(f.SilenceDeadline().has_value());  // ASCII waits for CR LF however long

  f.Feed(Concat(Concat(Bytes{0x00}, Text("xyz\r\n:010300000002FA\r\n")), {0xFF}), us(200000));
  EXPECT_EQ(TakeAll(f, us(200000)), std::vector<Bytes>{Hex("01 03 0000 0002")});
  EXPECT_EQ(f.Counters().strayBytes, 7u);
}

TEST(SimFramerTest, AsciiBrokenFramesAreDroppedAndTheNextOneIsTaken) {
  const std::pair<const char*, bool> cases[] = {
      // text, counted as a checksum error (else as malformed)
      {":010300000002FB\r\n", true},
      {":010300000002fa\r\n", false},  // lower case
      {":01030000002FA\r\n", false},
      {":01FE\r\n", false},  // odd; too short
      {":010300000002FA\rX", false},
      {":0103000G0002FA\r\n", false},  // no LF; not hex
      {":0103", false},                // cut by the next ':'
  };
  for (const auto& [text, checksum] : cases) {
    Framer f(Framing::kAscii, kSilence);
    f.Feed(Concat(Text(text), Text(":010600010003F5\r\n")), us(0));
    EXPECT_EQ(TakeAll(f, us(0)), std::vector<Bytes>{Hex("01 06 0001 0003")}) << text;
    EXPECT_EQ(f.Counters().checksumErrors, checksum ? 1u : 0u) << text;
    EXPECT_EQ(f.Counters().malformed, checksum ? 0u : 1u) << text;
  }
}

TEST(SimFramerTest, AsciiLongestFrameIsTakenAndLongerIsRefused) {
  Bytes adu(254, 0x5A);  // 508 digits and the LRC's 2
  Framer f(Framing::kAscii, kSilence);
  f.Feed(AsciiFrame(adu), us(0));
  EXPECT_EQ(TakeAll(f, us(0)), std::vector<Bytes>{adu});
  adu.push_back(0x5A);
  f.Feed(AsciiFrame(adu), us(1));
  EXPECT_TRUE(TakeAll(f, us(1)).empty());
  EXPECT_EQ(f.Counters().malformed, 1u);
  EXPECT_EQ(f.Counters().strayBytes, 3u);  // the last digit, CR and LF after the cut
}

}  // namespace
}  // namespace qb::sim
