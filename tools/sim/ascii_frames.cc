#include "sim/ascii_frames.h"

namespace qb::sim::ascii {
namespace {

void AppendDigits(std::vector<uint8_t>* out, uint32_t value, int digits, uint32_t radix) {
  const size_t at = out->size();
  out->resize(at + static_cast<size_t>(digits));
  for (int i = digits - 1; i >= 0; --i) {
    const uint32_t d = value % radix;
    (*out)[at + static_cast<size_t>(i)] = static_cast<uint8_t>(d < 10 ? '0' + d : 'A' + d - 10);
    value /= radix;
  }
}

int DigitValue(uint8_t c, uint32_t radix) {
  int v = -1;
  if (c >= '0' && c <= '9') v = c - '0';
  if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
  if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
  return v < static_cast<int>(radix) ? v : -1;
}

std::optional<uint32_t> ReadDigits(std::span<const uint8_t> bytes, size_t at, size_t digits,
                                   uint32_t radix) {
  if (at + digits > bytes.size() || digits > 8) return std::nullopt;
  uint32_t value = 0;
  for (size_t i = 0; i < digits; ++i) {
    const int d = DigitValue(bytes[at + i], radix);
    if (d < 0) return std::nullopt;
    value = value * radix + static_cast<uint32_t>(d);
  }
  return value;
}

}  // namespace

uint8_t PlusSum(std::span<const uint8_t> bytes) {
  uint32_t sum = 0;
  for (const uint8_t b : bytes) sum += b;
  return static_cast<uint8_t>(sum & 0xFF);
}

void AppendHex(std::vector<uint8_t>* out, uint32_t value, int digits) {
  AppendDigits(out, value, digits, 16);
}

void AppendDecimal(std::vector<uint8_t>* out, uint32_t value, int digits) {
  AppendDigits(out, value, digits, 10);
}

void AppendText(std::vector<uint8_t>* out, std::string_view text) {
  out->insert(out->end(), text.begin(), text.end());
}

std::optional<uint32_t> ReadHex(std::span<const uint8_t> bytes, size_t at, size_t digits) {
  return ReadDigits(bytes, at, digits, 16);
}

std::optional<uint32_t> ReadDecimal(std::span<const uint8_t> bytes, size_t at, size_t digits) {
  return ReadDigits(bytes, at, digits, 10);
}

int TerminatedLength(std::span<const uint8_t> bytes, uint8_t end, size_t trailing, size_t limit) {
  for (size_t i = 1; i < bytes.size() && i < limit; ++i) {
    if (bytes[i] != end) continue;
    const size_t length = i + 1 + trailing;
    return length <= bytes.size() ? static_cast<int>(length) : 0;
  }
  return bytes.size() >= limit ? -1 : 0;
}

bool DamageHexSum(std::vector<uint8_t>* frame, size_t at) {
  const auto sum = ReadHex(*frame, at, 2);
  if (!sum) return false;
  std::vector<uint8_t> digits;
  AppendHex(&digits, (*sum + 1) & 0xFF, 2);
  (*frame)[at] = digits[0];
  (*frame)[at + 1] = digits[1];
  return true;
}

std::string Printable(std::span<const uint8_t> frame) {
  std::string out;
  for (const uint8_t b : frame) {
    switch (b) {
      case kStx:
        out += "<STX>";
        break;
      case kEtx:
        out += "<ETX>";
        break;
      case kEot:
        out += "<EOT>";
        break;
      case kEnq:
        out += "<ENQ>";
        break;
      case kAck:
        out += "<ACK>";
        break;
      case kNak:
        out += "<NAK>";
        break;
      default:
        if (b >= 0x20 && b < 0x7F) {
          out += static_cast<char>(b);
        } else {
          constexpr char kDigits[] = "0123456789ABCDEF";
          const char text[] = {'<', kDigits[b >> 4], kDigits[b & 15], '>'};
          out.append(text, sizeof text);
        }
    }
  }
  return out;
}

}  // namespace qb::sim::ascii
