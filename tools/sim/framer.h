// Finds the requests in the byte stream that reaches the simulated device. RTU frames end at their
// expected length (when the function code tells it) or at a silence of 3.5 characters; a frame
// with a bad CRC makes the device deaf until the next silence, as a real one is. ASCII frames run
// from ':' to CR LF; bytes outside a frame are ignored. Times are given by the caller, so the
// framing is the same under a test's made-up clock as on a live line.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

#include "sim/modbus_codec.h"

namespace qb::sim {

// How an RTU frame's end is found: at its expected length or at the silence, whichever comes
// first, or only at the silence, as the line standard describes it.
enum class RtuBoundary { kLengthOrSilence, kSilenceOnly };

// One request as it was received: the slave address and PDU without the checksum, the time its
// first byte arrived and how many characters it took on the wire.
struct ReceivedFrame {
  std::vector<uint8_t> adu;
  std::chrono::microseconds firstByte{0};
  size_t wireBytes = 0;
};

struct FramerCounters {
  uint64_t frames = 0;          // frames with a good checksum
  uint64_t checksumErrors = 0;  // complete frames whose CRC or LRC was wrong
  uint64_t malformed = 0;       // frames cut short, too long, or with characters that don't belong
  uint64_t strayBytes = 0;      // ASCII bytes outside any frame, RTU bytes ignored while deaf
};

// What the simulator's thread needs of a framer, whatever the protocol on the line.
class RequestFramer {
 public:
  virtual ~RequestFramer() = default;
  // Bytes that arrived at `now` (any steady origin, never going back).
  virtual void Feed(std::span<const uint8_t> bytes, std::chrono::microseconds now) = 0;
  // The next complete frame, taking into account the silence up to `now`.
  virtual std::optional<ReceivedFrame> Take(std::chrono::microseconds now) = 0;
  // When a silence will end the frame in progress; nothing when no silence ends frames.
  virtual std::optional<std::chrono::microseconds> SilenceDeadline() const = 0;
  virtual const FramerCounters& Counters() const = 0;
};

class Framer : public RequestFramer {
 public:
  // silence: the gap that ends an RTU frame (LinePacing::FrameSilence); unused for ASCII.
  Framer(Framing framing, std::chrono::microseconds silence,
         RtuBoundary boundary = RtuBoundary::kLengthOrSilence);

  void Feed(std::span<const uint8_t> bytes, std::chrono::microseconds now) override;
  std::optional<ReceivedFrame> Take(std::chrono::microseconds now) override;
  // When the silence will end the RTU frame in progress; nothing when no frame is in progress.
  std::optional<std::chrono::microseconds> SilenceDeadline() const override;

  const FramerCounters& Counters() const override { return counters_; }

 private:
  void FeedRtu(uint8_t byte, std::chrono::microseconds now);
  void FeedAscii(uint8_t byte, std::chrono::microseconds now);
  void EndRtuBySilence();
  void FinishAscii();
  void Emit(std::vector<uint8_t> adu, size_t wireBytes);
  void Reset();

  Framing framing_;
  std::chrono::microseconds silence_;
  RtuBoundary boundary_;

  std::vector<uint8_t> buffer_;  // bytes of the frame in progress (ASCII: the characters)
  bool inFrame_ = false;         // ASCII: after ':'; RTU: buffer_ or deafness in progress
  bool deaf_ = false;            // RTU: ignore everything until the next silence
  bool sawCr_ = false;           // ASCII: CR seen, LF expected
  std::chrono::microseconds firstByte_{0};
  std::chrono::microseconds lastByte_{0};
  std::deque<ReceivedFrame> ready_;
  FramerCounters counters_;
};

}  // namespace qb::sim
