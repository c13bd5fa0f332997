// The C API end to end on the library's own owner thread: defaults of a freshly loaded library,
// tolerance of null pointers and negative counts, a Modbus RTU exchange in indirect mode, and
// calls from several host threads at once. Real time: generous deadlines, exact orders and counts.
#include <gtest/gtest.h>

#include "support/modbus_frames.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "quillbox/quillbox.h"

namespace {

using qb::test::WithCrc;

constexpr uint32_t kMessage = 0x8001;

struct Event {
  uint32_t message;
  intptr_t lParam;
  std::vector<uint8_t> block;
};

// What the host window received, filled on the owner thread, read by the test thread.
struct Inbox {
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<Event> events;
  std::vector<std::u16string> boxes;
  std::thread::id handlerThread;
};
Inbox inbox;

intptr_t WindowProc(void* /*window*/, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  Event e{message, lParam, {}};
  if (lParam >= 2) {
    const auto* p = reinterpret_cast<const uint8_t*>(wParam);
    e.block.assign(p, p + lParam);
  }
  std::lock_guard lock(inbox.mutex);
  inbox.handlerThread = std::this_thread::get_id();
  inbox.events.push_back(std::move(e));
  inbox.arrived.notify_all();
  return 0;
}

void BoxProc(const qb_wchar* text) {
  std::lock_guard lock(inbox.mutex);
  inbox.boxes.emplace_back(text);
  inbox.arrived.notify_all();
}

// Waits (up to 5 s) until an event with the code has arrived; returns it.
bool WaitForEvent(uint8_t code, Event* out) {
  std::unique_lock lock(inbox.mutex);
  return inbox.arrived.wait_for(lock, std::chrono::seconds(5), [&] {
    for (const auto& e : inbox.events) {
      if (!e.block.empty() && e.block[0] == code) {
        *out = e;
        return true;
      }
    }
    return false;
  });
}

TEST(CApi, FreshlyLoadedLibraryHasItsDefaults) {
  EXPECT_EQ(qbGetQueryInterval(), 10);
  EXPECT_EQ(qbGetBufferSize(), 0);
  EXPECT_EQ(qbIsRtuMode(), 0);
  EXPECT_EQ(qbGetLastRxEventType(), -1);
  EXPECT_EQ(qbGetLastRxItemId(), 0);
  EXPECT_EQ(qbGetLastRxDataType(), 1);
  EXPECT_EQ(qbGetLastRxDataCount(), 0);
  EXPECT_EQ(qbGetLastRxDataAtIndex(0), -1);
  EXPECT_EQ(qbGetLastRxRawSize(), 0);
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
  uint8_t text[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(qbGetLastItmExp(text, -8), 0);  // a negative maximum copies nothing
  EXPECT_EQ(text[0], 0);
  EXPECT_EQ(text[1], 0);
  EXPECT_EQ(text[2], 0xEE);
  // Items with missing data build no frame; stepping them must not crash either.
  qbSetQueryDirectSerial(0);
  for (int i = 0; i < 4; ++i) qbStep();
}

TEST(CApi, IndirectModbusRtuExchangeReachesTheHostOnTheOwnerThread) {
  qbSetHostWindowProc(WindowProc);
  qbInit(nullptr, kMessage);
  qbSetRtuMode();
  qbSetEventFormat(2);
  qbSetQueryDirectSerial(0);
  qbSetTimeOut(5000);
  qbAutoWordRead(7, 1, 0, 2);
  qbStart();

  Event request;
  ASSERT_TRUE(WaitForEvent(1, &request));
  const std::vector<uint8_t> expectedRequest = WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x02});
  std::vector<uint8_t> block = {0x01, 7, 0, 0, 0};
  block.insert(block.end(), expectedRequest.begin(), expectedRequest.end());
  EXPECT_EQ(request.block, block);
  EXPECT_EQ(request.lParam, 13);
  EXPECT_EQ(request.message, kMessage);
  EXPECT_NE(inbox.handlerThread, std::this_thread::get_id());

  const std::vector<uint8_t> reply = WithCrc({0x01, 0x03, 0x04, 0x00, 0x0A, 0x00, 0x0B});
  EXPECT_EQ(qbOnSerialReceive(reply.data(), 4), 1);
  EXPECT_EQ(qbOnSerialReceive(reply.data() + 4, 5), 1);
  Event answer;
  ASSERT_TRUE(WaitForEvent(2, &answer));
  qbStop();
  EXPECT_EQ(answer.lParam, 14);
  EXPECT_EQ(std::vector<uint8_t>(answer.block.begin() + 5, answer.block.end()), reply);
  EXPECT_EQ(qbGetLastRxItemId(), 7);
  EXPECT_EQ(qbGetLastRxDataType(), 0);
  ASSERT_EQ(qbGetLastRxDataCount(), 2);
  EXPECT_EQ(qbGetLastRxDataAtIndex(0), 10);
  EXPECT_EQ(qbGetLastRxDataAtIndex(1), 11);
  ASSERT_EQ(qbGetLastRxRawSize(), 9);
  uint8_t raw[9];
  EXPECT_EQ(qbGetLastRxRaw(raw), 1);
  EXPECT_EQ(std::vector<uint8_t>(raw, raw + 9), reply);

  uint8_t text[64] = {};
  const std::u16string expected = u"WordRead: 0x0000(=0)(Len=2)";
  EXPECT_EQ(qbGetLastItmExp(text, sizeof text - 2), static_cast<int32_t>(2 * expected.size()));
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(text)), expected);
}

TEST(CApi, ProtocolQuestionsAndHttpMode) {
  EXPECT_EQ(qbHasPrtclDvcName(u"LSMK"), 1);
  EXPECT_EQ(qbHasPrtclDvcName(u"MODBUS"), 0);
  EXPECT_EQ(qbHasPrtclBitPos(u"MKLD"), 1);
  EXPECT_EQ(qbHasPrtclBitPos(u"MBFX"), 0);
  EXPECT_EQ(qbIsPrtclSupportContinuousAddr(u"MBFX"), 1);
  EXPECT_EQ(qbIsPrtclSupportContinuousAddr(u"USRPRTCL"), 0);
  EXPECT_EQ(qbHasPrtclDvcName(nullptr), 0);
  qbSetHostWindowProc(WindowProc);
  qbInit(nullptr, kMessage);
  qbSetQueryDirectSerial(0);
  qbAutoWordRead(1, 1, 0, 1);
  qbSetHttpMode(u"a", nullptr);
  for (int i = 0; i < 5; ++i) qbStep();
  std::lock_guard lock(inbox.mutex);
  EXPECT_TRUE(inbox.events.empty());  // every step returns at once
}

TEST(CApi, MissingInitIsShownOnceThroughTheMessageBoxProc) {
  qbSetMessageBoxProc(BoxProc);
  qbSetQueryDirectSerial(0);
  qbAutoWordRead(1, 1, 0, 1);
  for (int i = 0; i < 5; ++i) qbStep();
  std::lock_guard lock(inbox.mutex);
  ASSERT_EQ(inbox.boxes.size(), 1u);
  EXPECT_EQ(inbox.boxes[0], u"qbInit 함수를 먼저 호출하세요");
}

TEST(CApi, HostThreadsCallConcurrentlyWhileTheEnginePolls) {
  qbSetHostWindowProc(WindowProc);
  qbInit(nullptr, kMessage);
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
  std::lock_guard lock(inbox.mutex);
  EXPECT_FALSE(inbox.events.empty());
}

}  // namespace
