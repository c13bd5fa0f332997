// Frames as the tests expect them, computed here by the serial-line rules and not by the
// library's or the simulator's code: the RTU CRC bit by bit (polynomial 0xA001, start 0xFFFF, low
// byte first), the ASCII frame with its LRC (the negated byte sum), the PLC link frames with their
// two-digit byte sum, and byte literals.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace qb::test {

using Bytes = std::vector<uint8_t>;

// "01 03 0A" -> {0x01, 0x03, 0x0A}.
inline Bytes Hex(std::string_view text) {
  std::string digits(text);
  std::erase(digits, ' ');
  Bytes out;
  for (size_t i = 0; i + 1 < digits.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  return out;
}
inline Bytes Text(std::string_view text) { return Bytes(text.begin(), text.end()); }
inline Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The message followed by its CRC-16, low byte first.
inline Bytes WithCrc(Bytes message) {
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
inline Bytes AsciiFrame(const Bytes& message) {
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
  return Text(text);
}

// Text frames of the PLC link protocols end in two hex digits of their plain byte sum.
inline uint32_t ByteSum(const Bytes& bytes, size_t from, size_t to) {
  uint32_t sum = 0;
  for (size_t i = from; i < to; ++i) sum += bytes[i];
  return sum;
}
inline std::string Hex2(uint32_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X", value & 0xFF);
  return text;
}
// A link frame with its control characters written as symbols: ^ ENQ, @ ACK, ! NAK, { STX, } ETX,
// $ EOT.
inline Bytes Link(std::string_view text) {
  Bytes bytes;
  for (char c : text) {
    const size_t at = std::string_view("^@!{}$").find(c);
    bytes.push_back(at == std::string_view::npos ? static_cast<uint8_t>(c)
                                                 : "\x05\x06\x15\x02\x03\x04"[at]);
  }
  return bytes;
}
// text, the sum digits of its bytes from sumFrom on, then tail.
inline Bytes Summed(std::string_view text, size_t sumFrom = 0, std::string_view tail = "") {
  Bytes frame = Link(text);
  const std::string digits = Hex2(ByteSum(frame, sumFrom, frame.size()));
  frame.insert(frame.end(), digits.begin(), digits.end());
  return Concat(frame, Link(tail));
}

}  // namespace qb::test
