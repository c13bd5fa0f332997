// What a host window receives from the library through the C API, collected on the owner thread
// and awaited by the test thread with generous deadlines.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "quillbox/quillbox.h"

namespace qb::test {

struct HostEvent {
  int code;
  uint32_t itemId;
  std::vector<uint8_t> block;  // as sent: code, id, payload
  std::vector<uint8_t> frame;  // the payload after the id
  std::vector<int32_t> words;  // the decoded data read inside the handler
  std::thread::id thread;
};

class HostInbox {
 public:
  static HostInbox& Get() {
    static HostInbox inbox;
    return inbox;
  }
  // Installs the window procedure and names the window; format 2 has 4-byte ids, 1 one byte.
  void Attach(uint32_t message = 0x9000, int format = 2) {
    message_ = message;
    idBytes_ = format == 2 ? 4 : 1;
    qbSetHostWindowProc(&HostInbox::Proc);
    qbSetEventFormat(format);
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
    if (message != self->message_ || (lParam != 0 && lParam < 1 + self->idBytes_)) return 0;
    const auto* block = reinterpret_cast<const uint8_t*>(wParam);
    HostEvent e{0, 0, {}, {}, {}, std::this_thread::get_id()};
    if (lParam == 0) {
      // A record-form event (the link protocols' replies): all of it is in the getters.
      e.code = qbGetLastRxEventType();
      e.itemId = static_cast<uint32_t>(qbGetLastRxItemId());
    } else {
      e.code = block[0];
      e.block.assign(block, block + lParam);
      for (int i = self->idBytes_; i >= 1; --i) e.itemId = e.itemId << 8 | block[i];
      e.frame.assign(block + 1 + self->idBytes_, block + lParam);
    }
    if (e.code == QB_EVENT_REPLY || e.code >= QB_EVENT_EXCEPTION) {
      for (int32_t i = 0; i < qbGetLastRxDataCount(); ++i)
        e.words.push_back(qbGetLastRxDataAtIndex(i));
    }
    std::lock_guard lock(self->mutex_);
    self->events_.push_back(std::move(e));
    self->arrived_.notify_all();
    return 0;
  }

  uint32_t message_ = 0;
  int idBytes_ = 4;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<HostEvent> events_;
};

}  // namespace qb::test
