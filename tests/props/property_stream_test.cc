// LoadStream: which damaged streams end cleanly and which fail, extension bytes, valueless kinds
// and nested streams. Streams are written out byte by byte from the record layout.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "props/property_map.h"

namespace qb {
namespace {

const CodePage kAscii("ANSI_X3.4-1968");

// Bytes given by value; text parts are appended as plain literals.
std::string B(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

ByteBuffer Buffer(const std::string& s) {
  return ByteBuffer(reinterpret_cast<const uint8_t*>(s.data()), static_cast<int32_t>(s.size()));
}

const std::string kExample =
    B({0x08, 0x09}) + "PkunitCnt" + B({0x01}) + "2" + B({0x23, 0x01}) + "N" + B({5, 0, 0, 0});

bool Load(PropertyMap& m, const std::string& stream) {
  return m.LoadStream(Buffer(stream), kAscii);
}

TEST(PropertyStreamTest, CutStreamsEndCleanlyOrFailByWhereTheyAreCut) {
  struct Case {
    std::string tail;  // appended after the valid example records
    bool ok;
  };
  const std::vector<Case> cases = {
      {B({0x08}), true},                                          // name length missing
      {B({0x08, 5, 'a', 'b'}), true},                             // name cut short
      {B({0x08, 1, 'a'}), true},                                  // text length missing
      {B({0x0C, 1, 'a', 1, 0}), true},                            // 4-byte length cut short
      {B({0x08, 1, 'a', 5}) + "abc", true},                       // text cut short
      {B({0x0C, 1, 'a', 0xFF, 0xFF, 0xFF, 0xFF}) + "abc", true},  // length far beyond the end
      {B({0x00, 1, 'a', 5}) + "abc", false},                      // raw data cut short
      {B({0x04, 1, 'a', 0xFF, 0xFF, 0xFF, 0x7F}) + "abc", false},
      {B({0x04, 1, 'a', 0xFF, 0xFF, 0xFF, 0xFF}) + "abc", false},
      {B({0x23, 1, 'a', 1, 2}), false},       // integer cut short
      {B({0x40, 1, 'a'}), false},             // name-table form
      {B({0x62, 1, 'a'}), false},             // name-table form wins over the fixed-size kind
      {B({0x22, 1, 'a'}), false},             // fixed-size kind 2
      {B({0x08, 0, 1, 'q'}), false},          // empty name
      {B({0x08, 2, 0, 'b', 1, 'q'}), false},  // name empty at its zero byte
      {B({0x88, 1, 'a'}), false},             // extension byte missing
  };
  for (const Case& c : cases) {
    PropertyMap m;
    EXPECT_EQ(Load(m, kExample + c.tail), c.ok) << testing::PrintToString(c.tail);
    EXPECT_EQ(m.Count(), 2u) << testing::PrintToString(c.tail);  // earlier records stay
    EXPECT_EQ(m.GetInt(u"N", 0), 5);
  }
}

TEST(PropertyStreamTest, SkipsExtensionBytesAndValuelessKinds) {
  PropertyMap m;
  // 0x21 and 0x20 store nothing; 0xA3 is an integer record with two extension bytes.
  ASSERT_TRUE(
      Load(m, B({0x21, 1, 'a', 0x20, 1, 'b', 0xA3, 1, 'c', 0x81, 0x7F, 7, 0, 0, 0}) + kExample));
  EXPECT_EQ(m.Count(), 3u);
  EXPECT_EQ(m.Find(u"a"), nullptr);
  EXPECT_EQ(m.GetInt(u"c", 0), 7);

  const std::string head = B({0x88, 1, 'e'});
  const std::string value = B({1, 'v'});
  EXPECT_TRUE(Load(m, head + std::string(254, '\x80') + B({0}) + value));  // 255 of them
  EXPECT_EQ(m.GetStr(u"e"), u"v");
  EXPECT_FALSE(Load(m, head + std::string(255, '\x80') + B({0}) + value));  // 256 of them
  EXPECT_EQ(m.Count(), 0u);
}

TEST(PropertyStreamTest, NestedStreamsAndCodePageText) {
  const std::string inner = B({0x08, 8}) + "PaktName" + B({3}) + "Req";
  PropertyMap outer;
  ASSERT_TRUE(Load(
      outer, B({0x00, 7}) + "Pkunit0" + B({static_cast<int>(inner.size())}) + inner + kExample));
  ByteBuffer unitBytes;
  ASSERT_TRUE(outer.GetBin(u"Pkunit0", unitBytes));
  PropertyMap unit;
  ASSERT_TRUE(unit.LoadStream(unitBytes, kAscii));
  EXPECT_EQ(unit.GetStr(u"PaktName"), u"Req");
  // A map may be refilled from a stream it holds itself.
  ASSERT_TRUE(outer.LoadStream(outer.Find(u"Pkunit0")->bytes, kAscii));
  EXPECT_EQ(outer.GetStr(u"PaktName"), u"Req");
  EXPECT_EQ(outer.Count(), 1u);

  const CodePage korean("CP949");
  if (korean.Name() != "CP949") GTEST_SKIP() << "iconv has no CP949";
  PropertyMap m;
  ASSERT_TRUE(m.LoadStream(Buffer(B({0x08, 2, 0xB0, 0xA1, 2, 0xB0, 0xA1})), korean));
  EXPECT_EQ(m.GetStr(u"가"), u"가");
}

}  // namespace
}  // namespace qb
