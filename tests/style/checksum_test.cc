// Checksums: the table-driven CRC against a plain bitwise CRC-16/MODBUS, published check values,
// and the other methods by name.
#include "style/checksum.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/modbus_frames.h"

namespace qb {
namespace {

using test::Text;

// The bitwise CRC-16/MODBUS of the frame helper (reflected 0xA001, start 0xFFFF), low byte first.
std::pair<uint8_t, uint8_t> Reference(const std::vector<uint8_t>& bytes) {
  const std::vector<uint8_t> framed = test::WithCrc(bytes);
  return {framed[framed.size() - 2], framed.back()};
}

TEST(ChecksumTest, Crc16MatchesTheBitwiseCrcLowByteFirst) {
  uint32_t seed = 12345;
  for (size_t n = 0; n < 300; ++n) {
    // One byte reaches table entry b ^ 0xFF of both tables, so the first 256 cover every entry.
    std::vector<uint8_t> bytes{static_cast<uint8_t>(n)};
    if (n >= 256) {
      bytes.resize(n - 256);
      for (uint8_t& b : bytes) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
    }
    uint8_t first = 0, second = 0;
    Crc16(bytes.data(), bytes.size(), first, second);
    ASSERT_EQ(std::pair(first, second), Reference(bytes)) << n;
    EXPECT_EQ(Checksum(bytes, u"crc16-ibm"), static_cast<uint32_t>(first << 8 | second));
  }
  const std::vector<uint8_t> check = Text("123456789");  // the published check value 0x4B37
  EXPECT_EQ(Checksum(check, u"crc16-ibm"), 0x374Bu);
}

TEST(ChecksumTest, MethodsByName) {
  const std::vector<uint8_t> ff = {0xFF, 0xFF};
  EXPECT_EQ(Checksum(ff, u"plus"), 0x1FEu);  // not reduced to 8 bits
  EXPECT_EQ(Checksum(std::vector<uint8_t>(300, 0xFF), u"plus"), 76500u);
  EXPECT_EQ(Checksum(std::vector<uint8_t>{0x12, 0x34, 0xFF}, u"xor"), 0xD9u);
  EXPECT_EQ(Checksum({}, u"plus"), 0u);
  EXPECT_EQ(Checksum({}, u"xor"), 0u);
  EXPECT_EQ(Checksum(Text("0103000A0001"), u"lrc"), 0x4631u);  // 'F', '1'
  EXPECT_EQ(Checksum({}, u"lrc"), 0x3030u);                    // '0', '0'
  EXPECT_EQ(Checksum(Text("0103000a0001"), u"lrc"), 0x4631u);  // lower-case digits count too
  const std::vector<uint8_t> digits = Text("1fG9");
  EXPECT_EQ(HexPairValue(digits.data(), 4), 0x1Fu);  // stops at G
  for (const char16_t* other : {u"CRC16-IBM", u"PLUS", u"plus ", u"", u"crc16"}) {
    EXPECT_EQ(Checksum(ff, other), 0u);
  }
}

}  // namespace
}  // namespace qb
