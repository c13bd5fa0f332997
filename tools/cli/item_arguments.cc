#include "cli/item_arguments.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace qb::cli {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t begin = 0;
  for (;;) {
    const size_t end = text.find(separator, begin);
    parts.push_back(text.substr(begin, end == std::string::npos ? end : end - begin));
    if (end == std::string::npos) return parts;
    begin = end + 1;
  }
}

std::optional<int> Number(const std::string& text, int low, int high) {
  int base = 10;
  size_t skip = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    skip = 2;
  }
  long value = 0;
  const char* first = text.data() + skip;
  const char* last = text.data() + text.size();
  const auto [end, ec] = std::from_chars(first, last, value, base);
  if (text.size() == skip || ec != std::errc() || end != last || value < low || value > high) {
    return std::nullopt;
  }
  return static_cast<int>(value);
}

namespace {

bool Fail(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
  return false;
}

bool SlaveAndAddress(const std::string& slave, const std::string& address, PollItem& item,
                     std::string* error) {
  const auto s = Number(slave, 0, 247);
  const auto a = Number(address, 0, 65535);
  if (!s) return Fail(error, "slave must be 0 to 247: '" + slave + "'");
  if (!a) return Fail(error, "address must be 0 to 65535: '" + address + "'");
  item.slave = *s;
  item.start = *a;
  return true;
}

bool Values(const std::string& text, int high, PollItem& item, std::string* error) {
  for (const std::string& v : Split(text, ',')) {
    const auto n = Number(v, 0, high);
    if (!n) return Fail(error, "value must be 0 to " + std::to_string(high) + ": '" + v + "'");
    item.values.push_back(static_cast<uint16_t>(*n));
  }
  return true;
}

// A block of count items from start must end at address 65535 at the latest.
bool FitsAddressSpace(int start, int count, const std::string& text, std::string* error) {
  if (start + count <= 65536) return true;
  return Fail(error, "the block runs past address 65535: '" + text + "'");
}

}  // namespace

std::optional<std::vector<int>> ParseList(const std::string& text, int low, int high,
                                          std::string* error) {
  std::vector<int> list;
  for (const std::string& part : Split(text, ',')) {
    const auto ends = Split(part, ':');
    const auto first = Number(ends[0], low, high);
    const auto last = ends.size() == 2 ? Number(ends[1], low, high) : first;
    if (ends.size() > 2 || !first || !last) {
      Fail(error, "expected numbers " + std::to_string(low) + " to " + std::to_string(high) +
                      " and FIRST:LAST ranges separated by commas: '" + text + "'");
      return std::nullopt;
    }
    for (int n = std::min(*first, *last); n <= std::max(*first, *last); ++n) list.push_back(n);
  }
  return list;
}

std::optional<PollItem> ParseReadArgument(const std::string& text, std::string* error) {
  const auto parts = Split(text, ':');
  if (parts.size() != 4 && parts.size() != 5) {
    Fail(error, "a read is TYPE:SLAVE:START:COUNT[:FORMAT], e.g. hr:1:0:10: '" + text + "'");
    return std::nullopt;
  }
  PollItem item;
  const auto display = ParseDisplay(parts.size() == 5 ? parts[4] : "");
  if (!display) {
    Fail(error, "format must be int16, hex, int or float: '" + parts[4] + "'");
    return std::nullopt;
  }
  item.format.display = *display;
  const std::string& t = parts[0];
  if (t == "co" || t == "0") {
    item.kind = PollItem::Kind::kReadCoils;
  } else if (t == "di" || t == "1") {
    item.kind = PollItem::Kind::kReadDiscreteInputs;
  } else if (t == "hr" || t == "4") {
    item.kind = PollItem::Kind::kReadHoldingRegisters;
  } else if (t == "ir" || t == "3") {
    item.kind = PollItem::Kind::kReadInputRegisters;
  } else {
    Fail(error, "read type must be co, di, hr or ir: '" + t + "'");
    return std::nullopt;
  }
  if (!SlaveAndAddress(parts[1], parts[2], item, error)) return std::nullopt;
  const bool bits =
      item.kind == PollItem::Kind::kReadCoils || item.kind == PollItem::Kind::kReadDiscreteInputs;
  const int per = bits ? 1 : RegistersPerValue(item.format.display);
  const int most = bits ? 2000 : 125 / per;
  const auto count = Number(parts[3], 1, most);
  if (!count || (bits && parts.size() == 5)) {
    Fail(error, bits ? "bits take no format, and 1 to 2000 of them: '" + text + "'"
                     : "count must be 1 to " + std::to_string(most) + ": '" + parts[3] + "'");
    return std::nullopt;
  }
  item.count = *count * per;
  if (!FitsAddressSpace(item.start, item.count, text, error)) return std::nullopt;
  return item;
}

