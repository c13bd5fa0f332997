// The Platform of the library as hosts load it on Linux: the monotonic clock, message boxes and
// debug notes through procedures the host may install (stderr and nothing by default), the
// host window reached through the host's window procedure, and the monitor's socket named by
// QUILLBOX_MONITOR or by the host.
#pragma once

#include <cstdint>
#include <string>

#include "platform/monitor_socket.h"
#include "platform/owner_loop.h"
#include "platform/platform.h"

namespace qb {

using HostWindowProc = intptr_t (*)(void* window, uint32_t message, uintptr_t wParam,
                                    intptr_t lParam);
using TextProc = void (*)(const char16_t* text);

class DefaultPlatform final : public Platform {
 public:
  DefaultPlatform();

  uint32_t TickMs() override;
  void SleepMs(uint32_t ms) override;
  // On the owner thread of the loop set with SetOwnerLoop, the calls of other threads are served
  // during the pause, so no export waits for it.
  void PauseMs(uint32_t ms) override;
  void SetOwnerLoop(OwnerLoop* loop) { loop_ = loop; }
  void ShowMessageBox(std::u16string_view text) override;
  void DebugNote(std::u16string_view text) override;
  bool DebugNotesWanted() const override { return debugNoteProc_ != nullptr || debugLevel_ >= 1; }
  void WatchValue(std::u16string_view name, int64_t value) override;
  intptr_t SendHostMessage(void* window, uint32_t message, uintptr_t wParam,
                           intptr_t lParam) override;
  const CodePage& GetCodePage() const override { return codePage_; }
  bool MonitorAttached() const override { return monitor_.Attached(); }
  void SendToMonitor(std::u16string_view command) override { monitor_.Send(command); }

  void SetHostWindowProc(HostWindowProc proc) { hostProc_ = proc; }
  // Null restores the default (one UTF-8 line on stderr).
  void SetMessageBoxProc(TextProc proc) { messageBoxProc_ = proc; }
  // Null restores the default (discard, or stderr with QUILLBOX_DEBUG set).
  void SetDebugNoteProc(TextProc proc) { debugNoteProc_ = proc; }
  bool SelectCodePage(std::u16string_view name);
  // A socket path of `quillbox monitor`; empty detaches.
  void SetMonitorSocket(std::u16string_view path) { monitor_.Attach(Utf16ToUtf8(path)); }

 private:
  void CallTextProc(TextProc proc, std::u16string_view text);

  OwnerLoop* loop_ = nullptr;
  HostWindowProc hostProc_ = nullptr;
  TextProc messageBoxProc_ = nullptr;
  TextProc debugNoteProc_ = nullptr;
  // From QUILLBOX_DEBUG: 0 discards debug notes; 1 writes them to stderr, except the watch values
  // that every timer tick gives; 2 writes those too.
  int debugLevel_ = 0;
  CodePage codePage_;
  MonitorSocket monitor_;
};

}  // namespace qb
