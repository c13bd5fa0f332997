#include "cli/plc_items.h"

#include <cctype>
#include <cstdint>

#include "cli/item_arguments.h"
#include "quillbox/quillbox.h"
#include "sim/plc_memory.h"

namespace qb::cli {
namespace {

constexpr std::string_view kMbfxBitDevices = "XYMSLBF";

bool Fail(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
  return false;
}

// The part before '=' of a write, or a whole read: station, device, address, bit and count.
bool ParseTarget(const std::string& protocol, const std::string& text, int station, PollItem* item,
                 std::string* error) {
  std::vector<std::string> parts = Split(text, ':');
  item->slave = station;
  if (!parts.empty() && !parts[0].empty() &&
      std::isdigit(static_cast<unsigned char>(parts[0][0]))) {
    const auto s = Number(parts[0], 0, protocol == "MBFX" ? 99 : 255);
    if (!s)
      return Fail(error, "station must be 0 to " + std::string(protocol == "MBFX" ? "99" : "255") +
                             ": '" + text + "'");
    item->slave = *s;
    parts.erase(parts.begin());
  }
  if (parts.empty() || parts.size() > 2) {
    return Fail(
        error, "a " + protocol +
                   " item is [STATION:]DEVICE ADDRESS[.BIT][:COUNT], e.g. D100 or M10.5: '" + text +
                   "'");
  }
  const auto address = sim::ParsePlcAddress(parts[0]);
  if (!address)
    return Fail(error,
                "a device address is letters, a decimal number and for a bit '.' and a hex digit, "
                "e.g. D100, M10.5: '" +
                    parts[0] + "'");
  item->device = address->device;
  item->start = static_cast<int>(address->address);
  item->bit = address->bit;
  const bool mbfx = protocol == "MBFX";
  if (mbfx && item->bit >= 0) return Fail(error, "MBFX items have no bit position: '" + text + "'");
  const bool bits = item->bit >= 0 || (mbfx && item->device.size() == 1 &&
                                       kMbfxBitDevices.find(item->device[0]) != std::string::npos);
  // What the request has room for: LSMK four decimal digits of a word, three of the word of a
  // bit; MBFX five characters with the device letters.
  const int most = protocol == "LSMK" ? (bits ? 999 : 9999)
                   : mbfx             ? (item->device.size() == 1 ? 9999 : 999)
                                      : 65535;
  if (item->start > most)
    return Fail(error, "a " + protocol + " address goes up to " + std::to_string(most) + ": '" +
                           text + "'");
  item->count = 1;
  if (parts.size() == 2) {
    const auto count = Number(parts[1], 1, bits ? 255 : 64);
    if (!mbfx)
      return Fail(error, protocol + " items read one value each; give one item per address: '" +
                             text + "'");
    if (!count)
      return Fail(error,
                  std::string("count must be 1 to ") + (bits ? "255" : "64") + ": '" + text + "'");
    item->count = *count;
  }
  item->kind = bits ? PollItem::Kind::kReadCoils : PollItem::Kind::kReadHoldingRegisters;
  return true;
}

}  // namespace

std::string LinkProtocolName(const std::string& name) {
  const auto protocol = sim::PlcProtocolFromName(name);
  return protocol ? std::string(sim::PlcProtocolName(*protocol)) : std::string();
}

std::optional<PollItem> ParsePlcRead(const std::string& protocol, const std::string& text,
                                     int station, std::string* error) {
  PollItem item;
  if (!ParseTarget(protocol, text, station, &item, error)) return std::nullopt;
  return item;
}

std::optional<PollItem> ParsePlcWrite(const std::string& protocol, const std::string& text,
                                      int station, std::string* error) {
  const size_t equals = text.find('=');
  PollItem item;
  if (equals == std::string::npos) {
    Fail(error, "a " + protocol +
                    " write is [STATION:]DEVICE ADDRESS[.BIT]=VALUE, e.g. D100=42: '" + text + "'");
    return std::nullopt;
  }
  if (!ParseTarget(protocol, text.substr(0, equals), station, &item, error)) return std::nullopt;
  if (item.count != 1) {
    Fail(error, "a write takes one address: '" + text + "'");
    return std::nullopt;
  }
  const bool bit = item.kind == PollItem::Kind::kReadCoils;
  const auto value = Number(text.substr(equals + 1), 0, bit ? 1 : 65535);
  if (!value) {
    Fail(error,
         std::string("the value must be ") + (bit ? "0 or 1" : "0 to 65535") + ": '" + text + "'");
    return std::nullopt;
  }
  item.kind = bit ? PollItem::Kind::kWriteCoil : PollItem::Kind::kWriteRegister;
  item.manual = true;
  item.values = {static_cast<uint16_t>(*value)};
  return item;
}

std::string DescribePlc(const PollItem& item) {
  std::string out = item.device + std::to_string(item.start);
  if (item.bit >= 0) out.append(1, '.').append(1, "0123456789ABCDEF"[item.bit & 15]);
  if (!item.values.empty()) return out.append(1, '=').append(std::to_string(item.values[0]));
  if (item.count != 1) out.append(1, '+').append(std::to_string(item.count));
  return out;
}

void RegisterPlcItem(const PollItem& item, int32_t id) {
  const std::u16string device(item.device.begin(), item.device.end());
  const bool m = item.manual;
  switch (item.kind) {
    case PollItem::Kind::kReadCoils:
      (m ? qbManualBitReadEx : qbAutoBitReadEx)(id, item.slave, item.start, device.c_str(),
                                                item.bit, item.count);
      break;
    case PollItem::Kind::kWriteCoil:
      qbManualBitWriteEx(id, item.slave, item.start, item.values.at(0), device.c_str(), item.bit);
      break;
    case PollItem::Kind::kWriteRegister:
      qbManualWordWriteEx(id, item.slave, item.start, item.values.at(0), device.c_str());
      break;
    default:
      if (m) {
        qbManualWordReadEx(id, item.slave, item.start, device.c_str());
      } else {
        qbAutoWordReadEx(id, item.slave, item.start, device.c_str(), item.count);
      }
      break;
  }
}

}  // namespace qb::cli
