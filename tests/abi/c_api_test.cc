// The C API end to end on the library's own owner thread: defaults of a freshly loaded library,
// tolerance of null pointers and negative counts, a Modbus RTU exchange in indirect mode, and
// calls from several host threads at once. Real time: generous deadlines, exact orders and counts.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "quillbox/quillbox.h"
#include "support/host_inbox.h"
#include "support/modbus_frames.h"

namespace qb::test {
namespace {

TEST(CApi, FreshlyLoadedLibraryHasItsDefaults) {
  EXPECT_EQ(qbGetQueryInterval(), 10);
  EXPECT_EQ(qbIsRtuMode(), 0);
  EXPECT_EQ(qbGetLastRxEventType(), -1);
  EXPECT_EQ(qbGetLastRxItemId(), 0);
  EXPECT_EQ(qbGetLastRxDataType(), 1);
  EXPECT_EQ(qbGetLastRxDataAtIndex(0), -1);
  EXPECT_EQ(qbGetRtuTimeGap(), 5);  // 9600 baud until a port is opened
  EXPECT_EQ(qbGetLastEvntAsgstrEnoughByteCnt(), 2);
  EXPECT_EQ(qbGetLastWordArrLoVarsEnoughByteCnt(), 2);
}

TEST(CApi, NullPointersAndNegativeCountsAreEmpty) {
  qbSetTempStr(nullptr);
  qbSetArrDelimiter(nullptr);
  qbSetCodePage(nullptr);
  qbAutoWordReadEx(1, 1, 0, nullptr, 2);
  qbAutoMultiWordWrite(2, 1, 0, 2, 4, nullptr);
  qbAutoReadWrite4x(3, 1, 0, 1, 0, -3, nullptr);
  qbManualUserProtocol(4, 5, nullptr, 100);
  EXPECT_EQ(qbGetBufferSize(), 1);
  EXPECT_EQ(qbOnSerialReceive(nullptr, 10), 0);
  const uint8_t byte = 1;
  EXPECT_EQ(qbOnSerialReceive(&byte, -1), 0);
  EXPECT_EQ(qbGetLastRxRaw(nullptr), 0);
  EXPECT_EQ(qbGetLastItmExp(nullptr, 10), 0);
  EXPECT_EQ(qbGetLastEvntAsgstr(nullptr), 0);
  EXPECT_EQ(qbGetLastPaktToSend(nullptr), 0);
  EXPECT_EQ(qbHasPrtclDvcName(nullptr), 0);
  uint8_t text[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(qbGetLastItmExp(text, -8), 0);  // a negative maximum copies nothing
  EXPECT_EQ(Bytes(text, text + 4), (Bytes{0, 0, 0xEE, 0xEE}));
  // Items with missing data build no frame; stepping them must not crash either.
  qbSetQueryDirectSerial(0);
  for (int i = 0; i < 4; ++i) qbStep();
}

TEST(CApi, IndirectModbusRtuExchangeReachesTheHostOnTheOwnerThread) {
  auto& inbox = HostInbox::Get();
  inbox.Attach(0x8001);
  qbSetRtuMode();
  qbSetQueryDirectSerial(0);
  qbSetTimeOut(5000);
  qbAutoWordRead(7, 1, 0, 2);
  qbStart();

  ASSERT_TRUE(inbox.WaitForCount(1, 1));
  const HostEvent request = inbox.Events()[0];
  EXPECT_EQ(request.block,
            Concat({0x01, 7, 0, 0, 0}, WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x02})));
  EXPECT_NE(request.thread, std::this_thread::get_id());

  const Bytes reply = WithCrc({0x01, 0x03, 0x04, 0x00, 0x0A, 0x00, 0x0B});
  EXPECT_EQ(qbOnSerialReceive(reply.data(), 4), 1);
  EXPECT_EQ(qbOnSerialReceive(reply.data() + 4, 5), 1);
  ASSERT_TRUE(inbox.WaitForCount(2, 1));
  qbStop();
  const HostEvent answer = inbox.Events()[1];
  EXPECT_EQ(answer.frame, reply);
  EXPECT_EQ(answer.words, (std::vector<int32_t>{10, 11}));
  EXPECT_EQ(qbGetLastRxItemId(), 7);
  EXPECT_EQ(qbGetLastRxDataType(), 0);
  ASSERT_EQ(qbGetLastRxRawSize(), 9);
  uint8_t raw[9];
  EXPECT_EQ(qbGetLastRxRaw(raw), 1);
  EXPECT_EQ(Bytes(raw, raw + 9), reply);

  uint8_t text[64] = {};
  const std::u16string expected = u"WordRead: 0x0000(=0)(Len=2)";
  EXPECT_EQ(qbGetLastItmExp(text, sizeof text - 2), static_cast<int32_t>(2 * expected.size()));
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(text)), expected);
}

TEST(CApi, ProtocolQuestionsAndHttpMode) {
  EXPECT_EQ(qbHasPrtclDvcName(u"LSMK"), 1);
  EXPECT_EQ(qbHasPrtclDvcName(u"MODBUS"), 0);
  EXPECT_EQ(qbHasPrtclDvcName(u"lsmk"), 0);
  EXPECT_EQ(qbHasPrtclBitPos(u"MKLD"), 1);
  EXPECT_EQ(qbHasPrtclBitPos(u"MBFX"), 0);
  EXPECT_EQ(qbIsPrtclSupportContinuousAddr(u"MBFX"), 1);
  EXPECT_EQ(qbIsPrtclSupportContinuousAddr(u"USRPRTCL"), 0);
  HostInbox::Get().Attach();
  qbSetQueryDirectSerial(0);
  qbAutoWordRead(1, 1, 0, 1);
  qbSetHttpMode(u"a", nullptr);
  for (int i = 0; i < 5; ++i) qbStep();
  EXPECT_TRUE(HostInbox::Get().Events().empty());  // every step returns at once
}

std::vector<std::u16string> boxes;  // filled on the owner thread during qbStep

TEST(CApi, MissingInitIsShownOnceThroughTheMessageBoxProc) {
  qbSetMessageBoxProc([](const qb_wchar* text) { boxes.emplace_back(text); });
  qbSetQueryDirectSerial(0);
  qbAutoWordRead(1, 1, 0, 1);
  for (int i = 0; i < 5; ++i) qbStep();
  EXPECT_EQ(boxes, std::vector<std::u16string>{u"qbInit 함수를 먼저 호출하세요"});
}

TEST(CApi, HostThreadsCallConcurrentlyWhileTheEnginePolls) {
  HostInbox::Get().Attach();
  qbSetQueryDirectSerial(0);
  qbSetTimeOut(20);
  qbSetQueryInterval(0);
  for (int id = 0; id < 8; ++id) qbAutoWordRead(id, 1, id, 1);
  qbStart();
  std::atomic<int> calls{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &calls] {
      for (int i = 0; i < 200; ++i) {
        qbManualWordWrite(100 + t, 1, i, i);
        qbPauseItem(t);
        qbResumeItem(t);
        (void)qbGetBufferSize();
        (void)qbGetLastRxDataAtIndex(0);
        qbSetQueryInterval(0);
        ++calls;
      }
    });
  }
  for (auto& th : threads) th.join();
  qbStop();
  EXPECT_EQ(calls.load(), 800);
  EXPECT_LE(qbGetBufferSize(), 1024);
  EXPECT_FALSE(HostInbox::Get().Events().empty());
}

}  // namespace
}  // namespace qb::test
