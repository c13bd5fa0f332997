// The integer formatter used wherever the library writes numbers into frames and texts: a radix,
// zero padding to a width that keeps the rightmost digits (a field of two hexadecimal digits shows
// the low byte), and upper-case letters.
#pragma once

#include <cstdint>
#include <string>

namespace qb {

// Radix 10 gives the signed decimal digits, any other radix (2 to 36) the digits of the value taken
// as unsigned 32-bit; a radix outside 2 to 36 gives the empty text. Width -1 keeps every digit;
// any other width pads with "0" and keeps the rightmost width characters (a negative width keeps
// none). A negative decimal value gets "-" in front after the cut, so (-5, 10, 2) gives "-05".
std::u16string IntToStr(int32_t value, int radix, int width);

namespace detail {
// IntToStr into a caller's buffer of at least kIntToStrMax characters; returns the length.
inline constexpr size_t kIntToStrMax = 64;
size_t IntToStrInto(int32_t value, int radix, int width, char16_t* out);
}  // namespace detail

}  // namespace qb
