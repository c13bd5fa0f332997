// The wire forms of Modbus serial frames as the simulated device sees them: the RTU CRC-16, the
// ASCII LRC, the encoding of a reply in either framing, and the length of an RTU request read
// from its first bytes. The simulator keeps its own copy of these rules, written apart from the
// library's frame code, so that a test of the library against the simulator checks two
// independent readings of the Modbus serial-line rules against each other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qb::sim {

enum class Framing { kRtu, kAscii };

// The largest RTU frame: address, 253 bytes of PDU, two CRC bytes.
inline constexpr size_t kMaxRtuFrame = 256;
// The largest ASCII frame: ':', two digits per byte of address, PDU and LRC, CR LF.
inline constexpr size_t kMaxAsciiFrame = 1 + 2 * (1 + 253 + 1) + 2;

// CRC-16/MODBUS (reflected polynomial 0xA001, start 0xFFFF); the low byte is sent first.
uint16_t Crc16(std::span<const uint8_t> bytes);
// Modbus LRC of the binary bytes: the two's complement of their 8-bit sum.
uint8_t Lrc(std::span<const uint8_t> bytes);

// adu = slave address + PDU. RTU appends the CRC (low byte first).
std::vector<uint8_t> EncodeRtu(std::span<const uint8_t> adu);
// ':' + upper-case hex digits of adu and LRC + CR LF.
std::vector<uint8_t> EncodeAscii(std::span<const uint8_t> adu);
std::vector<uint8_t> Encode(Framing framing, std::span<const uint8_t> adu);

// The full length (with CRC) of an RTU request beginning with these bytes: 0 when more bytes are
// needed to tell, -1 when the function code has no known request length (the end of such a frame
// is found by the line's silence only).
int RtuRequestLength(std::span<const uint8_t> head);

// Two-digit upper-case hex of every byte, separated by spaces ("01 03 00 0A"), for logs.
std::string HexDump(std::span<const uint8_t> bytes);

}  // namespace qb::sim
