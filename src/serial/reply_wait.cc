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
                                      int32_t awaited) const {
  if (awaited <= 0) return Time{};
  return Until(sentAt, static_cast<double>(requestBytes) + std::max(silenceChars, 0.0) +
                           static_cast<double>(awaited - 1));
}

ReplyWait::Time ReplyWait::AfterRead(Time readAt, int32_t awaited) const {
  if (awaited <= 1) return Time{};
  return Until(readAt, static_cast<double>(awaited - 1));
}

}  // namespace qb
