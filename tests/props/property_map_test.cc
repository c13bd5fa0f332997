// PropertyMap gets and sets: kind replacement with text/integer conversions, alternative key
// lists, and copies that share their values until one side changes.
#include "props/property_map.h"

#include <gtest/gtest.h>

#include <vector>

namespace qb {
namespace {

TEST(PropertyMapTest, EverySetReplacesTheKind) {
  PropertyMap m;
  m.SetInt(u"k", 3);
  m.SetStr(u"k", u"17 apples");
  EXPECT_EQ(m.GetStr(u"k"), u"17 apples");
  EXPECT_EQ(m.GetInt(u"k", 0), 17);
  m.SetStr(u"k", u"\t-7x");
  EXPECT_EQ(m.GetInt(u"k", 0), -7);

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

TEST(PropertyMapTest, CopiesChangeApart) {
  PropertyMap original;
  original.SetStr(u"t", u"text");
  original.SetInt(u"i", 1);
  PropertyMap copy(original);
  const PropertyNode* shared = original.Find(u"t");
  EXPECT_EQ(copy.Find(u"t"), shared);
  copy.SetInt(u"i", 1);  // the same value: still shared
  EXPECT_EQ(copy.Find(u"t"), shared);
  copy.SetStr(u"t", copy.Find(u"t")->text + u"!");
  copy.SetInt(u"i", 2);
  EXPECT_EQ(original.GetStr(u"t"), u"text");
  EXPECT_EQ(original.GetInt(u"i", 0), 1);
  EXPECT_EQ(copy.GetStr(u"t"), u"text!");
  original.RemoveAll();
  EXPECT_EQ(copy.Count(), 2u);
  const WideKeySet onlyT{u"t"};
  original.Assign(copy, &onlyT);
  original.SetStr(u"t", u"own");
  EXPECT_EQ(copy.GetStr(u"t"), u"text!");
  EXPECT_EQ(original.Count(), 1u);
}

}  // namespace
}  // namespace qb
