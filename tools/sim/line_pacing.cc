// Character and frame times of a serial line, computed in whole microseconds from the baud rate.
#include "sim/line_pacing.h"

#include <algorithm>
#include <cstdint>

namespace qb::sim {
namespace {

// ceil(numerator / baud) for a positive baud.
int64_t DivideUp(int64_t numerator, int64_t baud) { return (numerator + baud - 1) / baud; }

}  // namespace

std::string CheckLineFormat(const LineFormat& format) {
  if (format.baud <= 0) return "the baud rate must be positive";
  if (format.dataBits != 7 && format.dataBits != 8) return "data bits must be 7 or 8";
  if (format.parity != 'N' && format.parity != 'E' && format.parity != 'O')
    return "parity must be N, E or O";
  if (format.stopBits != 1 && format.stopBits != 2) return "stop bits must be 1 or 2";
  return {};
}

int BitsPerChar(const LineFormat& format) {
  return 1 + format.dataBits + (format.parity == 'N' ? 0 : 1) + format.stopBits;
}

LinePacing::LinePacing(const LineFormat& format, bool paced) : format_(format), paced_(paced) {
  const int64_t baud = std::max(format.baud, 1);
  const int64_t bits = BitsPerChar(format);
  charTime_ = std::chrono::microseconds(DivideUp(bits * 1'000'000, baud));
  // 3.5 characters = 7 half characters.
  frameSilence_ =
      std::chrono::microseconds(std::max<int64_t>(DivideUp(7 * bits * 1'000'000, 2 * baud), 1750));
}

std::chrono::microseconds LinePacing::WireTime(size_t count) const {
  const int64_t baud = std::max(format_.baud, 1);
  return std::chrono::microseconds(
      DivideUp(static_cast<int64_t>(count) * BitsPerChar(format_) * 1'000'000, baud));
}

}  // namespace qb::sim
