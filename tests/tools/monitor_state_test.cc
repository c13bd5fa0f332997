// The monitor's rules: the trace viewer's commands (indentation, HH:MM:SS, status entries spread
// by their names' character codes modulo 3 and sent only when a pane changed, the 819201 cut), the
// library's drawn texts, and the datagrams that are dropped and counted.
#include "monitor/monitor_state.h"

#include <gtest/gtest.h>

namespace qb::monitor {
namespace {

class MonitorStateTest : public ::testing::Test {
 protected:
  std::vector<uint32_t> randoms{13, 0, 21};
  size_t next = 0;
  MonitorState state{[this] { return randoms[next++ % randoms.size()]; },
                     [] {
                       std::tm time{};
                       time.tm_hour = 7, time.tm_min = 5, time.tm_sec = 9;
                       return time;
                     }};
  void Send(const std::string& datagram) { state.Receive(datagram, datagram.size()); }
};

TEST_F(MonitorStateTest, LogPanesStatusPanesAndTheWindowRectangle) {
  for (const char* command :
       {"xta1:one <b>", "xta2t:two", "xta1t:three", "xts:c=1", "xts:ab=2", "xts:a=3", "xts:b=4",
        "xtd:b", "xtd:missing", "xtrect:10,-20,300,400"}) {
    Send(command);
  }
  auto change = state.Tick().value();
  EXPECT_EQ(change["log"]["0"]["text"], "   one <b>\r\n 07:05:09 three\r\n");
  EXPECT_EQ(change["log"]["1"]["text"], "07:05:09 two\r\n");
  // 'c' = 99 and 'a' + 'b' = 195 go to pane 0, 'a' = 97 to pane 1, 'b' was removed.
  EXPECT_EQ(change["status"], nlohmann::json({{"0", "ab=2\r\nc=1\r\n"}, {"1", "a=3\r\n"}}));
  EXPECT_EQ(change["rect"], "10,-20,300,400");
  Send("xts:a=3");  // the same text: no pane is sent again
  Send("xtc");
  change = state.Tick().value();
  EXPECT_FALSE(change.contains("status"));
  EXPECT_EQ(change["log"]["0"], nlohmann::json({{"reset", true}, {"text", ""}}));
  EXPECT_FALSE(state.Tick().has_value());
}

TEST_F(MonitorStateTest, ALogPaneOf819201CharactersOrMoreKeepsItsLast10240) {
  randoms.assign(16, 0);  // sixteen lines without indentation, then one indented by a space
  randoms.push_back(1);
  for (int i = 0; i < 16; ++i) Send("xta1:" + std::string(51198, 'x'));  // 819200 characters
  EXPECT_EQ(state.Whole()["log"]["0"]["text"].get<std::string>().size(), 819200u);
  Send("xta1:");  // " \r\n": 819201
  const std::string text = state.Whole()["log"]["0"]["text"];
  EXPECT_EQ(text.size(), 10240u);
  EXPECT_EQ(text.find_first_not_of('x'), 10235u);
  EXPECT_EQ(text.substr(10235), "\r\n \r\n");
}

TEST_F(MonitorStateTest, DrawingsAndDroppedDatagrams) {
  Send("qbdraw:70,80,249;30,200,830,500;hi <img src=x onerror=alert(1)>");
  Send(std::string("xts:nul=1\0", 10));  // one ending NUL, as C senders add it
  for (const std::string& bad : std::vector<std::string>{
           "xtz:1", "xts:no-equals", "xts:=1", "xtrect:1,2,3", "xtrect:1,2,3,4,5", "xtc ",
           "qbdraw:300,0,0;0,0,1,1;x", "qbdraw:1,2,3;0,0,1,1", "\xff\xfe", "\xed\xa0\x80",
           std::string("xta1:a\0b", 8), ""}) {
    Send(bad);
  }
  state.Receive(std::string(100, 'x'), 70000);
  const auto whole = state.Whole();
  EXPECT_EQ(whole["display"], nlohmann::json::parse(R"([{"rgb":[70,80,249],"rect":[30,200,830,500],
            "text":"hi <img src=x onerror=alert(1)>"}])"));
  EXPECT_EQ(whole["counts"], nlohmann::json({{"taken", 2}, {"oversized", 1}, {"malformed", 12}}));
}

}  // namespace
}  // namespace qb::monitor
