// The one checksum module of the library: the Style engine computes range checksums by method name
// while building and checking frames, and the Modbus frames append and verify the RTU CRC and the
// ASCII LRC with the same functions.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qb {

// By method name, compared exactly: "plus" (32-bit sum), "xor", "crc16-ibm" (first * 256 +
// second of Crc16), "lrc" (first * 256 + second of Lrc); 0 for any other name.
uint32_t Checksum(std::span<const uint8_t> bytes, std::u16string_view method);
// The Modbus RTU CRC in its two-table form; first is sent first (the low byte of the usual value).
void Crc16(const uint8_t* bytes, size_t count, uint8_t& first, uint8_t& second);
// The Modbus ASCII LRC over hexadecimal digit pairs; the two digit characters in sending order.
void Lrc(const uint8_t* chars, size_t count, uint8_t& first, uint8_t& second);
// Upper-case hex of value, left-padded with '0' and cut to its rightmost width characters;
// "" for a width above 8.
std::string HexText(uint32_t value, int width);
// The first count characters read as hex, stopping at the first non-hex character.
uint32_t HexPairValue(const uint8_t* chars, size_t count);

}  // namespace qb
