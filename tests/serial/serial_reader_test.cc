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

// A request written while a reply of 25 bytes is awaited: the port does not look at the line
// before the request and all but the last reply byte can have passed (8 + 24 characters at 1200
// baud, held to 250 ms), then takes what is there in one read. What a read leaves missing is
// waited for likewise (12 short: 11 characters); the last byte comes as it arrives.
TEST_F(SerialPortTest, AnAwaitedReplyIsReadOnceItCanHaveArrived) {
  Owner([&] { port_->awaitedLength = 25; });
  ASSERT_TRUE(Open(1200));
  const auto start = std::chrono::steady_clock::now();
  const std::vector<uint8_t> request = Pattern(8, 0x01);
  Owner([&] { port_->Write(request.data(), request.size()); });
  ASSERT_TRUE(pty_.Write(Pattern(13, 0x20)));
  ASSERT_TRUE(WaitReceived(13));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
  ASSERT_TRUE(pty_.Write(Pattern(11, 0x40)));
  ASSERT_TRUE(WaitReceived(24));
  ASSERT_TRUE(pty_.Write({0x7F}));
  ASSERT_TRUE(WaitReceived(25));
  std::vector<size_t> sizes;
  for (const auto& chunk : Chunks()) sizes.push_back(chunk.size());
  EXPECT_THAT(sizes, ElementsAre(13, 11, 1));
}

// Close while the port waits for the rest of a reply: it returns at once, and the bytes not read
// yet are dropped, neither read when the wait would have ended nor later.
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
