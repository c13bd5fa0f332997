// Faults a hostile host or an unlucky clock once turned into a crash, a hang or a false result.
#include <algorithm>
#include <climits>

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

}  // namespace
}  // namespace qb::test
