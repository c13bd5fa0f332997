// ByteBuffer: copies, appends from itself across a growth, and text in a code page.
#include "props/byte_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace qb {
namespace {

std::vector<uint8_t> Content(const ByteBuffer& b) { return {b.Bytes().begin(), b.Bytes().end()}; }

TEST(ByteBufferTest, CopiesAndSelfAppends) {
  const uint8_t src[] = {1, 2, 3};
  ByteBuffer a(src, 3);
  ByteBuffer copy(a);
  a.Append(src, 1);
  EXPECT_EQ(Content(copy), (std::vector<uint8_t>{1, 2, 3}));
  const ByteBuffer& alias = copy;
  copy = alias;  // self-assignment keeps the content
  EXPECT_EQ(copy.Length(), 3);
  EXPECT_TRUE(copy.Assign(a));
  EXPECT_EQ(Content(copy), (std::vector<uint8_t>{1, 2, 3, 1}));
  ByteBuffer moved(std::move(copy));
  EXPECT_EQ(moved.Length(), 4);

  // Appending from itself across a growth reads the old block before it is released.
  ByteBuffer self;
  ASSERT_TRUE(self.Create(4, 1));
  self.Append(src, 3);
  EXPECT_TRUE(self.AppendFrom(self, 1, -1));
  EXPECT_TRUE(self.AppendFrom(self, 0, -1));
  EXPECT_EQ(Content(self), (std::vector<uint8_t>{1, 2, 3, 2, 3, 1, 2, 3, 2, 3}));
  EXPECT_TRUE(self.AppendFrom(self, 10, -1));  // nothing left from the end: no-op
  EXPECT_EQ(self.Length(), 10);
}

TEST(ByteBufferTest, SetFromTextUsesTheCodePage) {
  ByteBuffer b(reinterpret_cast<const uint8_t*>("old"), 3);
  b.SetFromText(u"Az", CodePage("ANSI_X3.4-1968"));
  EXPECT_EQ(Content(b), (std::vector<uint8_t>{'A', 'z'}));
  const CodePage korean("CP949");
  if (korean.Name() != "CP949") GTEST_SKIP() << "iconv has no CP949";
  b.SetFromText(u"가A", korean);  // U+AC00 is B0 A1 in the Korean code page
  EXPECT_EQ(Content(b), (std::vector<uint8_t>{0xB0, 0xA1, 'A'}));
}

}  // namespace
}  // namespace qb
