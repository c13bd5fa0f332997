// The lead before a due edge: learned from how late the last sleeps ended, never beyond its cap.
#include "platform/timer_lead.h"

#include <gtest/gtest.h>

namespace qb {
namespace {

using namespace std::chrono_literals;

TEST(TimerLead, IsTheSmallestOfTheLastEightLatenessesHeldToItsCap) {
  TimerLead lead;
  for (auto late : {55us, 70us, 90us, 60us, 80us, 65us, 75us}) lead.Note(late);
  EXPECT_EQ(lead.Lead(), 0ns);  // seven sleeps are too few to go by
  lead.Note(85us);
  EXPECT_EQ(lead.Lead(), 55us);
  // The 55 us sleep leaves the window with the next sample; the smallest is then 60 us.
  lead.Note(100us);
  EXPECT_EQ(lead.Lead(), 60us);
  // A stall of the machine counts only up to the cap; a sleep seen to end early counts as on time.
  for (int i = 0; i < 8; ++i) lead.Note(5ms);
  EXPECT_EQ(lead.Lead(), TimerLead::kMaxLead);
  lead.Note(-3us);
  EXPECT_EQ(lead.Lead(), 0ns);
}

}  // namespace
}  // namespace qb
