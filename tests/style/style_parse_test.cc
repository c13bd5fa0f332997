// Parsing received frames: the three outcomes, the buffer left alone unless a frame matched, the
// error texts, every field format and checksums through the owner's hooks.
// A control byte before a digit is a three-digit octal escape: "\00201" is STX, "01".
#include <gtest/gtest.h>

#include "style/int_to_str.h"
#include "style/style.h"
#include "style/style_messages.h"
#include "style/style_parser.h"
#include "support/fake_platform.h"
#include "support/modbus_frames.h"

namespace qb {
namespace {

using test::Text;

constexpr std::u16string_view kReadAck =
    u"0x06,SlvAddr[2h],'r','S','S',BlocCnt[2h],DataCnt[2h],Data[DataCnt*2~4h],0x03,Bcc[2h]";

class StyleParseTest : public ::testing::Test {
 protected:
  void SetUp() override { detail::ResetStyleMessageFlags(); }

  void CompileReadAck(Style& style) {
    ASSERT_TRUE(style.MakeStyle(kReadAck, true));
    ASSERT_TRUE(style.SetChecksumRange(u"Bcc", 0, 9, u"plus"));
    ASSERT_TRUE(style.SetRepeatRange(u"BlocCnt", 6, 2));
  }
  // ACK, slave 01, rSS, the blocks as written, ETX and the BCC of all of it.
  static std::vector<uint8_t> ReadReply(const std::string& blocks) {
    return test::Summed("\00601rSS" + blocks + "\x03");
  }
  int Parse(const Style& style, std::vector<uint8_t>& buffer) {
    values_ = FrameValues();
    return ParseFrame(style, buffer, values_, owner_);
  }
  // The bytes must fail with exactly this text and stay as they were.
  void ExpectFailure(const Style& style, std::vector<uint8_t> bytes, std::u16string_view text) {
    const std::vector<uint8_t> before = bytes;
    EXPECT_EQ(Parse(style, bytes), kParseNoMatch);
    EXPECT_EQ(owner_.ParseErrorText(), text);
    EXPECT_EQ(bytes, before);
  }

