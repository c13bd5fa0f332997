/* A host built against the installed library with pkg-config: reads holding registers 0 and 1 of
 * slave 1 on the device named by $QUILLBOX_COM1 and prints the library version and both values. */
#define _POSIX_C_SOURCE 199309L
#include <quillbox/quillbox.h>
#include <stdatomic.h>
#include <stdio.h>
#include <time.h>

static atomic_int replies;

static intptr_t OnEvent(void* window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  (void)window, (void)message, (void)lParam;
  if (((const uint8_t*)wParam)[0] == QB_EVENT_REPLY) atomic_fetch_add(&replies, 1);
  return 0;
}

int main(void) {
  qbSetHostWindowProc(OnEvent);
  qbInit(NULL, 0x400);
  qbSetRtuMode();
  if (!qbOpenSerial(1, 19200)) return 3;
  qbAutoWordRead(1, 1, 0, 2);
  qbStart();
  for (int i = 0; i < 500 && atomic_load(&replies) == 0; ++i) {
    nanosleep(&(struct timespec){0, 10000000}, NULL);
  }
  qbStop();
  printf("%s %d %d\n", qbGetVersion(), qbGetLastRxDataAtIndex(0), qbGetLastRxDataAtIndex(1));
  qbCloseSerial();
  return atomic_load(&replies) > 0 ? 0 : 1;
}
