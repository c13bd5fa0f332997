// Reception over a pseudo-terminal: chunks read on the owner thread one at a time and in order,
// the wait for the rest of a reply of known length, Close ending reception at once (also from
// inside OnReceive), and a device that disappears.
#include <time.h>

#include "serial_fixture.h"

namespace qb::test {
namespace {

using ::testing::ElementsAre;

// The first chunk (one byte) is held in OnReceive while 300 more bytes are queued: the queue must
// stay whole while it is held (strict alternation), then come as 128 + 128 + 44.
TEST_F(SerialPortTest, QueuedBytesArriveInFullChunksInOrder) {
  const std::vector<uint8_t> rest = Pattern(300, 0x40);
  std::atomic<bool> heldWhole{false};
  Owner([&] {
    port_->onReceive = [&] {
      if (port_->chunks.size() == 1) {
        heldWhole = pty_.Write(rest) && pty_.WaitSlaveQueued(300) && pty_.Quiet(50) &&
                    pty_.SlaveQueued() == 300;
      }
    };
  });
  ASSERT_TRUE(Open());
  ASSERT_TRUE(pty_.Write({0xA5}));
  ASSERT_TRUE(WaitReceived(301));
  EXPECT_TRUE(heldWhole.load());
  std::vector<size_t> sizes;
  for (const auto& chunk : Chunks()) sizes.push_back(chunk.size());
  EXPECT_THAT(sizes, ElementsAre(1, 128, 128, 44));
  std::vector<uint8_t> expected{0xA5};
  expected.insert(expected.end(), rest.begin(), rest.end());
  EXPECT_EQ(Received(), expected);
}

TEST_F(SerialPortTest, CloseEndsReceptionQuicklyWhileBytesStreamIn) {
  Owner([&] {
    port_->onReceive = [] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); };
  });
  ASSERT_TRUE(Open());
  std::atomic<bool> stop{false};
  std::thread device([&] {
    while (!stop) {
      const std::vector<uint8_t> chunk = Pattern(64, 0);
      (void)!::write(pty_.Fd(), chunk.data(), chunk.size());  // a full line drops the chunk
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  ASSERT_TRUE(WaitReceived(2000));
  const auto took = Owner([&] {
    const auto start = std::chrono::steady_clock::now();
    port_->Close();
    return std::chrono::steady_clock::now() - start;
  });
  EXPECT_LT(took, std::chrono::milliseconds(200));
  const size_t chunks = Chunks().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(Chunks().size(), chunks);  // nothing is handed over after Close
  stop = true;
  device.join();
}

// Close on the owner thread while bytes wait unread: they are dropped and Close does not wait.
TEST_F(SerialPortTest, CloseDropsBytesNotReadYet) {
  ASSERT_TRUE(Open());
  std::chrono::steady_clock::duration took{};
  Owner([&] {
    ASSERT_TRUE(pty_.Write(Text("late")) && pty_.WaitSlaveQueued(4));  // nobody reads meanwhile
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto start = std::chrono::steady_clock::now();
    port_->Close();
    took = std::chrono::steady_clock::now() - start;
  });
  EXPECT_LT(took, std::chrono::milliseconds(200));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(Chunks().empty());
}

TEST_F(SerialPortTest, CloseAndReopenFromInsideOnReceive) {
  Owner([&] { port_->onReceive = [&] { port_->Close(); }; });
  ASSERT_TRUE(Open());
  ASSERT_TRUE(pty_.Write(Text("A")));
  ASSERT_TRUE(WaitUntil([&] { return !IsOpen(); }));
  EXPECT_EQ(running_.load(), 0);
  ASSERT_TRUE(pty_.Write(Text("BCD")));
  EXPECT_TRUE(pty_.WaitSlaveQueued(3));  // nobody reads any more
  EXPECT_THAT(Chunks(), ElementsAre(Text("A")));

  Owner([&] {
    port_->onReceive = [&] {
      if (port_->chunks.size() == 2) {
        EXPECT_TRUE(port_->Open(3, 9600, u"N", u"8", u"1"));
      }
    };
  });
  ASSERT_TRUE(Open());  // purges "BCD"
  ASSERT_TRUE(pty_.Write(Text("E")));
  ASSERT_TRUE(WaitUntil([&] { return Notes().size() == 3; }));  // reopened from inside
  ASSERT_TRUE(pty_.Write(Text("FG")));
  ASSERT_TRUE(WaitReceived(4));
  EXPECT_THAT(Chunks(), ElementsAre(Text("A"), Text("E"), Text("FG")));
  EXPECT_TRUE(IsOpen());
}

// At 1200 baud with 10 bits a character, 8.33 ms. The device writes faster than that (a
// pseudo-terminal has no line), so every wait below is far longer than the writes it covers.
constexpr auto kChar1200 = std::chrono::microseconds(8333);

// A reply of 25 bytes awaited: after its first byte the port does not look at the line until all
// but the last of the other 24 can have arrived (23 characters, 192 ms), and then takes what is
// there in one read. A reply that stops short is waited for again for what it still lacks, with
// no read in between. The last byte, and bytes beyond the awaited length, come as they arrive.
TEST_F(SerialPortTest, TheRestOfAnAwaitedReplyIsReadOnceItCanHaveArrived) {
  Owner([&] { port_->awaitedLength = 25; });
  ASSERT_TRUE(Open(1200));
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(pty_.Write({0x01}));
  ASSERT_TRUE(WaitReceived(1));
  for (uint8_t b = 2; b <= 13; ++b) ASSERT_TRUE(pty_.Write({b}));  // 12 of the 24 come at once
  ASSERT_TRUE(WaitReceived(13));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 23 * kChar1200);
  // Short by 12: the next look is 11 characters (92 ms) later, whatever comes meanwhile.
  ASSERT_TRUE(pty_.Write(Pattern(11, 0x20)));
  ASSERT_TRUE(WaitReceived(24));
  ASSERT_TRUE(pty_.Write({0x7F}));  // the last byte: read at once
  ASSERT_TRUE(WaitReceived(25));
  ASSERT_TRUE(pty_.Write(Pattern(3, 0x60)));  // three beyond the reply
  ASSERT_TRUE(WaitReceived(28));
  std::vector<size_t> sizes;
  for (const auto& chunk : Chunks()) sizes.push_back(chunk.size());
  EXPECT_THAT(sizes, ElementsAre(1, 12, 11, 1, 3));
}

// Close while the port waits for the rest of a reply: it returns at once, and nothing more is
// read, neither when the wait would have ended nor later.
TEST_F(SerialPortTest, CloseDuringTheWaitForTheRestOfAReply) {
  Owner([&] { port_->awaitedLength = 100; });  // 825 ms of line at 1200 baud
  ASSERT_TRUE(Open(1200));
  ASSERT_TRUE(pty_.Write({0x01}));
  ASSERT_TRUE(WaitReceived(1));
  ASSERT_TRUE(pty_.Write(Pattern(20, 0)));
  const auto took = Owner([&] {
    const auto start = std::chrono::steady_clock::now();
    port_->Close();
    return std::chrono::steady_clock::now() - start;
  });
  EXPECT_LT(took, std::chrono::milliseconds(200));
  std::this_thread::sleep_for(100 * kChar1200);
  EXPECT_EQ(Chunks().size(), 1u);
}

std::chrono::nanoseconds ProcessCpuTime() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

TEST_F(SerialPortTest, VanishedDeviceClosesThePortAndCanBeOpenedAgain) {
  ASSERT_TRUE(Open());
  ASSERT_TRUE(pty_.Write(Text("hi")));
  ASSERT_TRUE(WaitReceived(2));
  const std::string oldPath = pty_.Path();
  pty_.Close();
  ASSERT_TRUE(WaitUntil([&] { return !IsOpen(); }));
  EXPECT_EQ(running_.load(), 0);
  EXPECT_EQ(Owner([&] { return port_->PortNumber(); }), 0);
  const auto cpuBefore = ProcessCpuTime();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_LT(ProcessCpuTime() - cpuBefore, std::chrono::milliseconds(60));  // no busy loop

  const auto notes = Notes();
  ASSERT_EQ(notes.size(), 2u);
  const std::u16string prefix = U16("Port closed: device gone: Port=3,Device=" + oldPath + " (");
  const std::u16string reason = notes[1].substr(std::min(prefix.size(), notes[1].size()));
  EXPECT_EQ(notes[1].substr(0, prefix.size()), prefix);
  EXPECT_TRUE(reason == u"end of file)" || reason == u"Input/output error)" ||
              reason == u"hang-up)");
  Owner([&] {
    log_.clear();
    port_->Write(Text("lost").data(), 4);
  });
  EXPECT_TRUE(log_.empty());

  // The adapter comes back (here under a new name); no Close was needed in between.
  Pty back;
  ASSERT_TRUE(back.Ok() && back.HoldSlave());
  Owner([&] { port_->SetPortDevice(3, U16(back.Path())); });
  ASSERT_TRUE(Open());
  EXPECT_EQ(running_.load(), 1);
  ASSERT_TRUE(back.Write(Text("again")));
  ASSERT_TRUE(WaitReceived(7));
  EXPECT_THAT(Chunks(), ElementsAre(Text("hi"), Text("again")));
  Owner([&] { port_->Close(); });
}

}  // namespace
}  // namespace qb::test
