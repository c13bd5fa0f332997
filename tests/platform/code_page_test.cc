// Conversions with the system code page: never failing, keeping the low 8 bits of frame
// characters, and real double-byte code pages through iconv.
#include "platform/code_page.h"

#include <gtest/gtest.h>

namespace qb {
namespace {

TEST(CodePage, AsciiCodePageMapsEveryByteToTheSameCodePoint) {
  const CodePage ascii("ANSI_X3.4-1968");
  const std::string bytes = {'A', '\x05', '\x80', '\xFF', '\0', 'z'};
  const std::u16string wide = ascii.ToWide(bytes);
  EXPECT_EQ(wide, (std::u16string{u'A', 0x05, 0x80, 0xFF, 0, u'z'}));
  EXPECT_EQ(ascii.ToBytes(wide), bytes);
  EXPECT_EQ(ascii.ToBytes(u"\u0141"), "\x41");  // no conversion: the low 8 bits
}

TEST(CodePage, Cp949ConvertsKoreanBothWays) {
  CodePage cp;
  ASSERT_TRUE(cp.Select("CP949"));
  EXPECT_EQ(cp.ToBytes(u"가A"),
            "\xB0\xA1"
            "A");
  EXPECT_EQ(cp.ToWide("\xB0\xA1"
                      "A"),
            u"가A");
  // A lone lead byte does not convert: it keeps its value and the rest goes on.
  EXPECT_EQ(cp.ToWide("\xB0"), std::u16string(1, char16_t{0xB0}));
  EXPECT_EQ(cp.ToWide("\xFF"
                      "B"),
            (std::u16string{0xFF, u'B'}));
  // glibc consumes an unmapped double-byte code (0xA2E8) before it reports it: the conversion
  // neither reads past the text nor breaks the character after it.
  EXPECT_EQ(cp.ToWide("P%\xA2\xE8"), u"P%");
  EXPECT_EQ(cp.ToWide("P%\xA2\xE8\xB0\xA1i"), u"P%가i");
}

TEST(CodePage, UnknownNamesAreRefusedAndChangeNothing) {
  CodePage cp("CP949");
  EXPECT_FALSE(cp.Select("NO-SUCH-CHARSET"));
  EXPECT_FALSE(cp.Select(""));
  EXPECT_EQ(cp.Name(), "CP949");
}

TEST(CodePage, Utf8HelpersRoundTripAndReplaceBrokenInput) {
  const std::u16string text = u"a\u00E9\uD55C\U0001F600";
  EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(text)), text);
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t{0xD800})), "\xEF\xBF\xBD");
  EXPECT_EQ(Utf8ToUtf16("\xC3"), u"\uFFFD");
  EXPECT_EQ(WideView(nullptr), u"");
  EXPECT_EQ(WideLength(u"abc"), 3u);
}

}  // namespace
}  // namespace qb
