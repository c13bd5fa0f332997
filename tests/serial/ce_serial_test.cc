// The port over a pseudo-terminal: open and close, exclusive use, refused settings, raw bytes in
// both directions, and the RTS sequence of a write.
#include "serial/ce_serial.h"

#include <sys/file.h>
#include <sys/wait.h>

#include "serial_fixture.h"

namespace qb::test {
namespace {

using ::testing::ElementsAre;

TEST_F(SerialPortTest, OpenCloseAndReopen) {
  ASSERT_TRUE(Open(19200));
  Owner([&] {
    EXPECT_TRUE(port_->IsOpen());
    EXPECT_EQ(port_->PortNumber(), 3);
    EXPECT_EQ(port_->DevicePath(), pty_.Path());
    EXPECT_EQ(port_->resets, 2);  // the purge of the open, then once more after success
    port_->Close();
    EXPECT_FALSE(port_->IsOpen());
    EXPECT_EQ(port_->PortNumber(), 0);
    EXPECT_EQ(port_->resets, 3);  // Close purges
    EXPECT_EQ(running_.load(), 0);
    running_ = 5;
    port_->Close();  // a second close does nothing at all
    EXPECT_EQ(running_.load(), 5);
    EXPECT_EQ(port_->resets, 3);
  });
  EXPECT_THAT(log_, ElementsAre("RTS 1", "DTR 0"));  // idle: receive direction
  ASSERT_TRUE(Open(9600));
  EXPECT_EQ(running_.load(), 1);
  EXPECT_THAT(Notes(),
              ElementsAre(Note("Open port success", 19200), Note("Open port success", 9600)));
  ASSERT_TRUE(pty_.Write(Text("ok")));
  ASSERT_TRUE(WaitReceived(2));
  EXPECT_EQ(Received(), Text("ok"));
}

// Runs fn in a child process (async-signal-safe calls only) and returns its exit status.
template <class Fn>
int InChild(Fn fn) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(fn());
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

TEST_F(SerialPortTest, DeviceIsExclusiveWithinAndAcrossProcesses) {
  ASSERT_TRUE(Open());
  auto other = Owner([&] { return MakePort(); });
  EXPECT_FALSE(Owner([&] { return other->Open(3, 9600, u"N", u"8", u"1"); }));
  EXPECT_EQ(Notes().back(), Note("Cannot open port ", 9600, " (Device or resource busy)"));
  const std::string path = pty_.Path();
  EXPECT_EQ(InChild([&] {
              const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
              return fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : 1;
            }),
            1);
  Owner([&] { port_->Write(Text("mine").data(), 4); });  // the holder is not disturbed
  EXPECT_EQ(pty_.Read(4), Text("mine"));
  Owner([&] { port_->Close(); });
  EXPECT_TRUE(Owner([&] { return other->Open(3, 9600, u"N", u"8", u"1"); }));
  Owner([&] { other.reset(); });
}

TEST_F(SerialPortTest, OpenFailuresSayWhy) {
  // A pseudo-terminal keeps neither parity nor 7 data bits; baud rate 0 is no rate.
  EXPECT_FALSE(Open(9600, u"Even", u"7", u"2"));
  EXPECT_FALSE(Open(0));
  Owner([&] {
    EXPECT_EQ(port_->PortNumber(), 0);
    port_->SetPortDevice(4, u"/dev/null");
    EXPECT_FALSE(port_->Open(4, 4800, u"N", u"8", u"1"));
    EXPECT_FALSE(port_->Open(0, 4800, u"N", u"8", u"1"));
    EXPECT_THAT(platform_.boxes, ElementsAre(u"Can't Config", u"Can't Config"));
  });
  EXPECT_THAT(Notes(), ElementsAre(Note("Cannot open port ", 9600, " (line settings refused)"),
                                   Note("Cannot open port ", 0, " (line settings refused)"),
                                   U16("Cannot open port : Port=4,BaudRate=4800,Device=/dev/null "
                                       "(Inappropriate ioctl for device)"),
                                   U16("Cannot open port : Port=0,BaudRate=4800,Device= "
                                       "(no device for this port number)")));
  // The failed opens let the device go; a free rate and two stop bits are kept.
  ASSERT_TRUE(Open(250000, u"N", u"8", u"2"));
  LineSettings seen;
  ASSERT_TRUE(ReadLineSettings(pty_.Slave(), &seen));
  EXPECT_EQ(BaudOf(seen), 250000u);
}

TEST_F(SerialPortTest, EveryByteValuePassesUnchangedBothWays) {
  ASSERT_TRUE(Open());
  const std::vector<uint8_t> all = Pattern(256, 0);  // 13 is odd: each value once
  Owner([&] { port_->Write(all.data(), all.size()); });
  EXPECT_EQ(pty_.Read(256), all);  // no newline translation, nothing added
  ASSERT_TRUE(pty_.Write(all));
  ASSERT_TRUE(WaitReceived(256));
  EXPECT_EQ(Received(), all);   // no signals, XON/XOFF, line editing or CR translation
  EXPECT_TRUE(pty_.Quiet(50));  // and no echo
}

// What the master has received is checked inside the two delays: nothing while the front delay
// runs, the whole frame (drained) once the back delay starts. Kernel direction control is asked
// for, but a pseudo-terminal has none: the port switches RTS itself.
TEST_F(SerialPortTest, WriteDropsRtsAroundTheFrameAndBothDelays) {
  Owner([&] { port_->SetRs485Kernel(true); });
  ASSERT_TRUE(Open());
  EXPECT_EQ(Notes().front(), U16("RS-485 direction control by the driver is not available: "
                                 "Device=" +
                                 pty_.Path() + "; RTS is switched by the port"));
  EXPECT_FALSE(Owner([&] { return port_->Rs485KernelActive(); }));
  const std::vector<uint8_t> frame{0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0xC4, 0x0B};
  const uint32_t start = Owner([&] {
    port_->SetRtsDelayFront(5);
    port_->SetRtsDelayBack(3);
    log_.clear();
    platform_.onSleep = [&](uint32_t ms) {
      if (ms == 5) log_.push_back(pty_.Quiet(50) ? "nothing yet" : "early");
      if (ms == 3) log_.push_back(pty_.Read(8) == frame ? "frame out" : "missing");
    };
    return platform_.TickMs();
  });
  Owner([&] { port_->Write(frame.data(), frame.size()); });
  EXPECT_THAT(log_, ElementsAre("RTS 0", "DTR 0", "sleep 5", "nothing yet", "sleep 3", "frame out",
                                "RTS 1", "DTR 0"));
  EXPECT_EQ(Owner([&] { return platform_.TickMs(); }), start + 8);

  Owner([&] {
    port_->SetRtsDelayFront(0);
    port_->SetRtsDelayBack(0);
    log_.clear();
    port_->Write(frame.data(), frame.size());
    EXPECT_THAT(log_, ElementsAre("RTS 0", "DTR 0", "RTS 1", "DTR 0"));
  });
  // Read before closing: on a pseudo-terminal the close's purge also discards what the master
  // has not read yet.
  EXPECT_EQ(pty_.Read(8), frame);
  Owner([&] {
    port_->Close();
    log_.clear();
    port_->Write(frame.data(), frame.size());  // closed: no line changes, nothing sent
    EXPECT_TRUE(log_.empty());
  });
  EXPECT_TRUE(pty_.Quiet(50));
}

}  // namespace
}  // namespace qb::test
