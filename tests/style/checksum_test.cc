// Checksums: the table-driven CRC against a plain bitwise CRC-16/MODBUS, published check values,
// the LRC of Modbus ASCII frames, and the hexadecimal helpers.
#include "style/checksum.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qb {
namespace {

// CRC-16/MODBUS bit by bit: reflected polynomial 0xA001, initial 0xFFFF, no final XOR.
uint16_t BitwiseCrc(const std::vector<uint8_t>& bytes) {
  uint16_t crc = 0xFFFF;
  for (uint8_t b : bytes) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

std::vector<uint8_t> Ascii(const std::string& s) { return {s.begin(), s.end()}; }

TEST(ChecksumTest, Crc16MatchesTheBitwiseCrcLowByteFirst) {
  // One byte reaches table entry b ^ 0xFF of both tables, so this covers every entry.
  for (int b = 0; b < 256; ++b) {
    const std::vector<uint8_t> one = {static_cast<uint8_t>(b)};
    uint8_t first = 0, second = 0;
    Crc16(one.data(), 1, first, second);
    const uint16_t expected = BitwiseCrc(one);
    ASSERT_EQ(first, expected & 0xFF) << b;
    ASSERT_EQ(second, expected >> 8) << b;
  }
  uint32_t seed = 12345;
  for (size_t n = 0; n < 64; ++n) {
    std::vector<uint8_t> bytes(n);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
    const uint16_t c = BitwiseCrc(bytes);
    EXPECT_EQ(Checksum(bytes, u"crc16-ibm"), static_cast<uint32_t>((c & 0xFF) << 8 | c >> 8));
  }

  struct Known {
    std::vector<uint8_t> bytes;
    uint8_t first, second;
  };
  const std::vector<Known> known = {{Ascii("123456789"), 0x37, 0x4B},
                                    {{0x01, 0x03, 0x00, 0x00, 0x00, 0x01}, 0x84, 0x0A},
                                    {{0x01, 0x03, 0x00, 0x00, 0x00, 0x02}, 0xC4, 0x0B},
                                    {{}, 0xFF, 0xFF}};
  for (const Known& k : known) {
    uint8_t first = 0, second = 0;
    Crc16(k.bytes.data(), k.bytes.size(), first, second);
    EXPECT_EQ(first, k.first);
    EXPECT_EQ(second, k.second);
  }
  EXPECT_EQ(Checksum(known[1].bytes, u"crc16-ibm"), 0x840Au);
}

TEST(ChecksumTest, MethodsByName) {
  const std::vector<uint8_t> ff = {0xFF, 0xFF};
  EXPECT_EQ(Checksum(ff, u"plus"), 0x1FEu);  // not reduced to 8 bits
  EXPECT_EQ(Checksum(std::vector<uint8_t>(300, 0xFF), u"plus"), 76500u);
  EXPECT_EQ(Checksum(std::vector<uint8_t>{0x12, 0x34, 0xFF}, u"xor"), 0xD9u);
  EXPECT_EQ(Checksum({}, u"plus"), 0u);
  EXPECT_EQ(Checksum({}, u"xor"), 0u);
  EXPECT_EQ(Checksum(Ascii("0103000A0001"), u"lrc"), 0x4631u);  // 'F', '1'
  EXPECT_EQ(Checksum({}, u"lrc"), 0x3030u);                     // '0', '0'
  for (const char16_t* other : {u"CRC16-IBM", u"PLUS", u"plus ", u"", u"crc16"}) {
    EXPECT_EQ(Checksum(ff, other), 0u);
  }
}

TEST(ChecksumTest, LrcAndHexHelpers) {
  struct Case {
    std::string text;
    char first, second;
  };
  // Two's complement of the 8-bit sum of the digit pairs.
  for (const Case& c : std::vector<Case>{{"0103000A0001", 'F', '1'},
                                         {"0103000a0001", 'F', '1'},
                                         {"010300000001", 'F', 'B'},
                                         {"FFFF", '0', '2'},
                                         {"80", '8', '0'}}) {
    const std::vector<uint8_t> chars = Ascii(c.text);
    uint8_t first = 0, second = 0;
    Lrc(chars.data(), chars.size(), first, second);
    EXPECT_EQ(first, c.first) << c.text;
    EXPECT_EQ(second, c.second) << c.text;
  }

  EXPECT_EQ(HexText(5, 2), "05");
  EXPECT_EQ(HexText(0x1234, 2), "34");
  EXPECT_EQ(HexText(1, 9), "");
  EXPECT_EQ(HexText(1, 0), "");
  EXPECT_EQ(HexText(0xABCDEF12u, 8), "ABCDEF12");
  EXPECT_EQ(HexText(0xAu, 8), "0000000A");
  EXPECT_EQ(HexText(static_cast<uint32_t>(-2), 3), "FFE");

  const std::vector<uint8_t> digits = Ascii("1fG9");
  EXPECT_EQ(HexPairValue(digits.data(), 2), 0x1Fu);
  EXPECT_EQ(HexPairValue(digits.data(), 4), 0x1Fu);  // stops at G
  EXPECT_EQ(HexPairValue(digits.data() + 2, 2), 0u);
  EXPECT_EQ(HexPairValue(digits.data(), 0), 0u);
  EXPECT_EQ(HexPairValue(digits.data() + 3, 1), 9u);
}

}  // namespace
}  // namespace qb