  test::FakePlatform platform_;
  Style style_{platform_};
  StyleOwner owner_;
  FrameValues values_;
};

TEST_F(StyleParseTest, ReadReplyConsumesExactlyItsBytesAndEveryCutAsksForMore) {
  CompileReadAck(style_);
  const std::vector<uint8_t> frame = ReadReply("01021234");
  for (size_t cut = 0; cut < frame.size(); ++cut) {
    std::vector<uint8_t> buffer(frame.begin(), frame.begin() + static_cast<ptrdiff_t>(cut));
    const std::vector<uint8_t> before = buffer;
    EXPECT_EQ(Parse(style_, buffer), kParseNeedMore) << cut;
    EXPECT_EQ(buffer, before);
  }
  std::vector<uint8_t> buffer = frame;
  buffer.push_back(0x06);  // the start of the next frame stays
  ASSERT_EQ(Parse(style_, buffer), kParseMatched);
  EXPECT_EQ(buffer, std::vector<uint8_t>{0x06});
  EXPECT_EQ(values_.GetInt(u"SlvAddr"), 1);
  EXPECT_EQ(values_.GetInt(u"BlocCnt"), 1);
  EXPECT_EQ(values_.GetInt(u"DataCnt:0"), 2);
  EXPECT_EQ(values_.GetInt(u"Data:0"), 0x1234);
  EXPECT_TRUE(values_.IsNumber(u"Data:0"));
  EXPECT_EQ(values_.GetInt(u"Bcc"),
            static_cast<int32_t>(test::ByteSum(frame, 0, frame.size() - 2) & 0xFF));
  EXPECT_EQ(values_.TextCount(), 5u);
}

TEST_F(StyleParseTest, WrongBccLeadingByteAndLength) {
  CompileReadAck(style_);
  std::vector<uint8_t> frame = ReadReply("01021234");
  const uint32_t sum = test::ByteSum(frame, 0, frame.size() - 2) & 0xFF;
  const std::string wrong = test::Hex2(sum + 1);
  std::copy(wrong.begin(), wrong.end(), frame.end() - 2);
  ExpectFailure(style_, frame,
                u"* 체크섬이 틀립니다. 키이름=Bcc, 측정값=" +
                    IntToStr(static_cast<int32_t>(sum), 10, -1) + u", 정상값=" +
                    IntToStr(static_cast<int32_t>((sum + 1) & 0xFF), 10, -1));
  frame = ReadReply("01021234");
  frame[0] = 0x15;
  ExpectFailure(style_, frame,
                u"@63451 고정값이 일치하지 않음. 기대값=0x06, 측정값=0x15, UnitIdx=0, RoundIdx=-1");
  ExpectFailure(style_, ReadReply("0103123456"),
                u"@64223 데이터 길이가 예측과 다름. 키=Data:0, 내용=1234, 정상 길이=6");
}

TEST_F(StyleParseTest, FieldErrorTexts) {
  const struct {
    const char16_t* style;
    std::string bytes;
    const char16_t* text;
  } cases[] = {
      {u"0x02,S[~8s],0x03", std::string("\002a\0b\x03", 5),
       u"@25442 NULL 캐릭터가 올 수 없습니다. UnitIdx=1, RoundIdx=-1"},
      {u"0x02,S[~2s],0x03", "\002abc\x03",
       u"@63451 고정값이 일치하지 않음. 기대값=0x03, 측정값=0x63, UnitIdx=2, RoundIdx=-1"},
      {u"Data[Len~4s],0x03", "ab\x03",
       u"@79754 길이 정보를 얻을 수 없습니다. 길이 정보 키=Len, UnitIdx=0, RoundIdx=-1"},
      {u"L[1d],B[L*2~8b]", "5abcdefghij",
       u"@62323 길이가 예측과 다름. 키=B, 측정길이=8, 정상 길이=10"},
      {u"V~100[3d],W~255[2h]", "101FF", u"@95674 너무 큰 값을 만남 : V, 기준치=100, 들어온 값=101"},
      {u"[2h],0x03", "12\x03",
       u"@67435 변수명이 널스트링입니다(비트값이 아닌데도). UnitIdx=0, RoundIdx=-1"},
      // The units made before NR39 stay, and the open field then has no terminator.
      {u"0x02,A[~4s]", "\002ab",
       u"@96547 가변 데이터의 끝을 발견하지 못하고 끝났습니다. UnitIdx=1, RoundIdx=-1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.style));
    style_.MakeStyle(c.style, true);
    ExpectFailure(style_, Text(c.bytes), c.text);
  }
  ASSERT_TRUE(style_.MakeStyle(u"V~100[3d],W~255[2h]", true));
  std::vector<uint8_t> atTheMaximum = Text("100FF");
  EXPECT_EQ(Parse(style_, atTheMaximum), kParseMatched);
  ASSERT_TRUE(style_.MakeStyle(u"0x02,S[~8b],0x03", true));  // bytes may be zero
  std::vector<uint8_t> binary{0x02, 0x00, 0x01, 0x03};
  EXPECT_EQ(Parse(style_, binary), kParseMatched);
}

TEST_F(StyleParseTest, NumBitHexAndDecFields) {
  ASSERT_TRUE(style_.MakeStyle(
      u"0x01,W[2n],Six[6],F1[0;1]+F2[1;3]+F3[6;4]+F4[9;2],H[8h],P[6h],D[3d],V[3n]", true));
  std::vector<uint8_t> buffer =
      Text("\x01\x12\x34\xFF\xFF\xFF\xFF\xFF\xFE\31389ABCDEF0x1234-12\x01\x02");
  EXPECT_EQ(Parse(style_, buffer), kParseNeedMore);
  buffer.push_back(0x03);
  ASSERT_EQ(Parse(style_, buffer), kParseMatched);
  const std::pair<const char16_t*, int32_t> expected[] = {{u"W", 0x1234},
                                                          {u"Six", -2},
                                                          {u"F1", 1},
                                                          {u"F2", 5},
                                                          {u"F3", 3},
                                                          {u"F4", 0},
                                                          {u"H", static_cast<int32_t>(0x89ABCDEFu)},
                                                          {u"P", 0x1234},  // "0x" dropped
                                                          {u"D", -12},
                                                          {u"V", 0x010203}};
  for (const auto& [name, value] : expected) {
    EXPECT_EQ(values_.GetInt(name), value) << Utf16ToUtf8(name);
  }

  ASSERT_TRUE(style_.MakeStyle(u"W[2n],V[3n]", false));
  buffer = {0x12, 0x34, 0x01, 0x02, 0x03};
  ASSERT_EQ(Parse(style_, buffer), kParseMatched);
  EXPECT_EQ(values_.GetInt(u"W"), 0x3412);
  EXPECT_EQ(values_.GetInt(u"V"), 0x030201);
}

TEST_F(StyleParseTest, RangeTextErrors) {
  const struct {
    const char16_t* checksum;
    const char16_t* repeat;
    const char16_t* text;
  } cases[] = {{u"B:x", nullptr, u"* 체크섬 처리 내부 에러-1"},
               {u"B,x", nullptr, u"* 체크섬 처리 내부 에러-2"},
               {u"Nope", nullptr, u"*63476 체크섬 관련 내부 에러"},
               {nullptr, u"a:b", u"루프 처리 내부 에러-1"}};
  for (const auto& c : cases) {
    ASSERT_TRUE(style_.MakeStyle(u"0x02,A[1d],0x03", true));
    if (c.checksum) {
      ASSERT_TRUE(style_.SetChecksumRange(c.checksum, 0, 1, u"plus"));
    } else {
      ASSERT_TRUE(style_.SetRepeatRange(c.repeat, 1, 1));
    }
    ExpectFailure(style_, Text("\0021\x03"), c.text);
  }
}

// Records what the text hook was asked and answers as told; the binary hook compares big-endian.
class RecordingOwner : public StyleOwner {
 public:
  bool CompareTextChecksum(std::u16string_view, uint32_t computed, int32_t received) override {
    calls.emplace_back(computed, received);
    return textAnswer;
  }
  bool CompareBinaryChecksum(std::u16string_view, uint32_t computed,
                             std::span<const uint8_t> received) override {
    return received.size() == 2 && computed == (uint32_t{received[0]} << 8 | received[1]);
  }
  std::vector<std::pair<uint32_t, int32_t>> calls;
  bool textAnswer = true;
};

TEST_F(StyleParseTest, ChecksumHooksSeeTheValueCutToTheField) {
  // Two hex digits keep the low byte, three bytes the low 24 bits, dec is not cut. The Sum field
  // comes first in the last Style, so its comparison waits until the range has ended.
  const std::vector<uint8_t> frame{0xFF, 0xFF, 0xFF, 'F', 'D', 0x00, 0x02, 0xFD, '7', '6', '5'};
  RecordingOwner owner;
  for (const char16_t* variable : {u"H", u"N", u"Dec"}) {
    Style style(platform_);
    ASSERT_TRUE(style.MakeStyle(u"D[3b],H[2h],N[3n],Dec[3d]", true));
    ASSERT_TRUE(style.SetChecksumRange(variable, 0, 1, u"plus"));
    std::vector<uint8_t> buffer = frame;
    FrameValues values;
    EXPECT_EQ(ParseFrame(style, buffer, values, owner), kParseMatched);
  }
  EXPECT_EQ(owner.calls, (std::vector<std::pair<uint32_t, int32_t>>{
                             {0xFD, 0xFD}, {0x2FD, 0x2FD}, {0x2FD, 765}}));
  owner.textAnswer = false;
  ASSERT_TRUE(style_.MakeStyle(u"D[3b],H[2h]", true));
  ASSERT_TRUE(style_.SetChecksumRange(u"H", 0, 1, u"plus"));
  std::vector<uint8_t> buffer = frame;
  EXPECT_EQ(ParseFrame(style_, buffer, values_, owner), kParseNoMatch);
  EXPECT_EQ(owner.ParseErrorText(), u"* 체크섬이 틀립니다. 키이름=H, 측정값=253, 정상값=253");

  // A "bin" checksum field never matches with the built-in hook.
  ASSERT_TRUE(style_.MakeStyle(u"0x02,Sum[2b],A[2d],0x03", true));
  ASSERT_TRUE(style_.SetChecksumRange(u"Sum", 2, 1, u"plus"));
  const uint32_t sum = '4' + '2';
  const std::vector<uint8_t> binaryFrame{0x02, 0, static_cast<uint8_t>(sum), '4', '2', 0x03};
  ExpectFailure(style_, binaryFrame, u"* 바이너리 체크섬이 틀립니다. 키이름=Sum");
  buffer = binaryFrame;
  EXPECT_EQ(ParseFrame(style_, buffer, values_, owner), kParseMatched);
}

}  // namespace
}  // namespace qb
