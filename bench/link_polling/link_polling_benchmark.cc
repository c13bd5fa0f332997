// Polling throughput of the link protocols over an emulated line: LSMK reads of 15 word items
// (the library's read frames then carry 15 and 16 blocks in turn) and MBFX reads of ten items of
// ten words each, polled by the library with the precise timer and no query interval, against
// the paced simulated controller, at 9600 and 115200 baud 8N1. Every run is compared with the
// line's limit: the characters of the frames the line must carry per transaction (requests,
// replies and the MBFX acknowledgement; these protocols have no silences). Each runs twice: in
// the library's default RTU mode, whose scheduler keeps the Modbus RTU gap between a reply and
// the next query whatever the protocol, and after qbSetAsciiMode, which leaves only the query
// interval of 0. Either way the scheduler sends the next query only at a tick of its millisecond
// clock more than the gap (or the interval of 0) after the reply; that wait, the library's own
// rule, is measured per transaction and shown beside the limit. A program, not a timed test: the
// numbers are reported, not asserted.
//
//   link_polling_benchmark [--cycles N] [--baud 9600|115200]
//
// The exit status is 1 when a run failed, timed out or read a wrong value.
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "../polling/monotonic_time.h"
#include "quillbox/quillbox.h"
#include "sim/plc_memory.h"
#include "sim/plc_slave.h"
#include "sim/serial_line.h"
#include "sim/simulator.h"

namespace {

using namespace qb;

constexpr uint32_t kMessage = 0x8002;
constexpr int kBitsPerChar = 10;  // 8N1

struct Workload {
  const char* name;
  sim::PlcProtocol protocol;
  int items;           // auto items, registered in order with ids 1..items
  int wordsPerItem;    // LSMK 1, MBFX 10
  int itemsPerFrame;   // host messages per transaction
  double charsPerTwo;  // characters on the line for two transactions
};

// LSMK: ENQ, station, rSS, count, per block 2 + 7, EOT, BCC = 10 + 9 n; the reply ACK, station,
// rSS, count, per block 2 + 4, ETX, BCC = 10 + 6 n; frames of 15 and 16 blocks take turns.
// MBFX: the request 17 characters, the reply STX, station, FF, 10 x 4, ETX, sum = 48, the
// acknowledgement ACK, station, FF = 5.
const Workload kWorkloads[] = {
    {"LSMK, 15 items: frames of 15 and 16 blocks", sim::PlcProtocol::kLsmk, 15, 1, 15,
     (10 + 9 * 15) + (10 + 6 * 15) + (10 + 9 * 16) + (10 + 6 * 16)},
    {"MBFX, 10 items of 10 words", sim::PlcProtocol::kMbfx, 10, 10, 1, 2 * (17 + 48 + 5)},
};

uint16_t Value(int address) { return static_cast<uint16_t>(address * 7 + 3); }

// Stamps every host message on the library's owner thread and checks what it carries.
struct Recorder {
  const Workload* work = nullptr;
  size_t wanted = 0;  // host messages
  std::vector<int64_t> times;
  size_t badReplies = 0;
  size_t timeOuts = 0;
  int32_t ruleMs = 0;  // the gap (or interval) the scheduler waits after a reply, in ticks
  std::vector<int64_t> ruleWaitNs;  // per message: until the first tick the rule lets a query go
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;

