// PLC link requests against frames written here from the framing rules (sums worked out here).
#include "protocols/link_frames.h"

#include <gtest/gtest.h>

#include <memory>
#include <span>
#include <vector>

#include "props/item_keys.h"
#include "support/fake_platform.h"
#include "support/modbus_frames.h"

namespace qb {
namespace {

using test::Link;
using test::Summed;

struct ItemSpec {
  int32_t code, slave, address;
  const char16_t* device;
  int32_t bit = 0, writing = 0, length = 1, paused = 0;
};

std::unique_ptr<PropertyMap> Item(const ItemSpec& s, int32_t id = 1) {
  auto item = std::make_unique<PropertyMap>();
  for (auto [key, value] : {std::pair{keys::kItmId, id},
                            {keys::kFncCode, s.code},
                            {keys::kSlvAddr, s.slave},
                            {keys::kSttAddr, s.address},
                            {keys::kBitPos, s.bit},
                            {keys::kWritingBit, s.writing},
                            {keys::kWritingWord, s.writing},
                            {keys::kLength, s.length},
                            {keys::kPaused, s.paused}}) {
    item->SetInt(key, value);
  }
  item->SetStr(keys::kDeviceName, s.device);
  return item;
}

TEST(LinkFrames, OneItemFrames) {
  const struct {
    bool mkld;
    ItemSpec item;
    const char* body;  // between STX and the BCC, or after ENQ up to the sum
  } cases[] = {
      {true, {3, 1, 0, u"D"}, "rM00000002"},
      {true, {4, 1, 16, u"M"}, "rM205D0002"},  // swap24(0x20) + 0x5D00
      {true, {3, 1, 16, u"m"}, "rM00000002"},  // not a known device
      {true, {6, 1, 1, u"D", 0, 0x1234}, "wM020000023412"},
      {true, {5, 1, 0, u"D", 15, 0}, "nM000000FF7F"},
      {true, {5, 1, 0, u"D", 0, 1}, "oM0000000100"},
      {false, {3, 1, 100, u"D", 0, 0, 3}, "01FFWR0D010003"},
      {false, {1, 10, 7, u"M", 0, 0, 16}, "10FFBR0M000710"},  // decimal station digits
      {false, {5, 1, 10, u"M", 0, 1}, "01FFBW0M0010011"},
      {false, {16, 1, 5, u"D", 0, 0xBEEF}, "01FFWW0D000501BEEF"},
  };
  test::FakePlatform platform;
  for (const auto& c : cases) {
    LinkFrame out;
    const auto item = Item(c.item);
    ASSERT_TRUE(c.mkld ? BuildMkldFrame(platform, *item, out)
                       : BuildMbfxFrame(platform, *item, out));
    const std::string body = c.body;
    EXPECT_EQ(out.bytes, c.mkld ? Summed("{" + body, 1, "}") : Summed("^" + body, 1)) << body;
    EXPECT_EQ(out.bitFlag, c.item.code == 1 || c.item.code == 5 ? 1 : 0) << body;
  }
  const auto paused = Item({3, 1, 0, u"D", 0, 0, 1, 1});
  LinkFrame out;
  EXPECT_FALSE(BuildMkldFrame(platform, *paused, out));
  EXPECT_FALSE(BuildMbfxFrame(platform, *paused, out));
  EXPECT_EQ(BuildMbfxAck(platform, 7), Link("@07FF"));
  EXPECT_TRUE(platform.boxes.empty());
}

TEST(LinkFrames, CnetBlocksRepeatsSlavesAndWrites) {
  test::FakePlatform platform;
  CnetBuilder cnet(platform);
  std::vector<std::unique_ptr<PropertyMap>> items;
  std::vector<const PropertyMap*> queue;
  for (const int32_t code : {3, 1, 5}) items.push_back(Item({code, 1, 100, u"M", 5, 1}));
  for (int32_t i = 0; i < 19; ++i) items.push_back(Item({4, i == 1 ? 2 : 1, 7, u"D"}, i + 10));
  for (const auto& item : items) queue.push_back(item.get());
  const auto first = std::span(queue).first(3);
  LinkFrame out;
  ASSERT_TRUE(cnet.BuildRead(first, false, out));
  EXPECT_EQ(out.bytes, Summed("^01rSS0107%MW0100$"));
  // The same block count twice in a row: the second frame repeats its last block.
  ASSERT_TRUE(cnet.BuildRead(first, true, out));
  EXPECT_EQ(out.bytes, Summed("^01rSS0207%MX100507%MX1005$"));
  EXPECT_EQ(out.itemIds, (std::vector<int32_t>{1, 1}));
  ASSERT_TRUE(cnet.BuildWrite(queue, true, out));
  EXPECT_EQ(out.bytes, Summed("^01wSS0107%MX100501$"));
  EXPECT_EQ(out.taken, (std::vector<size_t>{2}));
  EXPECT_FALSE(cnet.BuildWrite(queue, false, out));
  // Fifteen items of the first slave (item 11 of slave 2 waits), then fifteen plus the repeat.
  ASSERT_TRUE(cnet.BuildRead(std::span(queue).subspan(3), false, out));
  EXPECT_EQ(out.itemIds.size(), 15u);
  EXPECT_EQ(out.taken[1], 2u);
  EXPECT_EQ(out.current, 15u);
  ASSERT_TRUE(cnet.BuildRead(std::span(queue).subspan(5), false, out));
  EXPECT_EQ(out.itemIds.size(), 16u);
  EXPECT_EQ(out.itemIds[15], out.itemIds[14]);
  EXPECT_EQ(out.bytes[7], '0');
}

}  // namespace
}  // namespace qb
