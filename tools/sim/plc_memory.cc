// The simulated controllers' memory and the parsing of their device addresses and initial values.
#include "sim/plc_memory.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

#include "sim/model_loader.h"

namespace qb::sim {
namespace {

struct MkldArea {
  std::string_view device;
  uint32_t offset;
};
// In address order: an area ends where the next begins, S at the end of the image.
constexpr std::array<MkldArea, 9> kMkldAreas{{{"D", 0x0000},
                                              {"T", 0x5000},
                                              {"C", 0x5200},
                                              {"P", 0x5C00},
                                              {"M", 0x5D00},
                                              {"L", 0x5F00},
                                              {"K", 0x6000},
                                              {"F", 0x6300},
                                              {"S", 0x6400}}};

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool Fail(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
  return false;
}

}  // namespace

std::string_view PlcProtocolName(PlcProtocol protocol) {
  switch (protocol) {
    case PlcProtocol::kLsmk:
      return "LSMK";
    case PlcProtocol::kMkld:
      return "MKLD";
    case PlcProtocol::kMbfx:
      return "MBFX";
  }
  return "";
}

std::optional<PlcProtocol> PlcProtocolFromName(std::string_view name) {
  const std::string upper = Upper(name);
  for (const PlcProtocol p : {PlcProtocol::kLsmk, PlcProtocol::kMkld, PlcProtocol::kMbfx}) {
    if (upper == PlcProtocolName(p)) return p;
  }
  return std::nullopt;
}

std::optional<PlcAddress> ParsePlcAddress(std::string_view text) {
  PlcAddress out;
  size_t i = 0;
  while (i < text.size() && std::isalpha(static_cast<unsigned char>(text[i]))) ++i;
  if (i == 0 || i > 2) return std::nullopt;
  out.device = Upper(text.substr(0, i));
  const size_t digits = i;
  uint64_t address = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
    address = address * 10 + static_cast<uint64_t>(text[i] - '0');
    if (address > 0xFFFFFF) return std::nullopt;
    ++i;
  }
  if (i == digits) return std::nullopt;
  out.address = static_cast<uint32_t>(address);
  if (i < text.size()) {
    if (text[i] != '.' || i + 2 != text.size()) return std::nullopt;
    const char b = static_cast<char>(std::toupper(static_cast<unsigned char>(text[i + 1])));
    if (b >= '0' && b <= '9') {
      out.bit = b - '0';
    } else if (b >= 'A' && b <= 'F') {
      out.bit = b - 'A' + 10;
    } else {
      return std::nullopt;
    }
  }
  return out;
}

std::optional<uint32_t> MkldOffset(std::string_view device) {
  for (const MkldArea& area : kMkldAreas) {
    if (area.device == device) return area.offset;
  }
  return std::nullopt;
}

PlcMemory::PlcMemory(PlcProtocol protocol, uint32_t size) : protocol_(protocol) {
  size = std::clamp<uint32_t>(size, 1, 65536);
  switch (protocol) {
    case PlcProtocol::kLsmk:
      for (const char* d : {"P", "M", "L", "K", "F", "T", "C", "D", "S"})
        areas_[d] = Area{false, std::vector<uint16_t>(size, 0)};
      break;
    case PlcProtocol::kMbfx:
      for (const char* d : {"X", "Y", "M", "S"})
        areas_[d] = Area{true, std::vector<uint16_t>(size)};
      for (const char* d : {"D", "R", "T", "C"})
        areas_[d] = Area{false, std::vector<uint16_t>(size, 0)};
      break;
    case PlcProtocol::kMkld:
      image_.assign(kMkldImageBytes, 0);
      break;
  }
}

const PlcMemory::Area* PlcMemory::Find(std::string_view device) const {
  const auto it = areas_.find(device);
  return it == areas_.end() ? nullptr : &it->second;
}

bool PlcMemory::HasDevice(std::string_view device) const {
  return protocol_ == PlcProtocol::kMkld ? MkldOffset(device).has_value() : Find(device) != nullptr;
}

bool PlcMemory::IsBitDevice(std::string_view device) const {
  const Area* area = Find(device);
  return area != nullptr && area->bits;
}

