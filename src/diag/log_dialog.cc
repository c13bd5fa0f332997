#include "diag/log_dialog.h"

#include <charconv>
#include <vector>

#include "diag/monitor_commands.h"
#include "platform/clock.h"

namespace qb {
namespace {

std::u16string Wide(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

}  // namespace

LogDialog::LogDialog(Platform& platform, std::string_view fileVersion)
    : platform_(platform),
      caption_(u"Log - DLL Version " + Wide(std::to_string(VersionNumber(fileVersion)))) {}

int32_t LogDialog::VersionNumber(std::string_view fileVersion) {
  std::vector<int64_t> parts;
  for (size_t start = 0; start <= fileVersion.size();) {
    size_t end = fileVersion.find('.', start);
    if (end == std::string_view::npos) end = fileVersion.size();
    int64_t value = 0;
    const char* first = fileVersion.data() + start;
    const char* last = fileVersion.data() + end;
    const auto [next, error] = std::from_chars(first, last, value);
    if (first == last || error != std::errc() || next != last) return 0;
    parts.push_back(value);
    start = end + 1;
  }
  if (parts.size() != 4) return 0;
  return static_cast<int32_t>(parts[0] % 100 * 100 + parts[1] % 10 * 10 + parts[2] % 10);
}

void LogDialog::Show(uint32_t now) {
  visible_ = true;
  if (LoggingOn() && !timerRunning_) {
    timerRunning_ = true;
    nextTick_ = now + kTickMs;
  }
}

bool LogDialog::TickDue(uint32_t now) const {
  return timerRunning_ && TickDiff(now, nextTick_) >= 0;
}

int64_t LogDialog::MsUntilDue(uint32_t now) const {
  if (!timerRunning_) return -1;
  const int32_t wait = TickDiff(nextTick_, now);
  return wait > 0 ? wait : 0;
}

void LogDialog::Tick(uint32_t now) {
  nextTick_ += kTickMs;
  if (TickDiff(now, nextTick_) >= 0) nextTick_ = now + kTickMs;  // a late tick is not made up
  if (!LoggingOn()) return;
  if (firstShow_) {
    firstShow_ = false;
    Send(monitor::kLogShown, caption_);
  }
  // The counter goes, named "Count", to the status hook, which keeps nothing: the status pane
  // changes only when the engine's entries do.
  ++count_;
  std::u16string text = StatusText();
  if (text != shownStatus_) {
    shownStatus_ = std::move(text);
    Send(monitor::kLogStatus, shownStatus_);
  }
}

void LogDialog::SetStatus(std::u16string_view name, std::u16string_view value) {
  const auto it = status_.find(name);
  if (it != status_.end()) {
    it->second = value;
  } else {
    status_.emplace(name, value);
  }
}

std::u16string LogDialog::StatusText() const {
  std::u16string text;
  for (const auto& [name, value] : status_) {
    if (!text.empty()) text += u'&';
    text += name + u'=' + value;
  }
  return text;
}

void LogDialog::AppendLog(int pane, std::u16string_view text) {
  if (LoggingOn()) Send(pane == 1 ? monitor::kLogPane1 : monitor::kLogPane2, text);
}

void LogDialog::Send(std::u16string_view prefix, std::u16string_view argument) {
  if (!platform_.MonitorAttached()) return;
  std::u16string command(prefix);
  command += argument;
  platform_.SendToMonitor(command);
}

}  // namespace qb
