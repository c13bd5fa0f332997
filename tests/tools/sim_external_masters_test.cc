// The simulator against masters that are programs of their own: mbpoll in RTU on the
// pseudo-terminal's path, and pymodbus's serial client in ASCII framing.
#include <gtest/gtest.h>

#include <sstream>

#include "sim_test_util.h"

namespace qb::sim {
namespace {

using simtest::ProcessResult;

// mbpoll, RTU 9600 8N1, slave 1, quiet; references count from 1. Returns its "[n]: value" lines.
std::vector<std::string> Mbpoll(std::vector<std::string> args, ProcessResult* result) {
  std::vector<std::string> argv{
      "/usr/bin/mbpoll", "-m", "rtu", "-a", "1", "-b", "9600", "-P", "none", "-q"};
  argv.insert(argv.end(), args.begin(), args.end());
  *result = simtest::Run(argv);
  std::vector<std::string> lines;
  std::istringstream in(result->out);
  for (std::string line; std::getline(in, line);) {
    std::erase(line, '\t');
    if (!line.empty() && line[0] == '[') lines.push_back(line);
  }
  return lines;
}

TEST(SimMbpollTest, ReadsEveryTableWritesAndGetsAnIllegalAddress) {
  if (const std::string missing = simtest::MissingPeer("mbpoll"); !missing.empty())
    GTEST_SKIP() << missing;
  simtest::SimOnPty sim({}, {1}, TableSizes{20, 20, 20, 20});
  ASSERT_TRUE(sim.Ready());
  sim.model.Set(1, Table::kHoldingRegisters, 0, {1234, 0x5678});
  sim.model.Set(1, Table::kInputRegisters, 2, {0xFFFE});
  sim.model.Set(1, Table::kCoils, 0, {1, 0, 1});
  sim.model.Set(1, Table::kDiscreteInputs, 1, {1});
  const std::string path = sim.Path();
  const std::pair<std::vector<std::string>, std::vector<std::string>> reads[] = {
      {{"-t", "4", "-r", "1", "-c", "2"}, {"[1]: 1234", "[2]: 22136"}},
      {{"-t", "3", "-r", "1", "-c", "3"}, {"[1]: 0", "[2]: 0", "[3]: 65534 (-2)"}},
      {{"-t", "0", "-r", "1", "-c", "3"}, {"[1]: 1", "[2]: 0", "[3]: 1"}},
      {{"-t", "1", "-r", "1", "-c", "3"}, {"[1]: 0", "[2]: 1", "[3]: 0"}},
  };
  ProcessResult r;
  for (auto [args, lines] : reads) {
    args.insert(args.end(), {"-1", path});
    EXPECT_EQ(Mbpoll(args, &r), lines) << args[1];
    EXPECT_EQ(r.exitCode, 0) << r.err;
  }
  Mbpoll({"-t", "4", "-r", "5", path, "777", "778"}, &r);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  Mbpoll({"-t", "0", "-r", "11", path, "1", "1", "0", "1"}, &r);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(sim.model.Get(1, Table::kHoldingRegisters, 4), 777);
  EXPECT_EQ(sim.model.Get(1, Table::kHoldingRegisters, 5), 778);
  for (const auto& [address, value] : {std::pair{10, 1}, {11, 1}, {12, 0}, {13, 1}})
    EXPECT_EQ(sim.model.Get(1, Table::kCoils, address), value) << address;

  Mbpoll({"-t", "4", "-r", "20", "-c", "2", "-1", path}, &r);
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find("Illegal data address"), std::string::npos) << r.err;
  const SimulatorCounters c = sim.CountersOnce(&SimulatorCounters::replies, 7);
  EXPECT_EQ(c.exceptions, 1u);
}

TEST(SimPymodbusTest, AsciiClientReadsWritesAndGetsExceptions) {
  if (const std::string missing = simtest::MissingPeer("pymodbus"); !missing.empty())
    GTEST_SKIP() << missing;
  simtest::SimOnPty sim(SimulatorOptions{.framing = Framing::kAscii}, {5},
                        TableSizes{50, 50, 50, 50});
  ASSERT_TRUE(sim.Ready());
  sim.model.Set(5, Table::kHoldingRegisters, 0, {1234, 0x5678});
  sim.model.Set(5, Table::kCoils, 3, {1, 1, 0, 1});
  sim.model.Set(5, Table::kInputRegisters, 49, {42});
  const char* script = R"(
import sys
from pymodbus.client import ModbusSerialClient
from pymodbus.transaction import ModbusAsciiFramer
c = ModbusSerialClient(framer=ModbusAsciiFramer, port=sys.argv[1], baudrate=9600, timeout=2)
if not c.connect():
    sys.exit(3)
print("hr", *c.read_holding_registers(0, 2, slave=5).registers)
print("co", *[int(b) for b in c.read_coils(3, 4, slave=5).bits[:4]])
print("ir", *c.read_input_registers(49, 1, slave=5).registers)
r = c.write_registers(10, [7, 65535], slave=5)
print("wr", r.address, r.count)
r = c.read_holding_registers(49, 2, slave=5)
print("exc", r.function_code, r.exception_code)
)";
  const ProcessResult r = simtest::Run({"/usr/bin/python3", "-c", script, sim.Path()}, 20000);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "hr 1234 22136\nco 1 1 0 1\nir 42\nwr 10 2\nexc 131 2\n");
  EXPECT_EQ(sim.model.Get(5, Table::kHoldingRegisters, 10), 7);
  EXPECT_EQ(sim.model.Get(5, Table::kHoldingRegisters, 11), 65535);
  EXPECT_EQ(sim.CountersOnce(&SimulatorCounters::replies, 5).exceptions, 1u);
}

}  // namespace
}  // namespace qb::sim
