// Conversion between the library's wide text (UTF-16) and the 8-bit text of "the system code page":
// names and texts of property streams, "str" fields of frames and the trace file travel as 8-bit
// bytes. On Linux the code page is the charset of the process environment's locale (LC_CTYPE),
// or one the host names (for example "CP949"). A byte that does not convert maps to the code point
// of the same value, and a character that does not convert back becomes its low 8 bits, so a
// conversion never fails and frame characters keep their low 8 bits.
#pragma once

#include <string>
#include <string_view>

namespace qb {

class CodePage {
 public:
  // The charset of the environment's locale, without changing the process locale.
  CodePage();
  explicit CodePage(std::string charsetName);

  // Names an iconv charset. False, and no change, when iconv does not know it.
  bool Select(std::string charsetName);
  const std::string& Name() const { return name_; }

  std::u16string ToWide(std::string_view bytes) const;
  std::string ToBytes(std::u16string_view text) const;

 private:
  std::string name_;
  bool asciiOnly_ = true;  // the charset is plain ASCII: skip iconv, bytes map to code points 1:1
  bool utf8_ = false;
};

// UTF-16 to UTF-8 (unpaired surrogates become U+FFFD); used for stderr output.
std::string Utf16ToUtf8(std::u16string_view text);
// UTF-8 to UTF-16; invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);

// Length of a zero-terminated UTF-16 text; 0 for a null pointer.
size_t WideLength(const char16_t* text);
// View of a zero-terminated UTF-16 text; empty for a null pointer.
std::u16string_view WideView(const char16_t* text);

}  // namespace qb
