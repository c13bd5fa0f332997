// When the serial port next looks at its device while a reply is on its way. Every wake-up of the
// owner thread costs a panel's CPU far more than the bytes it reads, so the port does not look per
// byte: it leaves the device alone until the reply can have ended on the wire, going by the baud
// rate, the bytes the receiving side still needs at the least, and how late the device has been
// starting its replies. Pure arithmetic on times, so that the waiting can be checked in virtual
// time.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace qb {

class ReplyWait {
 public:
  using Time = std::chrono::steady_clock::time_point;

  // The longest wait: a reply awaited longer than this is looked at again meanwhile.
  static constexpr std::chrono::milliseconds kMaxHold{250};

  // charTime: one character on the wire, start, parity and stop bits included.
  explicit ReplyWait(std::chrono::nanoseconds charTime) : charTime_(charTime) {}

  // After a request of requestBytes was handed to the driver at sentAt: the device cannot have
  // ended a reply of awaited bytes before the request has left the line, the silence it keeps
  // first (silenceChars; 3.5 for Modbus RTU), the delay it has lately taken before answering
  // (DeviceDelay) and all but the last of those bytes have passed. Time{} (no wait) when nothing
  // is awaited.
  Time AfterWrite(Time sentAt, size_t requestBytes, double silenceChars, int32_t awaited);

  // After a read at readAt took bytesRead bytes and left awaited to come: all but the last of
  // them. The last byte is then taken as soon as it lands, not up to a character time later;
  // where bytes come early (a device ahead of its line, a pseudo-terminal) the whole rest is there
  // by then. Time{} when at most one byte is awaited. The first read after a write tells when the
  // reply began.
  Time AfterRead(Time readAt, size_t bytesRead, int32_t awaited);

  // How much later than the line allows the device begins its replies: the smaller of the last
  // two replies seen begin, so that one slow reply does not delay the look at the next, and a
  // device that answers faster is followed at once; lowered while first looks find replies
  // whole.
  std::chrono::nanoseconds DeviceDelay() const { return std::min(delays_[0], delays_[1]); }

 private:
  Time Until(Time from, double chars) const;
  void Learn(std::chrono::nanoseconds delay);

  std::chrono::nanoseconds charTime_;
  Time replyEarliest_{};  // after a write until the reply's first read: when it could begin
  Time lookAt_{};         // the end of the wait after that write
  std::array<std::chrono::nanoseconds, 2> delays_{};
  size_t nextDelay_ = 0;
  std::chrono::nanoseconds step_{};  // how much earlier the look comes after a reply found whole
};

}  // namespace qb
