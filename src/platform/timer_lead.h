// How much earlier than a due millisecond's edge the owner thread asks to be woken. A timed sleep
// ends late by the time the machine takes to wake an idle CPU: a few microseconds on a quiet
// board, 50 to 90 us on a virtual machine, whatever the timer slack. A request due at the edge
// then goes that much later, on every transaction. The lead is learned from the sleeps that just
// ended: the smallest lateness of the last few, so that the thread seldom wakes before the edge,
// and when it does, only the few microseconds that remain are waited out awake.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>

namespace qb {

class TimerLead {
 public:
  // Never more than this: a machine that is late by more is loaded, and a waking thread that
  // spun for the difference would take a CPU the host needs.
  static constexpr std::chrono::microseconds kMaxLead{200};
  // Lateness samples the lead is the smallest of.
  static constexpr size_t kSamples = 8;

  // A timed sleep asked to end at some time ended lateness after it (negative: before it, which
  // a timer does not do but a clock step can make appear; taken as on time).
  void Note(std::chrono::nanoseconds lateness);
  // How much before a due edge the next sleep should end. Zero until kSamples sleeps were seen.
  std::chrono::nanoseconds Lead() const { return lead_; }

 private:
  std::array<std::chrono::nanoseconds, kSamples> samples_{};
  size_t seen_ = 0;
  std::chrono::nanoseconds lead_{0};
};

}  // namespace qb
