// Slaves and tables of the simulated devices.
#include "sim/device_model.h"

#include <algorithm>

namespace qb::sim {
namespace {

constexpr uint32_t kAddressRange = 65536;

}  // namespace

std::string_view TableName(Table table) {
  switch (table) {
    case Table::kCoils:
      return "co";
    case Table::kDiscreteInputs:
      return "di";
    case Table::kHoldingRegisters:
      return "hr";
    case Table::kInputRegisters:
      return "ir";
  }
  return "";
}

std::optional<Table> TableFromName(std::string_view name) {
  for (const Table t :
       {Table::kCoils, Table::kDiscreteInputs, Table::kHoldingRegisters, Table::kInputRegisters}) {
    if (name == TableName(t)) return t;
  }
  return std::nullopt;
}

uint32_t SlaveTables::Size(Table table) const {
  switch (table) {
    case Table::kCoils:
      return static_cast<uint32_t>(coils.size());
    case Table::kDiscreteInputs:
      return static_cast<uint32_t>(discreteInputs.size());
    case Table::kHoldingRegisters:
      return static_cast<uint32_t>(holdingRegisters.size());
    case Table::kInputRegisters:
      return static_cast<uint32_t>(inputRegisters.size());
  }
  return 0;
}

uint16_t SlaveTables::Get(Table table, uint32_t address) const {
  switch (table) {
    case Table::kCoils:
      return coils[address];
    case Table::kDiscreteInputs:
      return discreteInputs[address];
    case Table::kHoldingRegisters:
      return holdingRegisters[address];
    case Table::kInputRegisters:
      return inputRegisters[address];
  }
  return 0;
}

void SlaveTables::Set(Table table, uint32_t address, uint16_t value) {
  switch (table) {
    case Table::kCoils:
      coils[address] = value != 0 ? 1 : 0;
      break;
    case Table::kDiscreteInputs:
      discreteInputs[address] = value != 0 ? 1 : 0;
      break;
    case Table::kHoldingRegisters:
      holdingRegisters[address] = value;
      break;
    case Table::kInputRegisters:
      inputRegisters[address] = value;
      break;
  }
}

DeviceModel::DeviceModel(TableSizes sizes) : sizes_(sizes) {
  sizes_.coils = std::min(sizes_.coils, kAddressRange);
  sizes_.discreteInputs = std::min(sizes_.discreteInputs, kAddressRange);
  sizes_.holdingRegisters = std::min(sizes_.holdingRegisters, kAddressRange);
  sizes_.inputRegisters = std::min(sizes_.inputRegisters, kAddressRange);
}

bool DeviceModel::AddSlave(uint8_t address) {
  if (address < 1 || address > 247) return false;
  std::lock_guard lock(mutex_);
  if (slaves_.count(address) != 0) return false;
  SlaveTables& t = slaves_[address];
  t.coils.assign(sizes_.coils, 0);
  t.discreteInputs.assign(sizes_.discreteInputs, 0);
  t.holdingRegisters.assign(sizes_.holdingRegisters, 0);
  t.inputRegisters.assign(sizes_.inputRegisters, 0);
  return true;
}

bool DeviceModel::HasSlave(uint8_t address) const {
  std::lock_guard lock(mutex_);
  return slaves_.count(address) != 0;
}

std::vector<uint8_t> DeviceModel::Slaves() const {
  std::lock_guard lock(mutex_);
  std::vector<uint8_t> out;
  for (const auto& entry : slaves_) out.push_back(entry.first);
  return out;
}

std::optional<uint16_t> DeviceModel::Get(uint8_t slave, Table table, uint32_t address) const {
  std::lock_guard lock(mutex_);
  const auto it = slaves_.find(slave);
  if (it == slaves_.end() || address >= it->second.Size(table)) return std::nullopt;
  return it->second.Get(table, address);
}

bool DeviceModel::Set(uint8_t slave, Table table, uint32_t address,
                      const std::vector<uint16_t>& values) {
  std::lock_guard lock(mutex_);
  const auto it = slaves_.find(slave);
  if (it == slaves_.end()) return false;
  SlaveTables& t = it->second;
  if (address > t.Size(table) || values.size() > t.Size(table) - address) return false;
  for (size_t i = 0; i < values.size(); ++i)
    t.Set(table, address + static_cast<uint32_t>(i), values[i]);
  return true;
}

}  // namespace qb::sim
