// Helpers shared by the Style tests: frames written as ASCII, and checksum digits worked out here
// rather than by the code under test.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace qb::test {

inline std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

inline uint32_t ByteSum(const std::vector<uint8_t>& bytes, size_t from, size_t to) {
  uint32_t sum = 0;
  for (size_t i = from; i < to; ++i) sum += bytes[i];
  return sum;
}

// Two upper-case hexadecimal digits of the low byte, as printf writes them.
inline std::string Hex2(uint32_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X", value & 0xFF);
  return text;
}

// Appends the two digits of the plain byte sum of frame[from, end).
inline void AppendSumDigits(std::vector<uint8_t>& frame, size_t from = 0) {
  const std::string digits = Hex2(ByteSum(frame, from, frame.size()));
  frame.insert(frame.end(), digits.begin(), digits.end());
}

}  // namespace qb::test
