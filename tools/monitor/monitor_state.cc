#include "monitor/monitor_state.h"

namespace qb::monitor {

void MonitorState::Receive(std::string_view bytes, size_t fullSize) {
  countsChanged_ = true;
  if (fullSize > kMaxDatagram || bytes.size() < fullSize) {
    ++oversized_;
    return;
  }
  if (!bytes.empty() && bytes.back() == '\0') bytes.remove_suffix(1);
  std::u16string command;
  if (bytes.find('\0') != std::string_view::npos || !FromUtf8(bytes, &command) ||
      !(viewer_.Apply(command) || windows_.Apply(command))) {
    ++malformed_;
    return;
  }
  ++taken_;
}

std::optional<nlohmann::json> MonitorState::Tick() {
  viewer_.Tick();
  nlohmann::json change = viewer_.TakeChanges();
  change.update(windows_.TakeChanges());
  if (countsChanged_) change["counts"] = Counts();
  countsChanged_ = false;
  if (change.empty()) return std::nullopt;
  return change;
}

nlohmann::json MonitorState::Whole() const {
  nlohmann::json whole = viewer_.Whole();
  whole.update(windows_.Whole());
  whole["counts"] = Counts();
  return whole;
}

nlohmann::json MonitorState::Counts() const {
  return {{"taken", taken_}, {"oversized", oversized_}, {"malformed", malformed_}};
}

}  // namespace qb::monitor
