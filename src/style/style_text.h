// Small text routines shared by the Style compiler, builder and parser: trimming, splitting and the
// lenient number readings the frame templates and received frames need (a number ends at the first
// character that is not part of it, and an overlong one saturates instead of failing).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qb::style_text {

inline bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
inline bool IsSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }
// Value of a hexadecimal digit, or -1.
inline int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

std::u16string_view Trim(std::u16string_view text);
// Every part between separators, empty ones included ("a,,b" has three parts).
std::vector<std::u16string_view> Split(std::u16string_view text, char16_t separator);
// Number of parts Split would give, without making them.
size_t PartCount(std::u16string_view text, char16_t separator);
bool AllDigits(std::u16string_view text);  // true for the empty text

// Leading blanks, an optional sign, then digits up to the first other character; 0 without
// digits; saturates at the 32-bit limits.
int32_t ParseDecimal(std::u16string_view text);
// Hexadecimal digits up to the first other character, saturating at 0xFFFFFFFF.
uint32_t ParseHexSaturating(std::u16string_view text);
// Hexadecimal digits up to the first other character, keeping the low 32 bits.
uint32_t ParseHexWrapping(std::u16string_view text);
// The text with every occurrence of "0x" removed.
std::u16string RemoveHexPrefixes(std::u16string_view text);

void AppendAscii(std::u16string& out, std::string_view ascii);
void AppendDecimal(std::u16string& out, int64_t value);
// Two upper-case hexadecimal digits.
void AppendHexByte(std::u16string& out, uint8_t value);

}  // namespace qb::style_text
