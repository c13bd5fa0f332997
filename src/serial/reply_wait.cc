#include "serial/reply_wait.h"

#include <algorithm>

namespace qb {

ReplyWait::Time ReplyWait::Until(Time from, double chars) const {
  if (chars <= 0 || charTime_.count() <= 0) return Time{};
  const auto wire = std::chrono::nanoseconds(static_cast<int64_t>(
      std::min(chars * static_cast<double>(charTime_.count()),
               static_cast<double>(std::chrono::nanoseconds(kMaxHold).count()))));
  return from + wire;
}

void ReplyWait::Learn(std::chrono::nanoseconds delay) {
  delays_[nextDelay_] = std::clamp<std::chrono::nanoseconds>(delay, {}, kMaxHold);
  nextDelay_ = (nextDelay_ + 1) % delays_.size();
}

ReplyWait::Time ReplyWait::AfterWrite(Time sentAt, size_t requestBytes, double silenceChars,
                                      int32_t awaited) {
  replyEarliest_ = Time{};
  lookAt_ = Time{};
  if (awaited <= 0) return Time{};
  replyEarliest_ = Until(sentAt, static_cast<double>(requestBytes) + std::max(silenceChars, 0.0));
  if (replyEarliest_ == Time{}) return Time{};
  const Time until = Until(replyEarliest_ + DeviceDelay(), static_cast<double>(awaited - 1));
  lookAt_ = std::min(until == Time{} ? replyEarliest_ + DeviceDelay() : until, sentAt + kMaxHold);
  return lookAt_;
}

ReplyWait::Time ReplyWait::AfterRead(Time readAt, size_t bytesRead, int32_t awaited) {
  if (replyEarliest_ != Time{} && bytesRead > 0) {
    if (awaited > 0) {
      // Still short: the reply began about as long before the look as the bytes in hand take on
      // the wire, where they came at the line's pace: a whole character more if each landed as
      // its character ended (a UART), none if as it began (a device ahead of its line, a
      // pseudo-terminal). Taken from the middle, the next look comes half a character later than
      // one that would find such a reply short again, and costs no more than that half character
      // where a look too early costs a wake-up. A read at the end of the wait counts from the
      // wait's end, so that the owner's wake-up lateness does not add up from reply to reply.
      const bool endOfWait = lookAt_ != Time{} && readAt >= lookAt_ && readAt - lookAt_ < charTime_;
      const auto began = (endOfWait ? lookAt_ : readAt) -
                         charTime_ * static_cast<int64_t>(bytesRead) + charTime_ / 2;
      Learn(std::max<std::chrono::nanoseconds>(began - replyEarliest_, {}));
      step_ = {};
    } else {
      // Whole at the first look: it may have begun any time before. The next look comes a step
      // earlier, from a quarter of a character, twice as far with each reply found whole again:
      // a device that got faster is soon followed, and one that answers a little early now and
      // then does not cost a look in vain each time it is on time again.
      const auto step = std::max(step_, charTime_ / 4);
      Learn(std::max<std::chrono::nanoseconds>(DeviceDelay() - step, {}));
      step_ = std::min<std::chrono::nanoseconds>(step * 2, kMaxHold);
    }
    replyEarliest_ = Time{};
  }
  if (awaited <= 1) return Time{};
  return Until(readAt, static_cast<double>(awaited - 1));
}

}  // namespace qb
