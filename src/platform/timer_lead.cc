#include "platform/timer_lead.h"

#include <algorithm>

namespace qb {

void TimerLead::Note(std::chrono::nanoseconds lateness) {
  lateness = std::clamp<std::chrono::nanoseconds>(lateness, std::chrono::nanoseconds{0}, kMaxLead);
  samples_[seen_ % kSamples] = lateness;
  ++seen_;
  if (seen_ < kSamples) return;
  lead_ = *std::min_element(samples_.begin(), samples_.end());
}

}  // namespace qb
