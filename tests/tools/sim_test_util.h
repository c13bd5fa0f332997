// The simulator tests' setting: the shared frame, line and program helpers, and a simulator
// serving its own model on a new pseudo-terminal.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/serial_line.h"
#include "sim/simulator.h"
#include "support/modbus_frames.h"
#include "support/process.h"
#include "support/pty.h"

namespace qb::simtest {

using namespace qb::test;  // NOLINT: the helpers are the tests' vocabulary
using sim::SimulatorCounters;

struct SimOnPty {
  explicit SimOnPty(sim::SimulatorOptions options = {}, std::vector<uint8_t> slaves = {1},
                    sim::TableSizes sizes = {})
      : model(sizes) {
    for (const uint8_t s : slaves) model.AddSlave(s);
    std::string error;
    opened = pty.Open(&error);
    simulator = std::make_unique<sim::Simulator>(pty.MasterFd(), &model, std::move(options));
    started = opened && simulator->Start(&error);
  }
  bool Ready() const { return opened && started; }
  const std::string& Path() const { return pty.SlavePath(); }
  bool WaitCount(uint64_t SimulatorCounters::*field, uint64_t value) {
    return simulator->WaitFor([&](const SimulatorCounters& c) { return c.*field >= value; },
                              std::chrono::seconds(5));
  }
  // The counters once the picked one has reached value: a master can have a whole reply before
  // the simulator has counted it.
  SimulatorCounters CountersOnce(uint64_t SimulatorCounters::*field, uint64_t value) {
    WaitCount(field, value);
    return simulator->Counters();
  }

  sim::DeviceModel model;
  sim::PseudoTerminal pty;
  std::unique_ptr<sim::Simulator> simulator;
  bool opened = false;
  bool started = false;
};

}  // namespace qb::simtest
