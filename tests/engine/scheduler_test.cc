// The scheduler in virtual time: every wait is observed at the first 10 ms tick after it has
// passed; time-outs, retries, intervals, the RTU gap, tx-only items and the cycle watchdog.
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
  // Replies to the outstanding read of one register at once with the value.
  void ReplyWord(uint8_t slave, uint16_t value) {
    const Bytes reply =
        WithCrc({slave, 0x03, 0x02, static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)});
    ASSERT_EQ(engine.AcceptModbusBytes(reply.data(), static_cast<int32_t>(reply.size())), 1);
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

TEST_F(SchedulerTest, IntervalCountsFromTheReplyAndRtuGapReplacesShortIntervals) {
  AutoRead(1);
  AutoRead(2);
  engine.SetQueryInterval(10);
  engine.Start();
  RunRecordingWrites(10);  // item 1 at 1010
  platform.Advance(1);
  ReplyWord(1, 7);  // reply at 1011
  RunRecordingWrites(30);
  // 1020 - 1011 = 9, 1030 - 1011 = 19 > 10: item 2 goes out at 1030.
  ASSERT_EQ(writeTicks.size(), 2u);
  EXPECT_EQ(writeTicks[1], 1031u);

  // Interval 3 at 9600 baud: the gap of 5 ms applies; interval 20 stays 20.
  engine.SetQueryInterval(3);
  EXPECT_EQ(engine.GetRtuTimeGap(), 5);
  ReplyWord(1, 8);  // reply to item 2 at 1041
  platform.Advance(4);
  engine.Step();  // 4 ms after: not more than 5
  EXPECT_EQ(port.writes.size(), 2u);
  platform.Advance(2);
  engine.Step();  // 6 ms after
  EXPECT_EQ(port.writes.size(), 3u);
  engine.SetQueryInterval(20);
  ReplyWord(1, 9);
  platform.Advance(20);
  engine.Step();
  EXPECT_EQ(port.writes.size(), 3u);
  platform.Advance(1);
  engine.Step();
  EXPECT_EQ(port.writes.size(), 4u);
}

TEST_F(SchedulerTest, ManualRetriesWaitLongerEachTimeAndReportOnce) {
  engine.EnableRetryForManual(1, 2, 50);
  engine.SetQueryInterval(0);
  engine.Start();
  ManualRead(9);
  RunRecordingWrites(600);
  ASSERT_GE(writeTicks.size(), 3u);
  // Sent at 1010; waits 100, 150, 200 ms: time-outs at 1120, 1280, 1490.
  EXPECT_EQ(writeTicks[0], 1010u);
  EXPECT_EQ(writeTicks[1], 1120u);
  EXPECT_EQ(writeTicks[2], 1280u);
  EXPECT_EQ(port.writes[0], port.writes[1]);
  EXPECT_EQ(port.writes[1], port.writes[2]);
  ASSERT_FALSE(eventTicks.empty());
  EXPECT_EQ(eventTicks[0], (std::pair<int, uint32_t>{3, 1490}));
  EXPECT_EQ(platform.NotesStartingWith(u"1th retry").size(), 1u);
  EXPECT_EQ(platform.NotesStartingWith(u"2th retry").size(), 1u);
  EXPECT_EQ(platform.NotesStartingWith(u"Retried 2 times but failed !").size(), 1u);
  EXPECT_FALSE(engine.RetryInProgress());
}

TEST_F(SchedulerTest, RetryStatePersistsAfterASuccessfulRetry) {
  engine.EnableRetryForManual(1, 3, 50);
  engine.SetQueryInterval(0);
  engine.Start();
  ManualRead(9);
  RunRecordingWrites(10);   // sent at 1010
  RunRecordingWrites(110);  // time-out at 1120, retry sent at once
  ASSERT_EQ(port.writes.size(), 2u);
  ReplyWord(1, 1);
  EXPECT_TRUE(engine.RetryInProgress());
  EXPECT_EQ(engine.RetryCount(), 1);
  // Every query now waits 100 + 1 x 50 ms.
  ManualRead(10);
  writeTicks.clear();
  RunRecordingWrites(300);
  ASSERT_GE(writeTicks.size(), 2u);
  EXPECT_EQ(writeTicks[1] - writeTicks[0], 160u);  // first tick past 150 ms
  EXPECT_EQ(engine.RetryCount(), 2);
}

