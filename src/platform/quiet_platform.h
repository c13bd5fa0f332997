// A Platform that shows nothing and keeps no time: for fuzzing and benchmarks, where message
// boxes and notes would only slow the run and the clock does not matter.
#pragma once

#include "platform/platform.h"

namespace qb {

class QuietPlatform final : public Platform {
 public:
  uint32_t TickMs() override { return 0; }
  void SleepMs(uint32_t) override {}
  void ShowMessageBox(std::u16string_view) override {}
  void DebugNote(std::u16string_view) override {}
  bool DebugNotesWanted() const override { return false; }
  void WatchValue(std::u16string_view, int64_t) override {}
  intptr_t SendHostMessage(void*, uint32_t, uintptr_t, intptr_t) override { return 0; }
  const CodePage& GetCodePage() const override { return codePage_; }

 private:
  CodePage codePage_{"ANSI_X3.4-1968"};
};

}  // namespace qb
