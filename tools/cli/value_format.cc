#include "cli/value_format.h"

#include <bit>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace qb::cli {
namespace {

// The 32 bits of value i: its two registers joined in the word order.
uint32_t Join(const std::vector<uint16_t>& r, size_t i, bool bigEndian) {
  const uint32_t first = r[2 * i];
  const uint32_t second = r[2 * i + 1];
  return bigEndian ? first << 16 | second : second << 16 | first;
}

std::vector<uint16_t> Split32(uint32_t bits, bool bigEndian) {
  const auto high = static_cast<uint16_t>(bits >> 16);
  const auto low = static_cast<uint16_t>(bits & 0xFFFF);
  return bigEndian ? std::vector<uint16_t>{high, low} : std::vector<uint16_t>{low, high};
}

// strtol/strtod that must take the whole text.
std::optional<long long> WholeInteger(const std::string& text, int base) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text.c_str(), &end, base);
  if (errno != 0 || *end != '\0') return std::nullopt;
  return v;
}

}  // namespace

std::optional<Display> ParseDisplay(std::string_view name) {
  if (name.empty()) return Display::kDecimal;
  if (name == "int16") return Display::kInt16;
  if (name == "hex") return Display::kHex;
  if (name == "int") return Display::kInt32;
  if (name == "float") return Display::kFloat;
  return std::nullopt;
}

int RegistersPerValue(Display display) {
  return display == Display::kInt32 || display == Display::kFloat ? 2 : 1;
}

std::vector<std::string> FormatValues(const std::vector<uint16_t>& registers, ValueFormat format) {
  std::vector<std::string> texts;
  char text[48];
  const size_t per = static_cast<size_t>(RegistersPerValue(format.display));
  for (size_t i = 0; (i + 1) * per <= registers.size(); ++i) {
    const uint16_t r = registers[i * per];
    switch (format.display) {
      case Display::kDecimal:
        if (r & 0x8000) {
          std::snprintf(text, sizeof text, "%u (%d)", r, static_cast<int16_t>(r));
        } else {
          std::snprintf(text, sizeof text, "%u", r);
        }
        break;
      case Display::kInt16:
        std::snprintf(text, sizeof text, "%d", static_cast<int16_t>(r));
        break;
      case Display::kHex:
        std::snprintf(text, sizeof text, "0x%04X", r);
        break;
      case Display::kInt32:
        std::snprintf(text, sizeof text, "%d",
                      std::bit_cast<int32_t>(Join(registers, i, format.bigEndian)));
        break;
      case Display::kFloat:
        std::snprintf(
            text, sizeof text, "%g",
            static_cast<double>(std::bit_cast<float>(Join(registers, i, format.bigEndian))));
        break;
    }
    texts.emplace_back(text);
  }
  return texts;
}

nlohmann::json JsonValues(const std::vector<uint16_t>& registers, ValueFormat format) {
  nlohmann::json values = nlohmann::json::array();
  const size_t per = static_cast<size_t>(RegistersPerValue(format.display));
  for (size_t i = 0; (i + 1) * per <= registers.size(); ++i) {
    const uint16_t r = registers[i * per];
    switch (format.display) {
      case Display::kDecimal:
        values.push_back(r);
        break;
      case Display::kInt16:
        values.push_back(static_cast<int16_t>(r));
        break;
      case Display::kHex: {
        char text[8];
        std::snprintf(text, sizeof text, "0x%04X", r);
        values.push_back(text);
        break;
      }
      case Display::kInt32:
        values.push_back(std::bit_cast<int32_t>(Join(registers, i, format.bigEndian)));
        break;
      case Display::kFloat: {
        const float f = std::bit_cast<float>(Join(registers, i, format.bigEndian));
        if (std::isfinite(f)) {
          values.push_back(static_cast<double>(f));
        } else {
          values.push_back(nullptr);
        }
        break;
      }
    }
  }
  return values;
}

std::optional<std::vector<uint16_t>> EncodeValue(const std::string& text, ValueFormat format,
                                                 std::string* error) {
  const auto fail = [&](const std::string& what) -> std::optional<std::vector<uint16_t>> {
    if (error != nullptr) *error = "value must be " + what + ": '" + text + "'";
    return std::nullopt;
  };
  switch (format.display) {
    case Display::kDecimal:
    case Display::kHex: {
      const auto v = WholeInteger(text, 0);
      if (!v || *v < 0 || *v > 65535) return fail("0 to 65535");
      return std::vector<uint16_t>{static_cast<uint16_t>(*v)};
    }
    case Display::kInt16: {
      const auto v = WholeInteger(text, 0);
      if (!v || *v < -32768 || *v > 32767) return fail("-32768 to 32767");
      return std::vector<uint16_t>{static_cast<uint16_t>(*v)};
    }
    case Display::kInt32: {
      const auto v = WholeInteger(text, 10);
      if (!v || *v < INT32_MIN || *v > INT32_MAX) return fail("a 32-bit integer");
      return Split32(static_cast<uint32_t>(static_cast<int32_t>(*v)), format.bigEndian);
    }
    case Display::kFloat: {
      char* end = nullptr;
      errno = 0;
      const double d = std::strtod(text.c_str(), &end);
      if (text.empty() || *end != '\0' || errno != 0 || !(std::fabs(d) <= FLT_MAX)) {
        return fail("a 32-bit float");
      }
      return Split32(std::bit_cast<uint32_t>(static_cast<float>(d)), format.bigEndian);
    }
  }
  return fail("valid");
}

}  // namespace qb::cli
