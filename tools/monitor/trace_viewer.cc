#include "monitor/trace_viewer.h"

#include <charconv>

namespace qb::monitor {
namespace {

bool StartsWith(std::u16string_view text, std::u16string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// "L,T,R,B": four whole numbers, as the rectangle of a window.
bool ValidRect(std::u16string_view text) {
  const std::string ascii(text.begin(), text.end());
  const char* p = ascii.data();
  const char* end = p + ascii.size();
  if (ascii.size() != text.size() || ascii.find_first_of(" +") != std::string::npos) return false;
  for (int i = 0; i < 4; ++i) {
    int32_t value = 0;
    const auto [next, error] = std::from_chars(p, end, value);
    if (error != std::errc() || (i < 3 && (next == end || *next != ','))) return false;
    p = i < 3 ? next + 1 : next;
  }
  return p == end;
}

}  // namespace

TraceViewer::TraceViewer(std::function<uint32_t()> random, std::function<std::tm()> localTime)
    : random_(std::move(random)), localTime_(std::move(localTime)) {}

int TraceViewer::PaneOf(std::u16string_view name) {
  uint64_t sum = 0;
  for (char16_t c : name) sum += c;
  return static_cast<int>(sum % 3);
}

std::u16string TraceViewer::TimeText(const std::tm& time) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", time.tm_hour, time.tm_min, time.tm_sec);
  return std::u16string(text, text + 8);
}

bool TraceViewer::Apply(std::u16string_view command) {
  if (StartsWith(command, u"xts:")) {
    const std::u16string_view entry = command.substr(4);
    const size_t equals = entry.find(u'=');
    if (equals == std::u16string_view::npos || equals == 0) return false;
    const std::u16string_view name = entry.substr(0, equals);
    const auto it = entries_.find(name);
    if (it != entries_.end()) {
      it->second = entry.substr(equals + 1);
    } else {
      entries_.emplace(name, entry.substr(equals + 1));
    }
  } else if (StartsWith(command, u"xtd:")) {
    const auto it = entries_.find(command.substr(4));
    if (it != entries_.end()) entries_.erase(it);
  } else if (StartsWith(command, u"xta1:") || StartsWith(command, u"xta2:")) {
    AppendLine(command[3] - u'1', command.substr(5), false);
  } else if (StartsWith(command, u"xta1t:") || StartsWith(command, u"xta2t:")) {
    AppendLine(command[3] - u'1', command.substr(6), true);
  } else if (command == u"xtc") {
    logPanes_[0].Clear();
    logPanes_[1].Clear();
  } else if (StartsWith(command, u"xtrect:")) {
    if (!ValidRect(command.substr(7))) return false;
    rect_ = command.substr(7);
    rectChanged_ = true;
  } else {
    return false;
  }
  return true;
}

void TraceViewer::AppendLine(int pane, std::u16string_view text, bool stamped) {
  std::u16string line(random_() % 10, u' ');
  if (stamped) line += TimeText(localTime_()) + u' ';
  line += text;
  line += u"\r\n";
  logPanes_[static_cast<size_t>(pane)].Append(line);
}

void TraceViewer::Tick() {
  std::array<std::u16string, 3> panes;
  for (const auto& [name, value] : entries_) {
    panes[static_cast<size_t>(PaneOf(name))] += name + u'=' + value + u"\r\n";
  }
  for (size_t i = 0; i < 3; ++i) {
    if (panes[i] != statusPanes_[i]) {
      statusPanes_[i] = std::move(panes[i]);
      changedPanes_ |= 1u << i;
    }
  }
}

nlohmann::json TraceViewer::TakeChanges() {
  nlohmann::json change = nlohmann::json::object();
  for (size_t i = 0; i < 3; ++i) {
    if (changedPanes_ & (1u << i)) change["status"][std::to_string(i)] = ToUtf8(statusPanes_[i]);
  }
  changedPanes_ = 0;
  for (size_t i = 0; i < 2; ++i) {
    if (logPanes_[i].Changed()) change["log"][std::to_string(i)] = logPanes_[i].TakeChange();
  }
  if (rectChanged_) change["rect"] = ToUtf8(rect_);
  rectChanged_ = false;
  return change;
}

nlohmann::json TraceViewer::Whole() const {
  nlohmann::json whole;
  for (size_t i = 0; i < 3; ++i) whole["status"][std::to_string(i)] = ToUtf8(statusPanes_[i]);
  for (size_t i = 0; i < 2; ++i) whole["log"][std::to_string(i)] = logPanes_[i].Whole();
  whole["rect"] = ToUtf8(rect_);
  return whole;
}

}  // namespace qb::monitor
