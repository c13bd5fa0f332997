// The library's own port in direct mode against libmodbus as an independent RTU slave, over a
// pair of linked pseudo-terminals: every function code, values read equal to the slave's mapping,
// writes visible in it, and libmodbus's exception reply as a detailed event.
#include <gtest/gtest.h>

#include "libmodbus_slave.h"
#include "quillbox/quillbox.h"
#include "support/host_inbox.h"
#include "support/modbus_frames.h"
#include "support/pty.h"

namespace qb::test {
namespace {

class LibmodbusPeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(link.Library().Ok());
    ASSERT_TRUE(peer.Connected());
    qbSetPortDevice(1, link.Library().WidePath().c_str());
    qbSetRtuMode();
    ASSERT_EQ(qbOpenSerial(1, 9600), 1);
    HostInbox::Get().Attach();
    qbSetTimeOut(1000);
    qbSetQueryInterval(0);
  }
  void TearDown() override {
    qbStop();
    qbCloseSerial();
  }
  // The event 2 of an item.
  static const HostEvent* Reply(const std::vector<HostEvent>& events, uint32_t id) {
    for (const auto& e : events) {
      if (e.code == 2 && e.itemId == id) return &e;
    }
    return nullptr;
  }

  PtyLink link;
  LibmodbusSlave peer{link.Peer().Path(), 1};
};

TEST_F(LibmodbusPeerTest, EveryFunctionCodeRoundTrips) {
  peer.WithMapping([](modbus_mapping_t& m) {
    for (int i = 0; i < 16; ++i) {
      m.tab_bits[i] = (i % 3 == 0) ? 1 : 0;
      m.tab_input_bits[i] = (i % 2 == 0) ? 1 : 0;
    }
    for (int i = 0; i < 10; ++i) {
      m.tab_registers[i] = static_cast<uint16_t>(100 + i);
      m.tab_input_registers[i] = static_cast<uint16_t>(200 + i);
    }
    m.tab_registers[60] = 0x0012;
  });

  qbManualBitRead(1, 1, 0, 10);
  qbDefineBitRead02();
  qbManualBitRead(2, 1, 0, 10);
  qbDefineBitRead01();
  qbManualWordRead(3, 1, 0, 4);
  qbDefineWordRead04();
  qbManualWordRead(4, 1, 2, 3);
  qbDefineWordRead03();
  qbManualBitWrite(5, 1, 20, 7);
  qbManualWordWrite(6, 1, 30, 0x1234);
  const uint8_t coils[] = {0xCD, 0x01};
  qbManualMultiBitWrite(7, 1, 40, 10, 2, coils);
  const uint8_t words[] = {0x00, 0x0A, 0x01, 0x02};
  qbManualMultiWordWrite(8, 1, 50, 2, 4, words);
  qbManualMaskWrite4x(9, 1, 60, 0x00F2, 0x0025);
  const uint8_t rw[] = {0xAB, 0xCD, 0x00, 0x07};
  qbManualReadWrite4x(10, 1, 0, 3, 70, 2, rw);
  qbStartNotDestroyingBuffer();

  auto& inbox = HostInbox::Get();
  ASSERT_TRUE(inbox.WaitForCount(2, 10, std::chrono::seconds(20)))
      << "replies: " << HostInbox::Count(inbox.Events(), 2)
      << ", time-outs: " << HostInbox::Count(inbox.Events(), 3);
  const auto events = inbox.Events();
  EXPECT_EQ(HostInbox::Count(events, 3), 0u);
  ASSERT_NE(Reply(events, 1), nullptr);
  EXPECT_EQ(Reply(events, 1)->words, (std::vector<int32_t>{1, 0, 0, 1, 0, 0, 1, 0, 0, 1}));
  EXPECT_EQ(Reply(events, 2)->words, (std::vector<int32_t>{1, 0, 1, 0, 1, 0, 1, 0, 1, 0}));
  EXPECT_EQ(Reply(events, 3)->words, (std::vector<int32_t>{100, 101, 102, 103}));
  EXPECT_EQ(Reply(events, 4)->words, (std::vector<int32_t>{202, 203, 204}));
  // Replies of code 23 reach the host as raw bytes only: 01 17, byte count 6, three registers.
  const auto& rwFrame = Reply(events, 10)->frame;
  ASSERT_EQ(rwFrame.size(), 11u);
  EXPECT_EQ(std::vector<uint8_t>(rwFrame.begin(), rwFrame.begin() + 9),
            (std::vector<uint8_t>{0x01, 0x17, 0x06, 0x00, 100, 0x00, 101, 0x00, 102}));
  EXPECT_TRUE(Reply(events, 10)->words.empty());
  // The order of sending is the order of registration.
  std::vector<uint32_t> order;
  for (const auto& e : events) order.push_back(e.itemId);
  EXPECT_EQ(order, (std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));

  peer.WithMapping([](modbus_mapping_t& m) {
    EXPECT_EQ(m.tab_bits[20], 1);
    EXPECT_EQ(m.tab_registers[30], 0x1234);
    const int expectedCoils[10] = {1, 0, 1, 1, 0, 0, 1, 1, 1, 0};  // 0xCD, then bit 0 of 0x01
    for (int i = 0; i < 10; ++i) EXPECT_EQ(m.tab_bits[40 + i], expectedCoils[i]) << i;
    EXPECT_EQ(m.tab_registers[50], 0x000A);
    EXPECT_EQ(m.tab_registers[51], 0x0102);
    EXPECT_EQ(m.tab_registers[60], (0x0012 & 0x00F2) | (0x0025 & ~0x00F2));
    EXPECT_EQ(m.tab_registers[70], 0xABCD);
    EXPECT_EQ(m.tab_registers[71], 0x0007);
  });
}

TEST_F(LibmodbusPeerTest, DetailedExceptionRepliesEndTheQueryAtOnce) {
  qbSetDetailedEvents(1);
  qbSetTimeOut(5000);  // a time-out would fail the wait below
  qbManualWordRead(1, 1, 98, 5);
  qbManualWordRead(2, 1, 0, 1);
  qbStartNotDestroyingBuffer();
  auto& inbox = HostInbox::Get();
  ASSERT_TRUE(inbox.WaitForCount(QB_EVENT_REPLY, 1, std::chrono::seconds(4)));
  const auto events = inbox.Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].code, QB_EVENT_EXCEPTION);
  EXPECT_EQ(events[0].words, (std::vector<int32_t>{3, QB_EXCEPTION_ILLEGAL_ADDRESS}));
  EXPECT_EQ(events[0].frame, WithCrc({0x01, 0x83, 0x02}));
}

}  // namespace
}  // namespace qb::test