  static intptr_t Proc(void* window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    auto* self = static_cast<Recorder*>(window);
    if (message != kMessage || self == nullptr) return 0;
    const int64_t now = bench::MonotonicNs();
    const int code = lParam == 0 ? qbGetLastRxEventType() : reinterpret_cast<uint8_t*>(wParam)[0];
    if (code == 3) ++self->timeOuts;
    if (code != 2) return 0;
    const int id = qbGetLastRxItemId();
    bool right =
        id >= 1 && id <= self->work->items && qbGetLastRxDataCount() == self->work->wordsPerItem;
    for (int i = 0; right && i < self->work->wordsPerItem; ++i) {
      right = qbGetLastRxDataAtIndex(i) == Value((id - 1) * self->work->wordsPerItem + i);
    }
    if (!right) ++self->badReplies;
    std::lock_guard lock(self->mutex);
    if (self->times.size() < self->wanted) {
      self->times.push_back(now);
      self->ruleWaitNs.push_back((now / 1'000'000 + self->ruleMs + 1) * 1'000'000 - now);
    }
    if (self->times.size() == self->wanted) {
      // Stopped before the next request goes: a query left outstanding by the stop would be
      // reported as timed out by the first tick after the next run's qbStart.
      qbStop();
      self->finished = true;
      self->done.notify_all();
    }
    return 0;
  }
};

std::string LoadAverage() {
  std::ifstream file("/proc/loadavg");
  std::string a, b, c;
  file >> a >> b >> c;
  return a + " " + b + " " + c;
}

// One run; false when it failed. Prints one row.
bool Run(const Workload& work, int baud, size_t cycles, bool rtuGap) {
  sim::PlcModel model(work.protocol, 1000);
  model.AddStation(1);
  model.WithStation(1, [&](sim::PlcMemory& memory) {
    for (int a = 0; a < work.items * work.wordsPerItem; ++a) memory.SetWord("D", a, Value(a));
  });
  sim::PseudoTerminal line;
  std::string error;
  if (!line.Open(&error)) {
    std::printf("| %s | %d | failed: %s |\n", work.name, baud, error.c_str());
    return false;
  }
  sim::SimulatorOptions options;
  options.line.baud = baud;
  options.paced = true;
  sim::Simulator simulator(line.MasterFd(), sim::MakePlcSlave(&model), options);
  if (!simulator.Start(&error)) return false;

  Recorder recorder;
  recorder.work = &work;
  // Two warm-up cycles, then the measured ones: a cycle is two transactions of LSMK (15 and 16
  // blocks) and ten of MBFX.
  const size_t perCycle = static_cast<size_t>(work.items);
  const size_t warm = 2 * perCycle;
  recorder.wanted = warm + cycles * perCycle + 1;
  qbSetHostWindowProc(&Recorder::Proc);
  const std::u16string path(line.SlavePath().begin(), line.SlavePath().end());
  qbSetPortDevice(1, path.c_str());
  if (qbOpenSerial(1, static_cast<uint32_t>(baud)) != 1) return false;
  qbInit(&recorder, kMessage);
  const std::string_view name = sim::PlcProtocolName(work.protocol);
  qbSetProtocol(std::u16string(name.begin(), name.end()).c_str());
  if (rtuGap) {
    qbSetRtuMode();
  } else {
    qbSetAsciiMode();
  }
  recorder.ruleMs = rtuGap ? qbGetRtuTimeGap() : 0;
  qbSetTimeOut(1000);
  qbSetQueryInterval(0);
  qbSetTimerPeriod(0);
  for (int i = 0; i < work.items; ++i) {
    qbAutoWordReadEx(i + 1, 1, i * work.wordsPerItem, u"D", work.wordsPerItem);
  }
  qbStart();
  bool finished = false;
  {
    std::unique_lock lock(recorder.mutex);
    finished =
        recorder.done.wait_for(lock, std::chrono::seconds(120), [&] { return recorder.finished; });
  }
  qbStop();
  qbUnregisterAllAutoItems();
  qbCloseSerial();
  qbInit(nullptr, kMessage);
  simulator.Stop();
  if (!finished) {
    std::printf("| %s | %d | %s | did not finish | | | | |\n", work.name, baud,
                rtuGap ? "RTU gap" : "none");
    return false;
  }
  // From the last message of the warm-up to the last measured one: cycles x perCycle messages,
  // that is cycles x perCycle / itemsPerFrame transactions.
  const double seconds = static_cast<double>(recorder.times.back() - recorder.times[warm]) / 1e9;
  const double transactions =
      static_cast<double>(cycles * perCycle) / static_cast<double>(work.itemsPerFrame);
  const double measuredUs = seconds * 1e6 / transactions;
  const double limitUs = work.charsPerTwo / 2 * 1e6 * kBitsPerChar / baud;
  // The rule's wait follows the last message of each frame.
  int64_t waitNs = 0;
  for (size_t k = warm + work.itemsPerFrame; k < recorder.times.size(); k += work.itemsPerFrame) {
    waitNs += recorder.ruleWaitNs[k];
  }
  const double waitUs = static_cast<double>(waitNs) / 1e3 / transactions;
  const auto c = simulator.Counters();
  std::printf("| %s | %d | %s | %.0f | %.0f | %.1f%% | %.0f | %.1f%% | %zu / %zu | %llu |\n",
              work.name, baud, rtuGap ? "RTU gap" : "none", measuredUs, limitUs,
              100 * limitUs / measuredUs, waitUs, 100 * (limitUs + waitUs) / measuredUs,
              recorder.timeOuts, recorder.badReplies,
              static_cast<unsigned long long>(c.unacknowledged));
  std::fflush(stdout);
  return recorder.timeOuts == 0 && recorder.badReplies == 0;
}

}  // namespace

int main(int argc, char** argv) {
  size_t cycles = 20;
  std::vector<int> bauds{9600, 115200};
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--cycles" && i + 1 < argc) {
      cycles = std::strtoul(argv[++i], nullptr, 10);
    } else if (arg == "--baud" && i + 1 < argc) {
      bauds = {std::atoi(argv[++i])};
    } else {
      std::fprintf(stderr, "usage: %s [--cycles N] [--baud 9600|115200]\n", argv[0]);
      return 2;
    }
  }
  if (cycles == 0) return 2;
  std::printf("Load average before: %s\nPer run: 2 warm-up and %zu measured cycles\n\n",
              LoadAverage().c_str(), cycles);
  std::printf(
      "| Workload | Baud | spacing | us per transaction | line's limit, us | of the limit | "
      "own wait, us | of the limit + own wait | time-outs / wrong values | "
      "requests before an acknowledgement |\n"
      "|---|---|---|---|---|---|---|---|---|---|\n");
  bool sound = true;
  for (const Workload& work : kWorkloads) {
    for (const int baud : bauds) {
      for (const bool gap : {true, false}) sound = Run(work, baud, cycles, gap) && sound;
    }
  }
  std::printf("\nLoad average after: %s\n", LoadAverage().c_str());
  return sound ? 0 : 1;
}
