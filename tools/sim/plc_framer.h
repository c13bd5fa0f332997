// Finds the frames of an ASCII link protocol in the bytes that reach the simulated controller:
// the controller tells where its frames begin and end (PlcSlave::FrameLength); bytes that begin
// no frame are dropped one at a time and counted as stray. No silence ends a frame.
#pragma once

#include <deque>

#include "sim/framer.h"
#include "sim/plc_slave.h"

namespace qb::sim {

class PlcFramer : public RequestFramer {
 public:
  explicit PlcFramer(const PlcSlave* slave) : slave_(slave) {}

  void Feed(std::span<const uint8_t> bytes, std::chrono::microseconds now) override;
  // The whole frame, control characters and check sum included, is the ReceivedFrame's adu.
  std::optional<ReceivedFrame> Take(std::chrono::microseconds now) override;
  std::optional<std::chrono::microseconds> SilenceDeadline() const override { return {}; }
  const FramerCounters& Counters() const override { return counters_; }

 private:
  const PlcSlave* slave_;
  std::vector<uint8_t> buffer_;
  std::chrono::microseconds firstByte_{0};
  std::deque<ReceivedFrame> ready_;
  FramerCounters counters_;
};

}  // namespace qb::sim
