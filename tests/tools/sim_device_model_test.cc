// The device model's slaves and tables, and initial values from assignments and files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "sim/model_loader.h"

namespace qb::sim {
namespace {

std::vector<uint16_t> Values(const DeviceModel& m, uint8_t slave, Table t, uint32_t from,
                             uint32_t count) {
  std::vector<uint16_t> out;
  for (uint32_t a = from; a < from + count; ++a) out.push_back(m.Get(slave, t, a).value_or(0xDEAD));
  return out;
}

TEST(SimDeviceModelTest, SlavesAndTableBounds) {
  DeviceModel m(TableSizes{8, 9, 10, 70000});
  EXPECT_FALSE(m.AddSlave(0));    // broadcast
  EXPECT_FALSE(m.AddSlave(248));  // reserved
  EXPECT_TRUE(m.AddSlave(247));
  EXPECT_TRUE(m.AddSlave(1));
  EXPECT_FALSE(m.AddSlave(1));
  EXPECT_EQ(m.Slaves(), (std::vector<uint8_t>{1, 247}));
  EXPECT_EQ(m.Sizes().inputRegisters, 65536u);  // the whole address range at most
  EXPECT_FALSE(m.Get(1, Table::kCoils, 8).has_value());
  EXPECT_FALSE(m.Get(2, Table::kCoils, 0).has_value());
  EXPECT_EQ(m.Get(1, Table::kInputRegisters, 65535), 0);

  EXPECT_TRUE(m.Set(1, Table::kHoldingRegisters, 8, {0xFFFF, 7}));
  EXPECT_FALSE(m.Set(1, Table::kHoldingRegisters, 9, {1, 2}));  // past the 10th
  EXPECT_FALSE(m.Set(3, Table::kHoldingRegisters, 0, {1}));
  EXPECT_EQ(Values(m, 1, Table::kHoldingRegisters, 7, 4),
            (std::vector<uint16_t>{0, 0xFFFF, 7, 0xDEAD}));
  EXPECT_EQ(m.Get(247, Table::kHoldingRegisters, 8), 0);  // each slave has its own tables
  EXPECT_TRUE(m.Set(1, Table::kCoils, 0, {5, 0, 1}));     // any non-zero is a 1 bit
  EXPECT_EQ(Values(m, 1, Table::kCoils, 0, 3), (std::vector<uint16_t>{1, 0, 1}));
}

class SimModelLoaderTest : public ::testing::Test {
 protected:
  SimModelLoaderTest() : model_(TableSizes{16, 16, 16, 16}) {
    model_.AddSlave(1);
    model_.AddSlave(2);
  }
  DeviceModel model_;
  std::string error_;
};

TEST_F(SimModelLoaderTest, TextWithCommentsForOneOrEverySlave) {
  const char* text =
      "# initial values\n"
      "\n"
      "hr:3=10,0x1234,-1   # every slave\r\n"
      " 2 : ir : 0x0F = 65535 \n"
      "1:co:0=1,0,1,1\n"
      "di:15=1";
  ASSERT_TRUE(LoadModelText(model_, text, &error_)) << error_;
  for (const uint8_t s : {1, 2}) {
    EXPECT_EQ(Values(model_, s, Table::kHoldingRegisters, 2, 5),
              (std::vector<uint16_t>{0, 10, 0x1234, 0xFFFF, 0}));
    EXPECT_EQ(model_.Get(s, Table::kDiscreteInputs, 15), 1);
  }
  EXPECT_EQ(model_.Get(2, Table::kInputRegisters, 15), 65535);
  EXPECT_EQ(model_.Get(1, Table::kInputRegisters, 15), 0);
  EXPECT_EQ(Values(model_, 1, Table::kCoils, 0, 5), (std::vector<uint16_t>{1, 0, 1, 1, 0}));
  EXPECT_EQ(Values(model_, 2, Table::kCoils, 0, 4), (std::vector<uint16_t>{0, 0, 0, 0}));

  EXPECT_FALSE(LoadModelText(model_, "hr:1=5\n#\nhr:2=x\nhr:3=6\n", &error_));
  EXPECT_EQ(error_, "line 3: bad value 'x'");
  EXPECT_EQ(Values(model_, 1, Table::kHoldingRegisters, 1, 3), (std::vector<uint16_t>{5, 0, 10}));
}

TEST_F(SimModelLoaderTest, BadAssignmentsSayWhyAndStoreNothing) {
  const std::pair<const char*, const char*> cases[] = {
      {"hr:0", "expected [slave:]table:address=values in 'hr:0'"},
      {"1:2:hr:0=1", "expected [slave:]table:address before '=' in '1:2:hr:0=1'"},
      {"xx:0=1", "unknown table 'xx' (co, di, hr or ir)"},
      {"248:hr:0=1", "bad slave address '248' (1..247)"},
      {"3:hr:0=1", "slave 3 is not simulated"},
      {"hr:65536=1", "bad address '65536' (0..65535)"},
      {"hr:0x=1", "bad address '0x' (0..65535)"},
      {"hr:0=1,,2", "bad value ''"},
      {"hr:0=65536", "value '65536' does not fit 16 bits"},
      {"hr:0=-32769", "value '-32769' does not fit 16 bits"},
      {"co:0=2", "value '2' is not a bit (0 or 1)"},
      {"hr:14=1,2,3", "3 value(s) from address 14 run past the end of table hr (16 addresses)"},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_FALSE(ApplyAssignment(model_, text, &error_)) << text;
    EXPECT_EQ(error_, expected) << text;
  }
  EXPECT_EQ(Values(model_, 1, Table::kHoldingRegisters, 14, 2), (std::vector<uint16_t>{0, 0}));
  DeviceModel empty;
  EXPECT_FALSE(ApplyAssignment(empty, "hr:0=1", &error_));
  EXPECT_EQ(error_, "no slave to give values to");
}

TEST_F(SimModelLoaderTest, Files) {
  char path[] = "/tmp/qb_sim_values_XXXXXX";
  ::close(::mkstemp(path));
  std::ofstream(path) << "1:hr:5=0xBEEF\nir:0=1,2\n";
  EXPECT_TRUE(LoadModelFile(model_, path, &error_)) << error_;
  EXPECT_EQ(model_.Get(1, Table::kHoldingRegisters, 5), 0xBEEF);
  EXPECT_EQ(model_.Get(2, Table::kInputRegisters, 1), 2);
  std::ofstream(path) << "hr:0=1\nbad line\n";
  EXPECT_FALSE(LoadModelFile(model_, path, &error_));
  EXPECT_EQ(error_,
            std::string(path) + ": line 2: expected [slave:]table:address=values in 'bad line'");
  std::ofstream(path) << std::string(kMaxModelFileBytes + 1, '#');
  EXPECT_FALSE(LoadModelFile(model_, path, &error_));
  EXPECT_EQ(error_, std::string(path) + " is larger than 1048576 bytes");
  ::unlink(path);
  EXPECT_FALSE(LoadModelFile(model_, "/nonexistent/values.txt", &error_));
  EXPECT_EQ(error_, "cannot read /nonexistent/values.txt: No such file or directory");
  EXPECT_FALSE(LoadModelFile(model_, "/tmp", &error_));
  EXPECT_EQ(error_, "cannot read /tmp: not a readable regular file");
}

}  // namespace
}  // namespace qb::sim