std::optional<PollItem> ParseWriteArgument(const std::string& text, std::string* error) {
  const size_t equals = text.find('=');
  const auto head = Split(text.substr(0, equals), ':');
  if (equals == std::string::npos || (head.size() != 3 && head.size() != 4)) {
    Fail(error, "a write is KIND:SLAVE:ADDRESS=VALUES, e.g. reg:1:5=42: '" + text + "'");
    return std::nullopt;
  }
  const std::string values = text.substr(equals + 1);
  PollItem item;
  item.manual = true;
  const std::string& kind = head[0];
  if (kind == "rw") {
    item.kind = PollItem::Kind::kReadWriteRegisters;
    const auto read = Split(head.size() == 4 ? head[2] : "", '+');
    if (head.size() != 4 || read.size() != 2) {
      Fail(error, "a read/write is rw:SLAVE:READSTART+COUNT:WRITESTART=VALUES: '" + text + "'");
      return std::nullopt;
    }
    if (!SlaveAndAddress(head[1], read[0], item, error)) return std::nullopt;
    const auto count = Number(read[1], 1, 125);
    const auto writeStart = Number(head[3], 0, 65535);
    if (!count || !writeStart) {
      Fail(error, "read count 1 to 125 and write start 0 to 65535 expected: '" + text + "'");
      return std::nullopt;
    }
    item.count = *count;
    item.writeStart = *writeStart;
    if (!Values(values, 65535, item, error)) return std::nullopt;
    // What one request can carry: 125 registers read, 121 written.
    if (item.values.size() > 121) {
      Fail(error, "a read/write writes 1 to 121 registers: '" + text + "'");
      return std::nullopt;
    }
    if (!FitsAddressSpace(item.start, item.count, text, error) ||
        !FitsAddressSpace(item.writeStart, static_cast<int>(item.values.size()), text, error)) {
      return std::nullopt;
    }
    return item;
  }
  if (head.size() != 3 || !SlaveAndAddress(head[1], head[2], item, error)) {
    if (head.size() != 3) Fail(error, "a write is KIND:SLAVE:ADDRESS=VALUES: '" + text + "'");
    return std::nullopt;
  }
  if (kind == "coil" || kind == "coils") {
    item.kind = kind == "coil" ? PollItem::Kind::kWriteCoil : PollItem::Kind::kWriteCoils;
    if (!Values(values, 1, item, error)) return std::nullopt;
  } else if (kind == "reg" || kind == "regs") {
    item.kind = kind == "reg" ? PollItem::Kind::kWriteRegister : PollItem::Kind::kWriteRegisters;
    if (!Values(values, 65535, item, error)) return std::nullopt;
  } else if (kind == "mask") {
    item.kind = PollItem::Kind::kMaskWrite;
    PollItem masks;
    if (!Values(values, 65535, masks, error) || masks.values.size() != 2) {
      Fail(error, "a mask write is mask:SLAVE:ADDRESS=AND,OR: '" + text + "'");
      return std::nullopt;
    }
    item.andMask = masks.values[0];
    item.orMask = masks.values[1];
    return item;
  } else {
    Fail(error, "write kind must be coil, coils, reg, regs, mask or rw: '" + kind + "'");
    return std::nullopt;
  }
  const bool single =
      item.kind == PollItem::Kind::kWriteCoil || item.kind == PollItem::Kind::kWriteRegister;
  if (single && item.values.size() != 1) {
    Fail(error, "a single write takes one value: '" + text + "'");
    return std::nullopt;
  }
  // What one request can carry: 1968 coils or 123 registers.
  const size_t most = item.kind == PollItem::Kind::kWriteCoils ? 1968 : 123;
  if (item.values.size() > most) {
    Fail(error, "a multiple write takes 1 to " + std::to_string(most) + " values: '" + text + "'");
    return std::nullopt;
  }
  item.count = static_cast<int>(item.values.size());
  if (!FitsAddressSpace(item.start, item.count, text, error)) return std::nullopt;
  return item;
}

}  // namespace qb::cli
