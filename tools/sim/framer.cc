// Request framing of the simulated device, byte by byte, so that a frame may arrive in any number
// of pieces and two frames may arrive in one.
#include "sim/framer.h"

#include <utility>

namespace qb::sim {
namespace {

// Frames found but not yet taken; a device that falls this far behind drops the oldest.
constexpr size_t kMaxReady = 16;
// Hex digits between ':' and CR LF: address, at most 253 PDU bytes and the LRC.
constexpr size_t kMaxAsciiDigits = 2 * (1 + 253 + 1);

int HexValue(uint8_t c) {
  // Modbus ASCII uses upper-case digits only; anything else is a fault of the sender.
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool CrcMatches(const std::vector<uint8_t>& frame) {
  const size_t n = frame.size();
  const uint16_t crc = Crc16(std::span(frame.data(), n - 2));
  return frame[n - 2] == (crc & 0xFF) && frame[n - 1] == (crc >> 8);
}

}  // namespace

Framer::Framer(Framing framing, std::chrono::microseconds silence, RtuBoundary boundary)
    : framing_(framing), silence_(silence), boundary_(boundary) {}

void Framer::Feed(std::span<const uint8_t> bytes, std::chrono::microseconds now) {
  for (const uint8_t b : bytes) {
    if (framing_ == Framing::kRtu) {
      FeedRtu(b, now);
    } else {
      FeedAscii(b, now);
    }
  }
}

std::optional<ReceivedFrame> Framer::Take(std::chrono::microseconds now) {
  if (framing_ == Framing::kRtu && (!buffer_.empty() || deaf_) && now - lastByte_ >= silence_)
    EndRtuBySilence();
  if (ready_.empty()) return std::nullopt;
  ReceivedFrame frame = std::move(ready_.front());
  ready_.pop_front();
  return frame;
}

std::optional<std::chrono::microseconds> Framer::SilenceDeadline() const {
  if (framing_ != Framing::kRtu || (buffer_.empty() && !deaf_)) return std::nullopt;
  return lastByte_ + silence_;
}

void Framer::FeedRtu(uint8_t byte, std::chrono::microseconds now) {
  if ((!buffer_.empty() || deaf_) && now - lastByte_ >= silence_) EndRtuBySilence();
  lastByte_ = now;
  if (deaf_) {
    ++counters_.strayBytes;
    return;
  }
  if (buffer_.empty()) firstByte_ = now;
  buffer_.push_back(byte);
  if (buffer_.size() > kMaxRtuFrame) {
    ++counters_.malformed;
    buffer_.clear();
    deaf_ = true;
    return;
  }
  if (boundary_ != RtuBoundary::kLengthOrSilence) return;
  const int length = RtuRequestLength(buffer_);
  if (length <= 0 || buffer_.size() < static_cast<size_t>(length)) return;
  if (CrcMatches(buffer_)) {
    buffer_.resize(buffer_.size() - 2);
    Emit(std::exchange(buffer_, {}), static_cast<size_t>(length));
  } else {
    ++counters_.checksumErrors;
    buffer_.clear();
    deaf_ = true;
  }
}

void Framer::EndRtuBySilence() {
  if (deaf_) {
    Reset();
    return;
  }
  const int length = RtuRequestLength(buffer_);
  const bool lengthKnown = boundary_ == RtuBoundary::kLengthOrSilence && length >= 0;
  if (lengthKnown || buffer_.size() < 4) {
    // A frame whose expected length had not come: cut short on the wire.
    ++counters_.malformed;
  } else if (!CrcMatches(buffer_)) {
    ++counters_.checksumErrors;
  } else {
    const size_t wire = buffer_.size();
    buffer_.resize(wire - 2);
    Emit(std::exchange(buffer_, {}), wire);
  }
  Reset();
}

void Framer::FeedAscii(uint8_t byte, std::chrono::microseconds now) {
  if (byte == ':') {
    if (inFrame_) ++counters_.malformed;  // a new frame starts before the last one ended
    Reset();
    inFrame_ = true;
    firstByte_ = now;
    return;
  }
  if (!inFrame_) {
    ++counters_.strayBytes;
    return;
  }
  if (sawCr_) {
    if (byte == '\n') {
      FinishAscii();
    } else {
      ++counters_.malformed;
      Reset();
    }
    return;
  }
  if (byte == '\r') {
    sawCr_ = true;
    return;
  }
  if (HexValue(byte) < 0 || buffer_.size() >= kMaxAsciiDigits) {
    ++counters_.malformed;
    Reset();
    return;
  }
  buffer_.push_back(byte);
}

void Framer::FinishAscii() {
  const size_t digits = buffer_.size();
  // At least address, function code and LRC, as whole digit pairs.
  if (digits < 6 || digits % 2 != 0) {
    ++counters_.malformed;
    Reset();
    return;
  }
  std::vector<uint8_t> bytes(digits / 2);
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<uint8_t>(HexValue(buffer_[2 * i]) * 16 + HexValue(buffer_[2 * i + 1]));
  const uint8_t lrc = bytes.back();
  bytes.pop_back();
  if (Lrc(bytes) != lrc) {
    ++counters_.checksumErrors;
  } else {
    Emit(std::move(bytes), digits + 3);
  }
  Reset();
}

void Framer::Emit(std::vector<uint8_t> adu, size_t wireBytes) {
  ++counters_.frames;
  if (ready_.size() == kMaxReady) ready_.pop_front();
  ready_.push_back(ReceivedFrame{std::move(adu), firstByte_, wireBytes});
}

void Framer::Reset() {
  buffer_.clear();
  inFrame_ = false;
  deaf_ = false;
  sawCr_ = false;
}

}  // namespace qb::sim
