// When the serial port next looks at its device while a reply is on its way. Every wake-up of the
// owner thread costs a panel's CPU far more than the bytes it reads, so the port does not look per
// byte: it leaves the device alone until the reply can have ended on the wire, going by the baud
// rate and the bytes the receiving side still needs at the least. Pure arithmetic on times, so
// that the waiting can be checked in virtual time.
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

  // charTime: one character on the wire, start, parity and stop bits included.
  explicit ReplyWait(std::chrono::nanoseconds charTime) : charTime_(charTime) {}

  // After a request of requestBytes was handed to the driver at sentAt: the device cannot have
  // ended a reply of awaited bytes before the request has left the line, the silence it keeps
  // first (silenceChars; 3.5 for Modbus RTU) and all but the last of those bytes have passed.
  // Time{} (no wait) when nothing is awaited.
  Time AfterWrite(Time sentAt, size_t requestBytes, double silenceChars, int32_t awaited) const;

  // After a read at readAt left awaited bytes to come: all but the last of them. The last byte is
  // then taken as soon as it lands, not up to a character time later; where bytes come early (a
  // device ahead of its line, a pseudo-terminal) the whole rest is there by then. Time{} when at
  // most one byte is awaited.
  Time AfterRead(Time readAt, int32_t awaited) const;

 private:
  Time Until(Time from, double chars) const;

  std::chrono::nanoseconds charTime_;
};

}  // namespace qb
