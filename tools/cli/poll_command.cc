// `quillbox poll DEVICE`: mbpoll's options with mbpoll's meaning (references from 1 unless -0,
// display formats, values to write after the device), so that an mbpoll command line reads and
// writes the same with `quillbox poll`; --read and --write add any number of items with the
// addresses as they go on the wire.
#include "cli/poll_command.h"
#include "cli/userproto_poll.h"

#include <signal.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <memory>

#include "cli/event_output.h"
#include "cli/exit_codes.h"
#include "cli/item_arguments.h"
#include "cli/line_options.h"
#include "cli/monitor_feed.h"
#include "cli/plc_items.h"
#include "cli/poller.h"

namespace qb::cli {
namespace {

std::atomic<bool> interrupted{false};

void OnSignal(int) { interrupted = true; }

struct PollArgs {
  std::string protocol = "MODBUS";
  UserPollOptions user;  // --protocol USRPRTCL
  std::string device;
  std::vector<std::string> values;  // mbpoll's write values
  int com = 1;
  std::string mode = "rtu";
  std::string slaves = "1";
  std::string references;  // empty: the first reference, 1 (0 with -0)
  int count = 1;
  std::string type = "4";
  bool zeroBased = false;
  bool bigEndian = false;
  bool singleAsMany = false;
  bool rtsDown = false;
  bool rtsUp = false;
  bool version = false;
  std::vector<std::string> reads;
  std::vector<std::string> writes;
  double timeoutSeconds = 1.0;
  int periodMs = 1000;
  bool once = false;
  LineOptions line;
  std::string monitor;
  CLI::Option* monitorOption = nullptr;
  PollConfig config;
  // The mbpoll options that describe the one read or write; given with --read/--write they
  // would be ignored, so they are refused there.
  std::vector<CLI::Option*> mbpollItemOptions;
  CLI::Option* countOption = nullptr;
};

int Bad(const std::string& text) {
  std::cerr << "quillbox poll: " << text << "\n";
  return kExitBadArgument;
}

bool Fits(int start, size_t count) { return start + static_cast<long>(count) <= 65536; }

// The mbpoll read or write from -t, -a, -r, -c and the values, into config.items.
int AddMbpollItems(const PollArgs& a, PollConfig& c) {
  const size_t colon = a.type.find(':');
  const std::string table = a.type.substr(0, colon);
  const auto display = ParseDisplay(colon == std::string::npos ? "" : a.type.substr(colon + 1));
  if ((table != "0" && table != "1" && table != "3" && table != "4") || !display) {
    return Bad("-t must be 0, 1, 3 or 4, registers with :int16, :hex, :int or :float: '" + a.type +
               "'");
  }
  const bool bits = table == "0" || table == "1";
  PollItem item;
  item.shownOffset = a.zeroBased ? 0 : 1;
  item.format = {bits ? Display::kDecimal : *display, a.bigEndian};
  std::string error;
  const auto slaves = ParseList(a.slaves, 0, 247, &error);
  if (!slaves) return Bad("-a: " + error);
  const auto references =
      a.references.empty()
          ? std::optional<std::vector<int>>(std::vector<int>{item.shownOffset})
          : ParseList(a.references, item.shownOffset, 65535 + item.shownOffset, &error);
  if (!references) return Bad("-r: " + error);

  if (!a.values.empty()) {
    if (a.countOption->count() > 0) return Bad("-c is for reads: a write writes the values given");
    if (slaves->size() > 1 || references->size() > 1) {
      return Bad("slave and reference lists are for reads only");
    }
    if (table == "1" || table == "3") return Bad("input tables are read-only: use -t 0 or -t 4");
    item.manual = true;
    item.slave = slaves->front();
    item.start = references->front() - item.shownOffset;
    for (const std::string& v : a.values) {
      const auto words =
          bits ? std::optional<std::vector<uint16_t>>() : EncodeValue(v, item.format, &error);
      const auto bit = bits ? Number(v, 0, 1) : std::nullopt;
      if (bits && !bit) return Bad("a coil value is 0 or 1: '" + v + "'");
      if (!bits && !words) return Bad(error);
      if (bits) {
        item.values.push_back(static_cast<uint16_t>(*bit));
      } else {
        item.values.insert(item.values.end(), words->begin(), words->end());
      }
    }
    const bool one = item.values.size() == 1;
    if (bits) {
      item.kind = one ? PollItem::Kind::kWriteCoil : PollItem::Kind::kWriteCoils;
    } else {
      item.kind =
          one && !a.singleAsMany ? PollItem::Kind::kWriteRegister : PollItem::Kind::kWriteRegisters;
    }
    // What one request carries: 1968 coils or 123 registers.
    if (item.values.size() > (bits ? 1968u : 123u)) return Bad("too many values for one request");
    if (!Fits(item.start, item.values.size())) return Bad("the write runs past address 65535");
    item.count = static_cast<int>(item.values.size());
    c.items.push_back(item);
    return kExitOk;
  }

  using K = PollItem::Kind;
  item.kind = table == "0"   ? K::kReadCoils
              : table == "1" ? K::kReadDiscreteInputs
              : table == "3" ? K::kReadInputRegisters
                             : K::kReadHoldingRegisters;
  // As mbpoll: several references read one value each.
  const int values = references->size() > 1 ? 1 : a.count;
  item.count = values * (bits ? 1 : RegistersPerValue(item.format.display));
  if (item.count > (bits ? 2000 : 125)) {
    return Bad("-c: one request reads up to 2000 bits or 125 registers (62 32-bit values)");
  }
  for (const int slave : *slaves) {
    if (slave == 0) return Bad("-a: slave 0 is the broadcast address, which no device answers");
    for (const int reference : *references) {
      item.slave = slave;
      item.start = reference - item.shownOffset;
      if (!Fits(item.start, static_cast<size_t>(item.count))) {
        return Bad("the read runs past address 65535");
      }
      c.items.push_back(item);
    }
  }
  return kExitOk;
}

int ExitCode(const PollSummary& s) {
  if (s.portLost) return kExitPortLost;
  if (s.exceptions > 0) return kExitException;
  if (s.timeouts > 0) return kExitTimeout;
  return kExitOk;
}

int Run(PollArgs& a) {
  if (a.version) {
    std::cout << "quillbox poll " << QB_TOOLS_VERSION << "\n";
    return kExitOk;
  }
  if (a.rtsUp) {
    return Bad(
        "-F is not offered: the library clears RTS while sending and raises it after, "
        "which is -R");
  }
  if (a.device.empty()) {
    return Bad(
        "a device is required, e.g. quillbox poll /dev/ttyUSB0 (add -P none for a "
        "pseudo-terminal)");
  }
  PollConfig& c = a.config;
  c.device = a.device;
  c.com = a.com;
  c.rtu = a.mode == "rtu";
  c.baud = static_cast<uint32_t>(a.line.baud);
  c.dataBits = a.line.dataBits;
  c.stopBits = a.line.stopBits;
  c.parity = a.line.parity;
  c.rs485Driver = a.rtsDown;
  c.timeoutMs = static_cast<int>(a.timeoutSeconds * 1000 + 0.5);
  c.periodMs = a.once ? 0 : a.periodMs;
  if (a.once) c.cycles = 1;

  // A link protocol's items are named as on the controller, with --read and --write only.
  c.protocol = a.protocol;
  const bool link = c.protocol != "MODBUS";
  if (link && ((a.reads.empty() && a.writes.empty()) || !a.values.empty())) {
    return Bad(c.protocol + " polls --read and --write items, e.g. --read D100 --write D101=42");
  }
  bool mbpollItems = a.reads.empty() && a.writes.empty();
  for (const CLI::Option* o : a.mbpollItemOptions) {
    if (!mbpollItems && o->count() > 0) {
      return Bad(o->get_name() +
                 " describes the one mbpoll read or write; with --read or "
                 "--write give the items there");
    }
  }
  if (!a.values.empty()) mbpollItems = true;
  if (mbpollItems) {
    if (const int code = AddMbpollItems(a, c); code != kExitOk) return code;
  }
  c.monitor = MonitorPath(a.monitorOption, a.monitor);
  std::string error;
  for (const auto& text : a.reads) {
    auto item = link ? ParsePlcRead(c.protocol, text, c.protocol == "MKLD" ? 0 : 1, &error)
                     : ParseReadArgument(text, &error);
    if (!item) return Bad(error);
    item->format.bigEndian = a.bigEndian;
    c.items.push_back(*item);
  }
  for (const auto& text : a.writes) {
    const auto item = link ? ParsePlcWrite(c.protocol, text, c.protocol == "MKLD" ? 0 : 1, &error)
                           : ParseWriteArgument(text, &error);
    if (!item) return Bad(error);
    c.items.push_back(*item);
  }
  // Writes alone are sent once, which is one cycle.
  bool anyRead = false;
  for (const PollItem& item : c.items) anyRead = anyRead || !item.manual;
  if (!anyRead && c.seconds == 0) c.cycles = 1;

  if (!c.quiet && !c.json) {
    char line[256];
    std::snprintf(line, sizeof line,
                  "quillbox poll: %s on %s, %d-%d%c%d, time-out %.2f s, poll period %d "
                  "ms%s\n",
                  link    ? c.protocol.c_str()
                  : c.rtu ? "Modbus RTU"
                          : "Modbus ASCII",
                  c.device.c_str(), a.line.baud, c.dataBits,
                  c.parity == "even"  ? 'E'
                  : c.parity == "odd" ? 'O'
                                      : 'N',
                  c.stopBits, a.timeoutSeconds, c.periodMs, c.cycles == 0 ? ", Ctrl-C stops" : "");
    std::cout << line;
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  PollSummary summary;
  const int code = RunPoll(c, std::cout, std::cerr, interrupted, &summary);
  if (code != kExitOk) return code;
  const int exitCode = ExitCode(summary);
  PrintSummary(summary, c.json, exitCode, std::cout);
  return exitCode;
}

}  // namespace

Command AddPollCommand(CLI::App& parent) {
  auto args = std::make_shared<PollArgs>();
  PollArgs& a = *args;
  CLI::App* app = parent.add_subcommand(
      "poll",
      "Poll Modbus devices through the library and print every reply. mbpoll's options with "
      "mbpoll's meaning: references count from 1 unless -0, values after the device are "
      "written (put -- before negative ones). --read and --write give any number of items with "
      "wire addresses, from 0.");
  app->footer(kExitCodesHelp);
  app->add_option("device", a.device, "Serial device, e.g. /dev/ttyUSB0 (required)");
  app->add_option("--protocol", a.protocol,
                  "MODBUS, or a PLC link protocol: LSMK, MKLD or MBFX, whose items are named as "
                  "on the controller (--read D100, --read M10.5, --write D100=42), or USRPRTCL "
                  "with --definition and --packet or --send")
      ->transform(CLI::IsMember({"MODBUS", "LSMK", "MKLD", "MBFX", "USRPRTCL"}, CLI::ignore_case))
      ->capture_default_str();
  app->add_option("values", a.values,
                  "Values to write to -t 0 coils or -t 4 holding registers from -r, once; "
                  "int and float values take two registers each");
  app->add_option("-m,--mode", a.mode, "Framing: rtu or ascii")
      ->transform(CLI::IsMember({"rtu", "ascii"}, CLI::ignore_case))
      ->capture_default_str();
  a.mbpollItemOptions.push_back(
      app->add_option("-a,--slave", a.slaves, "Slave address, or a list for reads: 1,2,5:9")
          ->capture_default_str());
  a.mbpollItemOptions.push_back(app->add_option(
      "-r,--reference", a.references,
      "Start reference, from 1 (from 0 with -0); a list for reads reads one value at each"));
  a.countOption = app->add_option("-c,--count", a.count, "Number of values to read")
                      ->check(CLI::Range(1, 2000))
                      ->capture_default_str();
  a.mbpollItemOptions.push_back(a.countOption);
  a.mbpollItemOptions.push_back(
      app->add_option("-t,--type", a.type,
                      "0 coils, 1 discrete inputs, 3 input registers, 4 holding registers; "
                      "registers with :int16 (signed), :hex, :int (32-bit) or :float (32-bit)")
          ->capture_default_str());
  app->add_flag("-0", a.zeroBased, "References count from 0, as on the wire");
  app->add_flag("-B", a.bigEndian,
                "32-bit values have their high half in the first register (default: low)");
  app->add_flag("-W", a.singleAsMany, "Write one register with function 16, not 6");
  app->add_flag("-1,--once", a.once, "Poll once, otherwise every poll period");
  app->add_option("-l,--period", a.periodMs,
                  "Poll period in ms: a cycle of all reads starts this long after the one before "
                  "(0: at once)")
      ->check(CLI::Range(0, 3600000))
      ->capture_default_str();
  app->add_option("-o,--timeout", a.timeoutSeconds, "Reply time-out in seconds")
      ->check(CLI::Range(0.001, 60.0))
      ->capture_default_str();
  AddLineOptions(*app, a.line);
  app->add_flag("-R", a.rtsDown,
                "RS-485: the UART driver switches RTS (clear while sending), where it can");
  app->add_flag("-F", a.rtsUp, "Not offered: RTS raised while sending (exit 2)");
  app->add_flag("-v,--verbose", a.config.verbose, "Print the frames sent and received on stderr");
  app->add_flag("-V,--version", a.version, "Print the version and exit");
  app->add_flag("-q,--quiet", a.config.quiet, "No configuration line before the replies");
  app->add_option("--read", a.reads,
                  "A polled read TYPE:SLAVE:START:COUNT[:FORMAT], TYPE co, di, hr or ir, START "
                  "from 0; with --protocol [STATION:]DEVICE ADDRESS[.BIT][:COUNT]: D100, M10.5, "
                  "D100:3 (repeatable)");
  app->add_option("--write", a.writes,
                  "A write sent once, START from 0: coil:S:A=1, reg:S:A=42, coils:S:A=1,0,1, "
                  "regs:S:A=10,20, mask:S:A=AND,OR, rw:S:START+COUNT:WSTART=V,V; with --protocol "
                  "[STATION:]DEVICE ADDRESS[.BIT]=VALUE: D100=42, M10.5=1 (repeatable)");
  app->add_option("--com", a.com, "COM number the library opens the device as")
      ->check(CLI::Range(1, 255));
  app->add_option("--gap", a.config.intervalMs, "Least ms between a reply and the next query")
      ->check(CLI::Range(0, 100000))
      ->capture_default_str();
  app->add_option("--cycles", a.config.cycles, "Stop after this many cycles")
      ->check(CLI::Range(1, 100000000));
  app->add_option("--duration", a.config.seconds, "Stop after this many seconds")
      ->check(CLI::Range(0.001, 1e7));
  app->add_option("--retries", a.config.retries,
                  "Retries after a time-out: of the writes, and of the reads when polled with a "
                  "period or once")
      ->check(CLI::Range(0, 100));
  app->add_flag("--precise", a.config.precise,
                "No 10 ms tick: each query goes out as soon as it is due");
  app->add_flag("--json", a.config.json, "JSON lines instead of text");
  app->add_flag("--summary-only", a.config.summaryOnly, "Only the summary");
  a.monitorOption = AddMonitorOption(app, &a.monitor);
  AddUserPollOptions(*app, a.user);
  return Command{app, [args] {
                   if (args->protocol != "USRPRTCL") return Run(*args);
                   return RunUserPoll(
                       args->user, args->device, static_cast<uint32_t>(args->line.baud),
                       static_cast<int>(args->timeoutSeconds * 1000 + 0.5), args->config.seconds);
                 }};
}

}  // namespace qb::cli
