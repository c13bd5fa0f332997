// Everything the library needs of the system around it, in one interface: the millisecond tick,
// sleeping, modal message boxes, the debug-note hook, the synchronous message to the host window,
// the system code page and the diagnostics monitor (where the Log window and text drawn on the
// display appear). The engine and the subsystems that show messages reach the system only
// through this interface, so tests drive them with a virtual clock and recorded messages, and the
// library itself runs on Linux with DefaultPlatform.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/code_page.h"

namespace qb {

class Platform {
 public:
  virtual ~Platform() = default;

  // Milliseconds of a monotonic counter that wraps at 2^32, like the system tick.
  virtual uint32_t TickMs() = 0;
  // Blocks the calling (owner) thread; a virtual clock advances instead.
  virtual void SleepMs(uint32_t ms) = 0;
  // A pause of the owner thread between two steps of its work (nothing of the engine is in the
  // middle of a change): like SleepMs, but a platform may serve calls of other threads meanwhile.
  virtual void PauseMs(uint32_t ms) { SleepMs(ms); }
  // A modal message box: returns after the user has seen it.
  virtual void ShowMessageBox(std::u16string_view text) = 0;
  // The debug-note hook: a line for whoever diagnoses the line; discarded by default.
  virtual void DebugNote(std::u16string_view text) = 0;
  // False when DebugNote discards every note, so that callers need not build them.
  virtual bool DebugNotesWanted() const { return true; }
  // A watch value (name and number) that every timer tick gives, as "name=value" by default.
  virtual void WatchValue(std::u16string_view name, int64_t value);
  // Sends a message to the host window and returns after the host has handled it.
  virtual intptr_t SendHostMessage(void* window, uint32_t message, uintptr_t wParam,
                                   intptr_t lParam) = 0;
  virtual const CodePage& GetCodePage() const = 0;
  // The diagnostics monitor: callers build their command texts only while one is attached, so a
  // library without a monitor does no work for it.
  virtual bool MonitorAttached() const { return false; }
  // One command to the monitor. Never blocks: a command that cannot go is lost.
  virtual void SendToMonitor(std::u16string_view /*command*/) {}
};

inline void Platform::WatchValue(std::u16string_view name, int64_t value) {
  std::u16string text(name);
  text += u'=';
  for (char c : std::to_string(value)) text += static_cast<char16_t>(c);
  DebugNote(text);
}

// Shows a message box at most once per process: the flag starts set and is cleared before the box
// is shown, so that ticks arriving while the box is open do not show it again.
inline void ShowMessageBoxOnce(Platform& platform, std::atomic<bool>& notShownYet,
                               std::u16string_view text) {
  if (notShownYet.exchange(false)) platform.ShowMessageBox(text);
}

}  // namespace qb
