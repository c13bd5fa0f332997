// The library's own port in direct mode against a device the test plays byte by byte on the
// master side of a pseudo-terminal: replies in pieces, too many bytes, another slave, a bad CRC
// or LRC, noise, silence, ASCII framing, a device that vanishes, and closing while bytes stream.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "quillbox/quillbox.h"
#include "support/host_inbox.h"
#include "support/modbus_frames.h"
#include "support/pty.h"

namespace qb::test {
namespace {

class ScriptedDeviceTest : public ::testing::Test {
 protected:
  void Open(bool rtu = true) {
    ASSERT_TRUE(device.Ok());
    qbSetPortDevice(4, device.WidePath().c_str());
    if (rtu) {
      qbSetRtuMode();
    } else {
      qbSetAsciiMode();
    }
    ASSERT_EQ(qbOpenSerial(4, 19200), 1);
    HostInbox::Get().Attach();
    qbSetTimeOut(400);
    qbSetQueryInterval(0);
  }
  void TearDown() override {
    qbStop();
    qbCloseSerial();
  }
  // Registers a manual read of one holding register of slave 1 and starts the engine.
  void AskOneRegister(int32_t id) {
    qbManualWordRead(id, 1, 0, 1);
    qbStartNotDestroyingBuffer();
  }
  HostInbox& inbox = HostInbox::Get();
  Pty device;
};

TEST_F(ScriptedDeviceTest, ReplyInThreePiecesIsAcceptedWhole) {
  Open();
  AskOneRegister(1);
  EXPECT_EQ(device.Read(8, 3000), WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x01}));
  const Bytes reply = WithCrc({0x01, 0x03, 0x02, 0x12, 0x34});
  device.Write({reply.begin(), reply.begin() + 2});
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  device.Write({reply.begin() + 2, reply.begin() + 5});
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  device.Write({reply.begin() + 5, reply.end()});
  ASSERT_TRUE(inbox.WaitForCount(2, 1));
  const auto events = inbox.Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].frame, reply);
  EXPECT_EQ(events[0].words, (std::vector<int32_t>{0x1234}));
}

// Each faulty reply ends in a time-out, and the next query is served normally.
TEST_F(ScriptedDeviceTest, FaultyRepliesEndInTimeOuts) {
  Open();
  const Bytes good = WithCrc({0x01, 0x03, 0x02, 0x00, 0x07});
  Bytes badCrc = good;
  badCrc.back() ^= 0x01;
  Bytes tooLong = good;
  tooLong.push_back(0x00);
  const std::vector<Bytes> faults = {
      tooLong,                                  // one byte more than awaited: rejected whole
      WithCrc({0x02, 0x03, 0x02, 0x00, 0x07}),  // another slave
      WithCrc({0x01, 0x04, 0x02, 0x00, 0x07}),  // another function
      badCrc,                                   // a bad CRC
      WithCrc({0x01, 0x83, 0x02}),              // an exception reply: never complete
      {},                                       // silence
  };
  for (size_t i = 0; i < faults.size(); ++i) AskOneRegister(static_cast<int32_t>(10 + i));
  AskOneRegister(99);
  for (size_t i = 0; i < faults.size(); ++i) {
    ASSERT_EQ(device.Read(8, 3000).size(), 8u) << i;
    if (!faults[i].empty()) device.Write(faults[i]);
    ASSERT_TRUE(inbox.WaitForCount(3, i + 1)) << i;
  }
  ASSERT_EQ(device.Read(8, 3000).size(), 8u);
  device.Write(good);
  ASSERT_TRUE(inbox.WaitForCount(2, 1));
  const auto events = inbox.Events();
  ASSERT_EQ(events.size(), faults.size() + 1);
  for (size_t i = 0; i < faults.size(); ++i) {
    EXPECT_EQ(events[i].code, 3) << i;
    EXPECT_EQ(events[i].itemId, 10 + i);
  }
  EXPECT_EQ(events.back().itemId, 99u);
  EXPECT_EQ(events.back().words, (std::vector<int32_t>{7}));
}

TEST_F(ScriptedDeviceTest, DetailedEventsNameRefusalsAndEndExceptionRepliesAtOnce) {
  qbSetDetailedEvents(1);
  Open();
  const Bytes good = WithCrc({0x01, 0x03, 0x02, 0x00, 0x07});
  Bytes badCrc = good;
  badCrc.back() ^= 0x01;
  Bytes tooLong = good;
  tooLong.push_back(0x00);
  struct Case {
    Bytes reply;
    std::vector<int> codes;     // the events it brings, in order
    std::vector<int32_t> data;  // the data words of its first event
  };
  const std::vector<Case> cases = {
      {tooLong, {QB_EVENT_REJECTED, QB_EVENT_TIMEOUT}, {5}},
      {WithCrc({0x02, 0x03, 0x02, 0x00, 0x07}), {QB_EVENT_REJECTED, QB_EVENT_TIMEOUT}, {2}},
      {WithCrc({0x01, 0x04, 0x02, 0x00, 0x07}), {QB_EVENT_REJECTED, QB_EVENT_TIMEOUT}, {3}},
      {badCrc, {QB_EVENT_REJECTED, QB_EVENT_TIMEOUT}, {1}},
      {WithCrc({0x01, 0x83, 0x02}), {QB_EVENT_EXCEPTION}, {3, 2}},
      {{}, {QB_EVENT_TIMEOUT}, {}},
      {good, {QB_EVENT_REPLY}, {7}},
  };
  for (size_t i = 0; i < cases.size(); ++i) AskOneRegister(static_cast<int32_t>(10 + i));
  size_t seen = 0;
  for (size_t i = 0; i < cases.size(); ++i) {
    ASSERT_EQ(device.Read(8, 3000).size(), 8u) << i;
    device.Write(cases[i].reply);
    const size_t want = seen + cases[i].codes.size();
    ASSERT_TRUE(inbox.WaitUntil([&](const auto& events) { return events.size() >= want; })) << i;
    const auto events = inbox.Events();
    for (size_t k = 0; k < cases[i].codes.size(); ++k) {
      EXPECT_EQ(events[seen + k].code, cases[i].codes[k]) << i;
      EXPECT_EQ(events[seen + k].itemId, 10 + i);
    }
    EXPECT_EQ(events[seen].words, cases[i].data) << i;
    if (!cases[i].reply.empty()) {
      EXPECT_EQ(events[seen].frame, cases[i].reply) << i;
    }
    seen = want;
  }
  EXPECT_EQ(inbox.Events().size(), seen);
}

