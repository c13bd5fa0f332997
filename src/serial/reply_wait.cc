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

ReplyWait::Time ReplyWait::AfterWrite(Time sentAt, size_t requestBytes, double silenceChars,
                                      int32_t awaited) {
  replyEarliest_ = Time{};
  lookAt_ = Time{};
  looked_ = false;
  received_ = 0;
  if (awaited <= 0) return Time{};
  replyEarliest_ = Until(sentAt, static_cast<double>(requestBytes) + std::max(silenceChars, 0.0));
  if (replyEarliest_ == Time{}) return Time{};
  const Time until = Until(replyEarliest_ + delay_, static_cast<double>(awaited - 1));
  lookAt_ = std::min(until == Time{} ? replyEarliest_ + delay_ : until, sentAt + kMaxHold);
  return lookAt_;
}

// A first look that finds the reply short costs a wake-up more; one that comes after the reply's
// end costs only the time it waited for nothing. So the look aims past nearly every reply's end:
// where the device lately ended them, a sixteenth of a character more after each reply found
// short. One late reply alone does not move it: the later of two replies found short in a row
// only counts as far as the earlier one. Coming earlier is tried only after a run of whole looks,
// so that a device that answers a little early now and then is not chased with a look in vain
// each time it is on time again, then by a step that doubles with every whole look, so that a
// device that got much faster is soon followed.
void ReplyWait::Learn(std::chrono::nanoseconds shown) {
  shown = std::clamp<std::chrono::nanoseconds>(shown, {}, kMaxHold);
  const auto pad = charTime_ / kStepsPerChar;
  delay_ = std::min<std::chrono::nanoseconds>(
      std::max(delay_ + pad, std::min(shown, lastShown_) + pad), kMaxHold);
  lastShown_ = shown;
}

ReplyWait::Time ReplyWait::AfterRead(Time readAt, size_t bytesRead, int32_t awaited) {
  if (replyEarliest_ != Time{} && bytesRead > 0) {
    received_ += bytesRead;
    if (!looked_ && awaited <= 0) {
      if (++wholeLooks_ >= kWholeLooksBeforeEarlier) {
        step_ = std::max(step_, charTime_ / kStepsPerChar);
        delay_ = std::max<std::chrono::nanoseconds>(delay_ - step_, {});
        step_ = std::min<std::chrono::nanoseconds>(step_ * 2, kMaxHold);
      }
      replyEarliest_ = Time{};
    } else if (!looked_) {
      // Short. The owner woke this late for the look (a read at the end of the wait; a read at a
      // byte that landed later tells nothing of it); it wakes about as late for the last byte.
      wholeLooks_ = 0;
      step_ = {};
      const bool endOfWait = lookAt_ != Time{} && readAt >= lookAt_ && readAt - lookAt_ < charTime_;
      lateness_ = endOfWait ? readAt - lookAt_ : std::chrono::nanoseconds{};
    } else if (awaited <= 0) {
      // Whole now: it ended about as the owner woke for its last byte, whatever the device and
      // the driver do with the bytes in between, a delay to aim the next first look at.
      const auto charsBeforeLast = charTime_ * static_cast<int64_t>(received_ - 1);
      Learn(readAt - lateness_ - charsBeforeLast - replyEarliest_);
      replyEarliest_ = Time{};
    }
    looked_ = true;
  }
  if (awaited <= 1) return Time{};
  return Until(readAt, static_cast<double>(awaited - 1));
}

}  // namespace qb
