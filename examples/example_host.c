/*
 * A host of libQUILLBOXCE written in plain C11, as a panel application would be: it loads the
 * library's exports by name, registers a few Modbus RTU items and polls a small device that it
 * plays itself, so that the whole path from registration to the getters can be watched without
 * hardware.
 *
 * Direct mode (the default): the device sits behind a pseudo-terminal; the library opens its slave
 * side as COM1 and writes each request there, and a thread of this program answers on the master
 * side. Indirect mode (--indirect): the library hands each request to the host in event 1, and the
 * host hands the reply back with qbOnSerialReceive.
 *
 * Usage: example_host [cycles] [--indirect]   (default 3 polling cycles, direct mode)
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <stdatomic.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "quillbox/quillbox.h"

#ifndef QB_LIBRARY_PATH
#define QB_LIBRARY_PATH "libQUILLBOXCE.so"
#endif

#define QB_MESSAGE 0x0400u

/* The library's exports, loaded by name. */
static struct {
  void (*SetHostWindowProc)(qb_window_proc);
  void (*Init)(void*, uint32_t);
  void (*SetQueryDirectSerial)(int32_t);
  void (*SetPortDevice)(int32_t, const qb_wchar*);
  int32_t (*OpenSerial)(int32_t, uint32_t);
  void (*CloseSerial)(void);
  void (*SetTimeOut)(int32_t);
  void (*SetRtuMode)(void);
  void (*SetEventFormat)(int32_t);
  void (*AutoWordRead)(int32_t, int32_t, int32_t, int32_t);
  void (*AutoBitRead)(int32_t, int32_t, int32_t, int32_t);
  void (*ManualWordWrite)(int32_t, int32_t, int32_t, int32_t);
  void (*Start)(void);
  void (*Stop)(void);
  int32_t (*OnSerialReceive)(const uint8_t*, int32_t);
  int32_t (*GetLastRxDataCount)(void);
  int32_t (*GetLastRxDataAtIndex)(int32_t);
  int32_t (*GetLastRxDataType)(void);
  int32_t (*GetLastItmExp)(uint8_t*, int32_t);
  int32_t (*GetRtuTimeGap)(void);
  int32_t (*IsRtuMode)(void);
} qb;

static void* Load(void* library, const char* name) {
  void* f = dlsym(library, name);
  if (f == NULL) {
    fprintf(stderr, "example_host: export %s is missing: %s\n", name, dlerror());
    exit(2);
  }
  return f;
}

/* ---- the host's own little device: slave 1 with 100 registers and 64 coils ---- */

static uint16_t registers[100];
static uint8_t coils[64];

static uint16_t Crc16(const uint8_t* p, size_t n) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int b = 0; b < 8; ++b) crc = (crc & 1) ? (uint16_t)((crc >> 1) ^ 0xA001) : (crc >> 1);
  }
  return crc;
}

/* The reply to the request in event 1, sent after the event handler has returned. */
static pthread_mutex_t replyLock = PTHREAD_MUTEX_INITIALIZER;
static uint8_t reply[260];
static int replyLength;

static void AnswerRequest(const uint8_t* req, size_t n) {
  if (n < 8 || req[0] != 1) return; /* only slave 1 exists */
  const unsigned code = req[1];
  const unsigned start = (unsigned)(req[2] << 8 | req[3]);
  const unsigned value = (unsigned)(req[4] << 8 | req[5]);
  size_t len = 0;
  pthread_mutex_lock(&replyLock);
  reply[len++] = req[0];
  reply[len++] = (uint8_t)code;
  if (code == 3 && start + value <= 100) {
    reply[len++] = (uint8_t)(2 * value);
    for (unsigned i = 0; i < value; ++i) {
      reply[len++] = (uint8_t)(registers[start + i] >> 8);
      reply[len++] = (uint8_t)registers[start + i];
    }
  } else if (code == 1 && start + value <= 64) {
    const unsigned bytes = (value + 7) / 8;
    reply[len++] = (uint8_t)bytes;
    for (unsigned i = 0; i < bytes; ++i) {
      uint8_t b = 0;
      for (unsigned k = 0; k < 8 && 8 * i + k < value; ++k)
        b |= (uint8_t)(coils[start + 8 * i + k] << k);
      reply[len++] = b;
    }
  } else if (code == 6 && start < 100) {
    registers[start] = (uint16_t)value;
    memcpy(reply, req, 6); /* the echo of the request */
    len = 6;
  } else {
    pthread_mutex_unlock(&replyLock); /* no answer: the library reports a time-out */
    return;
  }
  const uint16_t crc = Crc16(reply, len);
  reply[len++] = (uint8_t)(crc & 0xFF);
  reply[len++] = (uint8_t)(crc >> 8);
  replyLength = (int)len;
  pthread_mutex_unlock(&replyLock);
}

