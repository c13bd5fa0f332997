#include "cli/plc_demo.h"

#include <atomic>
#include <iostream>
#include <vector>

#include "cli/event_output.h"
#include "cli/exit_codes.h"
#include "cli/plc_items.h"
#include "cli/poller.h"
#include "sim/plc_memory.h"
#include "sim/plc_slave.h"
#include "sim/serial_line.h"
#include "sim/simulator.h"

namespace qb::cli {
namespace {

// The polled items of each protocol: words D0 to D7 (D0 to D9 in one MBFX read) and two bits of
// M1 (MBFX: M0 to M15), and one write of D3 sent once.
std::vector<std::string> DemoReads(const std::string& protocol) {
  if (protocol == "MBFX") return {"D0:10", "M0:16"};
  std::vector<std::string> reads;
  for (int i = 0; i < 8; ++i) reads.push_back(std::string("D").append(std::to_string(i)));
  reads.insert(reads.end(), {"M1.3", "M1.4"});
  return reads;
}

// The value of an item as the simulated controller holds it, point by point.
std::vector<uint16_t> Held(const sim::PlcModel& model, const PollItem& item) {
  std::vector<uint16_t> out;
  const bool bits = item.kind == PollItem::Kind::kReadCoils;
  for (int k = 0; k < item.count; ++k) {
    const auto at = static_cast<uint32_t>(item.start + k);
    if (bits) {
      const auto bit = model.Bit(item.slave, item.device, at, item.bit);
      out.push_back(bit ? (*bit ? 1 : 0) : 0xFFFF);
    } else {
      out.push_back(model.Word(item.slave, item.device, at).value_or(0xFFFF));
    }
  }
  return out;
}

}  // namespace

int RunPlcDemo(const PlcDemoArgs& args) {
  const auto protocol = sim::PlcProtocolFromName(args.protocol);
  if (!protocol) return kExitBadArgument;
  const int station = *protocol == sim::PlcProtocol::kMkld ? 0 : 1;
  sim::PlcModel model(*protocol, 1000);
  model.AddStation(station);
  std::string error;
  for (int i = 0; i < 10; ++i) {
    const std::string assignment =
        std::string("D").append(std::to_string(i)).append("=").append(std::to_string(100 + 11 * i));
    sim::ApplyPlcAssignment(model, assignment, &error);
  }
  sim::ApplyPlcAssignment(
      model, *protocol == sim::PlcProtocol::kMbfx ? "M0=1,0,0,1,1,0,0,1,1" : "M1=0x0008", &error);

  sim::PseudoTerminal line;
  if (!line.Open(&error)) {
    std::cerr << "quillbox demo: " << error << "\n";
    return kExitDevice;
  }
  sim::SimulatorOptions options;
  options.line.baud = static_cast<int>(args.baud);
  options.paced = true;  // the pseudo-terminal keeps the timing of a real line
  sim::Simulator simulator(line.MasterFd(), sim::MakePlcSlave(&model), options);
  if (!simulator.Start(&error)) {
    std::cerr << "quillbox demo: " << error << "\n";
    return kExitFailure;
  }
  if (args.json) {
    std::cout << "{\"demo\":{\"protocol\":\"" << args.protocol << "\",\"station\":" << station
              << ",\"baud\":" << args.baud << ",\"device\":\"" << line.SlavePath()
              << "\",\"seconds\":" << args.seconds << "}}\n";
  } else {
    std::cout << "Simulated " << args.protocol << " controller"
              << (station != 0 ? " (station 1)" : "") << " at " << args.baud << " baud 8N1 on "
              << line.SlavePath() << "; the library polls it as COM1 for " << args.seconds
              << " s.\n";
  }

  PollConfig config;
  config.protocol = args.protocol;
  config.device = line.SlavePath();
  config.baud = args.baud;
  config.timeoutMs = 500;
  config.seconds = args.seconds;
  config.json = args.json;
  config.precise = args.precise;
  config.printCycles = 2;
  config.printEverySeconds = 1;
  for (const std::string& text : DemoReads(args.protocol)) {
    config.items.push_back(*ParsePlcRead(args.protocol, text, station, &error));
  }
  config.items.push_back(*ParsePlcWrite(args.protocol, "D3=4242", station, &error));

  std::atomic<bool> stop{false};
  PollSummary summary;
  const int code = RunPoll(config, std::cout, std::cerr, stop, &summary);
  simulator.Stop();
  if (code != kExitOk) return code;
  // The values last read must be those the simulated controller holds, the write included.
  bool match = model.Word(station, "D", 3) == 4242;
  for (size_t i = 0; i < config.items.size(); ++i) {
    if (config.items[i].manual) continue;
    const auto held = Held(model, config.items[i]);
    if (summary.lastValues[i] != held) {
      match = false;
      if (!args.json) {
        std::cout << DescribePlc(config.items[i]) << " read as";
        for (const uint16_t v : summary.lastValues[i]) std::cout << " " << v;
        std::cout << ", the simulator holds";
        for (const uint16_t v : held) std::cout << " " << v;
        std::cout << "\n";
      }
    }
  }
  const int exitCode = match && summary.timeouts == 0 ? kExitOk : kExitFailure;
  if (!args.json) std::cout << "... (events of the first two cycles shown, then of one a second)\n";
  PrintSummary(summary, args.json, exitCode, std::cout);
  if (!args.json) {
    std::cout << (match ? "every value read is the one the simulator holds, D3=4242 included\n"
                        : "values DIFFERENT from the simulator's\n");
  }
  return exitCode;
}

}  // namespace qb::cli
