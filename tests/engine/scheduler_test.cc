// The scheduler in virtual time: every wait is observed at the first 10 ms tick after it has
// passed; time-outs, retries, paused copies, the cycle watchdog and the trace file.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "engine/item_keys.h"
#include "engine/text_format.h"
#include "engine_fixture.h"

namespace qb::test {
namespace {

using Bytes = std::vector<uint8_t>;

class SchedulerTest : public EngineTest {
 protected:
  void SetUp() override {
    InitHost();
    engine.SetPort(&port);
    engine.SetRtuMode();
    platform.onHostMessage = [this](const HostMessage& m) {
      eventTicks.push_back({m.block.empty() ? -1 : m.block[0], platform.TickMs()});
    };
  }
  // Tick at which each write happened (recorded by stepping one tick at a time).
  void RunRecordingWrites(uint32_t ms) {
    for (uint32_t t = 0; t < ms; t += 10) {
      const size_t before = port.writes.size();
      platform.Advance(10);
      engine.OnTimer();
      for (size_t i = before; i < port.writes.size(); ++i) writeTicks.push_back(platform.TickMs());
    }
  }

  std::vector<std::pair<int, uint32_t>> eventTicks;
  std::vector<uint32_t> writeTicks;
};

TEST_F(SchedulerTest, TimeOutAtTheFirstTickPastTheTimeOutAndTheNextItemAtOnce) {
  AutoRead(1);
  AutoRead(2);
  engine.Start();  // tick 1000
  RunRecordingWrites(200);
  ASSERT_GE(writeTicks.size(), 2u);
  EXPECT_EQ(writeTicks[0], 1010u);
  // 1110 - 1010 = 100 is not more than 100: the time-out is seen at 1120.
  ASSERT_FALSE(eventTicks.empty());
  EXPECT_EQ(eventTicks[0], (std::pair<int, uint32_t>{3, 1120}));
  EXPECT_EQ(writeTicks[1], 1120u);
  EXPECT_EQ(platform.messages[0].block, (Bytes{0x03, 0x01}));
  EXPECT_EQ(platform.NotesStartingWith(u"TIME OUT at item ID: 1. (over 100ms)").size(), 1u);
}

TEST_F(SchedulerTest, ManualRetriesWaitLongerEachTimeAndReportOnce) {
  engine.EnableRetryForManual(1, 2, 50);
  engine.SetQueryInterval(0);
  engine.Start();
  ManualRead(9);
  RunRecordingWrites(600);
  ASSERT_GE(writeTicks.size(), 3u);
  // Sent at 1010; waits 100, 150, 200 ms: time-outs at 1120, 1280, 1490.
  EXPECT_EQ(std::vector<uint32_t>(writeTicks.begin(), writeTicks.begin() + 3),
            (std::vector<uint32_t>{1010, 1120, 1280}));
  EXPECT_EQ(port.writes[0], port.writes[1]);
  EXPECT_EQ(port.writes[1], port.writes[2]);
  ASSERT_FALSE(eventTicks.empty());
  EXPECT_EQ(eventTicks[0], (std::pair<int, uint32_t>{3, 1490}));
  for (const char16_t* note : {u"1th retry", u"2th retry", u"Retried 2 times but failed !"})
    EXPECT_EQ(platform.NotesStartingWith(note).size(), 1u);
  EXPECT_FALSE(engine.RetryInProgress());
}

TEST_F(SchedulerTest, PausedCopiesAreSkippedAndTheNextItemFollowsAtTheNextTick) {
  AutoRead(1);
  AutoRead(2);
  engine.PauseItem(1);
  engine.Start();
  RunRecordingWrites(20);
  ASSERT_EQ(port.writes.size(), 1u);
  EXPECT_EQ(writeTicks[0], 1020u);
  EXPECT_EQ(engine.CurrentItemId(), 2);
  EXPECT_EQ(platform.NotesStartingWith(u"ItemId : 1 - Skip Query (Paused)").size(), 1u);
}

TEST_F(SchedulerTest, WatchdogReportsACycleThatNeverCompletes) {
  // Tx-only items with long pauses: no cycle of four completes within 5 s, and no time-out
  // explains the delay. The watchdog looks before each step, and each step pauses 3000 ms.
  for (int32_t id = 1; id <= 4; ++id) {
    AutoRead(id);
    engine.SetTxOnlyItem(id, 3000);
  }
  engine.Start();          // refill at 1000
  RunRecordingWrites(40);  // sends at 1010, 4020 and 7030; at 7040 the refill is 6040 ms old
  EXPECT_EQ(EventCodes(), (std::vector<int>{4}));
  EXPECT_EQ(eventTicks[0].second, 7040u);
  EXPECT_EQ(platform.messages[0].block, (Bytes{0x04, 0x03}));
  // The forced refill dropped item 4: the next item out is item 1 again.
  EXPECT_EQ(engine.CurrentItemId(), 1);
}

TEST_F(SchedulerTest, NoHostWindowShowsOneMessageAndReportsNoTimeOut) {
  QueryEngine bare(platform);
  bare.SetPort(&port);
  bare.RegisterAuto(MakeReadItem(1, 3, 1, 0, 1));
  bare.Start();
  for (int i = 0; i < 30; ++i) {
    platform.Advance(10);
    bare.OnTimer();
  }
  EXPECT_GE(port.writes.size(), 2u);
  EXPECT_TRUE(platform.messages.empty());
  EXPECT_FALSE(platform.NotesStartingWith(u"Error : No Response-Target Window").empty());
}

TEST_F(SchedulerTest, TraceFileRecordsCustomTimeOutsAndTimeOuts) {
  const std::string path = ::testing::TempDir() + "quillbox_scheduler_trace.txt";
  std::remove(path.c_str());
  engine.SetTraceFilePath(Widen(path));
  engine.EnableTraceToFile();
  AutoRead(7);
  engine.SetCustomTimeOut(7, 20);
  engine.Start();
  RunRecordingWrites(40);  // sent at 1010; custom time-out seen at 1040
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str().substr(0, 64),
            "[1020]CustomTimeout Found : 20\r\n[1030]CustomTimeout Found : 20\r\n");
  EXPECT_NE(
      text.str().find("[1040]**************** Timeout occured !!!!!  m_nLastAskTime=1010\r\n"),
      std::string::npos);
  std::remove(path.c_str());
}

}  // namespace
}  // namespace qb::test
