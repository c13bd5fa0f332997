// How register values are shown and written: mbpoll's display formats (decimal, hex, 32-bit
// integer, 32-bit float) plus a signed 16-bit one, and the word order of 32-bit values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace qb::cli {

enum class Display { kDecimal, kInt16, kHex, kInt32, kFloat };

struct ValueFormat {
  Display display = Display::kDecimal;
  // false: a 32-bit value's first register holds its low half (mbpoll's default);
  // true (-B): its high half.
  bool bigEndian = false;
};

// "" (decimal), "int16", "hex", "int" or "float"; nullopt for anything else.
std::optional<Display> ParseDisplay(std::string_view name);
// 2 for 32-bit values, else 1.
int RegistersPerValue(Display display);

// One text per value, as mbpoll prints it: 65531 (-5), -5, 0xFFFB, %d of 32 bits, %g of a float.
// A trailing register that does not fill a 32-bit value is left out.
std::vector<std::string> FormatValues(const std::vector<uint16_t>& registers, ValueFormat format);
// The same values for JSON: numbers, hex as "0x0000" strings, a float that is not finite as null.
nlohmann::json JsonValues(const std::vector<uint16_t>& registers, ValueFormat format);

// The registers one written value takes (1, or 2 for int and float in the word order); nullopt and
// *error for a value the format cannot hold. Decimal and hex take 0..65535 (0x.. hexadecimal and
// 0.. octal as in C), int16 -32768..32767, int a decimal 32-bit integer, float a float.
std::optional<std::vector<uint16_t>> EncodeValue(const std::string& text, ValueFormat format,
                                                 std::string* error);

}  // namespace qb::cli
