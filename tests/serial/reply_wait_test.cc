// The port's waiting for a reply, in virtual time: a line on which the reply's bytes land at given
// times, and a port that looks at it as the serial port does (when a wait ends, else when a byte
// lands) and reads everything that has landed. One character is one virtual millisecond.
#include "serial/reply_wait.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

namespace qb {
namespace {

using std::chrono::milliseconds;
using ::testing::ElementsAre;
using Chars = std::chrono::duration<double, std::milli>;

struct Look {
  double at;     // characters after the request was written
  size_t bytes;  // read then; 0: the wait ended on nothing
  bool operator==(const Look&) const = default;
};

// Byte k (0 to count - 1) lands at first + k characters, and gap more from byte gapFrom on.
std::vector<double> Landing(double first, size_t count, size_t gapFrom = 0, double gap = 0) {
  std::vector<double> at;
  for (size_t k = 0; k < count; ++k) at.push_back(first + k + (gapFrom && k >= gapFrom ? gap : 0));
  return at;
}

// An 8-byte request written at 0, `expected` reply bytes awaited in all; a fresh port unless one
// that has seen replies before is given.
std::vector<Look> Gather(const std::vector<double>& landing, int32_t expected, double silence,
                         ReplyWait* seen = nullptr) {
  ReplyWait fresh(milliseconds(1));
  ReplyWait& wait = seen != nullptr ? *seen : fresh;
  const ReplyWait::Time none{};
  const auto awaited = [&](size_t in) { return std::max(expected - static_cast<int32_t>(in), 0); };
  std::vector<Look> looks;
  size_t received = 0;
  for (ReplyWait::Time hold = wait.AfterWrite(none, 8, silence, expected);;) {
    // A wait in force ends by itself; else the next byte to land wakes the port.
    if (hold == none && received == landing.size()) break;
    const double now = hold != none ? Chars(hold - none).count() : landing[received];
    size_t bytes = 0;
    while (received + bytes < landing.size() && landing[received + bytes] <= now) ++bytes;
    looks.push_back({now, bytes});
    received += bytes;
    const auto at = none + std::chrono::duration_cast<std::chrono::nanoseconds>(Chars(now));
    hold = bytes == 0 ? none : wait.AfterRead(at, bytes, awaited(received));
  }
  return looks;
}

// A Modbus RTU read of 10 registers: 8 bytes out, the device's 3.5 characters of silence, 25 back.
TEST(ReplyWaitTest, AReplyOnTimeIsTakenInOneOrTwoLooks) {
  // Bytes that land as their characters begin (a pseudo-terminal, a device ahead of its line):
  // the whole reply in one read when it can have ended.
  EXPECT_THAT(Gather(Landing(11.5, 25), 25, 3.5), ElementsAre(Look{35.5, 25}));
  // Bytes that land as their characters end (a UART): all but the last, then the last as it lands.
  EXPECT_THAT(Gather(Landing(12.5, 25), 25, 3.5), ElementsAre(Look{35.5, 24}, Look{36.5, 1}));
  // Modbus ASCII keeps no silence.
  EXPECT_THAT(Gather(Landing(9, 25), 25, 0), ElementsAre(Look{32, 24}, Look{33, 1}));
}

TEST(ReplyWaitTest, AReplySplitByALongGapIsWaitedForByWhatItStillLacks) {
  // Ten bytes, then 20 characters of silence, then the other fifteen.
  EXPECT_THAT(Gather(Landing(12.5, 25, 10, 20), 25, 3.5),
              ElementsAre(Look{35.5, 10}, Look{49.5, 8}, Look{55.5, 6}, Look{56.5, 1}));
  // A device 5 ms late: the first look finds nothing, and the port waits for its first byte.
  EXPECT_THAT(Gather(Landing(40, 25), 25, 3.5),
              ElementsAre(Look{35.5, 0}, Look{40, 1}, Look{63, 23}, Look{64, 1}));
}

TEST(ReplyWaitTest, RepliesLongerOrShorterThanAwaitedAndTheLongestWait) {
  // Five awaited (an exception reply is possible), 8 come: the rest is read byte by byte.
  EXPECT_THAT(
      Gather(Landing(12.5, 8), 5, 3.5),
      ElementsAre(Look{15.5, 4}, Look{16.5, 1}, Look{17.5, 1}, Look{18.5, 1}, Look{19.5, 1}));
  // Ten of 25 come: one look that finds nothing more, then the port only waits on the line (the
  // reply's time-out is the engine's), no look after look.
  EXPECT_THAT(Gather(Landing(12.5, 10), 25, 3.5), ElementsAre(Look{35.5, 10}, Look{49.5, 0}));
  ReplyWait wait(std::chrono::microseconds(8333));  // 1200 baud, 10 bits a character
  const ReplyWait::Time t{};
  EXPECT_EQ(wait.AfterWrite(t, 8, 3.5, 1000), t + milliseconds(250));
  EXPECT_EQ(wait.AfterRead(t, 0, 11), t + std::chrono::microseconds(83330));
  EXPECT_EQ(wait.AfterWrite(t, 8, 3.5, 0), ReplyWait::Time{});  // nothing awaited: no wait
}

// A device 28.5 characters late after the silence: the reads of a reply that the first look found
// short show when it ended, and once two replies in a row have shown it, the first look comes a
// sixteenth of a character after that end. When it answers on time again, the look stays until
// eight replies in a row were whole, then comes earlier by a step that doubles from a sixteenth of
// a character, until one finds the reply short: then it follows the end that reply showed.
TEST(ReplyWaitTest, TheDevicesDelayIsLearned) {
  ReplyWait wait(milliseconds(1));
  const auto late = Landing(40, 25);
  for (double first : {35.5, 35.5625}) {
    EXPECT_THAT(Gather(late, 25, 3.5, &wait),
                ElementsAre(Look{first, 0}, Look{40, 1}, Look{63, 23}, Look{64, 1}));
  }
  EXPECT_THAT(Gather(late, 25, 3.5, &wait), ElementsAre(Look{64.0625, 25}));
  std::vector<double> firstLooks;
  for (size_t looks = 1; looks == 1 && firstLooks.size() < 20;) {
    const auto gathered = Gather(Landing(12.5, 25), 25, 3.5, &wait);
    firstLooks.push_back(gathered.front().at);
    looks = gathered.size();
  }
  EXPECT_EQ(firstLooks,
            (std::vector<double>{64.0625, 64.0625, 64.0625, 64.0625, 64.0625, 64.0625, 64.0625, 64,
                                 63.875, 63.625, 63.125, 62.125, 60.125, 56.125, 48.125, 35.5}));
  EXPECT_THAT(Gather(Landing(12.5, 25), 25, 3.5, &wait), ElementsAre(Look{36.5625, 25}));
  // One late reply moves the look by a sixteenth of a character; the second in a row to it.
  for (double first : {36.5625, 36.625}) {
    EXPECT_THAT(Gather(late, 25, 3.5, &wait),
                ElementsAre(Look{first, 0}, Look{40, 1}, Look{63, 23}, Look{64, 1}));
  }
  EXPECT_EQ(wait.DeviceDelay(), std::chrono::nanoseconds(28'562'500));
}

}  // namespace
}  // namespace qb
