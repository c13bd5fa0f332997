#include "cli/poller.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <numeric>
#include <sstream>
#include <thread>

#include "cli/exit_codes.h"
#include "quillbox/quillbox.h"

namespace qb::cli {
namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kMessage = 0x0400;

struct Event {
  Clock::time_point at;
  int code;
  int32_t item;
  std::vector<int32_t> values;
  double rttMs;  // -1 when unknown
};

// What the library's callbacks leave for the polling thread. The callbacks run on the library's
// owner thread; the poller reads under the lock.
struct Inbox {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<Event> events;
  Clock::time_point lastSend{};
  bool sendSeen = false;
  uint64_t requests = 0;
  uint64_t errors = 0;
};
Inbox* inbox = nullptr;  // the one poll running in this process

std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

bool StartsWith(const char16_t* text, std::u16string_view prefix) {
  return std::u16string_view(text).starts_with(prefix);
}

void OnNote(const qb_wchar* text) {
  if (inbox == nullptr || text == nullptr) return;
  std::lock_guard lock(inbox->mutex);
  if (StartsWith(text, u"DIRECT QUERY THRU COM")) {
    inbox->lastSend = Clock::now();
    inbox->sendSeen = true;
    ++inbox->requests;
  } else if (StartsWith(text, u"CRC Error") || StartsWith(text, u"UNEXPECTED DATA ARRIVED")) {
    ++inbox->errors;
  }
}

void OnMessageBox(const qb_wchar*) {}

int HexDigit(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The registers read by a read/write reply (function 23), which the library leaves undecoded:
// taken from the raw frame, an RTU one or an ASCII one (":" and hex pairs). Empty for any other
// function.
std::vector<int32_t> ReadWriteValues(const std::vector<uint8_t>& raw) {
  std::vector<uint8_t> frame;
  if (!raw.empty() && raw[0] == ':') {
    for (size_t i = 1; i + 1 < raw.size(); i += 2) {
      const int high = HexDigit(raw[i]);
      const int low = HexDigit(raw[i + 1]);
      if (high < 0 || low < 0) break;
      frame.push_back(static_cast<uint8_t>(high << 4 | low));
    }
  } else {
    frame = raw;
  }
  std::vector<int32_t> values;
  if (frame.size() < 3 || frame[1] != 23) return values;
  const size_t bytes = frame[2];
  for (size_t i = 0; i + 1 < bytes && 4 + i < frame.size(); i += 2) {
    values.push_back(frame[3 + i] << 8 | frame[4 + i]);
  }
  return values;
}

intptr_t OnEvent(void*, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (inbox == nullptr || message != kMessage || lParam < 5) return 0;
  const auto* block = reinterpret_cast<const uint8_t*>(wParam);
  Event e{Clock::now(),
          block[0],
          static_cast<int32_t>(block[1] | block[2] << 8 | block[3] << 16 |
                               static_cast<uint32_t>(block[4]) << 24),
          {},
          -1};
  if (e.code == 2) {
    const int32_t n = qbGetLastRxDataCount();
    for (int32_t i = 0; i < n; ++i) e.values.push_back(qbGetLastRxDataAtIndex(i));
    if (n == 0) {
      std::vector<uint8_t> raw(static_cast<size_t>(std::max(qbGetLastRxRawSize(), 0)));
      if (!raw.empty() && qbGetLastRxRaw(raw.data()) == 1) e.values = ReadWriteValues(raw);
    }
  }
  std::lock_guard lock(inbox->mutex);
  if ((e.code == 2 || e.code == 3) && inbox->sendSeen) {
    // A time-out has no round trip; its request is done with all the same.
    if (e.code == 2) {
      e.rttMs = std::chrono::duration<double, std::milli>(e.at - inbox->lastSend).count();
    }
    inbox->sendSeen = false;
  }
  inbox->events.push_back(std::move(e));
  inbox->changed.notify_all();
  return 0;
}

const char* KindName(PollItem::Kind kind) {
  switch (kind) {
    case PollItem::Kind::kReadCoils:
      return "coils";
    case PollItem::Kind::kReadDiscreteInputs:
      return "discrete-inputs";
    case PollItem::Kind::kReadHoldingRegisters:
      return "holding-registers";
    case PollItem::Kind::kReadInputRegisters:
      return "input-registers";
    case PollItem::Kind::kWriteCoil:
      return "write-coil";
    case PollItem::Kind::kWriteRegister:
      return "write-register";
    case PollItem::Kind::kWriteCoils:
      return "write-coils";
    case PollItem::Kind::kWriteRegisters:
      return "write-registers";
    case PollItem::Kind::kMaskWrite:
      return "mask-write";
    case PollItem::Kind::kReadWriteRegisters:
      return "read-write-registers";
  }
  return "?";
}

// Packs bits (0/1) least significant first, as Modbus sends coils.
std::vector<uint8_t> PackBits(const std::vector<uint16_t>& bits) {
  std::vector<uint8_t> bytes((bits.size() + 7) / 8, 0);
  for (size_t i = 0; i < bits.size(); ++i) {
    if (bits[i] != 0) bytes[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
  }
  return bytes;
}

std::vector<uint8_t> PackWords(const std::vector<uint16_t>& words) {
  std::vector<uint8_t> bytes;
  for (uint16_t w : words) {
    bytes.push_back(static_cast<uint8_t>(w >> 8));
    bytes.push_back(static_cast<uint8_t>(w & 0xFF));
  }
  return bytes;
}

void Register(const PollItem& item, int32_t id) {
  const int s = item.slave;
  const bool m = item.manual;
  switch (item.kind) {
    case PollItem::Kind::kReadCoils:
    case PollItem::Kind::kReadDiscreteInputs:
      if (item.kind == PollItem::Kind::kReadCoils) {
        qbDefineBitRead01();
      } else {
        qbDefineBitRead02();
      }
      (m ? qbManualBitRead : qbAutoBitRead)(id, s, item.start, item.count);
      qbDefineBitRead01();
      break;
    case PollItem::Kind::kReadHoldingRegisters:
    case PollItem::Kind::kReadInputRegisters:
      if (item.kind == PollItem::Kind::kReadHoldingRegisters) {
        qbDefineWordRead03();
      } else {
        qbDefineWordRead04();
      }
      (m ? qbManualWordRead : qbAutoWordRead)(id, s, item.start, item.count);
      qbDefineWordRead03();
      break;
    case PollItem::Kind::kWriteCoil:
      (m ? qbManualBitWrite : qbAutoBitWrite)(id, s, item.start, item.values.at(0));
      break;
    case PollItem::Kind::kWriteRegister:
      (m ? qbManualWordWrite : qbAutoWordWrite)(id, s, item.start, item.values.at(0));
      break;
    case PollItem::Kind::kWriteCoils: {
      const auto bytes = PackBits(item.values);
      (m ? qbManualMultiBitWrite : qbAutoMultiBitWrite)(
          id, s, item.start, static_cast<int32_t>(item.values.size()),
          static_cast<uint32_t>(bytes.size()), bytes.data());
      break;
    }
    case PollItem::Kind::kWriteRegisters: {
      const auto bytes = PackWords(item.values);
      (m ? qbManualMultiWordWrite : qbAutoMultiWordWrite)(
          id, s, item.start, static_cast<int32_t>(item.values.size()),
          static_cast<uint32_t>(bytes.size()), bytes.data());
      break;
    }
    case PollItem::Kind::kMaskWrite:
      (m ? qbManualMaskWrite4x : qbAutoMaskWrite4x)(id, s, item.start, item.andMask, item.orMask);
      break;
    case PollItem::Kind::kReadWriteRegisters: {
      const auto bytes = PackWords(item.values);
      (m ? qbManualReadWrite4x : qbAutoReadWrite4x)(id, s, item.start, item.count, item.writeStart,
                                                    static_cast<int32_t>(item.values.size()),
                                                    bytes.data());
      break;
    }
  }
}

double Percentile(std::vector<double> sorted, double p) {
  if (sorted.empty()) return 0;
  const size_t i = std::min(sorted.size() - 1, static_cast<size_t>(p * (sorted.size() - 1) + 0.5));
  return sorted[i];
}

const char* EventName(int code) {
  switch (code) {
    case 2:
      return "reply";
    case 3:
      return "timeout";
    case 4:
      return "watchdog";
    default:
      return "request";
  }
}

void PrintEvent(const Event& e, double t, const PollConfig& config, std::ostream& out) {
  const bool known = e.item >= 1 && static_cast<size_t>(e.item) <= config.items.size();
  const std::string what = known ? Describe(config.items[static_cast<size_t>(e.item - 1)]) : "";
  char time[32];
  std::snprintf(time, sizeof time, "%.3f", t);
  if (config.json) {
    out << "{\"t_ms\":" << time << ",\"item\":" << e.item << ",\"event\":\"" << EventName(e.code)
        << "\",\"what\":\"" << what << "\"";
    if (e.rttMs >= 0) {
      char rtt[32];
      std::snprintf(rtt, sizeof rtt, "%.3f", e.rttMs);
      out << ",\"rtt_ms\":" << rtt;
    }
    out << ",\"values\":[";
    for (size_t i = 0; i < e.values.size(); ++i) out << (i ? "," : "") << e.values[i];
    out << "]}\n";
  } else {
    out << time << " ms  item " << e.item << "  " << EventName(e.code) << "  " << what;
    if (!e.values.empty()) {
      out << "  [";
      for (size_t i = 0; i < e.values.size(); ++i) out << (i ? " " : "") << e.values[i];
      out << "]";
    }
    out << "\n";
  }
  out.flush();
}

}  // namespace

std::string Describe(const PollItem& item) {
  std::ostringstream s;
  s << KindName(item.kind) << " " << item.slave << ":" << item.start;
  if (item.kind == PollItem::Kind::kReadWriteRegisters) {
    s << "+" << item.count << "<-" << item.writeStart << "+" << item.values.size();
  } else if (!item.values.empty()) {
    s << "=";
    for (size_t i = 0; i < item.values.size(); ++i) s << (i ? "," : "") << item.values[i];
  } else if (item.kind == PollItem::Kind::kMaskWrite) {
    s << "&" << item.andMask << "|" << item.orMask;
  } else {
    s << "+" << item.count;
  }
  return s.str();
}

int RunPoll(const PollConfig& config, std::ostream& out, std::ostream& err,
            const std::atomic<bool>& stop, PollSummary* summary) {
  Inbox box;
  inbox = &box;
  qbSetDebugNoteProc(OnNote);
  qbSetMessageBoxProc(OnMessageBox);
  qbSetHostWindowProc(OnEvent);
  qbInit(nullptr, kMessage);
  qbSetEventFormat(2);
  if (config.rtu) {
    qbSetRtuMode();
  } else {
    qbSetAsciiMode();
  }
  qbSetParity(config.parity == "even" ? u"Even" : config.parity == "odd" ? u"Odd" : u"N");
  qbSetDataBits(config.dataBits == 7 ? u"7" : u"8");
  qbSetStopBits(config.stopBits == 2 ? u"2" : u"1");
  if (!config.device.empty()) qbSetPortDevice(config.com, Wide(config.device).c_str());
  if (qbOpenSerial(config.com, config.baud) != 1) {
    err << "quillbox: cannot open "
        << (config.device.empty() ? "COM" + std::to_string(config.com) : config.device)
        << " (missing, busy, or settings the device refuses)\n";
    qbSetDebugNoteProc(nullptr);
    inbox = nullptr;
    return kExitDevice;
  }
  qbSetTimeOut(config.timeoutMs);
  qbSetQueryInterval(config.intervalMs);
  qbEnableRetryForManual(config.retries > 0 ? 1 : 0, config.retries, 0);
  qbSetTimerPeriod(config.precise ? 0 : 10);

  int32_t lastAuto = 0;
  size_t manualCount = 0;
  for (size_t i = 0; i < config.items.size(); ++i) {
    if (config.items[i].manual) {
      ++manualCount;
    } else {
      Register(config.items[i], static_cast<int32_t>(i + 1));
      lastAuto = static_cast<int32_t>(i + 1);
    }
  }
  const auto start = Clock::now();
  qbStart();
  for (size_t i = 0; i < config.items.size(); ++i) {
    if (config.items[i].manual) Register(config.items[i], static_cast<int32_t>(i + 1));
  }

  PollSummary s;
  s.lastValues.resize(config.items.size());
  std::vector<double> rtts;
  size_t manualDone = 0;
  const auto deadline = config.seconds > 0
                            ? start + std::chrono::duration_cast<Clock::duration>(
                                          std::chrono::duration<double>(config.seconds))
                            : Clock::time_point::max();
  // The cycle whose events are printed although printCycles are over (none yet), and when the
  // next such cycle is chosen.
  uint64_t shownCycle = UINT64_MAX;
  const auto every = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(config.printEverySeconds));
  auto nextShown = start + every;
  for (;;) {
    std::deque<Event> events;
    {
      std::unique_lock lock(box.mutex);
      box.changed.wait_for(lock, std::chrono::milliseconds(50),
                           [&] { return !box.events.empty(); });
      events.swap(box.events);
    }
    for (const Event& e : events) {
      const bool printing = config.printCycles < 0 ||
                            s.cycles < static_cast<uint64_t>(config.printCycles) ||
                            s.cycles == shownCycle;
      if (!config.quiet && printing) {
        PrintEvent(e, std::chrono::duration<double, std::milli>(e.at - start).count(), config, out);
      }
      if (e.code == 2) ++s.replies;
      if (e.code == 3) ++s.timeouts;
      if (e.code == 4) ++s.watchdogs;
      if (e.rttMs >= 0 && e.code == 2) rtts.push_back(e.rttMs);
      const bool known = e.item >= 1 && static_cast<size_t>(e.item) <= config.items.size();
      if (known && e.code == 2) s.lastValues[static_cast<size_t>(e.item - 1)] = e.values;
      if (known && (e.code == 2 || e.code == 3)) {
        if (config.items[static_cast<size_t>(e.item - 1)].manual) ++manualDone;
        if (e.item == lastAuto) ++s.cycles;
      }
    }
    if (config.printEverySeconds > 0 && Clock::now() >= nextShown && shownCycle != s.cycles) {
      shownCycle = s.cycles + 1;  // the next cycle, whole
      nextShown = Clock::now() + every;
    }
    const bool cyclesDone = config.cycles > 0 && manualDone >= manualCount &&
                            (lastAuto == 0 || s.cycles >= static_cast<uint64_t>(config.cycles));
    if (stop.load() || cyclesDone || Clock::now() >= deadline) break;
  }
  qbStop();
  s.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  qbCloseSerial();
  qbSetDebugNoteProc(nullptr);
  {
    std::lock_guard lock(box.mutex);
    s.requests = box.requests;
    s.errors = box.errors;
    inbox = nullptr;
  }
  std::sort(rtts.begin(), rtts.end());
  s.rttCount = rtts.size();
  if (!rtts.empty()) {
    s.rttMeanMs = std::accumulate(rtts.begin(), rtts.end(), 0.0) / static_cast<double>(rtts.size());
    s.rttP50Ms = Percentile(rtts, 0.50);
    s.rttP99Ms = Percentile(rtts, 0.99);
    s.rttMaxMs = rtts.back();
  }
  if (summary != nullptr) *summary = s;
  return kExitOk;
}

void PrintSummary(const PollSummary& s, bool json, std::ostream& out) {
  // A transaction is a request answered or timed out; the last request sent may still be open.
  const auto n = [](uint64_t v) { return static_cast<unsigned long long>(v); };
  char line[512];
  char rtt[160];
  const double cps = s.seconds > 0 ? static_cast<double>(s.cycles) / s.seconds : 0;
  if (json) {
    if (s.rttCount == 0) {
      std::snprintf(rtt, sizeof rtt, "null");
    } else {
      std::snprintf(rtt, sizeof rtt, "{\"mean\":%.3f,\"p50\":%.3f,\"p99\":%.3f,\"max\":%.3f}",
                    s.rttMeanMs, s.rttP50Ms, s.rttP99Ms, s.rttMaxMs);
    }
    std::snprintf(line, sizeof line,
                  "{\"summary\":{\"transactions\":%llu,\"replies\":%llu,\"timeouts\":%llu,"
                  "\"requests_sent\":%llu,\"errors\":%llu,\"watchdogs\":%llu,\"cycles\":%llu,"
                  "\"seconds\":%.3f,\"cycles_per_second\":%.2f,\"rtt_ms\":%s}}\n",
                  n(s.replies + s.timeouts), n(s.replies), n(s.timeouts), n(s.requests),
                  n(s.errors), n(s.watchdogs), n(s.cycles), s.seconds, cps, rtt);
  } else {
    if (s.rttCount == 0) {
      std::snprintf(rtt, sizeof rtt, "none (no replies)");
    } else {
      std::snprintf(rtt, sizeof rtt, "mean %.2f, p50 %.2f, p99 %.2f, max %.2f", s.rttMeanMs,
                    s.rttP50Ms, s.rttP99Ms, s.rttMaxMs);
    }
    std::snprintf(line, sizeof line,
                  "--- %llu transactions, %llu replies, %llu time-outs, %llu errors, %llu "
                  "cycles in %.2f s (%.2f cycles/s)\n--- %llu requests sent, %llu watchdog "
                  "events\n--- round trip ms: %s\n",
                  n(s.replies + s.timeouts), n(s.replies), n(s.timeouts), n(s.errors), n(s.cycles),
                  s.seconds, cps, n(s.requests), n(s.watchdogs), rtt);
  }
  out << line;
}

}  // namespace qb::cli
