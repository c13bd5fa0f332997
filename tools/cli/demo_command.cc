#include "cli/demo_command.h"

#include <atomic>
#include <iostream>
#include <memory>
#include <string>

#include "cli/event_output.h"
#include "cli/exit_codes.h"
#include "cli/monitor_feed.h"
#include "cli/plc_demo.h"
#include "cli/poller.h"
#include "cli/userproto_demo.h"
#include "sim/device_model.h"
#include "sim/serial_line.h"
#include "sim/simulator.h"

namespace qb::cli {
namespace {

struct DemoArgs {
  std::string protocol = "MODBUS";
  double seconds = 3;
  uint32_t baud = 38400;
  bool json = false;
  bool precise = false;
  std::string monitor;
  CLI::Option* monitorOption = nullptr;
};

int Run(const DemoArgs& args) {
  if (args.protocol == "USRPRTCL") {
    return RunUserProtocolDemo(args.seconds, QB_EXAMPLES_DIR "/userproto/scale.toml",
                               QB_EXAMPLES_DIR "/userproto/scale-sim.toml");
  }
  if (args.protocol != "MODBUS") {
    return RunPlcDemo({args.protocol, args.seconds, args.baud, args.json, args.precise});
  }
  sim::DeviceModel model;
  model.AddSlave(1);
  std::vector<uint16_t> registers, inputs, coils;
  for (uint16_t i = 0; i < 10; ++i) registers.push_back(static_cast<uint16_t>(100 + 11 * i));
  for (uint16_t i = 0; i < 4; ++i) inputs.push_back(static_cast<uint16_t>(500 + i));
  for (uint16_t i = 0; i < 16; ++i) coils.push_back(i % 3 == 0 ? 1 : 0);
  model.Set(1, sim::Table::kHoldingRegisters, 0, registers);
  model.Set(1, sim::Table::kInputRegisters, 0, inputs);
  model.Set(1, sim::Table::kCoils, 0, coils);

  sim::PseudoTerminal line;
  std::string error;
  if (!line.Open(&error)) {
    std::cerr << "quillbox demo: " << error << "\n";
    return kExitDevice;
  }
  sim::SimulatorOptions options;
  options.line.baud = static_cast<int>(args.baud);
  options.paced = true;  // the pseudo-terminal keeps the timing of a real line
  sim::Simulator simulator(line.MasterFd(), &model, options);
  if (!simulator.Start(&error)) {
    std::cerr << "quillbox demo: " << error << "\n";
    return kExitFailure;
  }
  if (args.json) {
    std::cout << "{\"demo\":{\"slave\":1,\"baud\":" << args.baud << ",\"device\":\""
              << line.SlavePath() << "\",\"seconds\":" << args.seconds << "}}\n";
  } else {
    std::cout << "Simulated slave 1 at " << args.baud << " baud 8N1 on " << line.SlavePath()
              << "; the library polls it as COM1 for " << args.seconds << " s.\n";
  }

  PollConfig config;
  config.device = line.SlavePath();
  config.baud = args.baud;
  config.timeoutMs = 500;
  config.seconds = args.seconds;
  config.json = args.json;
  config.precise = args.precise;
  config.monitor = MonitorPath(args.monitorOption, args.monitor);
  config.printCycles = 2;
  config.printEverySeconds = 1;
  PollItem holding;
  holding.start = 0;
  holding.count = 10;
  PollItem input = holding;
  input.kind = PollItem::Kind::kReadInputRegisters;
  input.count = 4;
  PollItem bits = holding;
  bits.kind = PollItem::Kind::kReadCoils;
  bits.count = 16;
  PollItem write;
  write.kind = PollItem::Kind::kWriteRegister;
  write.manual = true;
  write.start = 3;
  write.values = {4242};
  config.items = {holding, input, bits, write};

  std::atomic<bool> stop{false};
  PollSummary summary;
  const int code = RunPoll(config, std::cout, std::cerr, stop, &summary);
  simulator.Stop();
  if (code != kExitOk) return code;
  // The values last read must be those the simulated device holds, the write included.
  bool match = summary.lastValues.size() == 4;
  for (size_t i = 0; match && i < 10; ++i) {
    match = static_cast<size_t>(summary.lastValues[0].size()) == 10 &&
            summary.lastValues[0][i] == model.Get(1, sim::Table::kHoldingRegisters, i).value();
  }
  const int exitCode = match && summary.timeouts == 0 ? kExitOk : kExitFailure;
  if (!args.json) std::cout << "... (events of the first two cycles shown, then of one a second)\n";
  PrintSummary(summary, args.json, exitCode, std::cout);
  if (!args.json) {
    std::cout << "holding registers read: ";
    for (const uint16_t v : summary.lastValues[0]) std::cout << v << " ";
    std::cout << (match ? "(as the simulator holds them)" : "(DIFFERENT from the simulator)")
              << "\n";
  }
  return exitCode;
}

}  // namespace

Command AddDemoCommand(CLI::App& parent) {
  auto args = std::make_shared<DemoArgs>();
  CLI::App* app = parent.add_subcommand(
      "demo", "Poll the built-in simulator over a pseudo-terminal pair: no hardware needed");
  app->add_option("--protocol", args->protocol,
                  "MODBUS, a simulated controller of LSMK, MKLD or MBFX, or USRPRTCL: the "
                  "bench scale of examples/userproto, a user protocol")
      ->transform(CLI::IsMember({"MODBUS", "LSMK", "MKLD", "MBFX", "USRPRTCL"}, CLI::ignore_case));
  app->add_option("--duration", args->seconds, "Seconds to poll")->check(CLI::Range(0.1, 3600.0));
  app->add_option("-b,--baud", args->baud, "Baud rate of the emulated line")
      ->check(CLI::Range(1200, 1000000));
  app->add_flag("--precise", args->precise, "No 10 ms tick: each query as soon as it is due");
  app->add_flag("--json", args->json, "JSON lines instead of text");
  args->monitorOption = AddMonitorOption(app, &args->monitor);
  return Command{app, [args] { return Run(*args); }};
}

}  // namespace qb::cli