std::optional<uint32_t> PlcMemory::MkldByte(std::string_view device, uint32_t address) const {
  for (size_t i = 0; i < kMkldAreas.size(); ++i) {
    if (kMkldAreas[i].device != device) continue;
    const uint64_t end = i + 1 < kMkldAreas.size() ? kMkldAreas[i + 1].offset : kMkldImageBytes;
    const uint64_t at = kMkldAreas[i].offset + 2ull * address;
    if (at + 2 > end) return std::nullopt;
    return static_cast<uint32_t>(at);
  }
  return std::nullopt;
}

std::optional<uint16_t> PlcMemory::Word(std::string_view device, uint32_t address) const {
  if (protocol_ == PlcProtocol::kMkld) {
    const auto at = MkldByte(device, address);
    if (!at) return std::nullopt;
    return static_cast<uint16_t>(image_[*at] | image_[*at + 1] << 8);
  }
  const Area* area = Find(device);
  if (area == nullptr) return std::nullopt;
  if (!area->bits) {
    if (address >= area->cells.size()) return std::nullopt;
    return area->cells[address];
  }
  if (static_cast<uint64_t>(address) + 16 > area->cells.size()) return std::nullopt;
  uint16_t word = 0;
  for (uint32_t i = 0; i < 16; ++i) word |= static_cast<uint16_t>(area->cells[address + i] << i);
  return word;
}

bool PlcMemory::SetWord(std::string_view device, uint32_t address, uint16_t value) {
  if (protocol_ == PlcProtocol::kMkld) {
    const auto at = MkldByte(device, address);
    if (!at) return false;
    image_[*at] = static_cast<uint8_t>(value & 0xFF);
    image_[*at + 1] = static_cast<uint8_t>(value >> 8);
    return true;
  }
  if (!Word(device, address)) return false;
  Area& area = areas_.find(device)->second;
  if (!area.bits) {
    area.cells[address] = value;
  } else {
    for (uint32_t i = 0; i < 16; ++i) area.cells[address + i] = (value >> i) & 1;
  }
  return true;
}

std::optional<bool> PlcMemory::Bit(std::string_view device, uint32_t address, int bit) const {
  if (bit < 0) {
    const Area* area = Find(device);
    if (area == nullptr || !area->bits || address >= area->cells.size()) return std::nullopt;
    return area->cells[address] != 0;
  }
  if (bit > 15 || IsBitDevice(device)) return std::nullopt;
  const auto word = Word(device, address);
  if (!word) return std::nullopt;
  return ((*word >> bit) & 1) != 0;
}

bool PlcMemory::SetBit(std::string_view device, uint32_t address, int bit, bool on) {
  if (!Bit(device, address, bit)) return false;
  if (bit < 0) {
    areas_.find(device)->second.cells[address] = on ? 1 : 0;
    return true;
  }
  const uint16_t mask = static_cast<uint16_t>(1u << bit);
  const uint16_t word = *Word(device, address);
  return SetWord(device, address, static_cast<uint16_t>(on ? word | mask : word & ~mask));
}

std::optional<uint8_t> PlcMemory::Byte(uint32_t at) const {
  if (at >= image_.size()) return std::nullopt;
  return image_[at];
}

bool PlcMemory::SetByte(uint32_t at, uint8_t value) {
  if (at >= image_.size()) return false;
  image_[at] = value;
  return true;
}

PlcModel::PlcModel(PlcProtocol protocol, uint32_t size) : protocol_(protocol), size_(size) {}

bool PlcModel::AddStation(int station) {
  std::lock_guard lock(mutex_);
  if (station < 0 || station > 255 || stations_.contains(station)) return false;
  stations_.emplace(station, PlcMemory(protocol_, size_));
  return true;
}

bool PlcModel::HasStation(int station) const {
  std::lock_guard lock(mutex_);
  return stations_.contains(station);
}

std::vector<int> PlcModel::Stations() const {
  std::lock_guard lock(mutex_);
  std::vector<int> out;
  for (const auto& entry : stations_) out.push_back(entry.first);
  return out;
}

