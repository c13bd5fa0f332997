// Parsing of the initial-value assignments. Everything here reads text from outside, so every
// number is range-checked and nothing is stored until the whole assignment has been checked.
#include "sim/model_loader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace qb::sim {
namespace {

std::string_view Trim(std::string_view s) {
  const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
  return s;
}

std::optional<int64_t> ParseNumber(std::string_view s) {
  s = Trim(s);
  bool negative = false;
  if (!s.empty() && s.front() == '-') {
    negative = true;
    s.remove_prefix(1);
  }
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty() || s.size() > 12) return std::nullopt;
  int64_t value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, base);
  if (ec != std::errc() || end != s.data() + s.size() || value < 0) return std::nullopt;
  return negative ? -value : value;
}

std::string Quoted(std::string_view s) { return std::string("'").append(s).append("'"); }

bool Fail(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
  return false;
}

}  // namespace

bool ApplyAssignment(DeviceModel& model, std::string_view text, std::string* error) {
  text = Trim(text);
  const size_t equals = text.find('=');
  if (equals == std::string_view::npos)
    return Fail(error, "expected [slave:]table:address=values in " + Quoted(text));
  const std::string_view target = text.substr(0, equals);
  const std::string_view valueText = text.substr(equals + 1);

  // target: [slave:]table:address
  std::vector<std::string_view> parts;
  for (size_t from = 0;;) {
    const size_t colon = target.find(':', from);
    parts.push_back(Trim(target.substr(from, colon - from)));
    if (colon == std::string_view::npos) break;
    from = colon + 1;
  }
  if (parts.size() != 2 && parts.size() != 3)
    return Fail(error, "expected [slave:]table:address before '=' in " + Quoted(text));

  std::vector<uint8_t> slaves;
  if (parts.size() == 3) {
    const auto slave = ParseNumber(parts[0]);
    if (!slave || *slave < 1 || *slave > 247)
      return Fail(error, "bad slave address " + Quoted(parts[0]) + " (1..247)");
    if (!model.HasSlave(static_cast<uint8_t>(*slave)))
      return Fail(error, "slave " + std::to_string(*slave) + " is not simulated");
    slaves.push_back(static_cast<uint8_t>(*slave));
  } else {
    slaves = model.Slaves();
    if (slaves.empty()) return Fail(error, "no slave to give values to");
  }
  const std::string_view tableText = parts[parts.size() - 2];
  const auto table = TableFromName(tableText);
  if (!table) return Fail(error, "unknown table " + Quoted(tableText) + " (co, di, hr or ir)");
  const auto address = ParseNumber(parts.back());
  if (!address || *address < 0 || *address > 65535)
    return Fail(error, "bad address " + Quoted(parts.back()) + " (0..65535)");

  const bool bits = *table == Table::kCoils || *table == Table::kDiscreteInputs;
  std::vector<uint16_t> values;
  for (size_t from = 0;;) {
    const size_t comma = valueText.find(',', from);
    const std::string_view item = valueText.substr(from, comma - from);
    const auto value = ParseNumber(item);
    if (!value) return Fail(error, "bad value " + Quoted(Trim(item)));
    if (bits ? (*value != 0 && *value != 1) : (*value < -32768 || *value > 65535))
      return Fail(error, "value " + Quoted(Trim(item)) +
                             (bits ? " is not a bit (0 or 1)" : " does not fit 16 bits"));
    values.push_back(static_cast<uint16_t>(*value & 0xFFFF));
    if (comma == std::string_view::npos) break;
    from = comma + 1;
  }

  const uint32_t size = [&] {
    const TableSizes& s = model.Sizes();
    switch (*table) {
      case Table::kCoils:
        return s.coils;
      case Table::kDiscreteInputs:
        return s.discreteInputs;
      case Table::kHoldingRegisters:
        return s.holdingRegisters;
      case Table::kInputRegisters:
        return s.inputRegisters;
    }
    return 0u;
  }();
  if (static_cast<uint64_t>(*address) + values.size() > size)
    return Fail(error, std::to_string(values.size()) + " value(s) from address " +
                           std::to_string(*address) + " run past the end of table " +
                           std::string(TableName(*table)) + " (" + std::to_string(size) +
                           " addresses)");
  for (const uint8_t slave : slaves) {
    if (!model.Set(slave, *table, static_cast<uint32_t>(*address), values))
      return Fail(error, "slave " + std::to_string(slave) + " is not simulated");
  }
  return true;
}

std::optional<int64_t> ParseModelNumber(std::string_view text) { return ParseNumber(text); }

bool LoadModelText(DeviceModel& model, std::string_view text, std::string* error) {
  return LoadAssignmentText(
      text, [&](std::string_view line, std::string* e) { return ApplyAssignment(model, line, e); },
      error);
}

bool LoadAssignmentText(std::string_view text, const ApplyFn& apply, std::string* error) {
  size_t lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const size_t newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
    const size_t hash = line.find('#');
    if (hash != std::string_view::npos) line = line.substr(0, hash);
    line = Trim(line);
    if (line.empty()) continue;
    std::string reason;
    if (!apply(line, &reason))
      return Fail(error, "line " + std::to_string(lineNumber) + ": " + reason);
  }
  return true;
}

bool LoadModelFile(DeviceModel& model, const std::string& path, std::string* error) {
  return LoadAssignmentFile(
      path, [&](std::string_view line, std::string* e) { return ApplyAssignment(model, line, e); },
      error);
}

bool LoadAssignmentFile(const std::string& path, const ApplyFn& apply, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Fail(error, "cannot read " + path + ": " + std::strerror(errno));
  struct stat info {};
  std::string text;
  bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  if (ok && static_cast<uint64_t>(info.st_size) > kMaxModelFileBytes) {
    ::close(fd);
    return Fail(error, path + " is larger than " + std::to_string(kMaxModelFileBytes) + " bytes");
  }
  while (ok && text.size() <= kMaxModelFileBytes) {
    char chunk[4096];
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    text.append(chunk, static_cast<size_t>(n));
  }
  ::close(fd);
  if (!ok) return Fail(error, "cannot read " + path + ": not a readable regular file");
  if (text.size() > kMaxModelFileBytes)
    return Fail(error, path + " is larger than " + std::to_string(kMaxModelFileBytes) + " bytes");
  std::string reason;
  if (!LoadAssignmentText(text, apply, &reason)) return Fail(error, path + ": " + reason);
  return true;
}

}  // namespace qb::sim
