// Hosts that misuse the library the way real ones have: each scenario runs in child processes
// under a deadline, so a crash, a hang or a wrong result fails the test with the scenario's name.
//   fault_host <scenario>          runs the scenario (several times where it is a race)
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <functional>

#include "quillbox/quillbox.h"
#include "support/modbus_frames.h"
#include "support/process.h"
#include "support/pty.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::atomic<int> lastEvent{0};
std::atomic<int> events{0};

intptr_t Record(void*, uint32_t, uintptr_t wParam, intptr_t lParam) {
  if (lParam >= 1) lastEvent = reinterpret_cast<const uint8_t*>(wParam)[0];
  ++events;
  return 0;
}

bool WaitFor(const std::function<bool()>& done, int ms) {
  const auto end = Clock::now() + milliseconds(ms);
  while (!done()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(milliseconds(2));
  }
  return true;
}

// Opens a pseudo-terminal as COM1: the library opens its path, the scenario plays the device.
bool OpenAsCom1(qb::test::Pty& pty) {
  qbSetPortDevice(1, pty.WidePath().c_str());
  return pty.Ok() && qbOpenSerial(1, 9600) == 1;
}

// How long f took, in ms.
int64_t Took(const std::function<void()>& f) {
  const auto start = Clock::now();
  f();
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

void PollIndirectly(int32_t items) {
  qbSetHostWindowProc(Record);
  qbInit(nullptr, 1);
  qbSetQueryDirectSerial(0);
  for (int32_t id = 1; id <= items; ++id) qbAutoWordRead(id, 1, 0, 1);
}

// main returns while other threads keep calling: late calls are refused, none crashes.
int LateCalls() {
  PollIndirectly(1);
  qbSetTimeOut(5);
  qbStart();
  for (int i = 0; i < 4; ++i) {
    std::thread([] {
      for (uint8_t raw[16];;) {
        qbGetBufferSize();
        qbSetTimeOut(5);
        qbGetLastRxRawEx(raw, sizeof raw);
        qbAutoWordRead(2, 1, 0, 1);
        qbUnregisterAutoItem(2);
      }
    }).detach();
  }
  std::this_thread::sleep_for(milliseconds(30));
  return 0;
}

// exit() inside the event of a reply handed over by the port's reader.
int ExitInEvent() {
  qb::test::Pty pty;
  qbSetHostWindowProc([](void*, uint32_t, uintptr_t wParam, intptr_t) -> intptr_t {
    if (reinterpret_cast<const uint8_t*>(wParam)[0] == 2) exit(0);
    return 0;
  });
  qbInit(nullptr, 1);
  qbSetRtuMode();
  if (!OpenAsCom1(pty)) return 10;
  qbSetTimeOut(2000);
  qbAutoWordRead(1, 1, 0, 1);
  qbStart();
  if (pty.Read(8, 3000).size() != 8) return 11;
  if (!pty.Write(qb::test::WithCrc({0x01, 0x03, 0x02, 0x00, 0x2A}))) return 12;
  // Calls keep coming from this thread while the owner thread exits.
  for (const auto end = Clock::now() + milliseconds(5000); Clock::now() < end;) qbGetBufferSize();
  return 13;  // the event never came
}

// A child of fork gets prompt refusals and leaves the port to the parent.
int Fork() {
  qb::test::Pty pty;
  if (!OpenAsCom1(pty)) return 20;
  int up[2], down[2];
  if (pipe(up) != 0 || pipe(down) != 0) return 21;
  const pid_t child = fork();
  if (child == 0) {
    qbAutoWordRead(1, 1, 0, 1);
    const char answer = qbGetBufferSize() == 0 && qbGetLastRxDataAtIndex(0) == -1 ? 'k' : 'x';
    if (write(up[1], &answer, 1) != 1) _exit(1);
    char go;
    if (read(down[0], &go, 1) != 1) _exit(1);
    exit(0);
  }
  char answer = 0;
  if (read(up[0], &answer, 1) != 1 || answer != 'k') return 22;
  qbCloseSerial();
  const int reopened = qbOpenSerial(1, 9600);
  if (write(down[1], "g", 1) != 1) return 23;
  int status = 0;
  if (!WaitFor([&] { return waitpid(child, &status, WNOHANG) == child; }, 3000)) return 24;
  if (reopened != 1) return 25;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 26;
}

// An RTS delay far beyond reason holds calls up for at most its bound.
int RtsDelay() {
  qb::test::Pty pty;
  if (!OpenAsCom1(pty)) return 30;
  qbSetRtsDelayFront(UINT32_MAX);
  qbInit(nullptr, 1);
  qbAutoWordRead(1, 1, 0, 1);
  qbStart();
  std::this_thread::sleep_for(milliseconds(100));  // the owner thread is in the delay now
  return Took([] { qbCloseSerial(); }) < 2500 ? 0 : 31;
}

// The pause after a tx-only item holds no call up; exit ends it.
int TxOnlyPause() {
  PollIndirectly(2);
  qbSetTxOnlyItemEx(1, INT32_MAX);
  qbStart();
  if (!WaitFor([] { return events >= 1; }, 3000)) return 40;
  std::this_thread::sleep_for(milliseconds(100));  // the owner thread pauses now
  return Took([] { qbGetBufferSize(), qbStop(), qbCloseSerial(); }) < 500 ? 0 : 41;
}

// The sized getters write no more than they are given, from any thread.
int SizedGetters() {
  PollIndirectly(1);
  qbSetRtuMode();
  qbStart();
  if (!WaitFor([] { return lastEvent == 1; }, 3000)) return 50;
  const auto reply = qb::test::WithCrc({0x01, 0x03, 0x02, 0x00, 0x2A});
  qbOnSerialReceive(reply.data(), static_cast<int32_t>(reply.size()));
  if (!WaitFor([] { return lastEvent == 2; }, 3000)) return 51;
  qbStop();
  uint8_t raw[16];
  std::memset(raw, 0xEE, sizeof raw);
  if (qbGetLastRxRawEx(raw, 4) != 7 || std::memcmp(raw, reply.data(), 4) != 0) return 52;
  if (raw[4] != 0xEE || qbGetLastRxRawEx(nullptr, 99) != 7) return 53;
  uint8_t text[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  if (qbGetLastTxSituationEx(text, 1) != 2 || text[0] != 0xEE) return 54;
  if (qbGetLastTxSituationEx(text, 4) != 2 || text[0] != 0 || text[1] != 0 || text[2] != 0xEE)
    return 55;
  return 0;
}

const struct {
  std::string name;
  int (*run)();
  int runs;  // the shutdown races are lost most of the time: a few runs show them
} kScenarios[] = {{"late-calls", LateCalls, 10},
                  {"exit-in-event", ExitInEvent, 3},
                  {"fork", Fork, 1},
                  {"rts-delay", RtsDelay, 1},
                  {"tx-only-pause", TxOnlyPause, 1},
                  {"sized-getters", SizedGetters, 1}};

}  // namespace

int main(int argc, char** argv) {
  for (const auto& s : kScenarios) {
    if (argc == 3 && argv[1] == std::string("--child") && argv[2] == s.name) return s.run();
    if (argc != 2 || argv[1] != s.name) continue;
    for (int i = 0; i < s.runs; ++i) {
      // A crash or a hang (killed at the deadline) shows as -1.
      const int status = qb::test::Run({"/proc/self/exe", "--child", s.name}, 15000).exitCode;
      if (status != 0) {
        std::fprintf(stderr, "%s, run %d: exit status %d\n", argv[1], i + 1, status);
        return 1;
      }
    }
    return 0;
  }
  return 2;
}
