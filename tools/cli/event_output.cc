#include "cli/event_output.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "cli/plc_items.h"

namespace qb::cli {
namespace {

using Kind = PollEvent::Kind;

const char* EventName(Kind kind) {
  switch (kind) {
    case Kind::kReply:
      return "reply";
    case Kind::kTimeout:
      return "timeout";
    case Kind::kWatchdog:
      return "watchdog";
    case Kind::kException:
      return "exception";
    case Kind::kSent:
      return "sent";
    case Kind::kRejected:
      return "rejected";
    case Kind::kPortLost:
      return "port-lost";
  }
  return "?";
}

// The names libmodbus, and so mbpoll, gives the exception codes.
std::string ExceptionName(int code) {
  static const char* const names[] = {"Illegal function",
                                      "Illegal data address",
                                      "Illegal data value",
                                      "Slave device or server failure",
                                      "Acknowledge",
                                      "Slave device or server is busy",
                                      "Negative acknowledge",
                                      "Memory parity error",
                                      "",
                                      "Gateway path unavailable",
                                      "Target device failed to respond"};
  if (code >= 1 && code <= 11 && names[code - 1][0] != '\0') return names[code - 1];
  return "Exception " + std::to_string(code);
}

std::string HexBytes(const std::vector<uint8_t>& bytes) {
  std::string text;
  char pair[4];
  for (const uint8_t b : bytes) {
    std::snprintf(pair, sizeof pair, "%s%02X", text.empty() ? "" : " ", b);
    text += pair;
  }
  return text;
}

bool IsRead(const PollItem& item) {
  using K = PollItem::Kind;
  return item.kind == K::kReadCoils || item.kind == K::kReadDiscreteInputs ||
         item.kind == K::kReadHoldingRegisters || item.kind == K::kReadInputRegisters;
}

bool IsBits(const PollItem& item) {
  using K = PollItem::Kind;
  return item.kind == K::kReadCoils || item.kind == K::kReadDiscreteInputs ||
         item.kind == K::kWriteCoil || item.kind == K::kWriteCoils;
}

// "slave 1, holding-registers [1]+2", with the addresses as the user gave them.
std::string Header(const PollItem& item) {
  if (!item.device.empty())
    return "station " + std::to_string(item.slave) + ", " + DescribePlc(item);
  std::ostringstream s;
  const auto ref = [&](int address) {
    return std::string("[").append(std::to_string(address + item.shownOffset)).append("]");
  };
  s << "slave " << item.slave << ", ";
  switch (item.kind) {
    case PollItem::Kind::kMaskWrite:
      s << "mask-write " << ref(item.start) << " and " << item.andMask << " or " << item.orMask;
      break;
    case PollItem::Kind::kReadWriteRegisters:
      s << "read-write-registers " << ref(item.start) << "+" << item.count << " <- "
        << ref(item.writeStart) << "+" << item.values.size();
      break;
    default:
      if (IsRead(item)) {
        s << TableName(item) << " " << ref(item.start) << "+" << item.count;
      } else {
        s << "write-" << TableName(item) << " " << ref(item.start) << "=";
        for (size_t i = 0; i < item.values.size(); ++i) s << (i ? "," : "") << item.values[i];
      }
  }
  return s.str();
}

// mbpoll's value lines: "[reference]: \tvalue", a 32-bit value taking two references.
void PrintValues(const PollItem& item, int start, const std::vector<uint16_t>& data,
                 std::ostream& out) {
  const bool bits = IsBits(item);
  const ValueFormat format = bits ? ValueFormat{} : item.format;
  std::vector<std::string> texts;
  if (bits) {
    for (const uint16_t b : data) texts.push_back(b != 0 ? "1" : "0");
  } else {
    texts = FormatValues(data, format);
  }
  const int step = bits ? 1 : RegistersPerValue(format.display);
  for (size_t i = 0; i < texts.size(); ++i) {
    out << "[" << start + item.shownOffset + static_cast<int>(i) * step << "]: \t" << texts[i]
        << "\n";
  }
}

void PrintJson(const PollEvent& e, const PollItem* item, std::ostream& out) {
  nlohmann::json line;
  char time[32];
  std::snprintf(time, sizeof time, "%.3f", e.timeMs);
  line["time_ms"] = nlohmann::json::parse(time);
  line["item"] = e.item;
  line["event"] = EventName(e.kind);
  if (item != nullptr) {
    line["slave"] = item->slave;
    line["table"] = TableName(*item);
    line["request"] = RequestName(*item);
    line["address"] = item->start;
    if (!item->device.empty()) line["device"] = item->device;
    if (item->bit >= 0) line["bit"] = item->bit;
    line["count"] = item->kind == PollItem::Kind::kMaskWrite ? 1 : item->count;
  }
  std::vector<uint16_t> raw = e.data;
  if (item != nullptr && !IsRead(*item) && item->kind != PollItem::Kind::kReadWriteRegisters &&
      e.kind == Kind::kReply) {
    raw = item->kind == PollItem::Kind::kMaskWrite
              ? std::vector<uint16_t>{static_cast<uint16_t>(item->andMask),
                                      static_cast<uint16_t>(item->orMask)}
              : item->values;  // what was written
  }
  const bool words = item != nullptr && !IsBits(*item) && item->kind != PollItem::Kind::kMaskWrite;
  line["values"] = words ? JsonValues(raw, item->format) : nlohmann::json(raw);
  line["raw"] = raw;
  if (e.rttMs >= 0) {
    char rtt[32];
    std::snprintf(rtt, sizeof rtt, "%.3f", e.rttMs);
    line["rtt_ms"] = nlohmann::json::parse(rtt);
  } else {
    line["rtt_ms"] = nullptr;
  }
  switch (e.kind) {
    case Kind::kTimeout:
      line["error"] = "time-out";
      break;
    case Kind::kException:
      line["error"] = ExceptionName(e.exceptionCode);
      line["exception"] = e.exceptionCode;
      break;
    case Kind::kPortLost:
    case Kind::kRejected:
      line["error"] = e.text;
      break;
    default:
      line["error"] = nullptr;
  }
  out << line.dump() << "\n";
}

}  // namespace

void PrintEvent(const PollEvent& e, const PollConfig& config, std::ostream& out,
                std::ostream& err) {
  if (e.kind == Kind::kSent || (e.kind == Kind::kRejected && !config.json)) {
    if (!config.verbose) return;
    err << (e.kind == Kind::kSent ? "TX " : "RX rejected: ")
        << (e.kind == Kind::kSent ? HexBytes(e.frame) : e.text) << "\n";
    err.flush();
    return;
  }
  if (config.verbose && !e.frame.empty()) err << "RX " << HexBytes(e.frame) << std::endl;
  const bool known = e.item >= 1 && static_cast<size_t>(e.item) <= config.items.size();
  const PollItem* item = known ? &config.items[static_cast<size_t>(e.item - 1)] : nullptr;
  if (config.json) {
    PrintJson(e, item, out);
    out.flush();
    return;
  }
  char rtt[32] = "";
  if (e.rttMs >= 0) std::snprintf(rtt, sizeof rtt, ", %.2f ms", e.rttMs);
  const std::string what = item != nullptr ? Header(*item) : "item " + std::to_string(e.item);
  switch (e.kind) {
    case Kind::kReply:
      out << "-- " << what << ": reply" << rtt << "\n";
      if (item == nullptr) break;
      if (IsRead(*item)) {
        PrintValues(*item, item->start, e.data, out);
      } else if (item->kind == PollItem::Kind::kReadWriteRegisters) {
        PrintValues(*item, item->start, e.data, out);
      } else if (item->kind != PollItem::Kind::kMaskWrite) {
        out << "Written " << item->values.size() << " references.\n";
      }
      break;
    case Kind::kTimeout:
      out << "-- " << what << ": time-out\n";
      break;
    case Kind::kException:
      out << "-- " << what << ": exception " << e.exceptionCode << ", "
          << ExceptionName(e.exceptionCode) << "\n";
      break;
    case Kind::kWatchdog:
      out << "-- watchdog: no complete cycle within 5 s\n";
      break;
    case Kind::kPortLost:
      out << "-- port lost: " << e.text << "\n";
      break;
    default:
      break;
  }
  out.flush();
}

void PrintSummary(const PollSummary& s, bool json, int exitCode, std::ostream& out) {
  // A transaction is a request answered, refused or timed out; the last one sent may be open.
  const uint64_t transactions = s.replies + s.exceptions + s.timeouts;
  const double cps = s.seconds > 0 ? static_cast<double>(s.cycles) / s.seconds : 0;
  if (json) {
    nlohmann::json rtt = nullptr;
    if (s.rttCount > 0) {
      rtt = {{"mean", s.rttMeanMs}, {"p50", s.rttP50Ms}, {"p99", s.rttP99Ms}, {"max", s.rttMaxMs}};
    }
    const nlohmann::json summary = {{"transactions", transactions},
                                    {"replies", s.replies},
                                    {"exceptions", s.exceptions},
                                    {"timeouts", s.timeouts},
                                    {"requests_sent", s.requests},
                                    {"errors", s.errors},
                                    {"watchdogs", s.watchdogs},
                                    {"cycles", s.cycles},
                                    {"seconds", s.seconds},
                                    {"cycles_per_second", cps},
                                    {"rtt_ms", rtt},
                                    {"port_lost", s.portLost},
                                    {"exit_code", exitCode}};
    out << nlohmann::json{{"summary", summary}}.dump() << "\n";
    return;
  }
  const auto n = [](uint64_t v) { return static_cast<unsigned long long>(v); };
  char line[512];
  char rtt[160];
  if (s.rttCount == 0) {
    std::snprintf(rtt, sizeof rtt,
                  s.replies == 0 ? "none (no replies)" : "not measured (no send seen)");
  } else {
    std::snprintf(rtt, sizeof rtt, "mean %.2f, p50 %.2f, p99 %.2f, max %.2f", s.rttMeanMs,
                  s.rttP50Ms, s.rttP99Ms, s.rttMaxMs);
  }
  std::snprintf(line, sizeof line,
                "--- %llu transactions, %llu replies, %llu exceptions, %llu time-outs, %llu "
                "errors, %llu cycles in %.2f s (%.2f cycles/s)\n--- %llu requests sent, %llu "
                "watchdog events\n--- round trip ms: %s\n",
                n(transactions), n(s.replies), n(s.exceptions), n(s.timeouts), n(s.errors),
                n(s.cycles), s.seconds, cps, n(s.requests), n(s.watchdogs), rtt);
  out << line;
}

}  // namespace qb::cli
