// Building frames: every format's emission rule, repeat and checksum ranges, the checksum
// conversions and IntToStr. Expected frames are written out by hand; checksums are recomputed here.
// A control byte before a digit is a three-digit octal escape: "\00201" is STX, "01".
#include <gtest/gtest.h>

#include "style/int_to_str.h"
#include "style/style.h"
#include "style/style_messages.h"
#include "support/fake_platform.h"
#include "support/modbus_frames.h"

namespace qb {
namespace {

using test::Text;

TEST(IntToStrTest, RadixWidthAndSign) {
  EXPECT_EQ(IntToStr(10, 16, 2), u"0A");
  EXPECT_EQ(IntToStr(123, 10, 2), u"23");
  EXPECT_EQ(IntToStr(-5, 10, 2), u"-05");
  EXPECT_EQ(IntToStr(-1, 16, 2), u"FF");
  EXPECT_EQ(IntToStr(-1, 16, -1), u"FFFFFFFF");
  EXPECT_EQ(IntToStr(-2147483647 - 1, 10, -1), u"-2147483648");
  EXPECT_EQ(IntToStr(5, 2, -1), u"101");
  EXPECT_EQ(IntToStr(7, 10, 0), u"");
  EXPECT_EQ(IntToStr(1, 10, 20), u"00000000000000001");  // sixteen zeros, then the digits
}

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

TEST_F(StyleBuildTest, NumberFields) {
  ASSERT_TRUE(
      style_.MakeStyle(u"0x05,SlvAddr[2h],N[3d],Neg[2d],Wide[12h],W[2n],Six[6],Lim~16[2h]", true));
  style_.SetInt(u"SlvAddr", 1);
  style_.SetInt(u"N", 1234);
  style_.SetInt(u"Neg", -5);
  style_.SetInt(u"Wide", 0x1ABCDEF);  // the width stops at 8 digits
  style_.SetInt(u"W", 0x1234);
  style_.SetInt(u"Six", -2);
  style_.SetInt(u"Lim", 20);  // above the maximum: the maximum is sent
  EXPECT_EQ(Build(), Text("\00501234-0501ABCDEF\x12\x34\xFF\xFF\xFF\xFF\xFF\37610"));
  style_.SetInt(u"SlvAddr", 0x1FF);
  EXPECT_EQ(Build()[2], 'F');

  ASSERT_TRUE(style_.MakeStyle(u"W[2n],Six[6],Nine[9n]", false));
  style_.SetInt(u"Six", 0x01020304);
  style_.SetInt(u"Nine", -3);
  EXPECT_EQ(Build(), (std::vector<uint8_t>{0x34, 0x12, 4, 3, 2, 1, 0, 0, 0xFD, 0xFF, 0xFF, 0xFF,
                                           0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST_F(StyleBuildTest, MaximumLimitsTheFieldButNotTheRepeatCount) {
  ASSERT_TRUE(style_.MakeStyle(u"BlocCnt~16[2h],SpecLen[2h],Spec[SpecLen~16s]", true));
  ASSERT_TRUE(style_.SetRepeatRange(u"BlocCnt", 1, 2));
  style_.SetInt(u"BlocCnt", 20);
  std::string expected = "10";
  for (int r = 0; r < 20; ++r) {
    const std::string device = "B" + std::to_string(r);
    style_.SetInt(u"SpecLen:" + IntToStr(r, 10, -1), static_cast<int32_t>(device.size()));
    style_.SetStr(u"Spec:" + IntToStr(r, 10, -1), test::U16(device));
    expected += test::Hex2(static_cast<uint32_t>(device.size())) + device;
  }
  EXPECT_EQ(Build(), Text(expected));
}

TEST_F(StyleBuildTest, TextAndBinaryLengths) {
  ASSERT_TRUE(style_.MakeStyle(
      u"Spec[SpecLen~16s],Fix[4s],Open[~4s],0x03,Cut[L*2~3s],B[4b],OpenB[~4b],0x03,Exp[L~8b]",
      true));
  ASSERT_TRUE(style_.SetRepeatRange(u"2", 0, 1));
  Values().SetInt(u"SpecLen:0", 20);  // limited to 16
  Values().SetInt(u"SpecLen", 2);     // round 1 has no SpecLen:1 and falls back to this
  style_.SetStr(u"Spec:0", u"ABCDE");
  style_.SetStr(u"Spec:1", u"wxyz");
  style_.SetStr(u"Fix", u"ab");
  style_.SetStr(u"Open", u"ab");
  Values().SetInt(u"L", 1);
  style_.SetStr(u"Cut", u"\u0141xyz");  // a character keeps its low 8 bits
  Values().SetBin(u"B", std::vector<uint8_t>{0xAA, 0x00});
  Values().SetBin(u"OpenB", std::vector<uint8_t>{1, 2});
  Values().SetBin(u"Exp", std::vector<uint8_t>{9, 8});
  EXPECT_EQ(Build(),
            Text(std::string("ABCDE           wxab  ab\003Ax\xAA\0\0\0\x01\x02\x03\x09", 35)));
  Values().SetInt(u"L", 5);  // Cut: 10 limited to 3; Exp: 2 bytes and 3 zeros
  EXPECT_EQ(Build().size(), 35u + 1u + 4u);
  Values().SetInt(u"L", -1);  // a negative length sends nothing
  EXPECT_EQ(Build().size(), 35u - 2u - 1u);
}

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

TEST_F(StyleBuildTest, RepeatCounts) {
  ASSERT_TRUE(style_.MakeStyle(u"V[1d],0x3B", true));
  ASSERT_TRUE(style_.SetRepeatRange(u"Cnt", 0, 1));
  for (int i = 0; i < 3; ++i) Values().SetInt(u"V:" + IntToStr(i, 10, -1), i);
  // 0 and below build the group once, with index 0.
  for (const auto& [count, frame] : {std::pair{0, "0;"}, {3, "012;"}, {-4, "0;"}}) {
    Values().SetInt(u"Cnt", count);
    EXPECT_EQ(Build(), Text(frame)) << count;
  }
}

TEST_F(StyleBuildTest, ReadRequestOfOneBlockWithItsBcc) {
  ASSERT_TRUE(style_.MakeStyle(
      u"0x05,SlvAddr[2h],'r','S','S',BlocCnt~16[2h],SpecLen[2h],Spec[SpecLen~16s],0x04,Bcc[2h]",
      true));
  ASSERT_TRUE(style_.SetChecksumRange(u"Bcc", 0, 9, u"plus"));
  ASSERT_TRUE(style_.SetRepeatRange(u"BlocCnt", 6, 2));
  style_.SetInt(u"SlvAddr", 1);
  style_.SetInt(u"BlocCnt", 1);
  style_.SetInt(u"SpecLen:0", 7);
  style_.SetStr(u"Spec:0", u"%MW0100");
  std::vector<uint8_t> expected = Text("\00501rSS0107%MW0100\x04");
  const uint32_t sum = test::ByteSum(expected, 0, expected.size());
  test::AppendSumDigits(expected);
  EXPECT_EQ(Build(), expected);
  EXPECT_EQ(style_.GetInt(u"Bcc"), static_cast<int32_t>(sum));  // the whole sum, not the low byte
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
