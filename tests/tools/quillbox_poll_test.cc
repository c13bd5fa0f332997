// quillbox poll as an mbpoll user runs it: reads and writes with mbpoll's references and display
// formats, the exit codes, and mbpoll itself reading the same values from the same `quillbox sim`.
#include <gtest/gtest.h>

#include <bit>
#include <sstream>

#include <unistd.h>

#include "sim_test_util.h"

namespace qb::sim {
namespace {

using simtest::ProcessResult;

ProcessResult Exec(const std::string& program, std::vector<std::string> args) {
  args.insert(args.begin(), program);
  return simtest::Run(args);
}
ProcessResult Poll(std::vector<std::string> args) {
  args.insert(args.begin(), "poll");
  return Exec(QB_QUILLBOX_PATH, args);
}
bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}
// mbpoll's value lines, "[1]: \t10", of an output.
std::string ValueLines(const std::string& out) {
  std::istringstream in(out);
  std::string lines;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("[")) lines += line + "\n";
  }
  return lines;
}
std::string G(float f) {  // mbpoll's %g
  char text[32];
  std::snprintf(text, sizeof text, "%g", static_cast<double>(f));
  return text;
}

class PollAgainstSimulator : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim.Ready());
    // 10, -5, the float 3.14 high half first, the int32 -2 low half first.
    for (const uint8_t slave : {1, 2}) {
      ASSERT_TRUE(sim.model.Set(slave, Table::kHoldingRegisters, 0,
                                {10, 0xFFFB, 0x4048, 0xF5C3, 0xFFFE, 0xFFFF}));
    }
    ASSERT_TRUE(sim.model.Set(1, Table::kCoils, 0, {1, 0, 1}));
  }
  simtest::SimOnPty sim{{}, {1, 2}};
};

TEST_F(PollAgainstSimulator, ReadsWithMbpollsReferencesAndFormats) {
  const float pi = std::bit_cast<float>(0x4048F5C3u);
  const float swapped = std::bit_cast<float>(0xF5C34048u);
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"-r", "1", "-c", "2"}, "[1]: \t10\n[2]: \t65531 (-5)\n"},
      {{"-r", "2", "-t", "4:int16"}, "[2]: \t-5\n"},
      {{"-r", "3", "-t", "4:float"}, "[3]: \t" + G(swapped) + "\n"},
      {{"-r", "5", "-t", "4:int"}, "[5]: \t" + std::to_string(int32_t(0xFFFFFFFE)) + "\n"},
      {{"-r", "5", "-t", "4:int", "-B"}, "[5]: \t" + std::to_string(int32_t(0xFFFEFFFF)) + "\n"},
      {{"--read", "hr:2:2:1:float", "-B"}, "[2]: \t" + G(pi) + "\n"},  // wire addresses
  };
  for (auto [args, lines] : cases) {
    args.insert(args.begin(), {sim.Path(), "-P", "none", "-1", "-q"});
    const ProcessResult r = Poll(args);
    EXPECT_EQ(r.exitCode, 0) << args[5] << r.err;
    EXPECT_EQ(ValueLines(r.out), lines) << args[5] << " " << args[6];
  }
  EXPECT_EQ(sim.model.Get(1, Table::kHoldingRegisters, 3), 0xF5C3);
  // A device path in UTF-8 beyond ASCII reaches the library whole.
  const std::string link = ::testing::TempDir() + "p\u00f6rt-" + std::to_string(::getpid());
  ASSERT_EQ(::symlink(std::string(sim.Path()).c_str(), link.c_str()), 0);
  const ProcessResult json = Poll({link, "-P", "none", "-1", "-r", "2", "-t", "4:int16", "--json"});
  ::unlink(link.c_str());
  EXPECT_TRUE(Has(json.out, "\"raw\":[65531],\"request\":\"read\",\"rtt_ms\":")) << json.out;
  EXPECT_TRUE(Has(json.out, "\"slave\":1,\"table\":\"holding-registers\"")) << json.out;
  EXPECT_TRUE(Has(json.out, "\"values\":[-5]}\n{\"summary\":")) << json.out;
}

TEST_F(PollAgainstSimulator, WritesValuesAfterTheDeviceInTheWordOrder) {
  const uint32_t bits = std::bit_cast<uint32_t>(-1.5f);
  const std::pair<std::vector<std::string>, std::vector<uint16_t>> cases[] = {
      {{"-r", "11", "-t", "4:int16", "--", "-2", "7"}, {0xFFFE, 7}},
      {{"-r", "11", "-t", "4:float", "-B", "--", "-1.5"}, {uint16_t(bits >> 16), uint16_t(bits)}},
      {{"-r", "11", "-t", "4:int", "--", "-65536"}, {0, 0xFFFF}},
      {{"-0", "-r", "10", "0x1234"}, {0x1234}},
  };
  for (auto [args, registers] : cases) {
    args.insert(args.begin(), {sim.Path(), "-P", "none"});
    const ProcessResult r = Poll(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "Written " + std::to_string(registers.size()) + " references."));
    for (size_t i = 0; i < registers.size(); ++i) {
      EXPECT_EQ(sim.model.Get(1, Table::kHoldingRegisters, 10 + i), registers[i]) << args[5];
    }
  }
}

