/* Compiles the public header alone as C11: every declaration must be valid C. */
#include "quillbox/quillbox.h"

int main(void) {
  void (*init)(void*, uint32_t) = qbInit;
  int32_t (*raw)(uint8_t*) = qbGetLastRxRaw;
  qb_wchar text[2] = {0x41, 0};
  return (init != 0 && raw != 0 && text[0] == 0x41) ? 0 : 1;
}
