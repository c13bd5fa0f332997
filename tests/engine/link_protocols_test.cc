// The PLC link protocols through the engine: the scheduler's choice of frames, the replies fed as
// received chunks, the record-form events the host gets and the MBFX acknowledgement on the wire.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/engine_fixture.h"
#include "support/link_frames.h"

namespace qb::test {
namespace {

struct Seen {
  int32_t event, item, dataType;
  std::vector<uint16_t> words;
  bool operator==(const Seen&) const = default;
};

class LinkTest : public EngineTest {
 protected:
  std::vector<Seen> seen;
  void SetUp() override {
    InitHost();
    engine.SetPort(&port);
    platform.onHostMessage = [this](const HostMessage& m) {
      const auto& rx = engine.LastRx();
      if (m.lParam == 0) seen.push_back({rx.eventType, rx.itemId, rx.dataType, rx.words});
    };
  }
  void Reply(const std::vector<uint8_t>& frame) {
    engine.SerialAccept(frame.data(), static_cast<int32_t>(frame.size()));
  }
  std::string Written(size_t i) const {
    return {port.writes.at(i).begin(), port.writes.at(i).end()};
  }
};

TEST_F(LinkTest, CnetWritesGoFirstAndWordsBeforeBits) {
  engine.SetProtocol(u"LSMK");
  engine.RegisterManual(MakeReadItemEx(1, 1, 1, 10, u"M", 5, 1));
  engine.RegisterManual(MakeReadItemEx(2, 3, 1, 100, u"D", -1, 1));
  engine.RegisterManual(MakeWordWriteItem(3, 1, 7, 0x12, u"D"));
  engine.StartNotDestroyingBuffer();
  for (int i = 0; i < 3; ++i) {
    engine.Step();
    platform.Advance(200);
  }
  ASSERT_EQ(port.writes.size(), 3u);
  EXPECT_EQ(Written(0).substr(3, 10), "wSS0107%DW");
  EXPECT_EQ(Written(1).substr(3, 10), "rSS0107%DW");
  EXPECT_EQ(Written(2).substr(3, 10), "rSS0207%MX");  // one block, as the frame before: repeated
  EXPECT_EQ(engine.FrameItemIds(), (std::vector<int32_t>{1, 1}));
}

TEST_F(LinkTest, CnetRepliesGiveOneMessagePerItem) {
  engine.SetProtocol(u"LSMK");
  for (int32_t id = 1; id <= 3; ++id)
    engine.RegisterAuto(MakeReadItemEx(id, 3, 1, id, u"D", -1, 1));
  engine.Start();
  engine.Step();
  Reply(Summed("@01rSS03020011020022020033}"));
  platform.Advance(20);
  engine.Step();  // the next cycle: three items again, so four blocks, the last one repeated
  EXPECT_EQ(engine.FrameItemIds(), (std::vector<int32_t>{1, 2, 3, 3}));
  Reply(Summed("@01rSS0402004402005501660166}"));
  EXPECT_EQ(seen, (std::vector<Seen>{{2, 1, 0, {0x11}},
                                     {2, 2, 0, {0x22}},
                                     {2, 3, 0, {0x33}},
                                     {2, 1, 0, {0x44}},
                                     {2, 2, 0, {0x55}},
                                     {2, 3, 1, {0x66}}}));
  engine.RegisterManual(MakeWordWriteItem(9, 1, 7, 0x12, u"D"));
  platform.Advance(20);
  engine.Step();
  Reply(Summed("@01wSS}"));
  platform.Advance(20);
  engine.Step();
  Reply(Summed("!01rSS0004}"));  // a NAK ends the query without an event
  EXPECT_EQ(seen.size(), 7u);
  EXPECT_EQ(seen.back(), (Seen{2, 9, 1, {0x66}}));
  EXPECT_EQ(engine.LastAskTime(), 0u);
  EXPECT_EQ(engine.LastReplyTime(), platform.TickMs());
}

TEST_F(LinkTest, MbfxBitsAreAcknowledgedAndPausedCopiesSkipped) {
  engine.SetProtocol(u"MBFX");
  engine.RegisterAuto(MakeReadItemEx(8, 1, 1, 0, u"M", -1, 4));
  engine.RegisterAuto(MakeReadItemEx(9, 1, 1, 0, u"M", -1, 4));
  engine.PauseItem(8);
  engine.Start();
  engine.Step();
  engine.Step();
  EXPECT_EQ(platform.NotesStartingWith(u"ItemId : 8 - Skip Query (Paused)").size(), 1u);
  ASSERT_EQ(port.writes.size(), 1u);
  Reply(Summed("{01FF1011}", 1));
  EXPECT_EQ(seen, (std::vector<Seen>{{2, 9, 1, {1, 0, 1, 1}}}));
  EXPECT_EQ(port.writes.at(1), Link("@01FF"));
}

TEST_F(LinkTest, MkldDataOfOtherLengthsEndTheQueryQuietly) {
  engine.SetProtocol(u"MKLD");
  engine.RegisterAuto(MakeReadItemEx(4, 3, 1, 0, u"D", -1, 1));
  engine.Start();
  engine.Step();
  Reply(Link("@r123$"));
  EXPECT_EQ(engine.LastAskTime(), 0u);
  EXPECT_TRUE(seen.empty());
  platform.Advance(20);
  engine.Step();
  Reply(Link("@r1234AB$"));
  EXPECT_EQ(seen, (std::vector<Seen>{{2, 4, 0, {0x1234}}}));
}

TEST_F(LinkTest, SelectionReplacesTheReplyStyles) {
  engine.SetProtocol(u"MKLD");
  engine.SetProtocol(u"LSMK");
  ASSERT_EQ(engine.Receiver().RecvStyleCount(), 4u);
  EXPECT_EQ(engine.Receiver().RecvStyleAt(3).ReplyName(), u"WRITE_NAK");
  engine.SetProtocol(u"lsmk");
  EXPECT_EQ(engine.Receiver().RecvStyleCount(), 0u);
  AutoRead(1);
  engine.Start();
  engine.Step();
  EXPECT_TRUE(port.writes.empty());
  EXPECT_EQ(platform.boxes, (std::vector<std::u16string>{u"Error 34892"}));
}

}  // namespace
}  // namespace qb::test
