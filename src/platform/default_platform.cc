#include "platform/default_platform.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/clock.h"

namespace qb {
namespace {

void WriteLine(std::u16string_view text) {
  std::string line = Utf16ToUtf8(text);
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

DefaultPlatform::DefaultPlatform() {
  if (const char* level = std::getenv("QUILLBOX_DEBUG")) debugLevel_ = std::atoi(level);
  if (const char* monitor = std::getenv("QUILLBOX_MONITOR")) monitor_.Attach(monitor);
}

uint32_t DefaultPlatform::TickMs() { return MonotonicTickMs(); }

void DefaultPlatform::SleepMs(uint32_t ms) { SleepForMs(ms); }

void DefaultPlatform::PauseMs(uint32_t ms) {
  if (loop_ != nullptr && loop_->IsOwnerThread()) {
    loop_->Pause(ms);
  } else {
    SleepForMs(ms);
  }
}

void DefaultPlatform::CallTextProc(TextProc proc, std::u16string_view text) {
  const std::u16string terminated(text);
  proc(terminated.c_str());
}

void DefaultPlatform::ShowMessageBox(std::u16string_view text) {
  if (messageBoxProc_ != nullptr) {
    CallTextProc(messageBoxProc_, text);
  } else {
    WriteLine(text);
  }
}

void DefaultPlatform::DebugNote(std::u16string_view text) {
  if (debugNoteProc_ != nullptr) {
    CallTextProc(debugNoteProc_, text);
  } else if (debugLevel_ >= 1) {
    WriteLine(text);
  }
}

void DefaultPlatform::WatchValue(std::u16string_view name, int64_t value) {
  // Three values every tick would drown the other notes on stderr: only level 2 shows them there.
  if (debugNoteProc_ != nullptr || debugLevel_ >= 2) Platform::WatchValue(name, value);
}

intptr_t DefaultPlatform::SendHostMessage(void* window, uint32_t message, uintptr_t wParam,
                                          intptr_t lParam) {
  return hostProc_ != nullptr ? hostProc_(window, message, wParam, lParam) : 0;
}

bool DefaultPlatform::SelectCodePage(std::u16string_view name) {
  return codePage_.Select(Utf16ToUtf8(name));
}

}  // namespace qb
