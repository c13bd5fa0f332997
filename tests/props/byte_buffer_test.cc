// ByteBuffer: exact growth sizes, bounds of reads and appends, and that failures change nothing.
#include "props/byte_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace qb {
namespace {

std::vector<uint8_t> Content(const ByteBuffer& b) { return {b.Bytes().begin(), b.Bytes().end()}; }

TEST(ByteBufferTest, GrowsByWholeStepsThenByQuarterOfCapacity) {
  const std::vector<uint8_t> bytes(700, 0xAB);
  // {create size, create step, appended, capacity after, step after}; size 0: not created.
  const int32_t cases[][5] = {
      {0, 0, 300, 512, 128},  // ceil(300/256) steps of 256
      {0, 0, 512, 512, 128},  // a whole number of steps: no extra step
      {10, 3, 11, 13, 3},     // 10 + ceil(1/3)*3; 13/4
      {100, 0, 30, 100, 25},  // a step of 0 is a quarter
      {3, -5, 4, 4, 1},       // 3/4 rounds to 0, at least 1
  };
  for (const auto& c : cases) {
    ByteBuffer b;
    if (c[0] > 0) ASSERT_TRUE(b.Create(c[0], c[1]));
    EXPECT_TRUE(b.Append(bytes.data(), c[2]));
    EXPECT_EQ(b.Capacity(), c[3]) << c[0] << "," << c[2];
    EXPECT_EQ(b.GrowStep(), c[4]) << c[0] << "," << c[2];
  }
  ByteBuffer b;
  ASSERT_TRUE(b.Append(bytes.data(), 512));
  EXPECT_TRUE(b.Append(bytes.data(), 300));  // 512 + ceil(300/128)*128
  EXPECT_EQ(b.Capacity(), 896);
  EXPECT_EQ(b.Length(), 812);
  b.Free();  // keeps the step
  EXPECT_EQ(b.Data(), nullptr);
  EXPECT_EQ(b.GrowStep(), 224);
}

TEST(ByteBufferTest, FailuresLeaveTheBufferUnchanged) {
  const uint8_t abc[] = {'a', 'b', 'c'};
  ByteBuffer b(abc, 3);
  EXPECT_FALSE(b.Create(0, 4));
  EXPECT_FALSE(b.Create(-1, 4));
  EXPECT_FALSE(b.Append(abc, -1));
  EXPECT_TRUE(b.Append(nullptr, 0));
  ByteBuffer tiny;
  ASSERT_TRUE(tiny.Create(1, std::numeric_limits<int32_t>::max()));
  EXPECT_FALSE(tiny.Append(abc, 2));  // the grown size would pass 2^31 - 1
  EXPECT_EQ(tiny.Capacity(), 1);
  EXPECT_FALSE(b.AppendFrom(b, 1, 3));  // 1 + 3 > 3
  EXPECT_FALSE(b.AppendFrom(b, 4, -1));
  EXPECT_FALSE(b.AppendFrom(b, -1, 1));
  EXPECT_FALSE(b.AppendFrom(b, 0, -2));
  EXPECT_EQ(Content(b), (std::vector<uint8_t>{'a', 'b', 'c'}));
  EXPECT_EQ(b.Capacity(), 256);
}

TEST(ByteBufferTest, ReadAtAndReadNextStayInsideTheLength) {
  const uint8_t src[] = {1, 2, 3, 4, 5};
  const ByteBuffer b(src, 5);
  uint8_t out[5] = {9, 9, 9, 9, 9};
  EXPECT_TRUE(b.ReadAt(out, 2, 3));  // offset + n == length
  EXPECT_EQ(out[0], 4);
  EXPECT_EQ(out[1], 5);
  EXPECT_FALSE(b.ReadAt(out, 3, 3));
  EXPECT_FALSE(b.ReadAt(out, 1, -1));
  EXPECT_FALSE(b.ReadAt(out, -1, 0));
  EXPECT_FALSE(b.ReadAt(out, 8, std::numeric_limits<int32_t>::max() - 4));
  EXPECT_TRUE(b.ReadAt(out, 0, 5));
  EXPECT_EQ(out[2], 9);
  int32_t pos = 1;
  EXPECT_TRUE(b.ReadNext(out, pos, 3));
  EXPECT_EQ(pos, 4);
  EXPECT_EQ(out[2], 4);
  EXPECT_FALSE(b.ReadNext(out, pos, 2));
  EXPECT_EQ(pos, 4);
}

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
