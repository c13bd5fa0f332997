// The data of the simulated devices: one or several slave addresses on the line, each with its
// own four Modbus tables (coils, discrete inputs, holding registers, input registers). The model is
// shared between the simulator's thread, which serves requests, and whoever set it up or looks at
// it (a test checking what a write did), so every access goes through its lock.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace qb::sim {

enum class Table { kCoils, kDiscreteInputs, kHoldingRegisters, kInputRegisters };

// Short names used in the initial-value text: "co", "di", "hr", "ir".
std::string_view TableName(Table table);
std::optional<Table> TableFromName(std::string_view name);

// How many addresses each table has, from 0; an address at or past the size is illegal.
struct TableSizes {
  uint32_t coils = 10000;
  uint32_t discreteInputs = 10000;
  uint32_t holdingRegisters = 10000;
  uint32_t inputRegisters = 10000;
};

// The four tables of one slave. Bits are kept as 0 or 1, one per element.
struct SlaveTables {
  std::vector<uint8_t> coils;
  std::vector<uint8_t> discreteInputs;
  std::vector<uint16_t> holdingRegisters;
  std::vector<uint16_t> inputRegisters;

  uint32_t Size(Table table) const;
  uint16_t Get(Table table, uint32_t address) const;        // address < Size(table)
  void Set(Table table, uint32_t address, uint16_t value);  // bits take value != 0
};

class DeviceModel {
 public:
  // Table sizes above 65536 are cut to 65536, the whole Modbus address range.
  explicit DeviceModel(TableSizes sizes = {});

  // Adds a slave with all-zero tables. False for an address outside 1..247 or one already there.
  bool AddSlave(uint8_t address);
  bool HasSlave(uint8_t address) const;
  std::vector<uint8_t> Slaves() const;
  const TableSizes& Sizes() const { return sizes_; }

  // One value; nothing when the slave or the address does not exist.
  std::optional<uint16_t> Get(uint8_t slave, Table table, uint32_t address) const;
  // Writes values from address on; false (and nothing written) when the slave does not exist or
  // the values run past the table's end.
  bool Set(uint8_t slave, Table table, uint32_t address, const std::vector<uint16_t>& values);

  // Runs fn(SlaveTables&) for one slave under the model's lock, so that a request that reads and
  // writes (mask write, read/write registers) sees no other access in between. Returns fn's
  // result, or nothing when the slave does not exist.
  template <typename Fn>
  auto WithSlave(uint8_t address, Fn&& fn)
      -> std::optional<decltype(fn(std::declval<SlaveTables&>()))> {
    std::lock_guard lock(mutex_);
    const auto it = slaves_.find(address);
    if (it == slaves_.end()) return std::nullopt;
    return fn(it->second);
  }

  // Runs fn(address, SlaveTables&) for every slave, in address order, under the lock.
  template <typename Fn>
  void ForEachSlave(Fn&& fn) {
    std::lock_guard lock(mutex_);
    for (auto& [address, tables] : slaves_) fn(address, tables);
  }

 private:
  TableSizes sizes_;
  mutable std::mutex mutex_;
  std::map<uint8_t, SlaveTables> slaves_;
};

}  // namespace qb::sim
