// The Modbus sending path in direct and indirect mode, and replies that end the query.
#include "engine/item_keys.h"
#include "engine_fixture.h"

namespace qb::test {
namespace {

using Bytes = std::vector<uint8_t>;

TEST_F(EngineTest, DirectModeWritesTheRtuRequestOnceAndMarksItOutstanding) {
  InitHost();
  engine.SetPort(&port);
  engine.SetRtuMode();
  AutoRead(7, 1, 0, 2);
  engine.Start();
  engine.Step();
  ASSERT_EQ(port.writes.size(), 1u);
  EXPECT_EQ(port.writes[0], WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x02}));
  EXPECT_EQ(engine.LastAskTime(), platform.TickMs());
  EXPECT_EQ(engine.CurrentItemId(), 7);
  EXPECT_EQ(platform.NotesStartingWith(u"DIRECT QUERY THRU COM3 SUCCESS : ").size(), 1u);
  EXPECT_TRUE(platform.messages.empty());
}

TEST_F(EngineTest, ConsecutiveRepliesOfDifferentRequestsAreEachAccepted) {
  InitHost();
  engine.SetQueryDirectSerial(0);
  engine.SetRtuMode();
  engine.SetQueryInterval(0);
  AutoRead(1, 1, 0, 4);
  engine.Start();
  engine.RegisterManual(MakeWordWriteItem(5, 1, 10, 4242, u""));
  engine.Step();
  ASSERT_EQ(EventCodes(), (std::vector<int>{1}));
  const Bytes echo = WithCrc({0x01, 0x06, 0x00, 0x0A, 0x10, 0x92});
  EXPECT_EQ(engine.OnSerialReceive(echo.data(), 8), 1);
  platform.Advance(10);
  engine.Step();
  const Bytes reply = WithCrc({0x01, 0x03, 0x08, 0x03, 0xE8, 0x03, 0xE9, 0x03, 0xEA, 0x03, 0xEB});
  EXPECT_EQ(engine.OnSerialReceive(reply.data(), static_cast<int32_t>(reply.size())), 1);
  EXPECT_EQ(EventCodes(), (std::vector<int>{1, 2, 1, 2}));
  EXPECT_EQ(engine.LastRx().words, (std::vector<uint16_t>{1000, 1001, 1002, 1003}));
}

}  // namespace
}  // namespace qb::test
