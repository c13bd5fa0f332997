// Every registration export through the C API, checked by the request it makes: in indirect mode
// each item's frame comes to the host in event 1, so a swapped argument shows in the bytes.
#include <gtest/gtest.h>

#include <vector>

#include "quillbox/quillbox.h"
#include "support/host_inbox.h"
#include "support/modbus_frames.h"

namespace qb::test {
namespace {

// Event block of format 1: code 1, the low byte of the id, the frame.
Bytes Block(uint8_t id, const Bytes& pdu) { return Concat({0x01, id}, WithCrc(pdu)); }

void ListenForRequests() {
  HostInbox::Get().Attach(1, 1);
  qbSetRtuMode();
  qbSetQueryDirectSerial(0);
  qbSetTimeOut(100000);
  qbSetQueryInterval(-1);
}

// Steps the engine by hand until n requests have come (each step sends one; time-outs are long).
std::vector<Bytes> Collect(size_t n) {
  std::vector<Bytes> requests;
  for (size_t i = 0; i < 3 * n && requests.size() < n; ++i) {
    qbStep();
    qbSetLastAskTimeToCurrentIfNotZero();
    requests.clear();
    for (const auto& e : HostInbox::Get().Events()) {
      if (e.code == 1) requests.push_back(e.block);
    }
    qbSetTimeOut(-1);  // the outstanding query times out at the next step
    qbStep();
    qbSetTimeOut(100000);
  }
  return requests;
}

TEST(Registration, EachManualFamilyMakesItsRequest) {
  ListenForRequests();
  const uint8_t data[] = {0x11, 0x22, 0x33, 0x44};
  qbManualBitRead(1, 2, 0x0010, 9);
  qbManualBitReadEx(2, 3, 0x0020, u"M", 4, 8);
  qbManualWordRead(3, 4, 0x0100, 2);
  qbManualWordReadEx(4, 5, 0x0200, u"D");
  qbManualBitWrite(5, 6, 0x0030, 1);
  qbManualBitWriteEx(6, 7, 0x0031, 0, u"M", 2);
  qbManualWordWrite(7, 8, 0x0040, 0xBEEF);
  qbManualWordWriteEx(8, 9, 0x0041, 0x0102, u"D");
  qbManualMultiBitWrite(9, 10, 0x0050, 12, 2, data);
  qbManualMultiWordWrite(10, 11, 0x0060, 2, 4, data);
  qbManualMaskWrite4x(11, 12, 0x0070, 0x00F2, 0x0025);
  qbManualReadWrite4x(12, 13, 0x0080, 3, 0x0090, 2, data);
  const uint8_t frame[] = {0x01, 0x07};
  qbManualUserProtocol(13, 4, frame, 2);
  EXPECT_EQ(
      Collect(13),
      (std::vector<Bytes>{
          Block(1, {2, 0x01, 0x00, 0x10, 0x00, 0x09}), Block(2, {3, 0x01, 0x00, 0x20, 0x00, 0x08}),
          Block(3, {4, 0x03, 0x01, 0x00, 0x00, 0x02}), Block(4, {5, 0x03, 0x02, 0x00, 0x00, 0x01}),
          Block(5, {6, 0x05, 0x00, 0x30, 0xFF, 0x00}), Block(6, {7, 0x05, 0x00, 0x31, 0x00, 0x00}),
          Block(7, {8, 0x06, 0x00, 0x40, 0xBE, 0xEF}), Block(8, {9, 0x06, 0x00, 0x41, 0x01, 0x02}),
          Block(9, {10, 0x0F, 0x00, 0x50, 0x00, 0x0C, 0x02, 0x11, 0x22}),
          Block(10, {11, 0x10, 0x00, 0x60, 0x00, 0x02, 0x04, 0x11, 0x22, 0x33, 0x44}),
          Block(11, {12, 0x16, 0x00, 0x70, 0x00, 0xF2, 0x00, 0x25}),
          Block(12, {13, 0x17, 0x00, 0x80, 0x00, 0x03, 0x00, 0x90, 0x00, 0x02, 0x04, 0x11, 0x22,
                     0x33, 0x44}),
          Bytes{0x01, 13, 0x01, 0x07},  // the host's own frame, unchanged
      }));
}

TEST(Registration, AutoFamiliesAndReadCodeSettings) {
  ListenForRequests();
  const uint8_t data[] = {0xA0, 0xA1, 0xA2, 0xA3};
  qbDefineBitRead02();
  qbAutoBitRead(1, 1, 5, 3);
  qbAutoBitReadEx(2, 1, 6, nullptr, -1, 4);
  qbDefineWordRead04();
  qbAutoWordRead(3, 1, 7, 2);
  qbAutoWordReadEx(4, 1, 8, u"", 3);
  qbAutoBitWrite(5, 1, 9, 0);
  qbAutoWordWrite(6, 1, 10, 7);
  qbAutoMultiBitWrite(7, 1, 11, 3, 1, data);
  qbAutoMultiWordWrite(8, 1, 12, 1, 2, data);
  qbAutoMaskWrite4x(9, 1, 13, 1, 2);
  qbAutoReadWrite4x(10, 1, 14, 1, 15, 1, data);
  const uint8_t frame[] = {0x09};
  qbAutoUserProtocol(11, 1, frame, 1);
  qbStartNotDestroyingBuffer();
  qbStop();
  EXPECT_EQ(
      Collect(11),
      (std::vector<Bytes>{
          Block(1, {1, 0x02, 0x00, 0x05, 0x00, 0x03}),
          Block(2, {1, 0x02, 0x00, 0x06, 0x00, 0x04}),
          Block(3, {1, 0x04, 0x00, 0x07, 0x00, 0x02}),
          Block(4, {1, 0x04, 0x00, 0x08, 0x00, 0x03}),
          Block(5, {1, 0x05, 0x00, 0x09, 0x00, 0x00}),
          Block(6, {1, 0x06, 0x00, 0x0A, 0x00, 0x07}),
          Block(7, {1, 0x0F, 0x00, 0x0B, 0x00, 0x03, 0x01, 0xA0}),
          Block(8, {1, 0x10, 0x00, 0x0C, 0x00, 0x01, 0x02, 0xA0, 0xA1}),
          Block(9, {1, 0x16, 0x00, 0x0D, 0x00, 0x01, 0x00, 0x02}),
          Block(10, {1, 0x17, 0x00, 0x0E, 0x00, 0x01, 0x00, 0x0F, 0x00, 0x01, 0x02, 0xA0, 0xA1}),
          Bytes{0x01, 11, 0x09},
      }));
}

}  // namespace
}  // namespace qb::test
