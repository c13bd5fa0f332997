// Small text helpers for the notes and lines the engine writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qb {

// Decimal text without leading zeros, "-" for negatives.
std::u16string DecimalText(int64_t value);
// ASCII text to wide text.
std::u16string Widen(std::string_view ascii);
// " 01 03 00 ..." : each byte as a space and two upper-case hex digits, for notes with frame bytes.
std::u16string HexBytes(const uint8_t* bytes, size_t count);

}  // namespace qb
