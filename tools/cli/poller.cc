#include "cli/poller.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <numeric>
#include <thread>

#include "cli/event_output.h"
#include "cli/exit_codes.h"
#include "cli/monitor_feed.h"
#include "cli/plc_items.h"
#include "platform/code_page.h"
#include "quillbox/quillbox.h"

namespace qb::cli {
namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kMessage = 0x0400;

// What the library's callbacks leave for the polling thread. The callbacks run on the library's
// owner thread; the poller reads under the lock.
struct Inbox {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<PollEvent> events;
  Clock::time_point start{};
  Clock::time_point lastSend{};
  bool sendSeen = false;
  uint64_t requests = 0;
  uint64_t errors = 0;
  bool portLost = false;
  bool verbose = false;
  bool linkProtocol = false;  // frames of a link protocol, whose sends show in "LastAskTime="
  uint32_t lastAskTime = 0;   // the last "LastAskTime=" noted
};
Inbox* inbox = nullptr;  // the one poll running in this process

bool StartsWith(const char16_t* text, std::u16string_view prefix) {
  return std::u16string_view(text).starts_with(prefix);
}

int HexDigit(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

double MsSince(Clock::time_point start, Clock::time_point at) {
  return std::chrono::duration<double, std::milli>(at - start).count();
}

// The bytes after the last ": " of a note, as the library writes them ("01 03 00 00").
std::vector<uint8_t> NoteBytes(const std::u16string_view text) {
  std::vector<uint8_t> bytes;
  const size_t colon = text.rfind(u": ");
  if (colon == std::u16string_view::npos) return bytes;
  unsigned value = 0;
  int digits = 0;
  for (const char16_t c : text.substr(colon + 2)) {
    const int d = c < 128 ? HexDigit(static_cast<uint8_t>(c)) : -1;
    if (d >= 0) {
      value = value << 4 | static_cast<unsigned>(d);
      if (++digits == 2) {
        bytes.push_back(static_cast<uint8_t>(value));
        value = 0;
        digits = 0;
      }
    }
  }
  return bytes;
}

// The library's notes tell what no event does: when a request went out, and its bytes.
void OnNote(const qb_wchar* text) {
  if (inbox == nullptr || text == nullptr) return;
  const std::u16string_view note(text);
  std::lock_guard lock(inbox->mutex);
  const auto now = Clock::now();
  PollEvent e;
  e.timeMs = MsSince(inbox->start, now);
  bool sent = !inbox->linkProtocol && StartsWith(text, u"DIRECT QUERY THRU COM");
  if (inbox->linkProtocol && StartsWith(text, u"LastAskTime=")) {
    // A link protocol's send shows as a new send time in the "LastAskTime=" notes: at once after
    // an LSMK frame, at the next timer tick after an MKLD or MBFX frame.
    uint32_t value = 0;
    for (const char16_t c : note.substr(12)) {
      if (c < u'0' || c > u'9') break;
      value = value * 10 + static_cast<uint32_t>(c - u'0');
    }
    sent = value != 0 && value != inbox->lastAskTime;
    inbox->lastAskTime = value;
    if (!sent) return;
  }
  if (sent) {
    inbox->lastSend = now;
    inbox->sendSeen = true;
    ++inbox->requests;
    if (!inbox->verbose) return;
    e.kind = PollEvent::Kind::kSent;
    e.frame = NoteBytes(note);
  } else {
    return;
  }
  inbox->events.push_back(std::move(e));
  inbox->changed.notify_all();
}

void OnMessageBox(const qb_wchar*) {}

// The registers read by a read/write reply (function 23), which the library leaves undecoded:
// taken from the raw frame, an RTU one or an ASCII one (":" and hex pairs). Empty for any other
// function.
std::vector<uint16_t> ReadWriteValues(const std::vector<uint8_t>& raw) {
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
  std::vector<uint16_t> values;
  if (frame.size() < 3 || frame[1] != 23) return values;
  const size_t bytes = frame[2];
  for (size_t i = 0; i + 1 < bytes && 4 + i < frame.size(); i += 2) {
    values.push_back(static_cast<uint16_t>(frame[3 + i] << 8 | frame[4 + i]));
  }
  return values;
}

// Why the last call or reply failed, in the library's words.
std::string LastErrorText() {
  qb_wchar text[256];
  const int32_t length = qbGetLastErrorText(text, 256);
  return Utf16ToUtf8(std::u16string_view(text, static_cast<size_t>(std::clamp(length, 0, 255))));
}

intptr_t OnEvent(void*, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (inbox == nullptr || message != kMessage || (lParam != 0 && lParam < 5)) return 0;
  const auto* block = reinterpret_cast<const uint8_t*>(wParam);
  const auto now = Clock::now();
  PollEvent e;
  // lParam 0: a record-form event (the link protocols' replies), all of it in the getters.
  const int code = lParam == 0 ? qbGetLastRxEventType() : block[0];
  e.item = lParam == 0 ? qbGetLastRxItemId()
                       : static_cast<int32_t>(block[1] | block[2] << 8 | block[3] << 16 |
                                              static_cast<uint32_t>(block[4]) << 24);
  switch (code) {
    case QB_EVENT_REPLY:
      e.kind = PollEvent::Kind::kReply;
      break;
    case QB_EVENT_TIMEOUT:
      e.kind = PollEvent::Kind::kTimeout;
      break;
    case QB_EVENT_WATCHDOG:
      e.kind = PollEvent::Kind::kWatchdog;
      break;
    case QB_EVENT_EXCEPTION:
      e.kind = PollEvent::Kind::kException;
      e.exceptionCode = qbGetLastRxDataAtIndex(1);
      break;
    case QB_EVENT_REJECTED:
      e.kind = PollEvent::Kind::kRejected;
      e.text = LastErrorText();
      break;
    case QB_EVENT_PORT_LOST:
      e.kind = PollEvent::Kind::kPortLost;
      e.text = LastErrorText();
      break;
    default:
      return 0;
  }
  if (e.kind == PollEvent::Kind::kReply) {
    const int32_t n = qbGetLastRxDataCount();
    for (int32_t i = 0; i < n; ++i) {
      e.data.push_back(static_cast<uint16_t>(qbGetLastRxDataAtIndex(i)));
    }
    std::vector<uint8_t> raw(lParam == 0 ? 0
                                         : static_cast<size_t>(std::max(qbGetLastRxRawSize(), 0)));
    if (!raw.empty() && qbGetLastRxRaw(raw.data()) != QB_YES) raw.clear();
    if (n == 0) e.data = ReadWriteValues(raw);
    e.frame = std::move(raw);
  }
  std::lock_guard lock(inbox->mutex);
  if (!inbox->verbose) e.frame.clear();
  e.timeMs = MsSince(inbox->start, now);
  if (e.kind == PollEvent::Kind::kRejected) ++inbox->errors;
  const bool ends = e.kind == PollEvent::Kind::kReply || e.kind == PollEvent::Kind::kTimeout ||
                    e.kind == PollEvent::Kind::kException;
  if (ends && inbox->sendSeen) {
    // A time-out has no round trip; its request is done with all the same.
    if (e.kind != PollEvent::Kind::kTimeout) e.rttMs = MsSince(inbox->lastSend, now);
    inbox->sendSeen = false;
  }
  inbox->events.push_back(std::move(e));
  inbox->changed.notify_all();
  return 0;
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
  if (!item.device.empty()) {
    RegisterPlcItem(item, id);
    return;
  }
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

}  // namespace

const char* TableName(const PollItem& item) {
  switch (item.kind) {
    case PollItem::Kind::kReadCoils:
    case PollItem::Kind::kWriteCoil:
    case PollItem::Kind::kWriteCoils:
      return "coils";
    case PollItem::Kind::kReadDiscreteInputs:
      return "discrete-inputs";
    case PollItem::Kind::kReadInputRegisters:
      return "input-registers";
    default:
      return "holding-registers";
  }
}

const char* RequestName(const PollItem& item) {
  switch (item.kind) {
    case PollItem::Kind::kReadCoils:
    case PollItem::Kind::kReadDiscreteInputs:
    case PollItem::Kind::kReadHoldingRegisters:
    case PollItem::Kind::kReadInputRegisters:
      return "read";
    case PollItem::Kind::kMaskWrite:
      return "mask-write";
    case PollItem::Kind::kReadWriteRegisters:
      return "read-write";
    default:
      return "write";
  }
}

int RunPoll(const PollConfig& config, std::ostream& out, std::ostream& err,
            const std::atomic<bool>& stop, PollSummary* summary) {
  Inbox box;
  box.verbose = config.verbose;
  box.linkProtocol = config.protocol != "MODBUS";
  box.start = Clock::now();
  inbox = &box;
  qbSetDebugNoteProc(OnNote);
  qbSetMessageBoxProc(OnMessageBox);
  qbSetHostWindowProc(OnEvent);
  std::unique_ptr<MonitorFeed> feed;
  if (!config.monitor.empty()) {
    qbSetMonitorSocket(Utf8ToUtf16(config.monitor).c_str());
    qbShowLog();
    feed = std::make_unique<MonitorFeed>(config.monitor);
  }
  qbInit(nullptr, kMessage);
  qbSetEventFormat(QB_EVENT_FORMAT_ID4);
  // An exception reply ends its query at once with its code, a refused reply and a lost port are
  // told as they happen, not left to a time-out.
  qbSetDetailedEvents(1);
  if (config.rtu) {
    qbSetRtuMode();
  } else {
    qbSetAsciiMode();
  }
  qbSetParity(config.parity == "even" ? u"Even" : config.parity == "odd" ? u"Odd" : u"N");
  qbSetDataBits(config.dataBits == 7 ? u"7" : u"8");
  qbSetStopBits(config.stopBits == 2 ? u"2" : u"1");
  qbSetRs485Kernel(config.rs485Driver ? 1 : 0);
  if (!config.device.empty()) qbSetPortDevice(config.com, Utf8ToUtf16(config.device).c_str());
  if (qbOpenSerial(config.com, config.baud) != QB_YES) {
    const std::string port = config.device.empty()
                                 ? std::string("COM").append(std::to_string(config.com))
                                 : config.device;
    const std::string why = LastErrorText();
    // The port's own text names the device already; the port is named only where it does not.
    err << "quillbox: cannot open " << (why.starts_with(port + ":") ? why : port + ": " + why)
        << "\n";
    if (config.device.starts_with("/dev/pts/") &&
        (config.parity != "none" || config.dataBits != 8)) {
      err << "quillbox: a pseudo-terminal keeps 8 data bits and no parity: add -P none\n";
    }
    qbSetDebugNoteProc(nullptr);
    inbox = nullptr;
    return kExitDevice;
  }
  if (config.protocol != "MODBUS") qbSetProtocol(Utf8ToUtf16(config.protocol).c_str());
  qbSetTimeOut(config.timeoutMs);
  qbSetQueryInterval(config.intervalMs);
  qbEnableRetryForManual(config.retries > 0 ? 1 : 0, config.retries, 0);
  qbSetTimerPeriod(config.precise ? 0 : 10);
  if (feed) qbTest1(Utf8ToUtf16("quillbox is polling " + config.device).c_str());

  // Polled without pause, the reads are auto items: the library's own cycles, back to back. With
  // a period, or for one cycle, each cycle's reads are manual items given when it is due: between
  // cycles nothing is queued, so nothing is sent.
  // A link protocol's reads stay auto items, polled back to back: an MBFX word read of several
  // points has no manual form.
  const bool perCycle = config.protocol == "MODBUS" && (config.periodMs > 0 || config.cycles == 1);
  int32_t lastRead = 0;
  size_t manualCount = 0;
  // LSMK sends the word items of a cycle before its bit items: registered in that order, the
  // last one registered is the last one asked, whose reply ends the cycle.
  std::vector<size_t> order;
  for (size_t i = 0; i < config.items.size(); ++i) order.push_back(i);
  std::stable_partition(order.begin(), order.end(), [&](size_t i) {
    return config.items[i].device.empty() || config.items[i].kind != PollItem::Kind::kReadCoils;
  });
  for (const size_t i : order) {
    if (config.items[i].manual) {
      ++manualCount;
    } else {
      if (!perCycle) Register(config.items[i], static_cast<int32_t>(i + 1));
      lastRead = static_cast<int32_t>(i + 1);
    }
  }
  const auto giveCycle = [&] {
    for (size_t i = 0; i < config.items.size(); ++i) {
      if (config.items[i].manual) continue;
      PollItem once = config.items[i];
      once.manual = true;
      Register(once, static_cast<int32_t>(i + 1));
    }
  };
  const auto start = Clock::now();
  qbStart();
  for (size_t i = 0; i < config.items.size(); ++i) {
    if (config.items[i].manual) Register(config.items[i], static_cast<int32_t>(i + 1));
  }
  if (perCycle) giveCycle();

  PollSummary s;
  s.lastValues.resize(config.items.size());
  std::vector<double> rtts;
  size_t manualDone = 0;
  const auto deadline = config.seconds > 0
                            ? start + std::chrono::duration_cast<Clock::duration>(
                                          std::chrono::duration<double>(config.seconds))
                            : Clock::time_point::max();
  const auto period = std::chrono::milliseconds(config.periodMs);
  auto cycleStart = start;
  bool cycleEnded = false;  // per cycle: the next is given at cycleStart + period
  // The cycle whose events are printed although printCycles are over (none yet), and when the
  // next such cycle is chosen.
  uint64_t shownCycle = UINT64_MAX;
  const auto every = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(config.printEverySeconds));
  auto nextShown = start + every;
  for (;;) {
    std::deque<PollEvent> events;
    {
      std::unique_lock lock(box.mutex);
      const auto until =
          cycleEnded ? cycleStart + period : Clock::now() + std::chrono::milliseconds(50);
      box.changed.wait_until(lock, until, [&] { return !box.events.empty(); });
      events.swap(box.events);
    }
    for (const PollEvent& e : events) {
      using Kind = PollEvent::Kind;
      const bool printing = config.printCycles < 0 ||
                            s.cycles < static_cast<uint64_t>(config.printCycles) ||
                            s.cycles == shownCycle;
      if (!config.summaryOnly && printing) PrintEvent(e, config, out, err);
      if (e.kind == Kind::kReply) ++s.replies;
      if (e.kind == Kind::kTimeout) ++s.timeouts;
      if (e.kind == Kind::kException) ++s.exceptions;
      if (e.kind == Kind::kWatchdog) ++s.watchdogs;
      if (e.kind == Kind::kPortLost) s.portLost = true;
      if (e.rttMs >= 0 && e.kind == Kind::kReply) rtts.push_back(e.rttMs);
      const bool known = e.item >= 1 && static_cast<size_t>(e.item) <= config.items.size();
      const bool ends =
          e.kind == Kind::kReply || e.kind == Kind::kTimeout || e.kind == Kind::kException;
      if (known && e.kind == Kind::kReply) s.lastValues[static_cast<size_t>(e.item - 1)] = e.data;
      if (known && ends) {
        if (config.items[static_cast<size_t>(e.item - 1)].manual) ++manualDone;
        if (e.item == lastRead) {
          ++s.cycles;
          cycleEnded = perCycle;
        }
      }
      if (feed) {
        feed->Event(e);
      }
    }
    if (feed && !events.empty()) {
      feed->Status("Replies", s.replies);
      feed->Status("TimeOuts", s.timeouts);
      feed->Status("Cycles", s.cycles);
    }
    if (config.printEverySeconds > 0 && Clock::now() >= nextShown && shownCycle != s.cycles) {
      shownCycle = s.cycles + 1;  // the next cycle, whole
      nextShown = Clock::now() + every;
    }
    // MKLD and MBFX take writes without a host event: their writes are done when sent, and
    // writes alone when a time-out has passed.
    const bool writesSilent = config.protocol == "MKLD" || config.protocol == "MBFX";
    const bool writesDone =
        manualDone >= manualCount ||
        (writesSilent &&
         (lastRead != 0 || Clock::now() - start > std::chrono::milliseconds(config.timeoutMs)));
    const bool cyclesDone = config.cycles > 0 && writesDone &&
                            (lastRead == 0 || s.cycles >= static_cast<uint64_t>(config.cycles));
    if (stop.load() || cyclesDone || s.portLost || Clock::now() >= deadline) break;
    if (cycleEnded && Clock::now() >= cycleStart + period) {
      cycleEnded = false;
      cycleStart = Clock::now();
      giveCycle();
    }
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

}  // namespace qb::cli