/* ---- events ---- */

static atomic_int replies, timeouts;
static int indirect;

static intptr_t OnEvent(void* window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  (void)window;
  if (message != QB_MESSAGE || lParam < 5) return 0; /* a code and a four-byte id at least */
  const uint8_t* block = (const uint8_t*)wParam;
  const int code = block[0];
  const uint32_t id = (uint32_t)block[1] | (uint32_t)block[2] << 8 | (uint32_t)block[3] << 16 |
                      (uint32_t)block[4] << 24;
  const uint8_t* frame = block + 5;
  const size_t frameLength = (size_t)lParam - 5;
  if (code == QB_EVENT_SEND_REQUEST) {
    printf("item %2u  request ", (unsigned)id);
    for (size_t i = 0; i < frameLength; ++i) printf(" %02X", frame[i]);
    printf("\n");
    if (indirect) AnswerRequest(frame, frameLength);
  } else if (code == QB_EVENT_REPLY) {
    uint8_t text[128];
    qb.GetLastItmExp(text, sizeof text - 2);
    char ascii[64];
    size_t k = 0;
    for (size_t i = 0; text[i] != 0 || text[i + 1] != 0; i += 2) {
      if (k + 1 < sizeof ascii) ascii[k++] = (char)text[i];
    }
    ascii[k] = 0;
    printf("item %2u  reply    %-28s %s", (unsigned)id, ascii,
           qb.GetLastRxDataType() == QB_DATA_BITS ? "bits " : "words");
    for (int i = 0; i < qb.GetLastRxDataCount(); ++i) printf(" %d", qb.GetLastRxDataAtIndex(i));
    printf("\n");
    atomic_fetch_add(&replies, 1);
  } else if (code == QB_EVENT_TIMEOUT) {
    printf("item %2u  time-out\n", (unsigned)id);
    atomic_fetch_add(&timeouts, 1);
  } else if (code == QB_EVENT_WATCHDOG) {
    printf("watchdog: no complete cycle within 5 s\n");
  }
  return 0;
}

/* Direct mode: the device thread reads requests on the pty master and writes the replies back. */
static int deviceFd = -1;
static atomic_int deviceStop;

static void* DeviceThread(void* unused) {
  (void)unused;
  uint8_t request[256];
  size_t have = 0;
  while (!atomic_load(&deviceStop)) {
    struct pollfd p = {deviceFd, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) {
      have = 0; /* a silent line ends a frame */
      continue;
    }
    const ssize_t n = read(deviceFd, request + have, sizeof request - have);
    if (n <= 0) continue;
    have += (size_t)n;
    if (have < 8) continue;
    AnswerRequest(request, have);
    have = 0;
    pthread_mutex_lock(&replyLock);
    if (replyLength > 0 && write(deviceFd, reply, (size_t)replyLength) != replyLength) {
      fprintf(stderr, "example_host: device could not answer\n");
    }
    replyLength = 0;
    pthread_mutex_unlock(&replyLock);
  }
  return NULL;
}

/* Opens a pseudo-terminal for the device; returns the path the library opens. */
static const char* OpenDevicePty(void) {
  deviceFd = posix_openpt(O_RDWR | O_NOCTTY);
  if (deviceFd < 0 || grantpt(deviceFd) != 0 || unlockpt(deviceFd) != 0) return NULL;
  return ptsname(deviceFd);
}

static void SleepMs(long ms) {
  struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&ts, NULL);
}

