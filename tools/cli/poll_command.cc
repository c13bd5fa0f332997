// `quillbox poll DEVICE`: the options follow mbpoll's where they exist (-m, -a, -r, -c, -t, -b,
// -d, -s, -P, -o, -l, -1), with one difference: -r is the address as it goes on the wire, from 0
// (mbpoll counts from 1 unless given -0).
#include "cli/poll_command.h"

#include <signal.h>

#include <atomic>
#include <iostream>
#include <memory>

#include "cli/exit_codes.h"
#include "cli/item_arguments.h"
#include "cli/poller.h"

namespace qb::cli {
namespace {

std::atomic<bool> interrupted{false};

void OnSignal(int) { interrupted = true; }

struct PollArgs {
  std::string device;
  int com = 1;
  std::string mode = "rtu";
  int slave = 1;
  int reference = 0;
  int count = 1;
  std::string type = "4";
  std::vector<std::string> reads;
  std::vector<std::string> writes;
  std::vector<std::string> values;  // mbpoll style: written to -t/-r once
  double timeoutSeconds = 1.0;
  int pollMs = 10;
  bool once = false;
  PollConfig config;
};

int Run(PollArgs& a) {
  PollConfig& c = a.config;
  c.device = a.device;
  c.com = a.com;
  c.rtu = a.mode == "rtu";
  c.timeoutMs = static_cast<int>(a.timeoutSeconds * 1000);
  c.intervalMs = a.pollMs;
  if (a.once) c.cycles = 1;
  std::string error;
  if (a.reads.empty() && a.values.empty() && a.writes.empty()) {
    a.reads.push_back(a.type + ":" + std::to_string(a.slave) + ":" + std::to_string(a.reference) +
                      ":" + std::to_string(a.count));
  }
  for (const auto& text : a.reads) {
    const auto item = ParseReadArgument(text, &error);
    if (!item) {
      std::cerr << "quillbox poll: " << error << "\n";
      return kExitBadArgument;
    }
    c.items.push_back(*item);
  }
  if (!a.values.empty()) {
    if (a.type != "0" && a.type != "4") {
      std::cerr << "quillbox poll: values can be written to coils (-t 0) or holding registers "
                   "(-t 4) only\n";
      return kExitBadArgument;
    }
    const bool coils = a.type == "0";
    std::string joined;
    for (const auto& v : a.values) joined += (joined.empty() ? "" : ",") + v;
    const std::string kind =
        coils ? (a.values.size() == 1 ? "coil" : "coils") : (a.values.size() == 1 ? "reg" : "regs");
    a.writes.insert(a.writes.begin(), kind + ":" + std::to_string(a.slave) + ":" +
                                          std::to_string(a.reference) + "=" + joined);
  }
  for (const auto& text : a.writes) {
    const auto item = ParseWriteArgument(text, &error);
    if (!item) {
      std::cerr << "quillbox poll: " << error << "\n";
      return kExitBadArgument;
    }
    c.items.push_back(*item);
  }
  // Nothing polled, only writes: they are sent once, which is one cycle.
  if (c.cycles == 0 && c.seconds == 0 && a.reads.empty()) c.cycles = 1;

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  PollSummary summary;
  const int code = RunPoll(c, std::cout, std::cerr, interrupted, &summary);
  if (code != kExitOk) return code;
  PrintSummary(summary, c.json, std::cout);
  return summary.replies == 0 && summary.requests > 0 ? kExitFailure : kExitOk;
}

}  // namespace

Command AddPollCommand(CLI::App& parent) {
  auto args = std::make_shared<PollArgs>();
  CLI::App* app = parent.add_subcommand(
      "poll",
      "Poll Modbus devices through the library and print every event. Options follow mbpoll's; "
      "-r counts addresses from 0, as they go on the wire (mbpoll's -0). A device's exception "
      "reply, and any request to slave 0 (broadcast), end as a time-out: the library takes only "
      "complete replies. A pseudo-terminal keeps 8 data bits and no parity, so -d 7, -P even and "
      "-P odd need a real port.");
  app->option_defaults()->always_capture_default();
  app->add_option("device", args->device,
                  "Serial device, e.g. /dev/ttyUSB0 (default: the COM number's mapping: "
                  "$QUILLBOX_COM<n>, else /dev/ttyS<n-1>)");
  app->add_option(
      "values", args->values,
      "Values to write once to -t/-a/-r before polling (registers, or coils with -t 0)");
  app->add_option("--com", args->com, "COM number the library opens the device as")
      ->check(CLI::Range(1, 255));
  app->add_option("-m,--mode", args->mode, "Framing: rtu or ascii")
      ->check(CLI::IsMember({"rtu", "ascii"}));
  app->add_option("-a,--slave", args->slave, "Slave address")->check(CLI::Range(0, 247));
  app->add_option("-r,--reference", args->reference, "Start address, from 0")
      ->check(CLI::Range(0, 65535));
  app->add_option("-c,--count", args->count, "Number of values to read")
      ->check(CLI::Range(1, 2000));
  app->add_option("-t,--type", args->type,
                  "Table: 0 coils, 1 discrete inputs, 3 input registers, 4 holding registers")
      ->check(CLI::IsMember({"0", "1", "3", "4"}));
  app->add_option("-b,--baud", args->config.baud, "Baud rate")->check(CLI::Range(50, 4000000));
  app->add_option("-d,--databits", args->config.dataBits, "Data bits: 7 or 8")
      ->check(CLI::IsMember({7, 8}));
  app->add_option("-s,--stopbits", args->config.stopBits, "Stop bits: 1 or 2")
      ->check(CLI::IsMember({1, 2}));
  app->add_option("-P,--parity", args->config.parity, "Parity: none, even or odd")
      ->check(CLI::IsMember({"none", "even", "odd"}));
  app->add_option("-o,--timeout", args->timeoutSeconds, "Reply time-out in seconds")
      ->check(CLI::Range(0.001, 60.0));
  app->add_option("-l,--interval", args->pollMs,
                  "Least time between a reply and the next "
                  "query, ms")
      ->check(CLI::Range(0, 100000));
  app->add_flag("-1,--once", args->once, "Poll one cycle, then stop");
  app->add_option("--cycles", args->config.cycles, "Stop after this many cycles (0: no limit)")
      ->check(CLI::Range(1, 100000000));
  app->add_option("--duration", args->config.seconds, "Stop after this many seconds (0: no limit)")
      ->check(CLI::Range(0.001, 1e7));
  app->add_option("--read", args->reads,
                  "A polled read TYPE:SLAVE:START:COUNT, TYPE co, di, hr or ir (repeatable)");
  app->add_option("--write", args->writes,
                  "A write sent once: coil:S:A=1, reg:S:A=42, coils:S:A=1,0,1, regs:S:A=10,20, "
                  "mask:S:A=AND,OR, rw:S:START+COUNT:WSTART=V,V (repeatable)");
  app->add_option("--retries", args->config.retries, "Retries of the writes after a time-out")
      ->check(CLI::Range(0, 100));
  app->add_flag("--precise", args->config.precise,
                "No 10 ms tick: each query goes out as soon as it is due");
  app->add_flag("--json", args->config.json, "JSON lines instead of text");
  app->add_flag("-q,--quiet", args->config.quiet, "Only the summary");
  return Command{app, [args] { return Run(*args); }};
}

}  // namespace qb::cli
