// A Platform for tests: virtual time that moves only when the test says so (or when the code under
// test sleeps), message boxes and debug notes recorded in order, and host messages recorded with a
// copy of the event block they point to (the block lives only during the send).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace qb::test {

struct HostMessage {
  void* window;
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
  std::vector<uint8_t> block;  // copy of lParam bytes at wParam when lParam >= 2, else empty
};

class FakePlatform : public Platform {
 public:
  explicit FakePlatform(uint32_t startTick = 1000) : now_(startTick) {}

  uint32_t TickMs() override { return now_; }
  void SleepMs(uint32_t ms) override {
    now_ += ms;
    slept_.push_back(ms);
  }
  void ShowMessageBox(std::u16string_view text) override { boxes.emplace_back(text); }
  void DebugNote(std::u16string_view text) override { notes.emplace_back(text); }
  intptr_t SendHostMessage(void* window, uint32_t message, uintptr_t wParam,
                           intptr_t lParam) override;
  const CodePage& GetCodePage() const override { return codePage_; }
  bool MonitorAttached() const override { return monitorAttached; }
  void SendToMonitor(std::u16string_view command) override {
    monitorCommands.emplace_back(command);
  }

  void Advance(uint32_t ms) { now_ += ms; }
  void SetTick(uint32_t tick) { now_ = tick; }
  CodePage& MutableCodePage() { return codePage_; }

  // Notes that start with prefix.
  std::vector<std::u16string> NotesStartingWith(std::u16string_view prefix) const;

  std::vector<std::u16string> boxes;
  std::vector<std::u16string> notes;
  bool monitorAttached = false;
  std::vector<std::u16string> monitorCommands;
  std::vector<HostMessage> messages;
  // Runs inside the send, as the host's window procedure would (may call back into the engine).
  std::function<void(const HostMessage&)> onHostMessage;
  std::vector<uint32_t> slept_;

 private:
  uint32_t now_;
  CodePage codePage_{"ANSI_X3.4-1968"};
};

// "abc" -> u"abc" for assertions on ASCII texts.
std::u16string U16(std::string_view ascii);

}  // namespace qb::test
