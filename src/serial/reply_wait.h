// When the serial port next looks at its device while a reply is on its way. Every wake-up of the
// owner thread costs a panel's CPU far more than the bytes it reads, so the port does not look per
// byte: it leaves the device alone until the reply can have ended on the wire, going by the baud
// rate, the bytes the receiving side still needs at the least, and how late the device's replies
// have lately ended. Pure arithmetic on times, so that the waiting can be checked in virtual time.
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
  // How much earlier the next first look comes after one that found the reply whole; the step
  // doubles with every further such reply.
  static constexpr std::chrono::microseconds kFirstStep{25};

  // charTime: one character on the wire, start, parity and stop bits included.
  explicit ReplyWait(std::chrono::nanoseconds charTime) : charTime_(charTime) {}

  // After a request of requestBytes was handed to the driver at sentAt: the device cannot have
  // ended a reply of awaited bytes before the request has left the line, the silence it keeps
  // first (silenceChars; 3.5 for Modbus RTU) and all but the last of those bytes have passed, and
  // the first look comes as much later again as the device's replies have lately ended later
  // than that (Lateness). Time{} (no wait) when nothing is awaited.
  Time AfterWrite(Time sentAt, size_t requestBytes, double silenceChars, int32_t awaited);

  // A read at readAt took bytes bytes; told before they are handed on.
  void Took(Time readAt, size_t bytes);

  // The bytes of the last read handed on, awaited still to come: when to look next, once all but
  // the last of them can have arrived. The last byte is then taken as soon as it lands, not up to
  // a character time later. Time{} when at most one byte is awaited. None awaited: the reply
  // ended with that read.
  Time AfterRead(int32_t awaited);

  // The receiving side is done with the reply of the last write: it ended with the last read.
  // For a request written while the last read was being handed on (an acknowledgement).
  void ReplyEnded();

  // How much later than all but the last awaited byte can have arrived the device's replies have
  // lately been complete, however long they were: the smaller of the last two replies whose end
  // was seen, lowered while first looks find the replies whole.
  std::chrono::nanoseconds Lateness() const { return lateness_; }

 private:
  std::chrono::nanoseconds Wire(double chars) const;

  std::chrono::nanoseconds charTime_;
  // After a write until its reply has ended: when all but the last awaited byte can be in.
  Time allButLast_{};
  Time lookAt_{};     // the end of the wait after that write
  size_t reads_ = 0;  // reads since that write
  Time lastRead_{};
  std::chrono::nanoseconds lateness_{};
  std::chrono::nanoseconds lastMeasured_{};  // by the last reply whose end was seen
  std::chrono::nanoseconds step_{kFirstStep};
};

}  // namespace qb
