// The simulated slave's answers, PDU by PDU, worked out by hand from the Modbus function rules:
// reads, writes, mask write, read/write, every exception path, other slaves and broadcast.
#include <gtest/gtest.h>

#include "sim/modbus_slave.h"
#include "sim_test_util.h"

namespace qb::sim {
namespace {

using simtest::Bytes;
using simtest::Hex;

class SimModbusSlaveTest : public ::testing::Test {
 protected:
  SimModbusSlaveTest() : model_(TableSizes{20, 20, 20, 20}), slave_(&model_) {
    model_.AddSlave(1);
    model_.AddSlave(2);
    model_.Set(1, Table::kCoils, 0, {1, 0, 1, 1, 0, 0, 1, 1, 1, 0});
    model_.Set(1, Table::kDiscreteInputs, 19, {1});
    model_.Set(1, Table::kHoldingRegisters, 0, {0x1234, 0xABCD, 7});
    model_.Set(1, Table::kHoldingRegisters, 6, {0x0012, 0, 1, 2});
    model_.Set(1, Table::kInputRegisters, 18, {0xFFFF, 1});
  }
  // Asks slave 1 each request in turn and checks each reply.
  void Exchange(const std::vector<std::pair<std::string, std::string>>& cases) {
    for (const auto& [request, reply] : cases) {
      const SlaveResult r = slave_.Handle(1, Hex(request));
      EXPECT_EQ(r.pdu, Hex(reply)) << request;
      EXPECT_EQ(r.outcome, (Hex(reply)[0] & 0x80) != 0 ? Outcome::kException : Outcome::kReply);
    }
  }
  std::vector<uint16_t> Get(Table t, uint32_t from, uint32_t count) const {
    std::vector<uint16_t> out;
    for (uint32_t a = from; a < from + count; ++a) out.push_back(*model_.Get(1, t, a));
    return out;
  }

