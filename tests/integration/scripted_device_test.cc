// The library's own port in direct mode against a device the test plays byte by byte on the
// master side of a pseudo-terminal: too many bytes, another slave or function, a bad CRC or LRC, an
// exception reply, silence, ASCII framing, open errors and a device that vanishes.
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

// Each faulty reply ends in a time-out and the next query is served normally; with detailed
// events a refusal is named first and an exception reply ends the query at once.
TEST_F(ScriptedDeviceTest, FaultyRepliesEndInTimeOutsOrDetailedEvents) {
  Open();
  const Bytes good = WithCrc({0x01, 0x03, 0x02, 0x00, 0x07});
  Bytes badCrc = good;
  badCrc.back() ^= 0x01;
  const int rejected = QB_EVENT_REJECTED, timeout = QB_EVENT_TIMEOUT;
  struct Case {
    Bytes reply;
    std::vector<int> detailed;  // the detailed events it brings, in order (plain: one time-out)
    std::vector<int32_t> data;  // the data words of the first detailed event
  };
  const std::vector<Case> cases = {
      {Concat(good, {0x00}), {rejected, timeout}, {5}},  // one byte more than awaited
      {WithCrc({0x02, 0x03, 0x02, 0x00, 0x07}), {rejected, timeout}, {2}},  // another slave
      {WithCrc({0x01, 0x04, 0x02, 0x00, 0x07}), {rejected, timeout}, {3}},  // another function
      {badCrc, {rejected, timeout}, {1}},
      {WithCrc({0x01, 0x83, 0x02}), {QB_EVENT_EXCEPTION}, {3, 2}},
      {{}, {timeout}, {}},  // silence
      {good, {QB_EVENT_REPLY}, {7}},
  };
  size_t seen = 0;
  for (const bool detailed : {false, true}) {
    qbSetDetailedEvents(detailed ? 1 : 0);
    for (size_t i = 0; i < cases.size(); ++i) AskOneRegister(static_cast<int32_t>(10 + i));
    for (size_t i = 0; i < cases.size(); ++i) {
      SCOPED_TRACE(::testing::Message() << "detailed " << detailed << ", case " << i);
      const bool ok = cases[i].reply == good;
      const std::vector<int> codes =
          detailed ? cases[i].detailed : std::vector<int>{ok ? QB_EVENT_REPLY : timeout};
      ASSERT_EQ(device.Read(8, 3000).size(), 8u);
      device.Write(cases[i].reply);
      const size_t want = seen + codes.size();
      ASSERT_TRUE(inbox.WaitUntil([&](const auto& events) { return events.size() >= want; }));
      const auto events = inbox.Events();
      for (size_t k = 0; k < codes.size(); ++k) {
        EXPECT_EQ(events[seen + k].code, codes[k]);
        EXPECT_EQ(events[seen + k].itemId, 10 + i);
      }
      if (detailed || ok) {
        EXPECT_EQ(events[seen].words, cases[i].data);
      }
      if (detailed && !cases[i].reply.empty()) {
        EXPECT_EQ(events[seen].frame, cases[i].reply);
      }
      seen = want;
    }
  }
  EXPECT_EQ(inbox.Events().size(), seen);
}

std::u16string LastErrorText() {
  qb_wchar text[256];
  const int32_t length = qbGetLastErrorText(text, 256);
  return std::u16string(text, static_cast<size_t>(std::min(length, 255)));
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

// Polling goes on without the device with time-outs; detailed events report the loss once.
TEST_F(ScriptedDeviceTest, DeviceThatVanishesGivesTimeOutsAndReopens) {
  qbSetDetailedEvents(1);
  Open();
  qbSetTimeOut(100);
  qbAutoWordRead(1, 1, 0, 1);
  qbStart();
  ASSERT_EQ(device.Read(8, 3000).size(), 8u);
  device.Close();  // the adapter is unplugged
  ASSERT_TRUE(inbox.WaitForCount(QB_EVENT_TIMEOUT, 3));
  EXPECT_EQ(HostInbox::Count(inbox.Events(), QB_EVENT_PORT_LOST), 1u);
  EXPECT_EQ(LastErrorText().rfind(device.WidePath() + u": device gone (", 0), 0u);

  Pty replacement;
  ASSERT_TRUE(replacement.Ok());
  qbSetPortDevice(4, replacement.WidePath().c_str());
  ASSERT_EQ(qbOpenSerial(4, 19200), 1);
  ASSERT_EQ(replacement.Read(8, 3000), WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x01}));
  replacement.Write(WithCrc({0x01, 0x03, 0x02, 0x00, 0x05}));
  ASSERT_TRUE(inbox.WaitForCount(2, 1));
}

}  // namespace
}  // namespace qb::test
