// Gathering Modbus replies from pieces: completion at the awaited length, what the port may still
// wait for, refusal of surplus bytes and of bytes before any request, with replies made here from
// the framing rules (a bit-by-bit CRC). (Replies that do not match: the scripted device tests.)
#include <gtest/gtest.h>

#include "support/modbus_frames.h"

#include <string>
#include <utility>
#include <vector>

#include "protocols/modbus_master.h"
#include "support/fake_platform.h"

namespace qb {
namespace {

using Bytes = std::vector<uint8_t>;
using Texts = std::vector<std::u16string>;

Bytes Rtu(Bytes m) { return test::WithCrc(std::move(m)); }

Bytes Of(std::string_view s) { return Bytes(s.begin(), s.end()); }

class Accumulation : public testing::Test {
 protected:
  struct Master : ModbusMaster {
    using ModbusMaster::ModbusMaster;
    void OnPacket(const uint8_t* b, int32_t n) override { packets.emplace_back(b, b + n); }
    void TraceLine(std::u16string_view line) override { traces.emplace_back(line); }
    std::vector<Bytes> packets;
    Texts traces;
  };

  int32_t Feed(const Bytes& frame, size_t from, size_t n) {
    return m_.Accumulate(frame.data() + from, static_cast<int32_t>(n));
  }

  test::FakePlatform platform_;
  Master m_{platform_};
  const std::u16string rtuOverflow_ = u"응답된 패킷량이 초과했습니다.(2)";
  const std::u16string asciiOverflow_ = u"응답된 패킷량이 초과했습니다.(1)";
  const std::u16string overflowTrace_ = u"Overflowed packet amount !!\r\n";
};

TEST_F(Accumulation, RtuPiecesCompleteAtTheAwaitedLength) {
  m_.SetRtu(true);
  m_.Build(3, 1, 0, 2, 0, 0, 0, 0);
  const Bytes reply = Rtu({1, 3, 4, 0, 0x0A, 0, 0x0B});
  EXPECT_EQ(Feed(reply, 0, 4), 1);
  EXPECT_EQ(Feed(reply, 4, 6), 0);  // one byte too many: rejected whole
  EXPECT_EQ(m_.Received(), 4);
  EXPECT_TRUE(m_.packets.empty());
  EXPECT_EQ(Feed(reply, 4, 5), 1);
  EXPECT_EQ(m_.packets, std::vector<Bytes>{reply});
  // Idle again: an empty piece completes nothing a second time, any byte is surplus.
  EXPECT_EQ(Feed(reply, 0, 0), 0);
  EXPECT_EQ(Feed(reply, 0, 1), 0);
  EXPECT_EQ(m_.packets.size(), 1u);
  EXPECT_EQ(platform_.notes, (Texts{rtuOverflow_, rtuOverflow_}));
  EXPECT_EQ(m_.traces, (Texts{overflowTrace_, overflowTrace_}));
}

// What the port may wait for after each piece: the awaited rest, or in detailed mode no more than
// an exception reply can still need until the function code shows it is none.
TEST_F(Accumulation, BytesBeforeTheReplyCanEnd) {
  struct Case {
    bool rtu, detailed;
    Bytes received;
    int32_t awaited;
  };
  const Case cases[] = {
      {true, false, {}, 9},          {true, false, {1}, 8},          {true, true, {1}, 4},
      {true, true, {1, 0x83}, 3},    {true, true, {1, 3}, 7},        {false, true, Of(":01"), 8},
      {false, true, Of(":0183"), 6}, {false, true, Of(":0103"), 14}, {false, false, Of(":01"), 16},
  };
  for (const Case& c : cases) {
    m_.SetRtu(c.rtu);
    m_.SetDetailed(c.detailed);
    m_.Build(3, 1, 0, 2, 0, 0, 0, 0);  // 2 registers: 9 bytes in RTU, 19 in ASCII
    Feed(c.received, 0, c.received.size());
    EXPECT_EQ(m_.BytesBeforeReplyCanEnd(), c.awaited) << c.rtu << c.detailed << c.received.size();
  }
}

TEST_F(Accumulation, BytesBeforeAnyRequestAreRejected) {
  const Bytes one{1};
  EXPECT_EQ(Feed(one, 0, 1), 0);
  m_.SetRtu(true);
  EXPECT_EQ(Feed(one, 0, 1), 0);
  EXPECT_EQ(platform_.notes, (Texts{asciiOverflow_, rtuOverflow_}));
  EXPECT_EQ(m_.traces, Texts{overflowTrace_});
  // A host-made frame that announces more than the reply buffer holds is awaited as nothing.
  m_.PrepareRawFrameReply(513);
  EXPECT_EQ(m_.Remaining(), 0);
  m_.PrepareRawFrameReply(512);
  EXPECT_EQ(m_.Remaining(), 512);
}

}  // namespace
}  // namespace qb
