#include "sim/plc_framer.h"

#include <utility>

namespace qb::sim {

void PlcFramer::Feed(std::span<const uint8_t> bytes, std::chrono::microseconds now) {
  if (buffer_.empty()) firstByte_ = now;
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
  size_t begin = 0;
  while (begin < buffer_.size()) {
    const int length = slave_->FrameLength(std::span(buffer_).subspan(begin));
    if (length == 0) break;
    if (length < 0) {
      ++begin;
      ++counters_.strayBytes;
      firstByte_ = now;
      continue;
    }
    const auto end = begin + static_cast<size_t>(length);
    ReceivedFrame frame;
    frame.adu.assign(buffer_.begin() + static_cast<std::ptrdiff_t>(begin),
                     buffer_.begin() + static_cast<std::ptrdiff_t>(end));
    frame.firstByte = firstByte_;
    frame.wireBytes = frame.adu.size();
    ready_.push_back(std::move(frame));
    ++counters_.frames;
    begin = end;
    firstByte_ = now;
  }
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(begin));
}

std::optional<ReceivedFrame> PlcFramer::Take(std::chrono::microseconds) {
  if (ready_.empty()) return std::nullopt;
  ReceivedFrame frame = std::move(ready_.front());
  ready_.pop_front();
  return frame;
}

}  // namespace qb::sim
