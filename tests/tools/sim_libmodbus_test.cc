// The simulator against an independent master, libmodbus's RTU client on the pseudo-terminal:
// every table read and written, two slaves. (Exception replies: the mbpoll and pymodbus tests.)
#include <gtest/gtest.h>
#include <modbus.h>

#include <cerrno>

#include "sim_test_util.h"

namespace qb::sim {
namespace {

using U16 = std::vector<uint16_t>;
using U8 = std::vector<uint8_t>;

class SimLibmodbusTest : public ::testing::Test {
 protected:
  void Start(SimulatorOptions options = {}) {
    sim_ = std::make_unique<simtest::SimOnPty>(std::move(options), U8{1, 2},
                                               TableSizes{100, 100, 100, 100});
    ASSERT_TRUE(sim_->Ready());
    DeviceModel& m = sim_->model;
    m.Set(1, Table::kCoils, 0, {1, 0, 1, 1, 0, 0, 0, 1, 1, 0, 1});
    m.Set(1, Table::kDiscreteInputs, 90, {0, 1, 1, 0, 1});
    m.Set(1, Table::kHoldingRegisters, 10, {100, 200, 300, 0xFFFF});
    m.Set(1, Table::kInputRegisters, 99, {0xCAFE});
    m.Set(2, Table::kHoldingRegisters, 10, {7, 8});
    ctx_ = modbus_new_rtu(sim_->Path().c_str(), 9600, 'N', 8, 1);
    ASSERT_NE(ctx_, nullptr);
    ASSERT_EQ(modbus_set_slave(ctx_, 1), 0);
    ASSERT_EQ(modbus_connect(ctx_), 0) << modbus_strerror(errno);
    modbus_set_response_timeout(ctx_, 1, 0);
  }
  void TearDown() override {
    if (ctx_ != nullptr) {
      modbus_close(ctx_);
      modbus_free(ctx_);
    }
  }
  U16 Hr(uint8_t slave, uint32_t from, uint32_t count) const {
    U16 out;
    for (uint32_t a = from; a < from + count; ++a)
      out.push_back(*sim_->model.Get(slave, Table::kHoldingRegisters, a));
    return out;
  }

  std::unique_ptr<simtest::SimOnPty> sim_;
  modbus_t* ctx_ = nullptr;
};

TEST_F(SimLibmodbusTest, ReadsEveryTableOfTwoSlaves) {
  Start();
  uint8_t bits[16] = {};
  uint16_t regs[8] = {};
  ASSERT_EQ(modbus_read_bits(ctx_, 0, 11, bits), 11) << modbus_strerror(errno);
  EXPECT_EQ(U8(bits, bits + 11), (U8{1, 0, 1, 1, 0, 0, 0, 1, 1, 0, 1}));
  ASSERT_EQ(modbus_read_input_bits(ctx_, 90, 5, bits), 5) << modbus_strerror(errno);
  EXPECT_EQ(U8(bits, bits + 5), (U8{0, 1, 1, 0, 1}));
  ASSERT_EQ(modbus_read_registers(ctx_, 10, 4, regs), 4) << modbus_strerror(errno);
  EXPECT_EQ(U16(regs, regs + 4), (U16{100, 200, 300, 0xFFFF}));
  ASSERT_EQ(modbus_read_input_registers(ctx_, 98, 2, regs), 2) << modbus_strerror(errno);
  EXPECT_EQ(U16(regs, regs + 2), (U16{0, 0xCAFE}));
  ASSERT_EQ(modbus_set_slave(ctx_, 2), 0);
  ASSERT_EQ(modbus_read_registers(ctx_, 10, 3, regs), 3) << modbus_strerror(errno);
  EXPECT_EQ(U16(regs, regs + 3), (U16{7, 8, 0}));
  EXPECT_EQ(sim_->CountersOnce(&SimulatorCounters::replies, 5).replies, 5u);
}

TEST_F(SimLibmodbusTest, WritesEveryKind) {
  Start();
  ASSERT_EQ(modbus_write_bit(ctx_, 0, 0), 1) << modbus_strerror(errno);
  const uint8_t coils[12] = {1, 1, 0, 1, 0, 1, 0, 1, 1, 1, 0, 1};
  ASSERT_EQ(modbus_write_bits(ctx_, 50, 12, coils), 12) << modbus_strerror(errno);
  uint8_t back[14] = {};
  ASSERT_EQ(modbus_read_bits(ctx_, 0, 2, back), 2);
  ASSERT_EQ(modbus_read_bits(ctx_, 50, 12, back + 2), 12);
  EXPECT_EQ(U8(back, back + 14), (U8{0, 0, 1, 1, 0, 1, 0, 1, 0, 1, 1, 1, 0, 1}));

  ASSERT_EQ(modbus_write_register(ctx_, 20, 0xA55A), 1) << modbus_strerror(errno);
  const uint16_t values[3] = {1, 0x8000, 65535};
  ASSERT_EQ(modbus_write_registers(ctx_, 21, 3, values), 3) << modbus_strerror(errno);
  EXPECT_EQ(Hr(1, 20, 4), (U16{0xA55A, 1, 0x8000, 65535}));
  // (0xA55A AND 0x0FF0) OR (0x1234 AND NOT 0x0FF0) = 0x0550 OR 0x1004
  ASSERT_EQ(modbus_mask_write_register(ctx_, 20, 0x0FF0, 0x1234), 1) << modbus_strerror(errno);
  EXPECT_EQ(Hr(1, 20, 1), (U16{0x1554}));
  const uint16_t written[2] = {0x1111, 0x2222};
  uint16_t read[4] = {};
  ASSERT_EQ(modbus_write_and_read_registers(ctx_, 11, 2, written, 10, 4, read), 4)
      << modbus_strerror(errno);
  EXPECT_EQ(U16(read, read + 4), (U16{100, 0x1111, 0x2222, 0xFFFF}));
  EXPECT_EQ(Hr(2, 11, 2), (U16{8, 0}));  // slave 2 untouched
}

}  // namespace
}  // namespace qb::sim
