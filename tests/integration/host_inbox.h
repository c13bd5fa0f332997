// What a host window receives from the library, collected on the owner thread and awaited by the
// test thread with generous deadlines.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "quillbox/quillbox.h"

namespace qb::test {

struct HostEvent {
  int code;
  uint32_t itemId;
  std::vector<uint8_t> frame;
  std::vector<int32_t> words;  // the decoded data read inside the handler
};

class HostInbox {
 public:
  static HostInbox& Get() {
    static HostInbox inbox;
    return inbox;
  }
  // Installs the window procedure and names the window; event format 2 (4-byte ids).
  void Attach(uint32_t message = 0x9000) {
    message_ = message;
    qbSetHostWindowProc(&HostInbox::Proc);
    qbSetEventFormat(2);
    qbInit(this, message);
  }
  // Waits until pred holds for the events so far; false after timeout.
  bool WaitUntil(const std::function<bool(const std::vector<HostEvent>&)>& pred,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return pred(events_); });
  }
  // Waits until count events with the code have arrived.
  bool WaitForCount(int code, size_t count,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    return WaitUntil(
        [&](const std::vector<HostEvent>& events) { return Count(events, code) >= count; },
        timeout);
  }
  std::vector<HostEvent> Events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  static size_t Count(const std::vector<HostEvent>& events, int code) {
    size_t n = 0;
    for (const auto& e : events) n += e.code == code ? 1 : 0;
    return n;
  }

 private:
  static intptr_t Proc(void* window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    auto* self = static_cast<HostInbox*>(window);
    if (message != self->message_ || (lParam != 0 && lParam < 5)) return 0;
    const auto* block = reinterpret_cast<const uint8_t*>(wParam);
    // lParam 0: a record-form event (the link protocols' replies), all of it in the getters.
    HostEvent e =
        lParam == 0
            ? HostEvent{qbGetLastRxEventType(), static_cast<uint32_t>(qbGetLastRxItemId()), {}, {}}
            : HostEvent{
                  block[0],
                  static_cast<uint32_t>(block[1] | block[2] << 8 | block[3] << 16 | block[4] << 24),
                  std::vector<uint8_t>(block + 5, block + lParam),
                  {}};
    if (e.code == 2) {
      for (int32_t i = 0; i < qbGetLastRxDataCount(); ++i)
        e.words.push_back(qbGetLastRxDataAtIndex(i));
    }
    std::lock_guard lock(self->mutex_);
    self->events_.push_back(std::move(e));
    self->arrived_.notify_all();
    return 0;
  }

  uint32_t message_ = 0;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<HostEvent> events_;
};

}  // namespace qb::test
