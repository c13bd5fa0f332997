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

bool IsWatchValue(std::u16string_view text) {
  return text.starts_with(u"Auto=") || text.starts_with(u"ToDo=") ||
         text.starts_with(u"LastAskTime=");
}

}  // namespace

DefaultPlatform::DefaultPlatform() {
  if (const char* level = std::getenv("QUILLBOX_DEBUG")) debugLevel_ = std::atoi(level);
}

uint32_t DefaultPlatform::TickMs() { return MonotonicTickMs(); }

void DefaultPlatform::SleepMs(uint32_t ms) { SleepForMs(ms); }

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
  } else if (debugLevel_ >= 2 || (debugLevel_ == 1 && !IsWatchValue(text))) {
    WriteLine(text);
  }
}

intptr_t DefaultPlatform::SendHostMessage(void* window, uint32_t message, uintptr_t wParam,
                                          intptr_t lParam) {
  return hostProc_ != nullptr ? hostProc_(window, message, wParam, lParam) : 0;
}

bool DefaultPlatform::SelectCodePage(std::u16string_view name) {
  return codePage_.Select(Utf16ToUtf8(name));
}

}  // namespace qb
