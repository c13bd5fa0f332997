// The quillbox command's poll and demo subcommands as a user runs them: help, bad arguments and a
// device that does not exist with their exit codes, full poll cycles against the simulator in
// text and JSON, time-outs, and the demo running to its end.
#include <gtest/gtest.h>

#include "sim_test_util.h"

namespace qb::sim {
namespace {

using simtest::ProcessResult;
using simtest::SimOnPty;

ProcessResult Quillbox(std::vector<std::string> args) {
  args.insert(args.begin(), QB_QUILLBOX_PATH);
  return simtest::Run(args);
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(PollCliTest, HelpBadArgumentsAndAMissingDevice) {
  const ProcessResult help = Quillbox({"poll", "--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_TRUE(Has(help.out, "mbpoll")) << help.out;
  EXPECT_TRUE(Has(help.out, "Exit codes:")) << help.out;
  std::string tooMany = "0";  // 124 registers: one more than a request carries
  for (int i = 1; i < 124; ++i) tooMany += ",0";
  const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
      {{"poll", "-a", "300"}, 2, "--slave"},
      {{"poll", "-t", "2"}, 2, "--type"},
      {{"poll", "--read", "xx:1:0:1"}, 2, "read type must be co, di, hr or ir: 'xx'"},
      {{"poll", "--read", "hr:1:0:126"}, 2, "count must be 1 to 125: '126'"},
      {{"poll", "--write", "reg:1:5"}, 2, "a write is KIND:SLAVE:ADDRESS=VALUES"},
      {{"poll", "--write", "coil:1:5=2"}, 2, "value must be 0 to 1: '2'"},
      {{"poll", "/nonexistent/tty", "-1"}, 3, "quillbox: cannot open /nonexistent/tty"},
      {{"poll", "/nonexistent/tty", "-t", "3", "5"},
       2,
       "values can be written to coils (-t 0) or holding registers"},
      {{"poll", "--read", "hr:1:65535:2"}, 2, "the block runs past address 65535"},
      {{"poll", "--write", "regs:1:0=" + tooMany}, 2, "a multiple write takes 1 to 123 values"},
      {{"poll", "--write", "rw:1:0+3:65535=1,2"}, 2, "the block runs past address 65535"},
  };
  for (const auto& [args, code, message] : cases) {
    const ProcessResult r = Quillbox(args);
    EXPECT_EQ(r.exitCode, code) << message;
    EXPECT_TRUE(Has(r.err, message)) << message << "\n" << r.err;
  }
}

class PollAgainstSimulator : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim.Ready());
    ASSERT_TRUE(sim.model.Set(1, Table::kHoldingRegisters, 0, {10, 20, 30, 40, 50}));
    ASSERT_TRUE(sim.model.Set(1, Table::kCoils, 0, {1, 0, 1}));
  }
  SimOnPty sim;
};

TEST_F(PollAgainstSimulator, OneCycleAsText) {
  const ProcessResult r = Quillbox({"poll", sim.Path(), "-a", "1", "-r", "2", "-c", "3", "-1"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "item 1  reply  holding-registers 1:2+3  [30 40 50]\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "--- 1 transactions, 1 replies, 0 time-outs, 0 errors, 1 cycles"))
      << r.out;
  EXPECT_TRUE(Has(r.out, "--- round trip ms: mean ")) << r.out;
}

TEST_F(PollAgainstSimulator, WritesThenReadsAsJson) {
  const ProcessResult r = Quillbox({"poll", sim.Path(), "--read", "hr:1:0:2", "--read", "co:1:0:3",
                                    "--write", "reg:1:1=99", "--cycles", "2", "--json"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  // The write goes first, then two cycles of the two reads.
  std::vector<std::string> lines;
  for (size_t begin = 0, end; (end = r.out.find('\n', begin)) != std::string::npos;
       begin = end + 1) {
    lines.push_back(r.out.substr(begin, end - begin));
  }
  ASSERT_EQ(lines.size(), 6u) << r.out;
  EXPECT_TRUE(Has(lines[0], "\"item\":3,\"event\":\"reply\",\"what\":\"write-register 1:1=99\""));
  EXPECT_TRUE(Has(lines[1], "\"item\":1,\"event\":\"reply\"")) << lines[1];
  EXPECT_TRUE(Has(lines[1], "\"values\":[10,99]}")) << lines[1];
  EXPECT_TRUE(Has(lines[2], "\"values\":[1,0,1]}")) << lines[2];
  EXPECT_TRUE(Has(lines[5], "{\"summary\":{\"transactions\":5,\"replies\":5,\"timeouts\":0,"))
      << lines[5];
  EXPECT_EQ(sim.model.Get(1, Table::kHoldingRegisters, 1), 99);
}

TEST_F(PollAgainstSimulator, ASlaveThatDoesNotAnswerTimesOut) {
  const ProcessResult r = Quillbox({"poll", sim.Path(), "-a", "9", "-o", "0.2", "-1"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.out, "item 1  timeout  holding-registers 9:0+1\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "1 transactions, 0 replies, 1 time-outs")) << r.out;
  EXPECT_TRUE(Has(r.out, "--- round trip ms: none (no replies)\n")) << r.out;
  const ProcessResult json = Quillbox({"poll", sim.Path(), "-a", "9", "-o", "0.2", "-1", "--json"});
  EXPECT_EQ(json.exitCode, 1);
  EXPECT_TRUE(Has(json.out,
                  "\"item\":1,\"event\":\"timeout\",\"what\":\"holding-registers "
                  "9:0+1\",\"values\":[]}\n"))
      << json.out;  // no round trip for a request that got no reply
  EXPECT_TRUE(Has(json.out, "\"rtt_ms\":null}}\n")) << json.out;
}

// Writes alone are sent once and the poll ends; a read/write reply shows the registers it read,
// in both framings.
TEST_F(PollAgainstSimulator, AReadWriteAloneRunsOnceAndShowsWhatItRead) {
  const ProcessResult r = Quillbox({"poll", sim.Path(), "--write", "rw:1:1+3:40=7,8"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "reply  read-write-registers 1:1+3<-40+2  [20 30 40]\n")) << r.out;
  EXPECT_EQ(sim.model.Get(1, Table::kHoldingRegisters, 41), 8);

  SimulatorOptions asciiOptions;
  asciiOptions.framing = Framing::kAscii;
  simtest::SimOnPty ascii(asciiOptions);
  ASSERT_TRUE(ascii.Ready());
  ASSERT_TRUE(ascii.model.Set(1, Table::kHoldingRegisters, 5, {0xBEEF, 0x0102}));
  const ProcessResult a =
      Quillbox({"poll", ascii.Path(), "-m", "ascii", "--write", "rw:1:5+2:9=1", "--json"});
  EXPECT_EQ(a.exitCode, 0) << a.err;
  EXPECT_TRUE(Has(a.out, "\"values\":[48879,258]}")) << a.out;
}

TEST(DemoCliTest, RunsToItsEndAndReadsWhatTheSimulatorHolds) {
  const ProcessResult r = Quillbox({"demo", "--duration", "1"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "[100 111 122 4242 144 155 166 177 188 199]")) << r.out;
  EXPECT_TRUE(Has(r.out, "(as the simulator holds them)")) << r.out;
  EXPECT_TRUE(Has(r.out, " 0 time-outs")) << r.out;
  const ProcessResult json = Quillbox({"demo", "--duration", "0.5", "--json"});
  EXPECT_EQ(json.exitCode, 0) << json.err;
  EXPECT_TRUE(json.out.starts_with("{\"demo\":{\"slave\":1,")) << json.out;
  for (size_t begin = 0, end; (end = json.out.find('\n', begin)) != std::string::npos;
       begin = end + 1) {
    const std::string line = json.out.substr(begin, end - begin);
    EXPECT_TRUE(line.starts_with("{") && line.ends_with("}")) << line;  // JSON lines only
  }
}

}  // namespace
}  // namespace qb::sim
