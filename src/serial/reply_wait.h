// When the serial port next looks at its device while a reply is on its way. Every wake-up of the
// owner thread costs a panel's CPU far more than the bytes it reads, so the port does not look per
// byte: it leaves the device alone until the reply can have ended on the wire, going by the baud
// rate, the bytes the receiving side still needs at the least, and how late the device has been
// ending its replies. Pure arithmetic on times, so that the waiting can be checked in virtual
// time.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace qb {

class ReplyWait {
 public:
  using Time = std::chrono::steady_clock::time_point;

  // The longest wait: a reply awaited longer than this is looked at again meanwhile.
  static constexpr std::chrono::milliseconds kMaxHold{250};
  // First looks in a row that must find the reply whole before the next comes earlier.
  static constexpr int kWholeLooksBeforeEarlier = 8;
  // The look's unit of adjustment, as a fraction of a character: later after a short look, earlier
  // (doubling) after a run of whole ones.
  static constexpr int kStepsPerChar = 16;

  // charTime: one character on the wire, start, parity and stop bits included.
  explicit ReplyWait(std::chrono::nanoseconds charTime) : charTime_(charTime) {}

  // After a request of requestBytes was handed to the driver at sentAt: the device cannot have
  // ended a reply of awaited bytes before the request has left the line, the silence it keeps
  // first (silenceChars; 3.5 for Modbus RTU), the delay it has lately taken (DeviceDelay) and all
  // but the last of those bytes have passed. Time{} (no wait) when nothing is awaited.
  Time AfterWrite(Time sentAt, size_t requestBytes, double silenceChars, int32_t awaited);

  // After a read at readAt took bytesRead bytes and left awaited to come: all but the last of
  // them. The last byte is then taken as soon as it lands, not up to a character time later;
  // where bytes come early (a device ahead of its line, a pseudo-terminal) the whole rest is there
  // by then. Time{} when at most one byte is awaited. The reads of a reply that the first look
  // found short tell when it ended.
  Time AfterRead(Time readAt, size_t bytesRead, int32_t awaited);

  // How much later than the line allows the first look at a reply comes: where the device has
  // lately been ending its replies, a little more each time a first look finds one short, a
  // little less, then ever more, once kWholeLooksBeforeEarlier of them in a row found it whole.
  std::chrono::nanoseconds DeviceDelay() const { return delay_; }

 private:
  Time Until(Time from, double chars) const;
  void Learn(std::chrono::nanoseconds shown);

  std::chrono::nanoseconds charTime_;
  // From a write until its reply is whole or the next write.
  Time replyEarliest_{};                 // when the reply could begin
  Time lookAt_{};                        // the end of the wait after the write
  bool looked_ = false;                  // the reply's first bytes were read
  size_t received_ = 0;                  // its bytes read so far
  std::chrono::nanoseconds lateness_{};  // how late the owner woke for the first look
  // Across replies.
  std::chrono::nanoseconds delay_{};
  std::chrono::nanoseconds lastShown_{};  // the delay the last reply found short showed
  int wholeLooks_ = 0;
  std::chrono::nanoseconds step_{};  // how much earlier the next look comes after a whole one
};

}  // namespace qb
