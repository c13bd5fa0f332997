// The frame receiver under the reply Styles that protocol selection registers: the longest frames
// that bound its buffer, a buffer that noise cannot grow, and Styles that match nothing.
#include "protocols/frame_receiver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocols/reply_styles.h"
#include "support/fake_platform.h"
#include "support/modbus_frames.h"

namespace qb {
namespace {

using test::Link;
using test::Summed;
using Packets = std::vector<std::u16string>;

struct Recorder : FrameReceiver {
  using FrameReceiver::FrameReceiver;
  void OnPacket(std::u16string_view protocol, std::u16string_view packet) override {
    packets.push_back(std::u16string(protocol) + u"/" + std::u16string(packet));
  }
  void Feed(const std::vector<uint8_t>& bytes) { Receive(bytes.data(), bytes.size()); }
  Packets packets;
};

class FrameReceiverTest : public ::testing::Test {
 protected:
  test::FakePlatform platform;
  Recorder r{platform};
  const std::vector<uint8_t> writeAck = Summed("@01wSS}");
  const std::vector<uint8_t> readAck = Summed("@01rSS020200FF0101}");
};

TEST_F(FrameReceiverTest, LongestFramesBoundTheBuffer) {
  const std::pair<const char16_t*, size_t> cases[] = {{u"LSMK", 8 + 255 * (2 + 4) + 3},
                                                      {u"MKLD", 1 + 1 + 516 + 1},
                                                      {u"MBFX", 1 + 2 + 2 + 200 + 1 + 2}};
  for (const auto& [protocol, longest] : cases) {
    r.ClearRecvStyles();
    RegisterReplyStyles(r, protocol);
    EXPECT_EQ(r.LongestFrame(), longest);
  }
  // A count that promises more than the longest frame the receiver takes keeps asking for more
  // bytes: what lies beyond that frame is dropped, and a note says so.
  r.AddRecvStyle(u"Cnt[4h],Data[2h],0x03", u"USRPRTCL", u"LONG", true);
  r.DefineRecvRepeat(u"Cnt", 1, 1);
  ASSERT_EQ(r.LongestFrame(), FrameReceiver::kLongestFrameCap);
  r.Feed(Link("FFFF"));
  const std::vector<uint8_t> zeros(128, '0');
  for (size_t fed = 4; fed + 128 <= FrameReceiver::kLongestFrameCap; fed += 128) r.Feed(zeros);
  EXPECT_TRUE(platform.notes.empty());
  r.Feed(zeros);
  EXPECT_EQ(platform.notes, (Packets{u"FrameReceiver: 4 byte(s) dropped, longer than any frame "
                                     u"of 4096 bytes"}));
  EXPECT_TRUE(r.packets.empty());
}

// How many bytes a frame begun in the buffer still needs at the least, from the counts and lengths
// read so far: never more than it does need, exact once the last length is in. Cut after
// "@01rSS" + BlocCnt "02" + DataCnt "02" "00FF" + DataCnt "01" "01" + ETX + BCC.
TEST_F(FrameReceiverTest, BytesAFrameStillNeeds) {
  ASSERT_TRUE(RegisterReplyStyles(r, u"LSMK"));
  const std::pair<size_t, size_t> cuts[] = {
      {1, 2 + 3 + 1 + 2},        // WRITE_ACK may still be coming: SlvAddr, 'wSS', ETX, BCC
      {4, 2 + 2 + 2 + 3},        // 'SS', BlocCnt, one round's DataCnt, ETX and BCC
      {8, 2 + 2 + 3},            // two rounds of DataCnt, the data lengths not known yet
      {10, 4 + 2 + 3},           // this round's 4 data characters, the next round's DataCnt
      {16, 2 + 3},               // the last data, ETX, BCC: exact
      {readAck.size() - 1, 1}};  // the BCC's second character
  for (const auto& [cut, awaited] : cuts) {
    r.Feed({readAck.begin(), readAck.begin() + cut});
    EXPECT_EQ(r.BytesBeforeFrameCanEnd(), awaited) << cut;
    r.Feed({readAck.begin() + cut, readAck.end()});
    EXPECT_EQ(r.BytesBeforeFrameCanEnd(), 0u);
  }
  for (size_t cut = 1; cut < readAck.size(); ++cut) {
    r.Feed({readAck.begin(), readAck.begin() + cut});
    EXPECT_LE(r.BytesBeforeFrameCanEnd(), readAck.size() - cut) << cut;
    EXPECT_GT(r.BytesBeforeFrameCanEnd(), 0u) << cut;
    r.Feed({readAck.begin() + cut, readAck.end()});
  }
}

TEST_F(FrameReceiverTest, EmptyMatchesAndMissingStyle) {
  EXPECT_FALSE(r.DefineRecvChecksum(u"Bcc", 0, 1, u"plus"));
  EXPECT_EQ(platform.boxes, (Packets{u"먼저 AddRecvStyle()을 하세요"}));
  r.AddRecvStyle(u"", u"USRPRTCL", u"EMPTY", true);  // matches without reading a byte
  r.Feed(writeAck);
  EXPECT_TRUE(r.packets.empty());
  EXPECT_EQ(r.BufferedCount(), 0u);
}

}  // namespace
}  // namespace qb
