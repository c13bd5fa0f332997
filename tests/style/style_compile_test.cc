// Compilation of Style texts: named items, length errors and their messages, declared names, copies
// of a Style, and the value table.
#include <gtest/gtest.h>

#include "style/style.h"
#include "style/style_messages.h"
#include "support/fake_platform.h"

namespace qb {
namespace {

class StyleCompileTest : public ::testing::Test {
 protected:
  void SetUp() override { detail::ResetStyleMessageFlags(); }
  const StyleUnit& Unit(int i) { return *style_.GetUnit(i); }

  test::FakePlatform platform_;
  Style style_{platform_};
};

TEST_F(StyleCompileTest, NamedItems) {
  ASSERT_TRUE(style_.MakeStyle(
      u"BlocCnt~16[2h], Spec[SpecLen~16s] ,,A[3d],B[ 4h ],C[5s],D[6b],Name[2],F[2x],Cnt,Lim~9,"
      u"Data[DataCnt*2~4h],Len~[2h],Open[~200s],0x03",
      false));
  const struct {
    const char16_t* name;
    UnitFormat format;
    int32_t length;
    int32_t maxValue;
    const char16_t* lengthVariable;
  } expected[] = {{u"BlocCnt", UnitFormat::kHex, 2, 16, u""},
                  {u"Spec", UnitFormat::kStr, 16, -1, u"SpecLen"},
                  {u"A", UnitFormat::kDec, 3, -1, u""},
                  {u"B", UnitFormat::kHex, 4, -1, u""},
                  {u"C", UnitFormat::kStr, 5, -1, u""},
                  {u"D", UnitFormat::kBin, 6, -1, u""},
                  {u"Name", UnitFormat::kNum, 2, -1, u""},
                  {u"F", UnitFormat::kNum, 2, -1, u""},  // "x" is no format letter
                  {u"Cnt", UnitFormat::kNum, 1, -1, u""},
                  {u"Lim", UnitFormat::kNum, 1, 9, u""},
                  {u"Data", UnitFormat::kHex, 4, -1, u"DataCnt*2"},
                  {u"Len", UnitFormat::kHex, 2, 0, u""},
                  {u"Open", UnitFormat::kStr, 200, -1, u""}};
  ASSERT_EQ(style_.UnitCount(), 14);
  for (int i = 0; i < 13; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(Unit(i).unitType, UnitType::kVar);
    EXPECT_EQ(Unit(i).name, expected[i].name);
    EXPECT_EQ(Unit(i).format, expected[i].format);
    EXPECT_EQ(Unit(i).length, expected[i].length);
    EXPECT_EQ(Unit(i).maxValue, expected[i].maxValue);
    EXPECT_EQ(Unit(i).lengthVariable, expected[i].lengthVariable);
    EXPECT_EQ(Unit(i).variableLength, i == 1 || i == 10 || i == 12);
    EXPECT_FALSE(Unit(i).bigEndian);
    EXPECT_EQ(Unit(i).owner, &style_);
  }
  EXPECT_TRUE(style_.IsDeclared(u"BlocCnt"));
  EXPECT_FALSE(style_.IsDeclared(u"SpecLen"));  // a length variable is not a unit
  EXPECT_TRUE(platform_.boxes.empty());
}

TEST_F(StyleCompileTest, LengthErrorsShowTheirMessageEveryTime) {
  const struct {
    const char16_t* text;
    const char16_t* message;  // null: no message
    int unitsKept;
  } cases[] = {
      {u"0x05,Name[h]",
       u"길이는 숫자이든지 혹은 변수일 경우 ~과 최대 길이값이 붙여져야 합니다\r\n\r\nName[h]", 1},
      {u"A[ ]", u"길이가 널스트링입니다\r\n\r\nA[ ]", 0},
      {u"0x02,A[2h],Spec[SpecLen~0s]",
       u"~ 다음에 0보다 큰 최대 길이를 지정해야 합니다.\r\n\r\nSpec[SpecLen~0s]", 2},
      {u"Spec[1Len~4s]", u"길이변수는 알파벳으로 시작해야 합니다.\r\n\r\nSpec[1Len~4s]", 0},
      {u"0x05,Name2h]", nullptr, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.text));
    for (int round = 0; round < 2; ++round) {
      platform_.boxes.clear();
      EXPECT_FALSE(style_.MakeStyle(c.text, true));
      EXPECT_EQ(platform_.boxes.size(), c.message ? 1u : 0u);
      if (c.message != nullptr) {
        EXPECT_EQ(platform_.boxes[0], c.message);
      }
      EXPECT_EQ(style_.UnitCount(), c.unitsKept);
    }
  }
}

TEST_F(StyleCompileTest, OpenFieldMustBeFollowedByAFixedItemShownOnce) {
  EXPECT_TRUE(style_.MakeStyle(u"A[~4s],'x',B[~4s],3,C[L~4s],D[2h]", true));
  EXPECT_FALSE(style_.MakeStyle(u"A[~10s], B[2h] ,0x03", true));
  EXPECT_EQ(style_.UnitCount(), 1);
  EXPECT_FALSE(style_.MakeStyle(u"A[~10s],F1[0;1]+F2[1;1]", true));  // bit items are named too
  EXPECT_FALSE(style_.MakeStyle(u"0x02,A[~10s]", true));
  EXPECT_EQ(style_.UnitCount(), 2);
  EXPECT_FALSE(style_.MakeStyle(u"A[~10s]", true));
  EXPECT_EQ(
      platform_.boxes,
      (std::vector<std::u16string>{
          u"MakeStyle Error HJ34 : B[2h]\r\n\r\n길이 가변형 문자열 다음에는 변수가 아닌 고정값이 "
          u"와야함",
          u"MakeStyle Error NR39: 길이 가변형 다음에는 고정값이 반드시 와야함"}));
}

TEST_F(StyleCompileTest, SetIntAndSetStrAcceptOnlyDeclaredNames) {
  ASSERT_TRUE(style_.MakeStyle(u"Spec[2s],N[2h]", true));
  style_.SetInt(u"Spec:2", 7);
  EXPECT_EQ(style_.GetStr(u"Spec:2"), u"7");
  EXPECT_TRUE(style_.Values().IsNumber(u"Spec:2"));
  style_.SetInt(u"Nope", 1);
  style_.SetInt(u"Spe:1", 1);
  style_.SetStr(u"Nope:1", u"x");
  style_.SetStr(u"Other", u"x");
  bool found = true;
  style_.GetInt(u"Nope", &found);
  EXPECT_FALSE(found);
  EXPECT_EQ(style_.Values().TextCount(), 1u);
  EXPECT_EQ(platform_.boxes,
            (std::vector<std::u16string>{u"[SetInt 오류] 정의되지 않은 변수명입니다: 'Nope'",
                                         u"[SetStr 오류] 정의되지 않은 변수명입니다: 'Nope:1'"}));
  ASSERT_TRUE(style_.MakeStyle(u"B[2h]", true));  // recompiling keeps the values
  EXPECT_EQ(style_.GetInt(u"Spec:2"), 7);
  EXPECT_FALSE(style_.IsDeclared(u"N"));
}

TEST_F(StyleCompileTest, CopyFromTakesUnitsAndOptionallyValues) {
  Style source(platform_);
  ASSERT_TRUE(source.MakeStyle(u"0x06,A[2h],B[~4s],0x03", true));
  ASSERT_TRUE(source.SetChecksumRange(u"A", 0, 2, u"xor"));
  source.SetReplyNames(u"LSMK", u"READ_ACK");
  source.SetInt(u"A", 3);
  ASSERT_TRUE(style_.MakeStyle(u"C[2h]", false));
  style_.SetInt(u"C", 9);

  Style empty(platform_);
  style_.CopyFrom(empty, true);  // no units: nothing changes
  EXPECT_EQ(style_.GetInt(u"C"), 9);
  style_.CopyFrom(source, false);
  ASSERT_EQ(style_.UnitCount(), 4);
  EXPECT_EQ(Unit(0).checksumStart, u"start:A,xor");
  EXPECT_EQ(Unit(2).owner, &style_);
  EXPECT_EQ(style_.ReplyKind() + style_.ReplyName(), u"LSMKREAD_ACK");
  EXPECT_EQ(style_.Text(), u"C[2h]");
  EXPECT_TRUE(style_.IsDeclared(u"C") && !style_.IsDeclared(u"A"));
  EXPECT_EQ(style_.GetInt(u"C"), 9);
  style_.CopyFrom(source, true);
  EXPECT_EQ(style_.Values().FindStr(u"C"), nullptr);
  EXPECT_EQ(style_.GetInt(u"A"), 3);
}

TEST(FrameValuesTest, TextsMarksAndCopyRules) {
  FrameValues own;
  own.SetInt(u"Marked", -12);
  own.SetStr(u"Marked", u" 42abc");
  EXPECT_TRUE(own.IsNumber(u"Marked"));  // SetStr leaves the mark
  EXPECT_EQ(own.GetInt(u"Marked"), 42);
  own.SetBin(u"Gone", std::vector<uint8_t>{1});
  own.SetTextArray(u"Arr", {u"a"});
  FrameValues other;
  other.SetInt(u"Num", -2147483647 - 1);
  other.SetBin(u"Bin", std::vector<uint8_t>{3, 4});

  own.CopyFrom(other, false);
  EXPECT_EQ(own.TextCount(), 1u);
  EXPECT_EQ(own.GetStr(u"Num"), u"-2147483648");
  EXPECT_FALSE(own.IsNumber(u"Num"));    // marks are not copied ...
  EXPECT_TRUE(own.IsNumber(u"Marked"));  // ... and the own ones stay for a later text
  EXPECT_NE(own.FindTextArray(u"Arr"), nullptr);
  EXPECT_NE(own.FindBin(u"Gone"), nullptr);
  own.CopyFrom(other, true);
  std::vector<uint8_t> bytes{9};
  EXPECT_FALSE(own.GetBin(u"Gone", bytes));
  EXPECT_EQ(bytes, std::vector<uint8_t>{9});  // untouched on a miss
  EXPECT_TRUE(own.GetBin(u"Bin", bytes));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{3, 4}));
}

}  // namespace
}  // namespace qb