TEST_F(SchedulerTest, AutoItemsAreNeverRetried) {
  engine.EnableRetryForManual(1, 3, 50);
  AutoRead(1);
  engine.Start();
  RunRecordingWrites(130);
  EXPECT_EQ(EventCodes(), (std::vector<int>{3}));
  EXPECT_FALSE(engine.RetryInProgress());
}

TEST_F(SchedulerTest, CustomTimeOutAppliesOnlyUnderModbus) {
  AutoRead(7);
  AutoRead(8);
  engine.SetCustomTimeOut(7, 500);
  engine.SetCustomTimeOut(8, 500);
  engine.Start();
  RunRecordingWrites(520);
  ASSERT_EQ(eventTicks.size(), 1u);
  EXPECT_EQ(eventTicks[0].second, 1520u);  // sent at 1010, 1510 - 1010 = 500 is not more
  engine.SetProtocolName(u"LSMK");         // item 8 is outstanding since 1520
  RunRecordingWrites(110);
  ASSERT_GE(eventTicks.size(), 2u);
  EXPECT_EQ(eventTicks[1], (std::pair<int, uint32_t>{3, 1630}));  // the general 100 ms
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

TEST_F(SchedulerTest, EmptyListsRefillAtEveryStepAndTheWatchdogStaysQuiet) {
  engine.Start();
  RunRecordingWrites(12000);
  EXPECT_TRUE(port.writes.empty());
  EXPECT_TRUE(platform.messages.empty());
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

TEST_F(SchedulerTest, WatchdogStaysQuietWhenATimeOutExplainsTheSlowCycle) {
  AutoRead(1);
  AutoRead(2);
  engine.SetCustomTimeOut(1, 200);
  engine.SetCustomTimeOut(2, 4900);
  engine.Start();            // refill at 1000
  RunRecordingWrites(5010);  // 1 sent at 1010, times out at 1220; 2 waits until 6130
  // At 6010 the cycle is 5010 ms old: it is refilled, but the time-out at 1220 explains it.
  EXPECT_EQ(EventCodes(), (std::vector<int>{3}));
  EXPECT_EQ(engine.ToDo().Count(), 2u);  // the forced refill happened
  EXPECT_EQ(eventTicks[0].second, 1220u);
}

TEST_F(SchedulerTest, TxOnlyItemWithoutPauseIsNotWaitedFor) {
  AutoRead(1);
  AutoRead(2);
  engine.SetTxOnlyItemQuietly(1);
  engine.Start();
  RunRecordingWrites(20);
  ASSERT_EQ(writeTicks, (std::vector<uint32_t>{1010, 1020}));
  EXPECT_EQ(platform.NotesStartingWith(u"TxOnlyItm Found : Id=1 & SleepTime= 0").size(), 1u);
  EXPECT_TRUE(platform.slept_.empty());
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

TEST_F(SchedulerTest, ClosedPortEndsInATimeOut) {
  port.open = false;
  AutoRead(1);
  engine.Start();
  RunRecordingWrites(130);
  EXPECT_TRUE(port.writes.empty());
  EXPECT_EQ(EventCodes(), (std::vector<int>{3}));
  // Tried at 1010 and again at 1120, right after the time-out.
  EXPECT_EQ(platform.NotesStartingWith(u"DIRECT RS-232 QUERY FAILED !! (PORT NOT OPEN) : ").size(),
            2u);
}

}  // namespace
}  // namespace qb::test

namespace qb::test {
namespace {

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
