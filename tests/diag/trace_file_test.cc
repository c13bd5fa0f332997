// The trace file: stamped lines appended in the code page only while enabled.
#include "diag/trace_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace qb {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class TraceFileTest : public ::testing::Test {
 protected:
  std::string path = ::testing::TempDir() + "quillbox_trace_test.txt";
  void SetUp() override { std::remove(path.c_str()); }
  void TearDown() override { std::remove(path.c_str()); }
};

TEST_F(TraceFileTest, WritesNothingUntilEnabledThenAppendsStampedLines) {
  TraceFile trace(path);
  const CodePage cp("CP949");
  EXPECT_FALSE(trace.Write(5, u"lost\r\n", cp));
  EXPECT_EQ(ReadAll(path), "");
  trace.Enable();
  EXPECT_TRUE(trace.Write(1234, u"CRC 가\r\n", cp));
  EXPECT_TRUE(trace.Write(4294967295u, u"x", cp));
  EXPECT_EQ(ReadAll(path), "[1234]CRC \xB0\xA1\r\n[4294967295]x");
}

TEST_F(TraceFileTest, DeleteStartsANewFileAndAnUnwritablePathLosesTheLine) {
  TraceFile trace(path);
  trace.Enable();
  const CodePage cp("ANSI_X3.4-1968");
  trace.Write(1, u"a", cp);
  trace.Delete();
  trace.Delete();  // a missing file is fine
  trace.Write(2, u"b", cp);
  EXPECT_EQ(ReadAll(path), "[2]b");
  trace.SetPath("/nonexistent-dir/quillbox/trace.txt");
  EXPECT_FALSE(trace.Write(3, u"c", cp));
}

}  // namespace
}  // namespace qb
