// The simulator's own checksums and encodings, against frames worked out by hand from the Modbus
// serial-line rules and the CRC check value of CRC-16/MODBUS.
#include <gtest/gtest.h>

#include "sim/modbus_codec.h"
#include "sim_test_util.h"

namespace qb::sim {
namespace {

using simtest::Bytes;
using simtest::Hex;
using simtest::Text;

TEST(SimCodecTest, CrcAndLrcOfKnownMessages) {
  EXPECT_EQ(Crc16(Text("123456789")), 0x4B37);  // the check value of CRC-16/MODBUS
  EXPECT_EQ(Crc16(Bytes{}), 0xFFFF);
  EXPECT_EQ(EncodeRtu(Hex("01 03 00 00 00 01")), Hex("01 03 00 00 00 01 84 0A"));
  EXPECT_EQ(EncodeRtu(Hex("11 03 00 6B 00 03")), Hex("11 03 00 6B 00 03 76 87"));
  EXPECT_EQ(Encode(Framing::kRtu, Hex("01 01 00 00 00 0A")), Hex("01 01 00 00 00 0A BC 0D"));
  EXPECT_EQ(Lrc(Hex("FF FF")), 0x02);  // the sum keeps 8 bits: 0xFE
  EXPECT_EQ(Lrc(Bytes{}), 0x00);
  // LRC = 256 - sum: sums 0x81, 0x8F and 0x180.
  EXPECT_EQ(EncodeAscii(Hex("11 03 00 6B 00 02")), Text(":1103006B00027F\r\n"));
  EXPECT_EQ(EncodeAscii(Hex("0A 83 02")), Text(":0A830271\r\n"));
  EXPECT_EQ(Encode(Framing::kAscii, Hex("01 06 00 01 AB CD")), Text(":01060001ABCD80\r\n"));
}

TEST(SimCodecTest, RtuRequestLengthFromTheFirstBytes) {
  const std::pair<const char*, int> cases[] = {
      {"", 0},
      {"01", 0},
      {"01 01", 8},
      {"01 04", 8},
      {"01 06", 8},
      {"01 16", 10},
      {"01 07", -1},
      {"01 11", -1},
      {"01 83", -1},
      {"01 0F 0000 000A", 0},  // the byte count is needed first
      {"01 0F 0000 000A 02", 11},
      {"01 10 0000 007F FE", 263},
      {"01 17 0000 0001 0010 0002", 0},
      {"01 17 0000 0001 0010 0002 04", 17},
  };
  for (const auto& [head, length] : cases) EXPECT_EQ(RtuRequestLength(Hex(head)), length) << head;
}

}  // namespace
}  // namespace qb::sim
