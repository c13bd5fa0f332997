// A host built against the installed library with find_package(Quillbox): the same read as
// consumer.c, in C++.
#include <quillbox/quillbox.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {
std::atomic<int> replies{0};
}

int main() {
  qbSetHostWindowProc([](void*, uint32_t, uintptr_t wParam, intptr_t) -> intptr_t {
    if (reinterpret_cast<const uint8_t*>(wParam)[0] == QB_EVENT_REPLY) ++replies;
    return 0;
  });
  qbInit(nullptr, 0x400);
  qbSetRtuMode();
  if (qbOpenSerial(1, 19200) == 0) return 3;
  qbAutoWordRead(1, 1, 0, 2);
  qbStart();
  for (int i = 0; i < 500 && replies == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  qbStop();
  std::printf("%s %d %d\n", qbGetVersion(), qbGetLastRxDataAtIndex(0), qbGetLastRxDataAtIndex(1));
  qbCloseSerial();
  return replies > 0 ? 0 : 1;
}
