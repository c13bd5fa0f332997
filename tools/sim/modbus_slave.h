// The application layer of the simulated devices: one request PDU in, one reply PDU out, by the
// Modbus rules for the function codes the panel uses (1 to 6, 15, 16, 22 and 23). Every request is
// checked the way a conforming device checks it, in the standard's order: function code first
// (exception 1), then quantities and byte counts (exception 3), then addresses (exception 2).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "sim/device_model.h"

namespace qb::sim {

// Modbus exception codes.
inline constexpr uint8_t kIllegalFunction = 0x01;
inline constexpr uint8_t kIllegalDataAddress = 0x02;
inline constexpr uint8_t kIllegalDataValue = 0x03;

enum class Outcome {
  kReply,         // pdu holds the normal reply
  kException,     // pdu holds function code | 0x80 and the exception code
  kBroadcast,     // address 0: writes were done on every slave; a broadcast is never answered
  kNotAddressed,  // the address is not one of the simulated slaves: the device stays silent
};

struct SlaveResult {
  Outcome outcome = Outcome::kNotAddressed;
  std::vector<uint8_t> pdu;
};

class ModbusSlave {
 public:
  explicit ModbusSlave(DeviceModel* model) : model_(model) {}

  // Handles one request addressed to `address` (0 = broadcast); pdu = function code + data.
  SlaveResult Handle(uint8_t address, std::span<const uint8_t> pdu);

 private:
  DeviceModel* model_;
};

// The reply PDU (or exception PDU) of one request against one slave's tables. Broadcast reads
// are refused with exception 1 here; the caller drops every broadcast reply anyway.
std::vector<uint8_t> ServeRequest(SlaveTables& tables, std::span<const uint8_t> pdu);

}  // namespace qb::sim