  DeviceModel model_;
  ModbusSlave slave_;
};

TEST_F(SimModbusSlaveTest, Reads) {
  Exchange({
      {"01 0000 000A", "01 02 CD 01"},  // coils 1 0 1 1 0 0 1 1 | 1 0, least significant bit first
      {"01 0002 0003", "01 01 03"},
      {"02 0013 0001", "02 01 01"},
      {"03 0000 0003", "03 06 1234 ABCD 0007"},
      {"04 0012 0002", "04 04 FFFF 0001"},
      {"03 0000 0000", "83 03"},  // quantity 0
      {"03 0000 007E", "83 03"},  // 126 registers
      {"04 0000 007D", "84 02"},  // 125 may be read, but not from 20 registers
      {"01 0000 07D1", "81 03"},  // 2001 coils
      {"02 0000 07D0", "82 02"},  // 2000 may be read
      {"03 0013 0002", "83 02"},  // past the end
      {"01 FFFF 0001", "81 02"},
      {"03 0000 00", "83 03"},       // PDU too short
      {"03 0000 0001 00", "83 03"},  // PDU too long
  });
}

TEST_F(SimModbusSlaveTest, Writes) {
  Exchange({
      {"05 0004 FF00", "05 0004 FF00"},
      {"05 0000 0000", "05 0000 0000"},
      {"05 0001 1234", "85 03"},  // neither ON nor OFF
      {"05 0014 0001", "85 03"},  // the value is checked before the address
      {"05 0014 FF00", "85 02"},
      {"06 0013 BEEF", "06 0013 BEEF"},
      {"06 0014 0001", "86 02"},
      {"0F 000A 000A 02 CD 01", "0F 000A 000A"},
      {"0F 0000 000A 01 FF", "8F 03"},     // 10 coils need 2 bytes
      {"0F 0000 0001 01 01 00", "8F 03"},  // a byte more than counted
      {"0F 000F 000A 02 FF 03", "8F 02"},  // past coil 19
      {"10 0004 0002 04 000A 0102", "10 0004 0002"},
      {"10 0000 0002 03 0001 00", "90 03"},  // byte count is not 2 x 2
      {"10 0013 0002 04 1111 2222", "90 02"},
      // (0x12 AND 0xF2) OR (0x25 AND NOT 0xF2) = 0x17
      {"16 0006 00F2 0025", "16 0006 00F2 0025"},
      {"16 0014 FFFF 0000", "96 02"},
      {"16 0006 FFFF", "96 03"},
  });
  EXPECT_EQ(Get(Table::kCoils, 0, 5), (std::vector<uint16_t>{0, 0, 1, 1, 1}));
  EXPECT_EQ(Get(Table::kCoils, 10, 10),  // CD 01 from coil 10
            (std::vector<uint16_t>{1, 0, 1, 1, 0, 0, 1, 1, 1, 0}));
  EXPECT_EQ(Get(Table::kHoldingRegisters, 4, 3), (std::vector<uint16_t>{0x000A, 0x0102, 0x0017}));
  EXPECT_EQ(Get(Table::kHoldingRegisters, 19, 1), (std::vector<uint16_t>{0xBEEF}));
  Bytes tooMany = Hex("10 0000 007C F8");  // 124 registers with their 248 bytes
  tooMany.resize(tooMany.size() + 248, 0);
  EXPECT_EQ(slave_.Handle(1, tooMany).pdu, Hex("90 03"));
}

TEST_F(SimModbusSlaveTest, ReadWriteWritesFirst) {
  Exchange({
      {"17 0008 0003 0009 0002 04 AAAA BBBB", "17 06 0001 AAAA BBBB"},
      {"17 0000 007E 0000 0001 02 0000", "97 03"},       // read 126
      {"17 0000 0001 0000 0001 04 0000", "97 03"},       // 4 bytes for 1 register
      {"17 0013 0002 0000 0001 02 5555", "97 02"},       // read past the end
      {"17 0000 0001 0013 0002 04 5555 5555", "97 02"},  // write past the end
  });
  Bytes writeTooMany = Hex("17 0000 0001 0000 007A F4");  // write 122
  writeTooMany.resize(writeTooMany.size() + 244, 0);
  EXPECT_EQ(slave_.Handle(1, writeTooMany).pdu, Hex("97 03"));
  EXPECT_EQ(Get(Table::kHoldingRegisters, 0, 1), (std::vector<uint16_t>{0x1234}));
  EXPECT_EQ(Get(Table::kHoldingRegisters, 19, 1), (std::vector<uint16_t>{0}));
}

TEST_F(SimModbusSlaveTest, IllegalFunctions) {
  Exchange({{"07", "87 01"}, {"2B 0E 01 00", "AB 01"}, {"11", "91 01"}, {"83 00", "83 01"}});
}

TEST_F(SimModbusSlaveTest, OtherSlavesAndBroadcast) {
  SlaveResult r = slave_.Handle(3, Hex("03 0000 0001"));
  EXPECT_EQ(r.outcome, Outcome::kNotAddressed);
  EXPECT_TRUE(r.pdu.empty());
  EXPECT_EQ(slave_.Handle(2, Hex("03 0000 0001")).pdu, Hex("03 02 0000"));  // its own tables

  r = slave_.Handle(0, Hex("06 0001 002A"));
  EXPECT_EQ(r.outcome, Outcome::kBroadcast);
  EXPECT_TRUE(r.pdu.empty());
  EXPECT_EQ(model_.Get(1, Table::kHoldingRegisters, 1), 42);
  EXPECT_EQ(model_.Get(2, Table::kHoldingRegisters, 1), 42);
  // The read/write function is a read: not done for a broadcast.
  EXPECT_EQ(slave_.Handle(0, Hex("17 0000 0001 0002 0001 02 7777")).outcome, Outcome::kBroadcast);
  EXPECT_EQ(model_.Get(1, Table::kHoldingRegisters, 2), 7);
}

}  // namespace
}  // namespace qb::sim
