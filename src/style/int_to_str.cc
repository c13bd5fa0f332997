// See int_to_str.h.
#include "style/int_to_str.h"

#include <algorithm>

namespace qb {
namespace detail {

size_t IntToStrInto(int32_t value, int radix, int width, char16_t* out) {
  if (radix < 2 || radix > 36) return 0;
  static constexpr char16_t kDigits[] = u"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  const bool negativeDecimal = radix == 10 && value < 0;
  uint32_t magnitude;
  if (radix == 10) {
    magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  } else {
    magnitude = static_cast<uint32_t>(value);
  }
  // Digits, least significant first; 32 binary digits at most.
  char16_t reversed[32];
  size_t count = 0;
  do {
    reversed[count++] = kDigits[magnitude % static_cast<uint32_t>(radix)];
    magnitude /= static_cast<uint32_t>(radix);
  } while (magnitude != 0);

  size_t n = 0;
  if (negativeDecimal) out[n++] = u'-';
  if (width == -1) {
    while (count > 0) out[n++] = reversed[--count];
    return n;
  }
  // Sixteen zeros in front, then the rightmost width characters of that.
  constexpr size_t kPadding = 16;
  const size_t padded = kPadding + count;
  const size_t keep = width < 0 ? 0 : std::min(static_cast<size_t>(width), padded);
  for (size_t k = padded - keep; k < padded; ++k) {
    out[n++] = k < kPadding ? u'0' : reversed[padded - 1 - k];
  }
  return n;
}

}  // namespace detail

std::u16string IntToStr(int32_t value, int radix, int width) {
  char16_t buffer[detail::kIntToStrMax];
  const size_t n = detail::IntToStrInto(value, radix, width, buffer);
  return std::u16string(buffer, n);
}

}  // namespace qb