std::u16string LastErrorText() {
  qb_wchar text[256];
  const int32_t length = qbGetLastErrorText(text, 256);
  return std::u16string(text, static_cast<size_t>(std::min(length, 255)));
}

TEST_F(ScriptedDeviceTest, DetailedPortLossIsReportedOnceWithItsReason) {
  qbSetDetailedEvents(1);
  Open();
  qbSetTimeOut(100);
  qbAutoWordRead(1, 1, 0, 1);
  qbStart();
  ASSERT_EQ(device.Read(8, 3000).size(), 8u);
  device.Close();
  ASSERT_TRUE(inbox.WaitForCount(QB_EVENT_TIMEOUT, 3));
  EXPECT_EQ(HostInbox::Count(inbox.Events(), QB_EVENT_PORT_LOST), 1u);
  EXPECT_EQ(LastErrorText().rfind(device.WidePath() + u": device gone (", 0), 0u);
}

TEST(OpenErrors, SayWhyInWordsAUserCanActOn) {
  Pty held;
  ASSERT_TRUE(held.Ok());
  const int fd = ::open(held.Path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);  // another program holds the port
  EXPECT_EQ(qbGetLastErrorText(nullptr, 0), 0);
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"/dev/quillbox-none", u"/dev/quillbox-none: No such file or directory"},
      {held.WidePath(), held.WidePath() + u": busy: opened by another program"},
  };
  for (const auto& [path, text] : cases) {
    qbSetPortDevice(2, path.c_str());
    EXPECT_EQ(qbOpenSerial(2, 9600), 0);
    EXPECT_EQ(LastErrorText(), text);
  }
  qb_wchar small[4] = {1, 1, 1, 1};
  EXPECT_EQ(qbGetLastErrorText(small, 3), static_cast<int32_t>(cases[1].second.size()));
  EXPECT_EQ(std::u16string(small, 3), cases[1].second.substr(0, 2) + u'\0');
  ::close(fd);
}

TEST_F(ScriptedDeviceTest, NoiseBeforeTheReplySpoilsItButNotTheNextQuery) {
  Open();
  AskOneRegister(1);
  AskOneRegister(2);
  ASSERT_EQ(device.Read(8, 3000).size(), 8u);
  device.Write({0xFF, 0x00});
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  device.Write(WithCrc({0x01, 0x03, 0x02, 0x00, 0x01}));
  ASSERT_TRUE(inbox.WaitForCount(3, 1));
  ASSERT_EQ(device.Read(8, 3000).size(), 8u);
  device.Write(WithCrc({0x01, 0x03, 0x02, 0x00, 0x02}));
  ASSERT_TRUE(inbox.WaitForCount(2, 1));
  EXPECT_EQ(inbox.Events().back().words, (std::vector<int32_t>{2}));
}

TEST_F(ScriptedDeviceTest, AsciiFramingWithItsLrc) {
  Open(false);
  AskOneRegister(1);
  AskOneRegister(2);
  // 01 + 03 + 00 + 00 + 00 + 01 = 0x05: LRC 0xFB.
  EXPECT_EQ(device.Read(17, 3000), Text(":010300000001FB\r\n"));
  // 01 + 03 + 02 + 00 + 2A = 0x30: LRC 0xD0.
  device.Write(Text(":010302002AD0\r\n"));
  ASSERT_TRUE(inbox.WaitForCount(2, 1));
  EXPECT_EQ(inbox.Events()[0].words, (std::vector<int32_t>{42}));
  ASSERT_EQ(device.Read(17, 3000).size(), 17u);
  device.Write(Text(":010302002AD1\r\n"));  // a wrong LRC
  ASSERT_TRUE(inbox.WaitForCount(3, 1));
}

TEST_F(ScriptedDeviceTest, DeviceThatVanishesGivesTimeOutsAndReopens) {
  Open();
  qbSetTimeOut(100);
  qbAutoWordRead(1, 1, 0, 1);
  qbStart();
  ASSERT_EQ(device.Read(8, 3000).size(), 8u);
  device.Close();                         // the adapter is unplugged
  ASSERT_TRUE(inbox.WaitForCount(3, 3));  // polling goes on without the device

  Pty replacement;
  ASSERT_TRUE(replacement.Ok());
  qbSetPortDevice(4, replacement.WidePath().c_str());
  ASSERT_EQ(qbOpenSerial(4, 19200), 1);
  ASSERT_EQ(replacement.Read(8, 3000), WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x01}));
  replacement.Write(WithCrc({0x01, 0x03, 0x02, 0x00, 0x05}));
  ASSERT_TRUE(inbox.WaitForCount(2, 1));
  qbStop();
  qbCloseSerial();
}

}  // namespace
}  // namespace qb::test
