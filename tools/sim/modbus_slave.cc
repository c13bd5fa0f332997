// Serving the Modbus functions against a slave's tables.
#include "sim/modbus_slave.h"

namespace qb::sim {
namespace {

// Quantity limits of the standard: what fits into one 253-byte PDU.
constexpr uint32_t kMaxReadBits = 2000;
constexpr uint32_t kMaxReadRegisters = 125;
constexpr uint32_t kMaxWriteBits = 1968;
constexpr uint32_t kMaxWriteRegisters = 123;
constexpr uint32_t kMaxReadWriteRead = 125;
constexpr uint32_t kMaxReadWriteWrite = 121;

uint16_t WordAt(std::span<const uint8_t> pdu, size_t at) {
  return static_cast<uint16_t>(pdu[at] << 8 | pdu[at + 1]);
}

void PutWord(std::vector<uint8_t>* out, uint16_t value) {
  out->push_back(static_cast<uint8_t>(value >> 8));
  out->push_back(static_cast<uint8_t>(value & 0xFF));
}

std::vector<uint8_t> Exception(uint8_t function, uint8_t code) {
  return {static_cast<uint8_t>(function | 0x80), code};
}

bool InTable(const SlaveTables& t, Table table, uint32_t start, uint32_t count) {
  return start + count <= t.Size(table);
}

std::vector<uint8_t> ReadBits(SlaveTables& t, Table table, std::span<const uint8_t> pdu) {
  const uint8_t fc = pdu[0];
  if (pdu.size() != 5) return Exception(fc, kIllegalDataValue);
  const uint32_t start = WordAt(pdu, 1);
  const uint32_t count = WordAt(pdu, 3);
  if (count < 1 || count > kMaxReadBits) return Exception(fc, kIllegalDataValue);
  if (!InTable(t, table, start, count)) return Exception(fc, kIllegalDataAddress);
  const uint32_t bytes = (count + 7) / 8;
  std::vector<uint8_t> out{fc, static_cast<uint8_t>(bytes)};
  out.resize(2 + bytes, 0);
  for (uint32_t i = 0; i < count; ++i) {
    if (t.Get(table, start + i) != 0) out[2 + i / 8] |= static_cast<uint8_t>(1u << (i % 8));
  }
  return out;
}

std::vector<uint8_t> ReadRegisters(SlaveTables& t, Table table, std::span<const uint8_t> pdu) {
  const uint8_t fc = pdu[0];
  if (pdu.size() != 5) return Exception(fc, kIllegalDataValue);
  const uint32_t start = WordAt(pdu, 1);
  const uint32_t count = WordAt(pdu, 3);
  if (count < 1 || count > kMaxReadRegisters) return Exception(fc, kIllegalDataValue);
  if (!InTable(t, table, start, count)) return Exception(fc, kIllegalDataAddress);
  std::vector<uint8_t> out{fc, static_cast<uint8_t>(2 * count)};
  for (uint32_t i = 0; i < count; ++i) PutWord(&out, t.Get(table, start + i));
  return out;
}

std::vector<uint8_t> WriteCoil(SlaveTables& t, std::span<const uint8_t> pdu) {
  const uint8_t fc = pdu[0];
  if (pdu.size() != 5) return Exception(fc, kIllegalDataValue);
  const uint32_t address = WordAt(pdu, 1);
  const uint16_t value = WordAt(pdu, 3);
  if (value != 0x0000 && value != 0xFF00) return Exception(fc, kIllegalDataValue);
  if (!InTable(t, Table::kCoils, address, 1)) return Exception(fc, kIllegalDataAddress);
  t.Set(Table::kCoils, address, value == 0xFF00 ? 1 : 0);
  return {pdu.begin(), pdu.end()};
}

std::vector<uint8_t> WriteRegister(SlaveTables& t, std::span<const uint8_t> pdu) {
  const uint8_t fc = pdu[0];
  if (pdu.size() != 5) return Exception(fc, kIllegalDataValue);
  const uint32_t address = WordAt(pdu, 1);
  if (!InTable(t, Table::kHoldingRegisters, address, 1)) return Exception(fc, kIllegalDataAddress);
  t.Set(Table::kHoldingRegisters, address, WordAt(pdu, 3));
  return {pdu.begin(), pdu.end()};
}

std::vector<uint8_t> WriteCoils(SlaveTables& t, std::span<const uint8_t> pdu) {
  const uint8_t fc = pdu[0];
  if (pdu.size() < 6) return Exception(fc, kIllegalDataValue);
  const uint32_t start = WordAt(pdu, 1);
  const uint32_t count = WordAt(pdu, 3);
  const uint32_t bytes = pdu[5];
  if (count < 1 || count > kMaxWriteBits || bytes != (count + 7) / 8 || pdu.size() != 6 + bytes)
    return Exception(fc, kIllegalDataValue);
  if (!InTable(t, Table::kCoils, start, count)) return Exception(fc, kIllegalDataAddress);
  for (uint32_t i = 0; i < count; ++i)
    t.Set(Table::kCoils, start + i, (pdu[6 + i / 8] >> (i % 8)) & 1);
  return {pdu.begin(), pdu.begin() + 5};
}

std::vector<uint8_t> WriteRegisters(SlaveTables& t, std::span<const uint8_t> pdu) {
  const uint8_t fc = pdu[0];
  if (pdu.size() < 6) return Exception(fc, kIllegalDataValue);
  const uint32_t start = WordAt(pdu, 1);
  const uint32_t count = WordAt(pdu, 3);
  const uint32_t bytes = pdu[5];
  if (count < 1 || count > kMaxWriteRegisters || bytes != 2 * count || pdu.size() != 6 + bytes)
    return Exception(fc, kIllegalDataValue);
  if (!InTable(t, Table::kHoldingRegisters, start, count))
    return Exception(fc, kIllegalDataAddress);
  for (uint32_t i = 0; i < count; ++i)
    t.Set(Table::kHoldingRegisters, start + i, WordAt(pdu, 6 + 2 * i));
  return {pdu.begin(), pdu.begin() + 5};
}

std::vector<uint8_t> MaskWriteRegister(SlaveTables& t, std::span<const uint8_t> pdu) {
  const uint8_t fc = pdu[0];
  if (pdu.size() != 7) return Exception(fc, kIllegalDataValue);
  const uint32_t address = WordAt(pdu, 1);
  if (!InTable(t, Table::kHoldingRegisters, address, 1)) return Exception(fc, kIllegalDataAddress);
  const uint16_t andMask = WordAt(pdu, 3);
  const uint16_t orMask = WordAt(pdu, 5);
  const uint16_t current = t.Get(Table::kHoldingRegisters, address);
  t.Set(Table::kHoldingRegisters, address,
        static_cast<uint16_t>((current & andMask) | (orMask & ~andMask)));
  return {pdu.begin(), pdu.end()};
}

std::vector<uint8_t> ReadWriteRegisters(SlaveTables& t, std::span<const uint8_t> pdu) {
  const uint8_t fc = pdu[0];
  if (pdu.size() < 10) return Exception(fc, kIllegalDataValue);
  const uint32_t readStart = WordAt(pdu, 1);
  const uint32_t readCount = WordAt(pdu, 3);
  const uint32_t writeStart = WordAt(pdu, 5);
  const uint32_t writeCount = WordAt(pdu, 7);
  const uint32_t bytes = pdu[9];
  if (readCount < 1 || readCount > kMaxReadWriteRead || writeCount < 1 ||
      writeCount > kMaxReadWriteWrite || bytes != 2 * writeCount || pdu.size() != 10 + bytes)
    return Exception(fc, kIllegalDataValue);
  if (!InTable(t, Table::kHoldingRegisters, readStart, readCount) ||
      !InTable(t, Table::kHoldingRegisters, writeStart, writeCount))
    return Exception(fc, kIllegalDataAddress);
  // The write is done before the read, so the reply shows the values just written.
  for (uint32_t i = 0; i < writeCount; ++i)
    t.Set(Table::kHoldingRegisters, writeStart + i, WordAt(pdu, 10 + 2 * i));
  std::vector<uint8_t> out{fc, static_cast<uint8_t>(2 * readCount)};
  for (uint32_t i = 0; i < readCount; ++i)
    PutWord(&out, t.Get(Table::kHoldingRegisters, readStart + i));
  return out;
}

bool IsWrite(uint8_t function) {
  return function == 5 || function == 6 || function == 15 || function == 16 || function == 22;
}

}  // namespace

std::vector<uint8_t> ServeRequest(SlaveTables& tables, std::span<const uint8_t> pdu) {
  if (pdu.empty()) return Exception(0, kIllegalFunction);
  switch (pdu[0]) {
    case 1:
      return ReadBits(tables, Table::kCoils, pdu);
    case 2:
      return ReadBits(tables, Table::kDiscreteInputs, pdu);
    case 3:
      return ReadRegisters(tables, Table::kHoldingRegisters, pdu);
    case 4:
      return ReadRegisters(tables, Table::kInputRegisters, pdu);
    case 5:
      return WriteCoil(tables, pdu);
    case 6:
      return WriteRegister(tables, pdu);
    case 15:
      return WriteCoils(tables, pdu);
    case 16:
      return WriteRegisters(tables, pdu);
    case 22:
      return MaskWriteRegister(tables, pdu);
    case 23:
      return ReadWriteRegisters(tables, pdu);
    default:
      return Exception(pdu[0], kIllegalFunction);
  }
}

SlaveResult ModbusSlave::Handle(uint8_t address, std::span<const uint8_t> pdu) {
  if (address == 0) {
    if (!pdu.empty() && IsWrite(pdu[0]))
      model_->ForEachSlave([&](uint8_t, SlaveTables& t) { ServeRequest(t, pdu); });
    return {Outcome::kBroadcast, {}};
  }
  auto reply = model_->WithSlave(address, [&](SlaveTables& t) { return ServeRequest(t, pdu); });
  if (!reply) return {Outcome::kNotAddressed, {}};
  const bool exception = reply->size() == 2 && ((*reply)[0] & 0x80) != 0;
  return {exception ? Outcome::kException : Outcome::kReply, std::move(*reply)};
}

}  // namespace qb::sim
