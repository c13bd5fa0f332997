// quillbox sim: sets up the device model from the options, opens the line and runs the simulator
// until SIGINT or SIGTERM (or the end of --duration), then prints what it did.
#include "cli/sim_command.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "cli/item_arguments.h"
#include "cli/line_options.h"
#include "sim/device_model.h"
#include "sim/model_loader.h"
#include "sim/plc_memory.h"
#include "sim/scripted_device.h"
#include "sim/serial_line.h"
#include "sim/simulator.h"

namespace qb::cli {
namespace {

struct SimArguments {
  std::string protocol = "modbus";
  std::string script;  // a scripted device instead of the protocol's
  std::string device;
  std::string mode = "rtu";
  std::string slaves = "1";
  uint32_t tableSize = 10000;
  std::vector<std::string> assignments;
  std::string valuesFile;
  LineOptions line;
  bool paced = false;
  bool silenceOnly = false;
  int delayMs = 0;
  int dropEvery = 0;
  int corruptEvery = 0;
  int noiseEvery = 0;
  std::string noiseBytes = "00";
  bool noiseAfter = false;
  int splitEvery = 0;
  int splitAt = 0;
  int splitGapMs = 20;
  double durationSeconds = 0;
  bool verbose = false;
};

bool ParseHexBytes(const std::string& text, std::vector<uint8_t>* out) {
  const auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  if (text.empty() || text.size() % 2 != 0 || text.size() > 128) return false;
  out->clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    const int hi = digit(text[i]);
    const int lo = digit(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<uint8_t>(hi * 16 + lo));
  }
  return true;
}

std::string Summary(const sim::SimulatorCounters& c) {
  return "requests " + std::to_string(c.requests) + ", replies " + std::to_string(c.replies) +
         " (exceptions " + std::to_string(c.exceptions) + "), not addressed " +
         std::to_string(c.notAddressed) + ", broadcasts " + std::to_string(c.broadcasts) +
         ", checksum errors " + std::to_string(c.checksumErrors) + ", malformed " +
         std::to_string(c.malformed) + ", dropped " + std::to_string(c.dropped) + ", corrupted " +
         std::to_string(c.corrupted) + ", with noise " + std::to_string(c.noisy) + ", split " +
         std::to_string(c.split);
}

int RunSim(const SimArguments& args) {
  sim::LineFormat line;
  line.baud = args.line.baud;
  line.dataBits = args.line.dataBits;
  line.parity = args.line.parity == "even" ? 'E' : args.line.parity == "odd" ? 'O' : 'N';
  line.stopBits = args.line.stopBits;
  if (const std::string bad = sim::CheckLineFormat(line); !bad.empty()) {
    std::cerr << "quillbox sim: " << bad << "\n";
    return kExitBadArgument;
  }

  // The device model: Modbus slaves, or the memory of the controllers of a link protocol.
  const auto plc = sim::PlcProtocolFromName(args.protocol);
  sim::TableSizes sizes{args.tableSize, args.tableSize, args.tableSize, args.tableSize};
  sim::DeviceModel model(sizes);
  sim::PlcModel plcModel(plc.value_or(sim::PlcProtocol::kLsmk), args.tableSize);
  // Stations: LSMK numbers them with two hexadecimal digits, MBFX with two decimal ones; the
  // MKLD loader port has one controller and no number.
  const int lowest = plc ? 0 : 1;
  const int highest = !plc ? 247 : *plc == sim::PlcProtocol::kMbfx ? 99 : 255;
  std::string error;
  const auto slaves =
      ParseList(plc == sim::PlcProtocol::kMkld ? "0" : args.slaves, lowest, highest, &error);
  if (!slaves) {
    std::cerr << "quillbox sim: --slave: " << error << "\n";
    return kExitBadArgument;
  }
  for (const int slave : *slaves) {
    if (!(plc ? plcModel.AddStation(slave) : model.AddSlave(static_cast<uint8_t>(slave)))) {
      std::cerr << "quillbox sim: slave " << slave << " is given twice\n";
      return kExitBadArgument;
    }
  }
  const sim::ApplyFn apply = [&](std::string_view text, std::string* error) {
    return plc ? sim::ApplyPlcAssignment(plcModel, text, error)
               : sim::ApplyAssignment(model, text, error);
  };
  if (!args.valuesFile.empty() && !sim::LoadAssignmentFile(args.valuesFile, apply, &error)) {
    std::cerr << "quillbox sim: " << error << "\n";
    return kExitValuesFile;
  }
  for (const std::string& assignment : args.assignments) {
    if (!apply(assignment, &error)) {
      std::cerr << "quillbox sim: --set " << assignment << ": " << error << "\n";
      return kExitBadArgument;
    }
  }

  sim::SimulatorOptions options;
  options.framing = args.mode == "ascii" ? sim::Framing::kAscii : sim::Framing::kRtu;
  options.boundary =
      args.silenceOnly ? sim::RtuBoundary::kSilenceOnly : sim::RtuBoundary::kLengthOrSilence;
  options.line = line;
  options.paced = args.paced;
  options.faults.replyDelayMs = args.delayMs;
  options.faults.dropEvery = args.dropEvery;
  options.faults.corruptEvery = args.corruptEvery;
  options.faults.noiseEvery = args.noiseEvery;
  options.faults.noiseAfter = args.noiseAfter;
  options.faults.splitEvery = args.splitEvery;
  options.faults.splitAt = static_cast<size_t>(args.splitAt);
  options.faults.splitGapMs = args.splitGapMs;
  if (!ParseHexBytes(args.noiseBytes, &options.faults.noise)) {
    std::cerr << "quillbox sim: --noise-bytes wants 1 to 64 bytes as hex digits, like 00FF\n";
    return kExitBadArgument;
  }
  auto logMutex = std::make_shared<std::mutex>();
  if (args.verbose) {
    options.log = [logMutex](const std::string& text) {
      std::lock_guard lock(*logMutex);
      std::cerr << text << "\n";
    };
  }

  // The line: a given device, or a new pseudo-terminal.
  sim::PseudoTerminal pty;
  int fd = -1;
  std::string where;
  if (!args.device.empty()) {
    fd = sim::OpenSerialDevice(args.device, line, &error);
    where = args.device;
  } else if (pty.Open(&error)) {
    fd = pty.MasterFd();
    where = pty.SlavePath();
  }
  if (fd < 0) {
    std::cerr << "quillbox sim: " << error << "\n";
    return kExitDevice;
  }

  // SIGINT and SIGTERM are taken by sigtimedwait below; blocked before the simulator's thread
  // starts so that the thread inherits the mask and never receives them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  std::unique_ptr<sim::PlcSlave> scripted;
  if (!args.script.empty() && !(scripted = sim::LoadScriptedDevice(args.script, &error))) {
    std::cerr << error << "\n";
    if (!args.device.empty()) ::close(fd);
    return kExitValuesFile;
  }
  sim::Simulator simulator = scripted ? sim::Simulator(fd, std::move(scripted), options)
                             : plc    ? sim::Simulator(fd, sim::MakePlcSlave(&plcModel), options)
                                      : sim::Simulator(fd, &model, options);
  if (!simulator.Start(&error)) {
    std::cerr << "quillbox sim: " << error << "\n";
    if (!args.device.empty()) ::close(fd);
    return kExitFailure;
  }
  // The banner goes out before the path: a master that starts on reading the path may make the
  // simulator's log lines appear at once, and they must not cut into the banner.
  const std::string what = !args.script.empty()
                               ? std::string("scripted device ").append(args.script)
                           : plc ? std::string(PlcProtocolName(*plc))
                           : options.framing == sim::Framing::kRtu ? "Modbus RTU"
                                                                   : "Modbus ASCII";
  std::cerr << "quillbox sim: " << what << " on " << where << ", " << line.baud << " "
            << line.dataBits << line.parity << line.stopBits << (args.paced ? " paced" : "")
            << "; SIGINT or SIGTERM stops" << std::endl;
  if (args.device.empty()) std::cout << where << std::endl;  // the path a master opens

  const auto start = std::chrono::steady_clock::now();
  const auto duration = std::chrono::duration<double>(args.durationSeconds);
  int exitCode = kExitOk;
  for (;;) {
    timespec tick{0, 100'000'000};
    if (::sigtimedwait(&stopSignals, nullptr, &tick) > 0) break;
    if (!simulator.Running()) {
      std::cerr << "quillbox sim: " << simulator.Failure() << "\n";
      exitCode = kExitFailure;
      break;
    }
    if (args.durationSeconds > 0 && std::chrono::steady_clock::now() - start >= duration) break;
  }
  simulator.Stop();
  if (!args.device.empty()) ::close(fd);
  {
    std::lock_guard lock(*logMutex);
    const sim::SimulatorCounters c = simulator.Counters();
    std::cerr << "quillbox sim: " << Summary(c);
    if (plc == sim::PlcProtocol::kMbfx) {
      std::cerr << ", acknowledged " << c.acknowledgements << ", requests instead of an "
                << "acknowledgement " << c.unacknowledged;
    }
    std::cerr << std::endl;
  }
  return exitCode;
}

}  // namespace

