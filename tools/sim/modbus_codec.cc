// Checksums and encodings of the simulated device's frames. The CRC is computed bit by bit rather
// than from a table: the simulator is meant to differ from the library in how it gets there.
#include "sim/modbus_codec.h"

namespace qb::sim {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendHex(std::vector<uint8_t>* out, uint8_t byte) {
  out->push_back(static_cast<uint8_t>(kHexDigits[byte >> 4]));
  out->push_back(static_cast<uint8_t>(kHexDigits[byte & 0x0F]));
}

}  // namespace

uint16_t Crc16(std::span<const uint8_t> bytes) {
  uint16_t crc = 0xFFFF;
  for (const uint8_t b : bytes) {
    crc ^= b;
    for (int bit = 0; bit < 8; ++bit) {
      const bool carry = (crc & 1) != 0;
      crc >>= 1;
      if (carry) crc ^= 0xA001;
    }
  }
  return crc;
}

uint8_t Lrc(std::span<const uint8_t> bytes) {
  uint8_t sum = 0;
  for (const uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
  return static_cast<uint8_t>(-sum);
}

std::vector<uint8_t> EncodeRtu(std::span<const uint8_t> adu) {
  std::vector<uint8_t> out(adu.begin(), adu.end());
  const uint16_t crc = Crc16(adu);
  out.push_back(static_cast<uint8_t>(crc & 0xFF));
  out.push_back(static_cast<uint8_t>(crc >> 8));
  return out;
}

std::vector<uint8_t> EncodeAscii(std::span<const uint8_t> adu) {
  std::vector<uint8_t> out;
  out.reserve(2 * adu.size() + 5);
  out.push_back(':');
  for (const uint8_t b : adu) AppendHex(&out, b);
  AppendHex(&out, Lrc(adu));
  out.push_back('\r');
  out.push_back('\n');
  return out;
}

std::vector<uint8_t> Encode(Framing framing, std::span<const uint8_t> adu) {
  return framing == Framing::kRtu ? EncodeRtu(adu) : EncodeAscii(adu);
}

int RtuRequestLength(std::span<const uint8_t> head) {
  if (head.size() < 2) return 0;
  switch (head[1]) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
      return 8;  // address, function, two 16-bit fields, CRC
    case 15:
    case 16:
      // address, function, start, quantity, byte count N, N bytes, CRC
      return head.size() < 7 ? 0 : 9 + head[6];
    case 22:
      return 10;  // address, function, reference, AND mask, OR mask, CRC
    case 23:
      // address, function, read start and quantity, write start and quantity, N, N bytes, CRC
      return head.size() < 11 ? 0 : 13 + head[10];
    default:
      return -1;
  }
}

std::string HexDump(std::span<const uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size() * 3);
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) out.push_back(' ');
    out.push_back(kHexDigits[bytes[i] >> 4]);
    out.push_back(kHexDigits[bytes[i] & 0x0F]);
  }
  return out;
}

}  // namespace qb::sim
