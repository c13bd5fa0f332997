// Event delivery: the block of both formats, the record the getters read, reply decoding.
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

TEST_F(EventTest, RtuReplyIsDecodedIntoWordsAndKeptRaw) {
  engine.SetRtuMode();
  engine.SetEventFormat(2);
  HandOut(7);
  const Bytes reply = WithCrc({0x01, 0x03, 0x04, 0x00, 0x0A, 0xFF, 0xFF});
  ASSERT_EQ(engine.AcceptModbusBytes(reply.data(), 9), 1);
  ASSERT_EQ(platform.messages.size(), 1u);
  EXPECT_EQ(platform.messages[0].lParam, 14);
  Bytes block{0x02, 0x07, 0x00, 0x00, 0x00};
  block.insert(block.end(), reply.begin(), reply.end());
  EXPECT_EQ(platform.messages[0].block, block);
  EXPECT_EQ(engine.LastRx().dataType, 0);
  EXPECT_EQ(engine.LastRx().words, (std::vector<uint16_t>{10, 0xFFFF}));
  EXPECT_EQ(engine.LastRx().raw, reply);
  EXPECT_EQ(engine.LastAskTime(), 0u);
  EXPECT_EQ(engine.LastReplyTime(), platform.TickMs());
}

TEST_F(EventTest, BitReplyGivesOneEntryPerRequestedBit) {
  engine.SetRtuMode();
  HandOut(8, 1, 10);
  const Bytes reply = WithCrc({0x01, 0x01, 0x02, 0b1010'0101, 0b1111'1110});
  ASSERT_EQ(engine.AcceptModbusBytes(reply.data(), 7), 1);
  EXPECT_EQ(engine.LastRx().dataType, 1);
  EXPECT_EQ(engine.LastRx().words, (std::vector<uint16_t>{1, 0, 1, 0, 0, 1, 0, 1, 0, 1}));
}

TEST_F(EventTest, TimeOutKeepsTheWordsOfTheLastReplyButEmptiesTheRawBytes) {
  engine.SetRtuMode();
  HandOut(7, 3, 1);
  const Bytes reply = WithCrc({0x01, 0x03, 0x02, 0x12, 0x34});
  ASSERT_EQ(engine.AcceptModbusBytes(reply.data(), 7), 1);
  engine.DeliverEvent(nullptr, 0, 3);
  EXPECT_EQ(engine.LastRx().words, (std::vector<uint16_t>{0x1234}));
  EXPECT_TRUE(engine.LastRx().raw.empty());
  EXPECT_EQ(engine.LastRx().eventType, 3);
}

TEST_F(EventTest, IndirectRequestIsEventOneWithTheFrameAsPayload) {
  engine.SetRtuMode();
  engine.RegisterManual(MakeReadItem(5, 3, 1, 0, 2));
  engine.Step();
  ASSERT_EQ(platform.messages.size(), 1u);
  Bytes block{0x01, 0x05};
  const Bytes frame = WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x02});
  block.insert(block.end(), frame.begin(), frame.end());
  EXPECT_EQ(platform.messages[0].block, block);
  EXPECT_EQ(engine.LastRx().raw, frame);
  EXPECT_EQ(engine.Modbus().Remaining(), 9);
  EXPECT_FALSE(
      platform.NotesStartingWith(u"INDIRECT QUERY THROUGH YOUR METHOD (Sending Msg) : ").empty());
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

TEST_F(EventTest, HostReadingTheRecordInsideItsHandlerSeesTheNewEvent) {
  engine.SetRtuMode();
  HandOut(7, 3, 1);
  std::vector<uint16_t> seen;
  platform.onHostMessage = [&](const HostMessage&) { seen = engine.LastRx().words; };
  const Bytes reply = WithCrc({0x01, 0x03, 0x02, 0x00, 0x2A});
  ASSERT_EQ(engine.AcceptModbusBytes(reply.data(), 7), 1);
  EXPECT_EQ(seen, (std::vector<uint16_t>{42}));
}

}  // namespace
}  // namespace qb::test