Command AddSimCommand(CLI::App& parent) {
  auto args = std::make_shared<SimArguments>();
  CLI::App* sim = parent.add_subcommand(
      "sim",
      "Modbus RTU/ASCII slave simulator, or a controller of the LSMK, MKLD or MBFX link "
      "protocol, on a serial device, or on a new pseudo-terminal whose path is printed on the "
      "first line of standard output");
  sim->footer(kExitCodesHelp);
  sim->add_option("device", args->device,
                  "Serial device to serve (default: a new pseudo-terminal)");
  sim->add_option("--protocol", args->protocol,
                  "What the device speaks: modbus, or a controller of lsmk, mkld or mbfx")
      ->transform(CLI::IsMember({"modbus", "lsmk", "mkld", "mbfx"}, CLI::ignore_case))
      ->capture_default_str();
  sim->add_option("--script", args->script,
                  "A scripted device (TOML rules: when these request bytes arrive, answer these "
                  "bytes, with check sums filled in) in place of --protocol's");
  sim->add_option("-m,--mode", args->mode, "Framing")
      ->check(CLI::IsMember({"rtu", "ascii"}))
      ->capture_default_str();
  sim->add_option("-a,--slave", args->slaves,
                  "Slave addresses to simulate (1 to 247), e.g. 1,2,5:9; station numbers of "
                  "LSMK (0 to 255) or MBFX (0 to 99) controllers; MKLD has none")
      ->capture_default_str();
  sim->add_option("--size", args->tableSize,
                  "Addresses in each of the four tables, or in each LSMK or MBFX device area")
      ->check(CLI::Range(1, 65536))
      ->capture_default_str();
  sim->add_option("--set", args->assignments,
                  "Initial values: [slave:]table:address=value[,value...], table co, di, hr or "
                  "ir; for a controller [station:]DEVICE=value[,value...] such as D100=1,2 or "
                  "M10.5=1 (repeatable)");
  sim->add_option("--values", args->valuesFile,
                  "File of initial values, one assignment like --set per line, # comments");
  AddLineOptions(*sim, args->line);
  sim->add_flag("--pace", args->paced,
                "Emulate the line's speed: reply bytes one character time apart, and no reply "
                "before the request could have ended on the wire");
  sim->add_flag("--silence-only", args->silenceOnly,
                "RTU: end a request only at the 3.5-character silence, not at its length");
  sim->add_option("--delay", args->delayMs, "Milliseconds to wait before every reply")
      ->check(CLI::Range(0, 600000));
  sim->add_option("--drop", args->dropEvery, "Leave out every N-th reply")
      ->check(CLI::Range(0, 1000000));
  sim->add_option("--corrupt", args->corruptEvery,
                  "Damage the CRC/LRC (a controller's BCC or sum) of every N-th reply")
      ->check(CLI::Range(0, 1000000));
  sim->add_option("--noise", args->noiseEvery, "Put noise bytes before every N-th reply")
      ->check(CLI::Range(0, 1000000));
  sim->add_option("--noise-bytes", args->noiseBytes, "The noise, as hex digits")
      ->capture_default_str();
  sim->add_flag("--noise-after", args->noiseAfter, "Put the noise after the reply instead");
  sim->add_option("--split", args->splitEvery, "Send every N-th reply in two pieces")
      ->check(CLI::Range(0, 1000000));
  sim->add_option("--split-at", args->splitAt, "Bytes in the first piece (default: half)")
      ->check(CLI::Range(0, 1000000));
  sim->add_option("--split-gap", args->splitGapMs, "Milliseconds between the two pieces")
      ->check(CLI::Range(0, 600000))
      ->capture_default_str();
  sim->add_option("--duration", args->durationSeconds,
                  "Stop after this many seconds (default: run until SIGINT or SIGTERM)")
      ->check(CLI::Range(0.0, 1e7));
  sim->add_flag("-v,--verbose", args->verbose, "Print every request and reply on stderr");
  return Command{sim, [args] { return RunSim(*args); }};
}

}  // namespace qb::cli
