// The quillbox command's sim subcommand as a user runs it: bad starts with their exit codes and
// messages, and whole runs on a new pseudo-terminal and on a device
// given by path, ended by a signal or by --duration.
#include <gtest/gtest.h>

#include "sim_test_util.h"

namespace qb::sim {
namespace {

using simtest::AsciiFrame;
using simtest::Hex;
using simtest::Process;
using simtest::ProcessResult;
using simtest::WithCrc;

const std::string kQuillbox = QB_QUILLBOX_PATH;

ProcessResult Quillbox(std::vector<std::string> args) {
  args.insert(args.begin(), kQuillbox);
  return simtest::Run(args);
}

TEST(SimCliTest, BadStartsExitWithTheirCodes) {
  PseudoTerminal pty;
  std::string error;
  ASSERT_TRUE(pty.Open(&error)) << error;
  simtest::TempFile bad("hr:0=1\nzz:0=1\n");
  const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
      {{}, 2, "A subcommand is required"},
      {{"sim", "--slave", "1,,2"}, 2, "quillbox sim: --slave: expected numbers 1 to 247"},
      {{"sim", "--slave", "1,1"}, 2, "quillbox sim: slave 1 is given twice"},
      {{"sim", "--set", "hr:0=70000"}, 2, "--set hr:0=70000: value '70000' does not fit 16 bits"},
      {{"sim", "/nonexistent/tty"},
       3,
       "quillbox sim: cannot open /nonexistent/tty: No such file or directory"},
      {{"sim", "/dev/null"}, 3, "quillbox sim: /dev/null is not a serial device"},
      {{"sim", pty.SlavePath(), "-b", "12345"}, 3, "baud rate 12345 is not offered"},
      {{"sim", "--values", bad.path}, 4, std::string(bad.path) + ": line 2: unknown table 'zz'"},
  };
  for (const auto& [args, code, message] : cases) {
    const ProcessResult r = Quillbox(args);
    EXPECT_EQ(r.exitCode, code) << message;
    EXPECT_NE(r.err.find(message), std::string::npos) << message << "\n" << r.err;
    EXPECT_EQ(r.out, "") << message;
  }
}

TEST(SimCliTest, RunsOnANewPseudoTerminalUntilSigterm) {
  simtest::TempFile values("# slave 3's registers\n3:hr:0=0x1234\n");
  Process p({kQuillbox, "sim", "-a", "1,3", "--values", values.path, "--set", "hr:1=5", "-v",
             "--duration", "30"});
  const std::string path = p.ReadLine(5000);
  ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
  {
    simtest::LineEnd client(path);
    ASSERT_TRUE(client.Write(WithCrc(Hex("03 03 0000 0002"))));
    EXPECT_EQ(client.Read(9, 5000), WithCrc(Hex("03 03 04 1234 0005")));
    ASSERT_TRUE(client.Write(WithCrc(Hex("01 03 0000 0002"))));
    EXPECT_EQ(client.Read(9, 5000), WithCrc(Hex("01 03 04 0000 0005")));
  }
  p.Signal(SIGTERM);
  const ProcessResult r = p.Finish(5000);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, path + "\n");
  EXPECT_NE(r.err.find("request 03 03 00 00 00 02\n  reply 03 03 04 12 34 00 05\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("requests 2, replies 2 (exceptions 0)"), std::string::npos) << r.err;
}

TEST(SimCliTest, RunsOnAGivenDeviceUntilSigintOrDuration) {
  PseudoTerminal line;  // the test is the master on the master side
  std::string error;
  ASSERT_TRUE(line.Open(&error)) << error;
  Process p({kQuillbox, "sim", line.SlavePath(), "-m", "ascii", "-a", "2", "--set", "ir:7=0xABCD",
             "-b", "9600", "--duration", "30"});
  const auto request = AsciiFrame(Hex("02 04 0007 0001"));
  const auto reply = AsciiFrame(Hex("02 04 02 ABCD"));
  simtest::Bytes got;
  // The command needs a moment to open the device: ask until it answers.
  for (int attempt = 0; attempt < 50 && got != reply; ++attempt) {
    ASSERT_EQ(::write(line.MasterFd(), request.data(), request.size()), 17);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    uint8_t buffer[64];
    const ssize_t n = ::read(line.MasterFd(), buffer, sizeof buffer);
    if (n > 0) got.assign(buffer, buffer + n);
  }
  EXPECT_EQ(got, reply);
  p.Signal(SIGINT);
  ProcessResult r = p.Finish(5000);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");  // the device's path was given: nothing to print
  EXPECT_NE(r.err.find("ASCII on " + line.SlavePath() + ", 9600 8E1"), std::string::npos) << r.err;

  const auto start = std::chrono::steady_clock::now();
  r = Quillbox({"sim", "--duration", "0.3"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
  EXPECT_NE(r.err.find("requests 0, replies 0"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace qb::sim
