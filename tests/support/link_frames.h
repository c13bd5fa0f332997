// PLC link frames for tests, control characters written as symbols (^ ENQ, @ ACK, ! NAK, { STX,
// } ETX, $ EOT), with the two-digit byte sum worked out here rather than by the library.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

namespace qb::test {

inline std::vector<uint8_t> Link(std::string_view text) {
  std::vector<uint8_t> bytes;
  for (char c : text) {
    const std::string_view symbols = "^@!{}$";
    const uint8_t controls[] = {0x05, 0x06, 0x15, 0x02, 0x03, 0x04};
    const size_t at = symbols.find(c);
    bytes.push_back(at == std::string_view::npos ? static_cast<uint8_t>(c) : controls[at]);
  }
  return bytes;
}

// text, the sum digits of its bytes from sumFrom on (low byte, upper-case hex), then tail.
inline std::vector<uint8_t> Summed(std::string_view text, size_t sumFrom = 0,
                                   std::string_view tail = "") {
  std::vector<uint8_t> frame = Link(text);
  unsigned sum = 0;
  for (size_t i = sumFrom; i < frame.size(); ++i) sum += frame[i];
  char digits[3];
  std::snprintf(digits, sizeof digits, "%02X", sum & 0xFF);
  frame.insert(frame.end(), digits, digits + 2);
  const std::vector<uint8_t> end = Link(tail);
  frame.insert(frame.end(), end.begin(), end.end());
  return frame;
}

}  // namespace qb::test
