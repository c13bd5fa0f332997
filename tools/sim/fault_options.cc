// Applying the configured faults to one encoded reply.
#include "sim/fault_options.h"

#include <algorithm>
#include <utility>

namespace qb::sim {
namespace {

bool Hits(int every, uint64_t replyNumber) {
  return every > 0 && replyNumber % static_cast<uint64_t>(every) == 0;
}

uint8_t HexDigitValue(uint8_t c) { return static_cast<uint8_t>(c <= '9' ? c - '0' : c - 'A' + 10); }

uint8_t HexDigit(uint8_t v) { return static_cast<uint8_t>(v < 10 ? '0' + v : 'A' + v - 10); }

// Damages the checksum of a frame made by Encode: the two CRC bytes inverted, or the LRC plus 1.
void Corrupt(Framing framing, std::vector<uint8_t>* frame) {
  const size_t n = frame->size();
  if (framing == Framing::kRtu) {
    if (n < 2) return;
    (*frame)[n - 2] ^= 0xFF;
    (*frame)[n - 1] ^= 0xFF;
    return;
  }
  // ... L L CR LF
  if (n < 4) return;
  const uint8_t lrc =
      static_cast<uint8_t>(HexDigitValue((*frame)[n - 4]) * 16 + HexDigitValue((*frame)[n - 3]));
  const uint8_t damaged = static_cast<uint8_t>(lrc + 1);
  (*frame)[n - 4] = HexDigit(damaged >> 4);
  (*frame)[n - 3] = HexDigit(damaged & 0x0F);
}

}  // namespace

ShapedReply ShapeReply(const FaultOptions& faults, uint64_t replyNumber, Framing framing,
                       std::vector<uint8_t> frame) {
  return ShapeReply(faults, replyNumber, std::move(frame), [framing](std::vector<uint8_t>* f) {
    Corrupt(framing, f);
    return true;
  });
}

ShapedReply ShapeReply(const FaultOptions& faults, uint64_t replyNumber, std::vector<uint8_t> frame,
                       const std::function<bool(std::vector<uint8_t>*)>& corrupt) {
  ShapedReply out;
  if (Hits(faults.dropEvery, replyNumber)) {
    out.dropped = true;
    return out;
  }
  if (Hits(faults.corruptEvery, replyNumber)) out.corrupted = corrupt(&frame);
  if (Hits(faults.noiseEvery, replyNumber) && !faults.noise.empty()) {
    out.noisy = true;
    if (faults.noiseAfter) {
      frame.insert(frame.end(), faults.noise.begin(), faults.noise.end());
    } else {
      frame.insert(frame.begin(), faults.noise.begin(), faults.noise.end());
    }
  }
  if (Hits(faults.splitEvery, replyNumber) && frame.size() >= 2) {
    // The cut falls inside the frame with its noise; a piece is never empty.
    const size_t at = faults.splitAt == 0 ? frame.size() / 2
                                          : std::clamp<size_t>(faults.splitAt, 1, frame.size() - 1);
    out.split = true;
    out.second.assign(frame.begin() + static_cast<std::ptrdiff_t>(at), frame.end());
    frame.resize(at);
  }
  out.first = std::move(frame);
  return out;
}

}  // namespace qb::sim
