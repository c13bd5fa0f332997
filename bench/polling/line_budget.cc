// The RTU transaction budget, from the frame lengths of function 3 and the character time.
#include "line_budget.h"

#include <algorithm>

namespace qb::bench {
namespace {

// Address, function, start (2), count (2), CRC (2).
constexpr int kRequestChars = 8;
// Address, function, byte count, the data, CRC (2).
constexpr int kReplyOverheadChars = 5;
// Above 19200 baud the silence no longer shrinks with the character time.
constexpr int kFixedSilenceAboveBaud = 19200;
constexpr double kFixedSilenceUs = 1750.0;

}  // namespace

LineBudget ReadRegistersBudget(int baud, int bitsPerChar, int registers) {
  LineBudget budget;
  if (baud <= 0 || bitsPerChar <= 0) return budget;
  budget.charUs = 1e6 * bitsPerChar / baud;
  budget.requestUs = kRequestChars * budget.charUs;
  budget.replyUs = (kReplyOverheadChars + 2 * std::max(registers, 0)) * budget.charUs;
  budget.silenceUs = baud > kFixedSilenceAboveBaud ? kFixedSilenceUs : 3.5 * budget.charUs;
  return budget;
}

}  // namespace qb::bench
