// Polls Modbus devices through the library's own C API, as a host application would: opens the
// port, registers the items, runs until enough cycles or an interrupt, prints every event as a
// line (text or JSON) and a summary with round-trip statistics. Shared by `quillbox poll` and
// `quillbox demo`.
#pragma once

#include <atomic>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "cli/value_format.h"

namespace qb::cli {

struct PollItem {
  enum class Kind {
    kReadCoils,
    kReadDiscreteInputs,
    kReadHoldingRegisters,
    kReadInputRegisters,
    kWriteCoil,
    kWriteRegister,
    kWriteCoils,
    kWriteRegisters,
    kMaskWrite,
    kReadWriteRegisters,
  };
  Kind kind = Kind::kReadHoldingRegisters;
  bool manual = false;  // sent once, ahead of the polled items
  int slave = 1;
  int start = 0;                 // read start, or write address
  int count = 1;                 // read quantity (or bits/registers written)
  std::vector<uint16_t> values;  // written values (bits as 0/1)
  int andMask = 0;
  int orMask = 0;
  int writeStart = 0;  // read/write registers: where the values go
  ValueFormat format;  // how read registers are shown
  // Added to the wire address where the address is shown: 1 for mbpoll's references (unless -0),
  // 0 for --read and --write items.
  int shownOffset = 0;
  // The link protocols' items (plc_items.h): kReadCoils, kReadHoldingRegisters, kWriteCoil and
  // kWriteRegister of a device ("D", "M") and, for a bit of a word, its bit position.
  std::string device;
  int bit = -1;
};

// "coils", "discrete-inputs", "holding-registers" or "input-registers": the table the item uses.
const char* TableName(const PollItem& item);
// "read", "write", "mask-write" or "read-write".
const char* RequestName(const PollItem& item);

// What the poll saw, in order, as the output prints it.
struct PollEvent {
  enum class Kind { kReply, kTimeout, kWatchdog, kException, kSent, kRejected, kPortLost };
  Kind kind = Kind::kReply;
  double timeMs = 0;  // since the start of the poll
  int32_t item = 0;
  std::vector<uint16_t> data;  // the bits or registers a read got
  std::vector<uint8_t> frame;  // the bytes sent or received (--verbose)
  double rttMs = -1;           // -1 when unknown
  int exceptionCode = 0;
  std::string text;  // a note: why a frame was rejected, why the port was lost
};

struct PollConfig {
  std::string protocol = "MODBUS";  // or "LSMK", "MKLD", "MBFX" (items of plc_items.h)
  std::string device;               // device path; empty: the COM number's own mapping
  int com = 1;                      // the COM number the library opens
  bool rtu = true;
  uint32_t baud = 19200;
  std::string parity = "none";  // none, even, odd
  int dataBits = 8;
  int stopBits = 1;
  int timeoutMs = 1000;
  int intervalMs = 10;   // least time between a reply and the next query
  int periodMs = 0;      // a cycle starts this long after the one before; 0: at once
  bool precise = false;  // no 10 ms tick: each query goes out as soon as it is due
  int retries = 0;       // retries of manual items
  int cycles = 0;        // polling cycles to run; 0: until interrupted or the duration ends
  double seconds = 0;    // 0: no limit
  bool json = false;
  bool quiet = false;        // no configuration header (mbpoll's -q)
  bool summaryOnly = false;  // no line per event, only the summary
  bool verbose = false;      // also the frames sent and received, on stderr
  bool rs485Driver = false;  // the UART driver switches RTS (mbpoll's -R)
  int printCycles = -1;      // print the events of this many cycles only (-1: all)
  // With printCycles: after those, also the events of one whole cycle every this many seconds.
  double printEverySeconds = 0;
  std::vector<PollItem> items;
  std::string monitor;  // socket of `quillbox monitor` to show the traffic in; empty: none
};

struct PollSummary {
  uint64_t requests = 0;  // sent; the last may still be unanswered when the poll stops
  uint64_t replies = 0;
  uint64_t timeouts = 0;
  uint64_t errors = 0;      // frames the library rejected (bad checksum, unexpected bytes)
  uint64_t exceptions = 0;  // exception replies
  bool portLost = false;    // the device disappeared while polling
  uint64_t watchdogs = 0;
  uint64_t cycles = 0;
  double seconds = 0;
  uint64_t rttCount = 0;  // replies with a round trip; none: the statistics below are not shown
  double rttMeanMs = 0, rttP50Ms = 0, rttP99Ms = 0, rttMaxMs = 0;
  std::vector<std::vector<uint16_t>> lastValues;  // per item, the data of its last reply
};

// Runs the poll; returns 0 on success or an exit code of exit_codes.h. `stop` ends it early.
int RunPoll(const PollConfig& config, std::ostream& out, std::ostream& err,
            const std::atomic<bool>& stop, PollSummary* summary);

}  // namespace qb::cli
