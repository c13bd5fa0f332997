// Event delivery: the block of both formats and the record the getters read; a reply without a
// host window. (Replies decoded, indirect requests: the C API tests.)
#include "engine_fixture.h"

namespace qb::test {
namespace {

using Bytes = std::vector<uint8_t>;

class EventTest : public EngineTest {
 protected:
  void SetUp() override {
    InitHost();
    engine.SetQueryDirectSerial(0);
  }
  // Makes id the current item by handing it out (event 1), then clears the recorded messages.
  void HandOut(int32_t id, int32_t code = 3, int32_t length = 2) {
    engine.RegisterManual(MakeReadItem(id, code, 1, 0, length));
    engine.Step();
    platform.messages.clear();
  }
};

TEST_F(EventTest, TimeOutBlockCarriesTheLowByteOfTheIdOrAllFourBytesInFormatTwo) {
  HandOut(300);
  engine.DeliverEvent(nullptr, 0, 3);
  engine.SetEventFormat(2);
  engine.DeliverEvent(nullptr, 0, 3);
  engine.SetEventFormat(7);  // anything but 2 is the one-byte form
  engine.DeliverEvent(nullptr, 0, 4);
  ASSERT_EQ(platform.messages.size(), 3u);
  EXPECT_EQ(platform.messages[0].block, (Bytes{0x03, 0x2C}));
  EXPECT_EQ(platform.messages[0].lParam, 2);
  EXPECT_EQ(platform.messages[0].message, kMessage);
  EXPECT_EQ(platform.messages[0].window, &platform);
  EXPECT_EQ(platform.messages[1].block, (Bytes{0x03, 0x2C, 0x01, 0x00, 0x00}));
  EXPECT_EQ(platform.messages[2].block, (Bytes{0x04, 0x2C}));
  EXPECT_EQ(engine.LastRx().itemId, 300);
  EXPECT_EQ(platform.notes.back(), u"SendingMessage: EventCode=4, EventSize=2");
}

TEST_F(EventTest, ReplyWithoutHostWindowIsDroppedWithANote) {
  QueryEngine bare(platform);
  bare.SetQueryDirectSerial(0);
  bare.SetRtuMode();
  bare.RegisterManual(MakeReadItem(5, 3, 1, 0, 1));
  bare.Step();
  const Bytes reply = WithCrc({0x01, 0x03, 0x02, 0x00, 0x01});
  EXPECT_EQ(bare.AcceptModbusBytes(reply.data(), 7), 1);
  EXPECT_EQ(bare.LastRx().eventType, 1);  // the request was recorded; no reply event followed
  EXPECT_NE(bare.LastAskTime(), 0u);
  EXPECT_EQ(platform.notes.back(), u"Error : Responsed Plain but no Target Window");
}

}  // namespace
}  // namespace qb::test
