// Turning the data of a delivered Modbus frame into the values the host reads after the event:
// bits of the bit reads, 16-bit words of the word reads. The byte count comes from inside the
// frame, and a request frame is decoded the same way, so every count is bounded by the bytes that
// are actually there.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "protocols/modbus_master.h"
#include "style/checksum.h"

namespace qb {
namespace {

// A byte count above this is not believed in ASCII frames.
constexpr size_t kAsciiByteCountLimit = 2048;

// The hex-text conversion used for the fields of ASCII frames: every "0x" is dropped, the rest is
// read as hex. Fields here are at most four characters, which are read directly.
uint32_t HexFieldValue(const uint8_t* chars, size_t count) {
  uint8_t digits[4] = {};
  size_t used = 0;
  for (size_t i = 0; i < count && used < sizeof(digits); ++i) {
    if (chars[i] == '0' && i + 1 < count && chars[i + 1] == 'x') {
      ++i;
      continue;
    }
    digits[used++] = chars[i];
  }
  return HexPairValue(digits, used);
}

// Least significant bit of each byte first; stops once requestedBits entries are there.
void AppendBits(std::vector<uint16_t>& words, uint8_t byte, int32_t requestedBits) {
  for (int bit = 0; bit < 8; ++bit) {
    if (static_cast<int64_t>(words.size()) >= requestedBits) return;
    words.push_back(static_cast<uint16_t>((byte >> bit) & 1));
  }
}

void DecodeRtu(std::span<const uint8_t> frame, int32_t code, int32_t requestedBits,
               std::vector<uint16_t>& words) {
  if (frame.size() < 3) return;
  const size_t byteCount = frame[2];
  const std::span<const uint8_t> data = frame.subspan(3);
  if (code <= 2) {
    const size_t usable = std::min(byteCount, data.size());
    for (size_t i = 0; i < usable; ++i) AppendBits(words, data[i], requestedBits);
  } else {
    const size_t usable = std::min(byteCount / 2, data.size() / 2);
    for (size_t i = 0; i < usable; ++i) {
      words.push_back(static_cast<uint16_t>((data[2 * i] << 8) | data[2 * i + 1]));
    }
  }
}

void DecodeAscii(std::span<const uint8_t> frame, int32_t code, int32_t requestedBits,
                 std::vector<uint16_t>& words) {
  if (frame.size() < 7) return;
  const size_t byteCount =
      std::min<size_t>(HexFieldValue(frame.data() + 5, 2), kAsciiByteCountLimit);
  const std::span<const uint8_t> text = frame.subspan(7);
  if (code <= 2) {
    const size_t usable = std::min(byteCount, text.size() / 2);
    for (size_t i = 0; i < usable; ++i) {
      AppendBits(words, static_cast<uint8_t>(HexFieldValue(text.data() + 2 * i, 2)), requestedBits);
    }
  } else {
    const size_t usable = std::min(byteCount / 2, text.size() / 4);
    for (size_t i = 0; i < usable; ++i) {
      words.push_back(static_cast<uint16_t>(HexFieldValue(text.data() + 4 * i, 4)));
    }
  }
}

}  // namespace

void DecodeModbusData(std::span<const uint8_t> frame, bool rtu, int32_t requestedBits,
                      std::vector<uint16_t>& words, int32_t& dataType) {
  words.clear();
  dataType = kModbusWords;
  int32_t code = 0;
  if (rtu) {
    if (frame.size() >= 2) code = frame[1];
  } else if (frame.size() >= 5 && frame[3] == '0' && frame[4] >= '1' && frame[4] <= '4') {
    code = frame[4] - '0';
  }
  if (code < 1 || code > 4) return;
  if (code <= 2) dataType = kModbusBits;
  if (rtu) {
    DecodeRtu(frame, code, requestedBits, words);
  } else {
    DecodeAscii(frame, code, requestedBits, words);
  }
}

}  // namespace qb