TEST_F(PollAgainstSimulator, ExitCodesTellTimeOutsExceptionsAndAVanishedDevice) {
  const ProcessResult exception = Poll({sim.Path(), "-P", "none", "-r", "20000", "-1"});
  EXPECT_EQ(exception.exitCode, 6);
  EXPECT_TRUE(Has(exception.out, "[20000]+1: exception 2, Illegal data address\n"))
      << exception.out;
  // Between cycles nothing is asked: a cycle ending in a time-out leaves no request behind.
  const ProcessResult timeout =
      Poll({sim.Path(), "-P", "none", "-a", "1,9", "-o", "0.3", "-l", "400", "--cycles", "3"});
  EXPECT_EQ(timeout.exitCode, 5);
  EXPECT_TRUE(Has(timeout.out, "-- slave 9, holding-registers [1]+1: time-out\n")) << timeout.out;
  EXPECT_TRUE(Has(timeout.out, "6 transactions, 3 replies, 0 exceptions, 3 time-outs"));
  EXPECT_TRUE(Has(timeout.out, "--- 6 requests sent")) << timeout.out;
  const uint64_t before = sim.simulator->Counters().replies;
  simtest::Process poll({QB_QUILLBOX_PATH, "poll", sim.Path(), "-P", "none", "-l", "50"});
  ASSERT_TRUE(sim.WaitCount(&SimulatorCounters::replies, before + 2));
  sim.simulator->Stop();
  sim.pty.Close();  // the device is gone
  const ProcessResult gone = poll.Finish(10000);
  EXPECT_EQ(gone.exitCode, 7) << gone.out;
  EXPECT_TRUE(Has(gone.out, "-- port lost: ")) << gone.out;
}

// mbpoll and quillbox poll with the same options on the same `quillbox sim` read the same.
TEST(PollMbpollTest, SameOptionsReadTheSameValues) {
  if (::access("/usr/bin/mbpoll", X_OK) != 0) GTEST_SKIP() << "mbpoll is missing";
  simtest::Process sim({QB_QUILLBOX_PATH, "sim", "-a", "1:2", "--set",
                        "hr:0=10,65531,0x4048,0xF5C3,0xFFFE,0xFFFF", "--set", "co:0=1,0,1", "--set",
                        "ir:0=7,8", "--duration", "60"});
  const std::string path = sim.ReadLine(5000);
  ASSERT_TRUE(path.starts_with("/dev/pts/")) << path;
  const std::vector<std::string> cases[] = {
      {"-r", "1", "-c", "4"},       {"-t", "4:hex", "-r", "2", "-c", "2"},
      {"-t", "4:int", "-c", "3"},   {"-t", "4:float", "-B", "-r", "3"},
      {"-0", "-r", "2", "-c", "2"}, {"-a", "1:2", "-r", "2"},
      {"-t", "0", "-c", "3"},       {"-t", "3", "-c", "2"},
  };
  for (auto args : cases) {
    args.insert(args.end(), {"-m", "rtu", "-P", "none", "-1", path});
    const ProcessResult theirs = Exec("/usr/bin/mbpoll", args);
    const ProcessResult ours = Poll(args);
    EXPECT_EQ(ours.exitCode, 0) << ours.err;
    EXPECT_NE(ValueLines(theirs.out), "") << theirs.out << theirs.err;
    EXPECT_EQ(ValueLines(ours.out), ValueLines(theirs.out)) << args[0] << " " << args[1];
  }
  // What one writes the other reads.
  EXPECT_EQ(Exec("/usr/bin/mbpoll",
                 {"-m", "rtu", "-P", "none", "-t", "4:float", "-r", "20", path, "--", "-2.5"})
                .exitCode,
            0);
  EXPECT_EQ(ValueLines(Poll({path, "-P", "none", "-1", "-t", "4:float", "-r", "20"}).out),
            "[20]: \t-2.5\n");
}

TEST(DemoCliTest, RunsToItsEndAndReadsWhatTheSimulatorHolds) {
  const ProcessResult r = Exec(QB_QUILLBOX_PATH, {"demo", "--duration", "1"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "read: 100 111 122 4242 144 155 166 177 188 199 (as the simulator"))
      << r.out;
}

}  // namespace
}  // namespace qb::sim
