// Everything the monitor shows, fed by the datagrams it receives: the trace viewer, the library's
// Log window and drawn texts, and the counts of datagrams taken and dropped. A datagram over
// kMaxDatagram bytes is dropped as oversized; one that is not UTF-8 text (an ending NUL aside),
// holds a NUL or is no known command is dropped as malformed.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "monitor/library_windows.h"
#include "monitor/trace_viewer.h"

namespace qb::monitor {

class MonitorState {
 public:
  static constexpr size_t kMaxDatagram = 65536;

  MonitorState(std::function<uint32_t()> random, std::function<std::tm()> localTime)
      : viewer_(std::move(random), std::move(localTime)) {}

  // One datagram: its first bytes and its full length.
  void Receive(std::string_view bytes, size_t fullSize);
  // The 50 ms refresh: what changed since the last one, or nothing.
  std::optional<nlohmann::json> Tick();
  // The whole state, as a page that has just opened needs it.
  nlohmann::json Whole() const;

  uint64_t Taken() const { return taken_; }
  uint64_t Oversized() const { return oversized_; }
  uint64_t Malformed() const { return malformed_; }

 private:
  nlohmann::json Counts() const;

  TraceViewer viewer_;
  LibraryWindows windows_;
  uint64_t taken_ = 0, oversized_ = 0, malformed_ = 0;
  bool countsChanged_ = false;
};

}  // namespace qb::monitor
