// The PLC link protocols through the engine: the scheduler's choice of frames, the replies fed as
// received chunks, the record-form events the host gets and the MBFX acknowledgement on the wire.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/engine_fixture.h"

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