bool PlcModel::WithStation(int station, const std::function<void(PlcMemory&)>& fn) {
  std::lock_guard lock(mutex_);
  const auto it = stations_.find(station);
  if (it == stations_.end()) return false;
  fn(it->second);
  return true;
}

std::optional<uint16_t> PlcModel::Word(int station, std::string_view device,
                                       uint32_t address) const {
  std::lock_guard lock(mutex_);
  const auto it = stations_.find(station);
  if (it == stations_.end()) return std::nullopt;
  return it->second.Word(device, address);
}

std::optional<bool> PlcModel::Bit(int station, std::string_view device, uint32_t address,
                                  int bit) const {
  std::lock_guard lock(mutex_);
  const auto it = stations_.find(station);
  if (it == stations_.end()) return std::nullopt;
  return it->second.Bit(device, address, bit);
}

bool ApplyPlcAssignment(PlcModel& model, std::string_view text, std::string* error) {
  const size_t equals = text.find('=');
  if (equals == std::string_view::npos)
    return Fail(error, "expected [station:]DEVICE=values, such as D100=1,2 or M10.5=1");
  std::string_view target = text.substr(0, equals);
  std::vector<int> stations = model.Stations();
  if (const size_t colon = target.find(':'); colon != std::string_view::npos) {
    const auto station = ParseModelNumber(target.substr(0, colon));
    if (!station || !model.HasStation(static_cast<int>(*station)))
      return Fail(error, "no simulated station '" + std::string(target.substr(0, colon)) + "'");
    stations = {static_cast<int>(*station)};
    target = target.substr(colon + 1);
  }
  while (!target.empty() && target.front() == ' ') target.remove_prefix(1);
  while (!target.empty() && target.back() == ' ') target.remove_suffix(1);
  const auto where = ParsePlcAddress(target);
  if (!where) return Fail(error, "bad device address '" + std::string(target) + "'");

  std::vector<int64_t> values;
  const std::string_view valueText = text.substr(equals + 1);
  for (size_t from = 0;;) {
    const size_t comma = valueText.find(',', from);
    const auto value = ParseModelNumber(valueText.substr(from, comma - from));
    if (!value || *value < -32768 || *value > 65535)
      return Fail(error, "bad value '" + std::string(valueText.substr(from, comma - from)) +
                             "' (a number that fits 16 bits)");
    values.push_back(*value);
    if (comma == std::string_view::npos) break;
    from = comma + 1;
  }
  std::string reason;
  for (const int station : stations) {
    model.WithStation(station, [&](PlcMemory& memory) {
      if (!memory.HasDevice(where->device)) {
        reason = "the " + std::string(PlcProtocolName(model.Protocol())) + " controller has no " +
                 where->device + " area";
        return;
      }
      const bool bits = where->bit >= 0 || memory.IsBitDevice(where->device);
      for (size_t i = 0; i < values.size() && reason.empty(); ++i) {
        if (bits && values[i] != 0 && values[i] != 1) reason = "a bit is 0 or 1";
        const uint32_t at = where->address + static_cast<uint32_t>(i);
        const bool fits = bits ? memory
                                     .Bit(where->device, where->bit >= 0 ? where->address : at,
                                          where->bit >= 0 ? where->bit + static_cast<int>(i) : -1)
                                     .has_value()
                               : memory.Word(where->device, at).has_value();
        if (reason.empty() && !fits) reason = "the values run past the end of the area";
      }
      if (!reason.empty()) return;
      for (size_t i = 0; i < values.size(); ++i) {
        const uint32_t at = where->address + static_cast<uint32_t>(i);
        if (!bits) {
          memory.SetWord(where->device, at, static_cast<uint16_t>(values[i] & 0xFFFF));
        } else if (where->bit >= 0) {
          memory.SetBit(where->device, where->address, where->bit + static_cast<int>(i),
                        values[i] != 0);
        } else {
          memory.SetBit(where->device, at, -1, values[i] != 0);
        }
      }
    });
    if (!reason.empty()) return Fail(error, reason);
  }
  if (stations.empty()) return Fail(error, "no station to give values to");
  return true;
}

}  // namespace qb::sim
