#include "engine/text_format.h"

namespace qb {

std::u16string DecimalText(int64_t value) { return Widen(std::to_string(value)); }

std::u16string Widen(std::string_view ascii) {
  std::u16string out;
  out.reserve(ascii.size());
  for (char c : ascii) out += static_cast<char16_t>(static_cast<unsigned char>(c));
  return out;
}

std::u16string HexBytes(const uint8_t* bytes, size_t count) {
  static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  std::u16string out;
  out.reserve(count * 3);
  for (size_t i = 0; i < count; ++i) {
    out += u' ';
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
  }
  return out;
}

}  // namespace qb
