// The Modbus requests, reply lengths, refusals, reply decoding and RTU gap, checked against frames
// made here from the framing rules alone: a bit-by-bit CRC and a plain byte-sum LRC.
#include "protocols/modbus_master.h"

#include <gtest/gtest.h>

#include "support/modbus_frames.h"

#include <array>
#include <limits>
#include <string>
#include <vector>

#include "support/fake_platform.h"

namespace qb {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Rtu(Bytes m) { return test::WithCrc(std::move(m)); }

Bytes Ascii(const Bytes& m) { return test::AsciiFrame(m); }

Bytes Of(std::span<const uint8_t> s) { return Bytes(s.begin(), s.end()); }
Bytes Of(std::string_view s) { return Bytes(s.begin(), s.end()); }

struct Master : ModbusMaster {
  using ModbusMaster::ModbusMaster;
  void OnPacket(const uint8_t*, int32_t) override { ++packets; }
  int packets = 0;
};

TEST(ModbusBuild, KnownFrames) {
  test::FakePlatform platform;
  Master m(platform);
  EXPECT_FALSE(m.IsRtu());
  m.SetRtu(true);
  EXPECT_EQ(Of(m.Build(1, 1, 0, 10, 0, 0, 0, 0)), (Bytes{1, 1, 0, 0, 0, 0x0A, 0xBC, 0x0D}));
  EXPECT_EQ(m.Remaining(), 7);
  m.SetRtu(false);
  EXPECT_EQ(Of(m.Build(3, 0x11, 0x6B, 2, 0, 0, 0, 0)), Of(":1103006B00027F\r\n"));
  EXPECT_EQ(m.Remaining(), 19);
}

TEST(ModbusBuild, EveryCodeInBothFramings) {
  const Bytes data{0x00, 0x0A, 0x01, 0x02, 0xCD, 0xEE, 0x77};
  // Builder arguments after the code; the message up to its checksum; awaited RTU/ASCII lengths.
  const struct {
    int32_t code;
    std::array<int32_t, 7> a;
    Bytes message;
    int32_t rtu, ascii;
  } cases[] = {
      {2, {0x22, 0x1234, 17}, {0x22, 2, 0x12, 0x34, 0, 17}, 8, 17},
      {4, {0xF7, 0xFFFF, 125}, {0xF7, 4, 0xFF, 0xFF, 0, 125}, 255, 511},
      {5, {1, 0xAC, 0, 5}, {1, 5, 0, 0xAC, 0xFF, 0}, 8, 17},
      {5, {1, 0xAC, 0, 0, 7}, {1, 5, 0, 0xAC, 0, 0}, 8, 17},
      {6, {1, 0x10001, 0, 1, 0x12345}, {1, 6, 0, 1, 0x23, 0x45}, 8, 17},
      {22, {1, 4, 0, 0, 0, 0xF2, 0x25}, {1, 22, 0, 4, 0, 0xF2, 0, 0x25}, 10, 21},
      {15, {1, 0x13, 10}, {1, 15, 0, 0x13, 0, 10, 2, 0, 0x0A}, 8, 17},
      {16, {1, 1, 2}, {1, 16, 0, 1, 0, 2, 4, 0, 0x0A, 1, 2}, 8, 17},
      {23,
       {1, 3, 6, 0x0E, 3},
       {1, 23, 0, 3, 0, 6, 0, 0x0E, 0, 3, 6, 0, 0x0A, 1, 2, 0xCD, 0xEE},
       17,
       35},
  };
  test::FakePlatform platform;
  Master m(platform);
  for (const auto& c : cases) {
    for (bool rtu : {true, false}) {
      m.SetRtu(rtu);
      const auto& a = c.a;
      const auto frame = c.code == 23 ? m.BuildReadWrite(a[0], a[1], a[2], a[3], a[4], data)
                         : c.code == 15 || c.code == 16
                             ? m.BuildMultipleWrite(c.code, a[0], a[1], a[2], data)
                             : m.Build(c.code, a[0], a[1], a[2], a[3], a[4], a[5], a[6]);
      EXPECT_EQ(Of(frame), rtu ? Rtu(c.message) : Ascii(c.message)) << c.code << rtu;
      EXPECT_EQ(m.Remaining(), rtu ? c.rtu : c.ascii) << c.code << rtu;
      EXPECT_EQ(m.FunctionCode(), c.code);
      EXPECT_EQ(m.SlaveAddress(), c.message[0]);
    }
  }
}

TEST(ModbusBuild, ExpectedReplyLengths) {
  for (auto [q, rtu, ascii] : {std::array{0, 5, 11}, {1, 6, 13}, {8, 6, 13}, {9, 7, 15}}) {
    EXPECT_EQ(ExpectedReplyLength(1, q, true), rtu) << q;
    EXPECT_EQ(ExpectedReplyLength(1, q, false), ascii) << q;
  }
  for (int32_t code : {0, 7, 17, 24, 0x83}) EXPECT_EQ(ExpectedReplyLength(code, 1, true), -1);
  EXPECT_GT(ExpectedReplyLength(3, std::numeric_limits<int32_t>::max(), false), 512);
}

TEST(ModbusBuild, RefusalsLeaveTheOutstandingRequest) {
  test::FakePlatform platform;
  Master m(platform);
  m.SetRtu(true);
  m.Build(3, 1, 0, 2, 0, 0, 0, 0);
  const Bytes reply = Rtu({1, 3, 4, 0, 0x0A, 0, 0x0B});
  ASSERT_EQ(m.Accumulate(reply.data(), 2), 1);
  const Bytes three{1, 2, 3};
  const std::span<const uint8_t> refused[] = {
      m.Build(7, 1, 0, 1, 0, 0, 0, 0),          m.Build(16, 1, 0, 1, 0, 0, 0, 0),
      m.Build(3, 1, 0, 254, 0, 0, 0, 0),        m.Build(3, 1, 0, -3, 0, 0, 0, 0),
      m.BuildMultipleWrite(3, 1, 0, 1, three),  m.BuildMultipleWrite(15, 1, 0, 25, three),
      m.BuildMultipleWrite(16, 1, 0, 2, three), m.BuildMultipleWrite(16, 1, 0, -1, three),
      m.BuildReadWrite(1, 0, 1, 0, 2, three),   m.BuildReadWrite(1, 0, 254, 0, 0, three)};
  for (const auto& frame : refused) EXPECT_TRUE(frame.empty());
  EXPECT_EQ(m.Remaining(), 7);
  EXPECT_EQ(m.Received(), 2);
  EXPECT_EQ(m.FunctionCode(), 3);
  EXPECT_EQ(m.Accumulate(reply.data() + 2, 7), 1);
  EXPECT_EQ(m.packets, 1);

  EXPECT_FALSE(m.Build(3, 1, 0, 253, 0, 0, 0, 0).empty());
  m.SetRtu(false);
  EXPECT_TRUE(m.Build(1, 1, 0, 2001, 0, 0, 0, 0).empty());
  EXPECT_EQ(Of(m.Build(1, 1, 0, 2000, 0, 0, 0, 0)), Ascii({1, 1, 0, 0, 0x07, 0xD0}));
  EXPECT_EQ(m.Remaining(), 511);
}

std::vector<uint16_t> Decode(const Bytes& frame, bool rtu, int32_t bits, int32_t& type) {
  std::vector<uint16_t> words{7, 7, 7};
  type = -5;
  DecodeModbusData(frame, rtu, bits, words, type);
  return words;
}

TEST(ModbusDecode, BitsAndWords) {
  using W = std::vector<uint16_t>;
  int32_t type = 0;
  for (bool rtu : {true, false}) {
    const auto frame = [rtu](const Bytes& m) { return rtu ? Rtu(m) : Ascii(m); };
    // 0xCD, 0x01 least significant bit first, cut at the 10 requested bits.
    EXPECT_EQ(Decode(frame({1, 1, 2, 0xCD, 1}), rtu, 10, type), (W{1, 0, 1, 1, 0, 0, 1, 1, 1, 0}));
    EXPECT_EQ(type, 1);
    EXPECT_EQ(Decode(frame({1, 2, 2, 0xCD, 1}), rtu, 100, type).size(), 16u);
    EXPECT_TRUE(Decode(frame({1, 2, 2, 0xCD, 1}), rtu, 0, type).empty());
    EXPECT_EQ(Decode(frame({1, 4, 3, 0, 10, 0xFF, 0xFF}), rtu, 1, type), W{10});
    EXPECT_EQ(type, 0);
    EXPECT_EQ(Decode(frame({1, 3, 4, 0xAB, 0xCD, 0xFF, 0xFF}), rtu, 1, type), (W{0xABCD, 0xFFFF}));
    EXPECT_TRUE(Decode(frame({1, 6, 4, 0, 0x12, 0x34}), rtu, 1, type).empty());
    EXPECT_EQ(type, 0);
    EXPECT_TRUE(Decode(Bytes{1}, rtu, 1, type).empty());
  }
  // Counts reaching beyond the frame are cut to the bytes given.
  EXPECT_EQ(Decode({1, 3, 0xFF, 0x12, 0x34, 0x56}, true, 1, type), W{0x1234});
  EXPECT_EQ(Decode({1, 1, 0xFF, 0x81}, true, 100, type).size(), 8u);
  EXPECT_EQ(Decode(Of(":010304000A0B"), false, 1, type), W{10});
  EXPECT_EQ(Decode(Of(":0101FF810"), false, 100, type).size(), 8u);
  // ASCII frames are classified by '0' then '1'..'4'; fields drop "0x" before they are read.
  EXPECT_TRUE(Decode(Ascii({1, 0x13, 2, 0, 1}), false, 1, type).empty());
  EXPECT_EQ(Decode(Of(":0103020x12"), false, 1, type), W{0x12});
}

TEST(ModbusTiming, RtuTimeGap) {
  const uint32_t examples[][2] = {{0, 10},     {9600, 5}, {19200, 3}, {38400, 2}, {57600, 1},
                                  {115200, 1}, {4800, 9}, {1200, 33}, {1, 38401}, {38399, 2}};
  for (const auto& e : examples) EXPECT_EQ(RtuTimeGap(e[0]), static_cast<int32_t>(e[1])) << e[0];
}

}  // namespace
}  // namespace qb
