// Modbus frames as the tests expect them, computed here by the serial-line rules and not by the
// library's code: the RTU CRC bit by bit (polynomial 0xA001, start 0xFFFF, low byte first) and
// the ASCII frame with its LRC (the negated byte sum).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qb::test {

// The message followed by its CRC-16, low byte first.
inline std::vector<uint8_t> WithCrc(std::vector<uint8_t> message) {
  uint16_t crc = 0xFFFF;
  for (uint8_t b : message) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  message.push_back(static_cast<uint8_t>(crc & 0xFF));
  message.push_back(static_cast<uint8_t>(crc >> 8));
  return message;
}

// ':' + the message in upper-case hex + its LRC + CR LF.
inline std::vector<uint8_t> AsciiFrame(const std::vector<uint8_t>& message) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text = ":";
  unsigned sum = 0;
  for (uint8_t b : message) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
    sum += b;
  }
  const unsigned lrc = (256 - sum % 256) % 256;
  text += kDigits[lrc >> 4];
  text += kDigits[lrc & 15];
  text += "\r\n";
  return std::vector<uint8_t>(text.begin(), text.end());
}

}  // namespace qb::test
