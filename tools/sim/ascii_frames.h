// What the three ASCII link protocols of the simulated controllers share on the wire: their
// control characters, hexadecimal and decimal digit fields, the "plus" check sum (the low byte of
// the sum of the byte values), and finding where a frame ends. Written apart from the library's
// frame code, so that a test of the library against the simulator checks two readings of the
// frames against each other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qb::sim::ascii {

inline constexpr uint8_t kStx = 0x02;
inline constexpr uint8_t kEtx = 0x03;
inline constexpr uint8_t kEot = 0x04;
inline constexpr uint8_t kEnq = 0x05;
inline constexpr uint8_t kAck = 0x06;
inline constexpr uint8_t kNak = 0x15;

// The low byte of the sum of the bytes.
uint8_t PlusSum(std::span<const uint8_t> bytes);

// Upper-case hexadecimal (or decimal) digits of value, left-padded with zeros to `digits`; only
// the last `digits` digits of a longer number are kept.
void AppendHex(std::vector<uint8_t>* out, uint32_t value, int digits);
void AppendDecimal(std::vector<uint8_t>* out, uint32_t value, int digits);
void AppendText(std::vector<uint8_t>* out, std::string_view text);

// The number in bytes[at, at + digits); nothing when the field runs past the end or holds another
// character. Hexadecimal digits may be of either case.
std::optional<uint32_t> ReadHex(std::span<const uint8_t> bytes, size_t at, size_t digits);
std::optional<uint32_t> ReadDecimal(std::span<const uint8_t> bytes, size_t at, size_t digits);

// The length of a frame that starts at bytes[0] and ends with the byte `end` followed by
// `trailing` more bytes (a check sum): 0 while incomplete, -1 when no end is found within `limit`
// bytes (the start was no frame's).
int TerminatedLength(std::span<const uint8_t> bytes, uint8_t end, size_t trailing, size_t limit);

// Adds 1 to the two-digit hexadecimal check sum at frame[at] (the corrupt fault); false when the
// frame is too short to have one there.
bool DamageHexSum(std::vector<uint8_t>* frame, size_t at);

// The frame as text for logs, control characters by name: "<ENQ>01rSS01...<EOT>8C".
std::string Printable(std::span<const uint8_t> frame);

}  // namespace qb::sim::ascii
