// Faults a hostile host or an unlucky clock once turned into a crash, a hang or a false result.
#include <algorithm>
#include <array>
#include <climits>
#include <functional>

#include "engine/engine_fixture.h"

namespace qb::test {
namespace {

using Reliability = EngineTest;

int Count(const std::vector<int>& codes, int code) {
  return static_cast<int>(std::count(codes.begin(), codes.end(), code));
}

TEST_F(Reliability, StepAskedForInsideATimeOutIsNotNested) {
  InitHost();
  engine.SetPort(&port);
  AutoRead(1);
  int depth = 0;
  int deepest = 0;
  platform.onHostMessage = [&](const HostMessage&) {
    deepest = std::max(deepest, ++depth);
    if (depth < 50) engine.Step();
    --depth;
  };
  engine.Start();
  RunFor(120);
  EXPECT_EQ(deepest, 1);
  EXPECT_EQ(EventCodes(), (std::vector<int>{3}));
}

TEST_F(Reliability, ReplyGivenInsideEventOneEndsTheQuery) {
  InitHost();
  engine.SetRtuMode();
  engine.SetQueryDirectSerial(0);
  AutoRead(1);
  const std::vector<uint8_t> reply = WithCrc({0x01, 0x03, 0x02, 0x00, 0x2A});
  platform.onHostMessage = [&](const HostMessage& m) {
    if (m.block[0] == 1) engine.OnSerialReceive(reply.data(), static_cast<int32_t>(reply.size()));
  };
  engine.Start();
  RunFor(500);
  EXPECT_EQ(Count(EventCodes(), 3), 0);
  EXPECT_GT(Count(EventCodes(), 2), 10);
}

TEST_F(Reliability, QuerySentWhenTheTickReadsZeroTimesOut) {
  platform.SetTick(0u - 10u);
  InitHost();
  engine.SetPort(&port);
  AutoRead(1);
  engine.Start();
  RunFor(10);  // sent at tick 0
  RunFor(200);
  EXPECT_EQ(port.writes.size(), 2u);
  EXPECT_EQ(EventCodes(), (std::vector<int>{3}));
}

TEST_F(Reliability, HugeExtraTimePerRetryWaitsInsteadOfWrapping) {
  InitHost();
  engine.SetPort(&port);
  engine.EnableRetryForManual(1, 3, INT32_MAX);
  engine.StartNotDestroyingBuffer();
  ManualRead(5);
  RunFor(1000);  // sent, timed out after 100 ms, sent again; the retry waits without end
  EXPECT_EQ(port.writes.size(), 2u);
  EXPECT_TRUE(platform.messages.empty());
}

// What the system's rules drop or discard reaches a host that turned detailed events on, one event
// per item: (code, item id, data word 0). A host that did not sees nothing new.
TEST(ReliabilityDrops, DroppedItemsAndDiscardedRepliesAreReportedOnlyWithDetailedEvents) {
  struct Rig {
    FakePlatform platform;
    QueryEngine engine{platform};
    RecordingPort port;
    void Read(int32_t id, bool manual) {
      auto item = MakeReadItem(id, 3, 1, 0, 1);
      manual ? engine.RegisterManual(std::move(item)) : engine.RegisterAuto(std::move(item));
    }
    void RunFor(uint32_t ms) {
      for (uint32_t t = 0; t < ms; t += QueryEngine::kTimerPeriodMs) {
        platform.Advance(QueryEngine::kTimerPeriodMs);
        engine.OnTimer();
      }
    }
  };
  struct Case {
    const char* what;
    std::function<void(Rig&)> run;
    std::vector<std::array<int, 3>> expected;
  };
  const std::vector<uint8_t> reply = WithCrc({0x01, 0x03, 0x02, 0x00, 0x2A});
  const std::vector<Case> cases = {
      {"the tail beyond 1024",
       [](Rig& r) {
         for (int32_t id = 1; id <= 1026; ++id) r.Read(id, true);
       },
       {{203, 1025, 1}, {203, 1026, 1}}},
      {"the watchdog's refill",
       [](Rig& r) {
         r.engine.SetTimeOut(6000);
         r.Read(1, false);
         r.engine.Start();
         r.RunFor(20);  // item 1 sent; its reply is awaited for 6 s
         r.Read(7, true);
         r.Read(8, true);
         r.RunFor(5000);
       },
       {{203, 7, 2}, {203, 8, 2}, {4, 1, -1}}},
      {"qbStart",
       [](Rig& r) {
         r.Read(9, true);
         r.engine.Start();
       },
       {{203, 9, 3}}},
      {"an unknown insert style",
       [](Rig& r) {
         r.engine.SetManualInsertStyle(104, 7);
         r.Read(4, true);
       },
       {{203, 4, 4}}},
      {"a reply while stopped",
       [&](Rig& r) {
         r.Read(3, false);
         r.engine.Start();
         r.RunFor(20);
         r.engine.Stop();
         r.engine.SerialAccept(reply.data(), 3);  // once per query, with the first chunk
         r.engine.SerialAccept(reply.data() + 3, static_cast<int32_t>(reply.size()) - 3);
       },
       {{204, 3, -1}}},
  };
  for (const bool detailed : {true, false}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.what);
      Rig r;
      r.engine.Init(&r.platform, 0x4400);
      r.engine.SetPort(&r.port);
      r.engine.SetEventFormat(2);
      r.engine.SetDetailedEvents(detailed);
      std::vector<std::array<int, 3>> seen;
      r.platform.onHostMessage = [&](const HostMessage& m) {
        const auto& words = r.engine.LastRx().words;
        seen.push_back({m.block[0], m.block[1] | m.block[2] << 8,
                        words.empty() || m.block[0] < 200 ? -1 : words[0]});
      };
      c.run(r);
      if (detailed) {
        EXPECT_EQ(seen, c.expected);
      } else {
        EXPECT_TRUE(std::none_of(seen.begin(), seen.end(), [](auto& e) { return e[0] >= 200; }));
      }
    }
  }
}

}  // namespace
}  // namespace qb::test
