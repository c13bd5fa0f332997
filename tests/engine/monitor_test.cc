// What the engine shows on the diagnostics monitor: the Log window fed with the traced lines and
// the traffic, on-screen tracing and qbTest1 drawn in a random colour into their rectangles, and
// nothing at all without a monitor.
#include <regex>

#include "engine/text_format.h"
#include "engine_fixture.h"
#include "platform/code_page.h"

namespace qb::test {
namespace {

// "qbdraw:R,G,B;rect;text" with each colour part from 70 to 249: rect and text, else "".
std::string Drawn(const std::u16string& command) {
  static const std::regex drawing(R"(qbdraw:(\d+),(\d+),(\d+);([-\d,]+);([^]*))");
  std::smatch match;
  const std::string text = Utf16ToUtf8(command);
  if (!std::regex_match(text, match, drawing)) return "";
  for (int i = 1; i <= 3; ++i) {
    if (std::stoi(match[i]) < 70 || std::stoi(match[i]) > 249) return "";
  }
  return match[4].str() + ";" + match[5].str();
}

TEST_F(EngineTest, LogWindowTraceAndDrawnTextGoToTheMonitor) {
  const std::string path = ::testing::TempDir() + "quillbox_monitor_trace.txt";
  engine.SetTraceFilePath(Widen(path));
  engine.EnableTraceToFile();
  InitHost();
  engine.SetPort(&port);
  engine.SetRtuMode();
  const auto reply = WithCrc({0x01, 0x03, 0x02, 0x00, 0x09});
  engine.SerialAccept(reply.data(), 2);  // traced, but no monitor: nothing drawn
  engine.Test1(u"unseen");
  platform.monitorAttached = true;
  engine.ShowLog();
  AutoRead(5, 1, 0, 1);
  engine.Start();
  RunFor(100);  // the request goes out, then the Log's first tick
  engine.SerialAccept(reply.data(), 2);
  engine.Test1(u"hi");
  std::vector<std::string> got;
  for (const auto& command : platform.monitorCommands) {
    const std::string drawn = Drawn(command);
    got.push_back(drawn.empty() ? Utf16ToUtf8(command) : "drawn " + drawn);
  }
  EXPECT_EQ(
      got, (std::vector<std::string>{
               "qbl2:[1010] sent item 5: 01 03 00 00 00 01 84 0A\r\n",
               "qbls:" + Utf16ToUtf8(engine.Log().Caption()),
               "qblt:Auto=1&Baud=9600&Port=COM3&Protocol=MODBUS RTU&Replies=0&Requests=1&"
               "Running=1&TimeOuts=0&ToDo=1&Watchdogs=0",
               "qbl1:[1100]SerialAccept : 01,03\r\n",
               "drawn 0,0,800,300;Logging : SerialAccept : 01,03\r\n", "drawn 30,200,830,500;hi"}));
}

}  // namespace
}  // namespace qb::test
