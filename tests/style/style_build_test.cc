// Building frames: bit fields, checksum ranges and conversions, and failures. Expected frames are
// written out by hand; checksums are recomputed here.
// A control byte before a digit is a three-digit octal escape: "\00201" is STX, "01".
#include <gtest/gtest.h>

#include "style/style.h"
#include "style/style_messages.h"
#include "support/fake_platform.h"
#include "support/modbus_frames.h"

namespace qb {
namespace {

using test::Text;

class StyleBuildTest : public ::testing::Test {
 protected:
  void SetUp() override { detail::ResetStyleMessageFlags(); }
  std::vector<uint8_t> Build() {
    std::vector<uint8_t> frame;
    EXPECT_TRUE(style_.BuildFrame(frame));
    return frame;
  }
  FrameValues& Values() { return style_.Values(); }

  test::FakePlatform platform_;
  Style style_{platform_};
};

TEST_F(StyleBuildTest, BitFieldsShareOneByte) {
  ASSERT_TRUE(
      style_.MakeStyle(u"F1[0;1]+F2[1;3]+F3[6;4]+Unset[4;1],A[0;4]+B[1;2],C[9;1]+D[0;40]", true));
  Values().SetInt(u"F1", 1);
  Values().SetInt(u"F2", 5);    // bits 1 and 3
  Values().SetInt(u"F3", 0xF);  // bits 6 and 7; 8 and 9 fall off
  Values().SetInt(u"A", 15);
  Values().SetInt(u"B", 0);   // clears bits 1 and 2 again
  Values().SetInt(u"C", 1);   // beyond bit 7
  Values().SetInt(u"D", -1);  // an overlong count fills the byte
  EXPECT_EQ(Build(), (std::vector<uint8_t>{0xCB, 0x09, 0xFF}));
}

TEST_F(StyleBuildTest, PlusAndCrcChecksums) {
  // "plus" is not reduced; a [2h] field shows its low digits.
  ASSERT_TRUE(style_.MakeStyle(u"D[2b],Sum[2h]", true));
  ASSERT_TRUE(style_.SetChecksumRange(u"Sum", 0, 1, u"plus"));
  Values().SetBin(u"D", std::vector<uint8_t>{0xFF, 0xFF});
  EXPECT_EQ(Build(), Text("\xFF\377FE"));
  EXPECT_EQ(style_.GetInt(u"Sum"), 0x1FE);

  // The CRC goes into a big-endian num in sending order; computed here bit by bit.
  ASSERT_TRUE(style_.MakeStyle(u"0x01,0x03,0x00,0x00,0x00,0x01,Crc[2n]", true));
  ASSERT_TRUE(style_.SetChecksumRange(u"Crc", 0, 6, u"crc16-ibm"));
  uint16_t crc = 0xFFFF;
  for (uint8_t byte : {0x01, 0x03, 0x00, 0x00, 0x00, 0x01}) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  EXPECT_EQ(Build(), (std::vector<uint8_t>{1, 3, 0, 0, 0, 1, static_cast<uint8_t>(crc & 0xFF),
                                           static_cast<uint8_t>(crc >> 8)}));
}

class ConvertingStyle : public Style {
 public:
  using Style::Style;

 protected:
  void ChecksumToBytes(std::u16string_view, uint32_t checksum,
                       std::vector<uint8_t>& bytes) override {
    bytes = {static_cast<uint8_t>(checksum >> 8), static_cast<uint8_t>(checksum)};
  }
  int32_t ChecksumToInteger(std::u16string_view, uint32_t checksum) override {
    return static_cast<int32_t>(0x100 - (checksum & 0xFF));
  }
};

TEST_F(StyleBuildTest, ChecksumConversions) {
  // The Style's own bytes conversion gives nothing, so the field is padded with zeros.
  ASSERT_TRUE(style_.MakeStyle(u"0x31,0x32,Sum[3b]", true));
  ASSERT_TRUE(style_.SetChecksumRange(u"Sum", 0, 2, u"plus"));
  EXPECT_EQ(Build(), (std::vector<uint8_t>{0x31, 0x32, 0, 0, 0}));

  ConvertingStyle converting(platform_);
  std::vector<uint8_t> frame;
  ASSERT_TRUE(converting.MakeStyle(u"0x31,0x32,Sum[2b]", true));
  ASSERT_TRUE(converting.SetChecksumRange(u"Sum", 0, 2, u"plus"));
  ASSERT_TRUE(converting.BuildFrame(frame));
  EXPECT_EQ(frame, (std::vector<uint8_t>{0x31, 0x32, 0x00, 0x63}));  // 0x31 + 0x32
  ASSERT_TRUE(converting.MakeStyle(u"0x31,Neg[2h]", true));
  ASSERT_TRUE(converting.SetChecksumRange(u"Neg", 0, 1, u"plus"));
  ASSERT_TRUE(converting.BuildFrame(frame));
  EXPECT_EQ(frame, Text("1CF"));  // 0x100 - 0x31

  // A "dec" checksum variable keeps its old value; the message is shown once.
  ASSERT_TRUE(style_.MakeStyle(u"0x02,A[2h],Sum[3d]", true));
  ASSERT_TRUE(style_.SetChecksumRange(u"Sum", 0, 2, u"plus"));
  style_.SetInt(u"A", 0x10);
  style_.SetInt(u"Sum", 7);
  EXPECT_EQ(Build(), Text("\00210007"));
  EXPECT_EQ(Build(), Text("\00210007"));
  EXPECT_EQ(platform_.boxes,
            std::vector<std::u16string>{u"보낼 패킷의 체크섬 형식을 알 수 없습니다."});
}

TEST_F(StyleBuildTest, FailuresLeaveTheOutputEmpty) {
  std::vector<uint8_t> frame{1, 2, 3};
  ASSERT_TRUE(style_.MakeStyle(u"0x02,A[2h],S[L~4s],B[2b]", true));
  EXPECT_FALSE(style_.BuildFrame(frame));  // A has no value
  EXPECT_TRUE(frame.empty());
  style_.SetInt(u"A", 1);
  style_.SetStr(u"S", u"x");
  EXPECT_FALSE(style_.BuildFrame(frame));  // no length value under either name
  Values().SetInt(u"L", 1);
  EXPECT_FALSE(style_.BuildFrame(frame));  // B has no bytes
  Values().SetBin(u"B", std::vector<uint8_t>{7});
  EXPECT_EQ(Build(), (std::vector<uint8_t>{0x02, '0', '1', 'x', 7, 0}));
  ASSERT_TRUE(style_.SetRepeatRange(u"a:b", 1, 1));  // "start:a:b" does not split in two
  EXPECT_FALSE(style_.BuildFrame(frame));
  EXPECT_TRUE(frame.empty());

  ASSERT_TRUE(style_.MakeStyle(u"[2h]", true));  // no name, no key
  Values().SetInt(u"", 1);
  EXPECT_FALSE(style_.BuildFrame(frame));
  ASSERT_TRUE(style_.MakeStyle(u"S[100000s]", true));  // longer than any frame may grow
  style_.SetStr(u"S", u"x");
  EXPECT_FALSE(style_.BuildFrame(frame));
}

}  // namespace
}  // namespace qb
