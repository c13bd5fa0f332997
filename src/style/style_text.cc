// Text routines of the Style engine; see style_text.h.
#include "style/style_text.h"

#include <limits>

namespace qb::style_text {

std::u16string_view Trim(std::u16string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsSpace(text[begin])) ++begin;
  while (end > begin && IsSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::vector<std::u16string_view> Split(std::u16string_view text, char16_t separator) {
  std::vector<std::u16string_view> parts;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find(separator, start);
    if (at == std::u16string_view::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, at - start));
    start = at + 1;
  }
}

size_t PartCount(std::u16string_view text, char16_t separator) {
  size_t count = 1;
  for (char16_t c : text) count += (c == separator) ? 1 : 0;
  return count;
}

bool AllDigits(std::u16string_view text) {
  for (char16_t c : text) {
    if (!IsDigit(c)) return false;
  }
  return true;
}

int32_t ParseDecimal(std::u16string_view text) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  int64_t value = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    value = value * 10 + (text[i] - u'0');
    if (value > kLimit) value = kLimit;  // keeps the accumulator small; the result saturates
  }
  if (negative) return static_cast<int32_t>(-value);
  return value >= kLimit ? std::numeric_limits<int32_t>::max() : static_cast<int32_t>(value);
}

uint32_t ParseHexSaturating(std::u16string_view text) {
  uint64_t value = 0;
  for (char16_t c : text) {
    const int digit = HexDigit(c);
    if (digit < 0) break;
    value = value * 16 + static_cast<uint64_t>(digit);
    if (value > 0xFFFFFFFFu) value = 0xFFFFFFFFu + uint64_t{1};
  }
  return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(value);
}

uint32_t ParseHexWrapping(std::u16string_view text) {
  uint32_t value = 0;
  for (char16_t c : text) {
    const int digit = HexDigit(c);
    if (digit < 0) break;
    value = value * 16u + static_cast<uint32_t>(digit);
  }
  return value;
}

std::u16string RemoveHexPrefixes(std::u16string_view text) {
  if (text.find(u"0x") == std::u16string_view::npos) return std::u16string(text);
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'0' && i + 1 < text.size() && text[i + 1] == u'x') {
      ++i;
      continue;
    }
    out += text[i];
  }
  return out;
}

void AppendAscii(std::u16string& out, std::string_view ascii) {
  for (char c : ascii) out += static_cast<char16_t>(static_cast<unsigned char>(c));
}

void AppendDecimal(std::u16string& out, int64_t value) {
  char16_t digits[24];
  char16_t* end = digits + 24;
  char16_t* p = end;
  uint64_t magnitude =
      value < 0 ? uint64_t{0} - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  if (magnitude <= 0xFFFFFFFFu) {  // the usual case, with the cheaper 32-bit division
    uint32_t small = static_cast<uint32_t>(magnitude);
    do {
      *--p = static_cast<char16_t>(u'0' + small % 10);
      small /= 10;
    } while (small != 0);
  } else {
    do {
      *--p = static_cast<char16_t>(u'0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
  }
  if (value < 0) *--p = u'-';
  out.append(p, static_cast<size_t>(end - p));
}

void AppendHexByte(std::u16string& out, uint8_t value) {
  static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  out += kDigits[value >> 4];
  out += kDigits[value & 0x0F];
}

}  // namespace qb::style_text
