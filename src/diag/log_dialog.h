// The Log window: a "Logging" check box, a status pane that shows a table of name=value entries
// joined with "&", and two log panes. It exists, hidden, from the library's start; the host shows
// it with qbShowLog, and from then on a 100 ms tick counts, refreshes the status pane and (on its
// first run) brings the window up. On Linux the window is drawn by the diagnostics monitor: the
// dialog sends it what the window shows, and keeps no pane text of its own.
//
// What fills it is the engine's choice: the status table gets the port, the protocol and the
// traffic counts, the first log pane the trace lines, the second the requests sent and the events
// sent to the host.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace qb {

class LogDialog {
 public:
  static constexpr uint32_t kTickMs = 100;

  // fileVersion: the library's file version, "major.minor.build.revision".
  LogDialog(Platform& platform, std::string_view fileVersion);
  LogDialog(const LogDialog&) = delete;
  LogDialog& operator=(const LogDialog&) = delete;

  // (first part mod 100) * 100 + (second mod 10) * 10 + (third mod 10): 4.1.8.1 gives 418. 0 when
  // the version does not have four numeric parts.
  static int32_t VersionNumber(std::string_view fileVersion);
  // "Log - DLL Version " + the version number.
  const std::u16string& Caption() const { return caption_; }

  // qbShowLog: shows the window and, while logging is on, starts the 100 ms timer.
  void Show(uint32_t now);
  // Logging is on while the window is visible and "Logging" is checked (it is from the start).
  bool LoggingOn() const { return visible_ && loggingChecked_; }
  // The owner's timer asks on each of its own ticks; missed ticks are not made up.
  bool TickDue(uint32_t now) const;
  // Milliseconds until TickDue; -1 while the timer is not running.
  int64_t MsUntilDue(uint32_t now) const;
  // One 100 ms tick: the first shows the window; the counter goes up (its status hook discards
  // it); the status pane is refreshed when its text changed.
  void Tick(uint32_t now);
  uint32_t Count() const { return count_; }

  // The status table (names in order).
  void SetStatus(std::u16string_view name, std::u16string_view value);
  std::u16string StatusText() const;
  // A line for log pane 1 or 2 (not ended here), sent while logging is on.
  void AppendLog(int pane, std::u16string_view text);

 private:
  void Send(std::u16string_view prefix, std::u16string_view argument);

  Platform& platform_;
  std::u16string caption_;
  bool visible_ = false;
  bool loggingChecked_ = true;
  bool firstShow_ = true;
  bool timerRunning_ = false;
  uint32_t nextTick_ = 0;
  uint32_t count_ = 0;
  std::map<std::u16string, std::u16string, std::less<>> status_;
  std::u16string shownStatus_;
};

}  // namespace qb
