// PropertyMap gets and sets: text/integer conversions, kind replacement, alternative key lists and
// filtered copies.
#include "props/property_map.h"

#include <gtest/gtest.h>

#include <vector>

namespace qb {
namespace {

TEST(PropertyMapTest, GetConvertsBetweenTextAndInteger) {
  PropertyMap m;
  m.SetInt(u"neg", -12);
  m.SetInt(u"min", INT32_MIN);
  std::u16string s = u"stale";
  EXPECT_TRUE(m.GetStr(u"neg", s));
  EXPECT_EQ(s, u"-12");
  EXPECT_EQ(m.GetStr(u"min"), u"-2147483648");

  const std::vector<std::pair<std::u16string, int32_t>> reads = {{u" 42abc", 42},
                                                                 {u"abc", 0},
                                                                 {u"", 0},
                                                                 {u"\t+15", 15},
                                                                 {u"-7x", -7},
                                                                 {u"- 5", 0},
                                                                 {u"1 2", 1},
                                                                 {u"--3", 0},
                                                                 {u"99999999999", INT32_MAX},
                                                                 {u"-2147483648", INT32_MIN},
                                                                 {u"-99999999999", INT32_MIN}};
  for (const auto& [text, expected] : reads) {
    m.SetStr(u"t", text);
    int32_t value = 777;
    EXPECT_TRUE(m.GetInt(u"t", &value)) << std::string(text.begin(), text.end());
    EXPECT_EQ(value, expected) << std::string(text.begin(), text.end());
  }

  m.SetBin(u"bin", reinterpret_cast<const uint8_t*>("xy"), 2);
  s = u"stale";
  EXPECT_FALSE(m.GetStr(u"bin", s));
  EXPECT_EQ(s, u"");
  int32_t untouched = 55;
  EXPECT_FALSE(m.GetInt(u"bin", &untouched));
  EXPECT_FALSE(m.GetInt(u"missing", &untouched));
  EXPECT_EQ(untouched, 55);
  EXPECT_EQ(m.GetInt(u"missing", 9), 9);
  EXPECT_EQ(m.GetInt(u"neg", 9), -12);
  EXPECT_EQ(m.GetStr(u"NEG"), u"");  // keys are case-sensitive
}

TEST(PropertyMapTest, EverySetReplacesTheKind) {
  PropertyMap m;
  m.SetInt(u"k", 3);
  m.SetStr(u"k", u"17 apples");
  EXPECT_EQ(m.GetStr(u"k"), u"17 apples");
  EXPECT_EQ(m.GetInt(u"k", 0), 17);

  const uint8_t raw[] = {0, 1, 2};
  m.SetBin(u"k", raw, 3);
  ByteBuffer out(raw, 1);
  EXPECT_FALSE(m.GetInt(u"k", nullptr));
  EXPECT_TRUE(m.GetBin(u"k", out));
  EXPECT_EQ(out.Length(), 3);
  EXPECT_EQ(out.Data()[2], 2);
  out.Append(raw, 1);  // the node keeps its own copy
  EXPECT_EQ(m.Find(u"k")->bytes.Length(), 3);

  m.SetIntAsStr(u"k", -30);
  EXPECT_EQ(m.Find(u"k")->kind, PropertyNode::kText);
  EXPECT_EQ(m.Find(u"k")->text, u"-30");
  EXPECT_FALSE(m.GetBin(u"k", out));
  EXPECT_EQ(out.Length(), 4);  // untouched
  m.SetInt(u"k", 8);
  EXPECT_EQ(m.Find(u"k")->kind, PropertyNode::kInteger);
  EXPECT_EQ(m.Count(), 1u);

  m.SetStr8(u"8", "plain", CodePage("ANSI_X3.4-1968"));
  EXPECT_EQ(m.GetStr(u"8"), u"plain");
  const CodePage korean("CP949");
  if (korean.Name() != "CP949") GTEST_SKIP() << "iconv has no CP949";
  m.SetStr8(u"8", "\xB0\xA1", korean);
  EXPECT_EQ(m.GetStr(u"8"), u"가");
}

TEST(PropertyMapTest, SeparatorListsTryEachAlternative) {
  PropertyMap m;
  m.SetStr(u"B", u"b");
  m.SetStr(u"C", u"c");
  m.SetInt(u"", 4);
  m.SetBin(u"Raw", reinterpret_cast<const uint8_t*>("r"), 1);
  EXPECT_EQ(m.GetStr(u"A;B;C", u';'), u"b");
  EXPECT_EQ(m.GetStr(u"C;B", u';'), u"c");
  EXPECT_EQ(m.GetStr(u"Raw;C", u';'), u"c");  // a bytes node does not answer a text get
  EXPECT_EQ(m.GetStr(u"A;B", 0), u"");        // without a separator the list is one key
  EXPECT_EQ(m.GetInt(u"X;;B", -1, u';'), 4);  // an empty part inside the list stays
  EXPECT_EQ(m.GetInt(u"X;", -1, u';'), -1);   // an empty last part is dropped
  EXPECT_EQ(m.GetInt(u"", -1, u';'), -1);
  EXPECT_EQ(m.GetInt(u"", -1), 4);
  ByteBuffer out;
  EXPECT_TRUE(m.GetBin(u"B|Raw", out, u'|'));
  EXPECT_EQ(out.Length(), 1);
}

TEST(PropertyMapTest, AssignCopiesTheSelectedNodes) {
  PropertyMap src;
  src.SetStr(u"a", u"1");
  src.SetInt(u"b", 2);
  src.SetBin(u"c", reinterpret_cast<const uint8_t*>("3"), 1);
  PropertyMap dst;
  dst.SetInt(u"old", 1);
  const WideKeySet include = {u"a", u"c", u"zz"};
  const WideKeySet exclude = {u"c"};
  dst.Assign(src, &include, &exclude);
  EXPECT_EQ(dst.Count(), 1u);
  EXPECT_EQ(dst.GetStr(u"a"), u"1");
  dst.Assign(src, nullptr, &exclude);
  EXPECT_EQ(dst.Count(), 2u);
  EXPECT_EQ(dst.GetInt(u"b", 0), 2);

  PropertyMap copy(src);
  src.SetStr(u"a", u"changed");
  src.Assign(src, &exclude);  // a map filtered into itself
  EXPECT_EQ(src.Count(), 1u);
  ASSERT_NE(src.Find(u"c"), nullptr);
  EXPECT_EQ(src.Find(u"c")->name, u"c");
  EXPECT_EQ(copy.GetStr(u"a"), u"1");
  EXPECT_EQ(copy.Find(u"c")->bytes.Data()[0], '3');
  copy.RemoveAll();
  EXPECT_EQ(copy.Count(), 0u);
}

}  // namespace
}  // namespace qb