int main(int argc, char** argv) {
  int cycles = 3;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--indirect") == 0) {
      indirect = 1;
    } else {
      cycles = atoi(argv[i]);
    }
  }
  void* library = dlopen(QB_LIBRARY_PATH, RTLD_NOW);
  if (library == NULL) {
    fprintf(stderr, "example_host: cannot load %s: %s\n", QB_LIBRARY_PATH, dlerror());
    return 2;
  }
  *(void**)&qb.SetHostWindowProc = Load(library, "qbSetHostWindowProc");
  *(void**)&qb.Init = Load(library, "qbInit");
  *(void**)&qb.SetQueryDirectSerial = Load(library, "qbSetQueryDirectSerial");
  *(void**)&qb.SetPortDevice = Load(library, "qbSetPortDevice");
  *(void**)&qb.OpenSerial = Load(library, "qbOpenSerial");
  *(void**)&qb.CloseSerial = Load(library, "qbCloseSerial");
  *(void**)&qb.SetTimeOut = Load(library, "qbSetTimeOut");
  *(void**)&qb.SetRtuMode = Load(library, "qbSetRtuMode");
  *(void**)&qb.SetEventFormat = Load(library, "qbSetEventFormat");
  *(void**)&qb.AutoWordRead = Load(library, "qbAutoWordRead");
  *(void**)&qb.AutoBitRead = Load(library, "qbAutoBitRead");
  *(void**)&qb.ManualWordWrite = Load(library, "qbManualWordWrite");
  *(void**)&qb.Start = Load(library, "qbStart");
  *(void**)&qb.Stop = Load(library, "qbStop");
  *(void**)&qb.OnSerialReceive = Load(library, "qbOnSerialReceive");
  *(void**)&qb.GetLastRxDataCount = Load(library, "qbGetLastRxDataCount");
  *(void**)&qb.GetLastRxDataAtIndex = Load(library, "qbGetLastRxDataAtIndex");
  *(void**)&qb.GetLastRxDataType = Load(library, "qbGetLastRxDataType");
  *(void**)&qb.GetLastItmExp = Load(library, "qbGetLastItmExp");
  *(void**)&qb.GetRtuTimeGap = Load(library, "qbGetRtuTimeGap");
  *(void**)&qb.IsRtuMode = Load(library, "qbIsRtuMode");

  for (int i = 0; i < 100; ++i) registers[i] = (uint16_t)(1000 + i);
  for (int i = 0; i < 64; ++i) coils[i] = (uint8_t)(i % 3 == 0);

  qb.SetHostWindowProc(OnEvent);
  qb.Init(NULL, QB_MESSAGE);
  qb.SetRtuMode();
  pthread_t device;
  if (indirect) {
    qb.SetQueryDirectSerial(0); /* the host moves the bytes itself */
    printf("indirect mode: requests come in event 1, replies go back through qbOnSerialReceive\n");
  } else {
    const char* path = OpenDevicePty();
    if (path == NULL) {
      fprintf(stderr, "example_host: cannot create a pseudo-terminal\n");
      return 2;
    }
    qb_wchar widePath[128];
    size_t k = 0;
    for (; path[k] != 0 && k + 1 < sizeof widePath / sizeof widePath[0]; ++k)
      widePath[k] = (qb_wchar)path[k];
    widePath[k] = 0;
    qb.SetPortDevice(1, widePath);
    if (qb.OpenSerial(1, 9600) != QB_YES) {
      fprintf(stderr, "example_host: the library could not open %s\n", path);
      return 2;
    }
    pthread_create(&device, NULL, DeviceThread, NULL);
    printf("direct mode: the library polls the device on %s\n", path);
  }
  qb.SetEventFormat(QB_EVENT_FORMAT_ID4);
  printf("RTU mode %d, RTU time gap %d ms at 9600 baud\n", qb.IsRtuMode(), qb.GetRtuTimeGap());

  qb.AutoWordRead(1, 1, 0, 4);
  qb.AutoWordRead(2, 1, 10, 2);
  qb.AutoBitRead(3, 1, 0, 10);
  qb.AutoWordRead(4, 7, 0, 1); /* slave 7 does not exist: time-outs */
  qb.Start();
  qb.ManualWordWrite(5, 1, 10, 4242); /* sent ahead of the queued auto items */

  const int wanted = cycles * 3 + 1;
  for (int waited = 0; atomic_load(&replies) < wanted && waited < 10000; waited += 2) {
    if (!indirect) {
      SleepMs(2);
      continue;
    }
    uint8_t pending[sizeof reply];
    pthread_mutex_lock(&replyLock);
    const int n = replyLength;
    memcpy(pending, reply, sizeof reply);
    replyLength = 0;
    pthread_mutex_unlock(&replyLock);
    if (n > 0) qb.OnSerialReceive(pending, n);
    SleepMs(2);
  }
  qb.Stop();
  if (!indirect) {
    qb.CloseSerial();
    atomic_store(&deviceStop, 1);
    pthread_join(device, NULL);
  }
  printf("%d replies, %d time-outs\n", atomic_load(&replies), atomic_load(&timeouts));
  return atomic_load(&replies) >= wanted ? 0 : 1;
}
