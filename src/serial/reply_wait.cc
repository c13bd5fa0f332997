#include "serial/reply_wait.h"

#include <algorithm>

namespace qb {

std::chrono::nanoseconds ReplyWait::Wire(double chars) const {
  if (chars <= 0) return {};
  return std::chrono::nanoseconds(static_cast<int64_t>(
      std::min(chars * static_cast<double>(charTime_.count()),
               static_cast<double>(std::chrono::nanoseconds(kMaxHold).count()))));
}

ReplyWait::Time ReplyWait::AfterWrite(Time sentAt, size_t requestBytes, double silenceChars,
                                      int32_t awaited) {
  allButLast_ = Time{};
  lookAt_ = Time{};
  reads_ = 0;
  if (awaited <= 0 || charTime_.count() <= 0) return Time{};
  allButLast_ = sentAt + Wire(static_cast<double>(requestBytes) + std::max(silenceChars, 0.0) +
                              static_cast<double>(awaited - 1));
  lookAt_ = std::min(allButLast_ + lateness_, sentAt + kMaxHold);
  return lookAt_;
}

void ReplyWait::Took(Time readAt, size_t bytes) {
  if (bytes == 0) return;
  lastRead_ = readAt;
  if (allButLast_ != Time{}) ++reads_;
}

ReplyWait::Time ReplyWait::AfterRead(int32_t awaited) {
  if (awaited <= 0) ReplyEnded();
  if (awaited <= 1 || charTime_.count() <= 0) return Time{};
  return lastRead_ + Wire(static_cast<double>(awaited - 1));
}

void ReplyWait::ReplyEnded() {
  if (allButLast_ == Time{} || reads_ == 0) return;
  if (reads_ == 1 && lastRead_ >= lookAt_) {
    // Whole at the first look: it may have ended any time before. The look comes a step earlier
    // next time, and twice as much earlier each time it finds the reply whole again, so that a
    // device that got faster is soon followed. A look that comes too early costs a wake-up, not
    // time: the last byte is then taken as it lands.
    lateness_ = std::max<std::chrono::nanoseconds>(lateness_ - step_, {});
    step_ = std::min<std::chrono::nanoseconds>(step_ * 2, kMaxHold);
  } else {
    // The reply was complete when the read that took its last byte was made, however many bytes
    // more than awaited it had (a reply whose head tells its length); the wake-ups of that read
    // and of the next first look give the margin that lets the next look find it whole. The
    // smaller of this and the last reply measured so, so that one slow reply does not delay the
    // look at the next; two in a row are followed.
    const auto measured =
        std::clamp<std::chrono::nanoseconds>(lastRead_ - allButLast_, {}, kMaxHold);
    lateness_ = std::min(measured, lastMeasured_);
    lastMeasured_ = measured;
    step_ = kFirstStep;
  }
  allButLast_ = Time{};
}

}  // namespace qb
