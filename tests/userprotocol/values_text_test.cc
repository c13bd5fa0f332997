// The values text: what reading a host's text stores, seen through the text written back.
#include <gtest/gtest.h>

#include "support/fake_platform.h"
#include "userprotocol/values_text.h"

namespace qb::test {
namespace {

TEST(ValuesText, ReadThenWritten) {
  const std::pair<const char16_t*, const char16_t*> cases[] = {
      {u"ADDR=n001&NAME=s4142", u"ADDR=n1&NAME=s4142"},
      {u"ADDR=n+7& NAME = s41 ", u"ADDR=n7&NAME=s41"},
      {u"ADDR=n-99999999999", u"ADDR=n-2147483648"},
      {u"NAME=s414", u""},                   // odd length
      {u"NAME=x41&ADDR=n&=n1&RAW=b1", u""},  // type, short value, no name, odd bytes
      {u"A=B=C&NAME=s41", u"NAME=s41"},
      {u"NAME=s41&NAME=s42", u"NAME=s42"},
      {u"NAME=sG1aa", u"NAME=s00AA"},
      {u"RAW=b0aFF&LIST=a4142;433;44", u"RAW=b0AFF&LIST=a4142;;44"},
      {u"RAW?=s3132?33?34", u"RAW=b0C0304"},  // the array form: 12, 3, 4
      {u"RAW?=s3132?33?3", u""},              // odd: plain text, ignored
  };
  for (const auto& [text, written] : cases) {
    FakePlatform platform;
    Style style(platform);
    ASSERT_TRUE(style.MakeStyle(u"ADDR[2d],NAME[2s],RAW[2b],LIST[2s]", true));
    ReadValuesText(text, u"?", style);
    EXPECT_EQ(WriteValuesText(style.Values()), written);
    EXPECT_TRUE(platform.boxes.empty());
  }
}

}  // namespace
}  // namespace qb::test
