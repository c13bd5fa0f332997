// The Log window in virtual time: the first 100 ms tick that brings it up, a status pane sent only
// when its text changes, and missed ticks that are not made up.
#include "diag/log_dialog.h"

#include <gtest/gtest.h>

#include "support/fake_platform.h"

namespace qb::test {
namespace {

TEST(LogDialogTest, FirstTickShowsTheWindowAndTheStatusGoesOnlyWhenItChanges) {
  FakePlatform platform;
  platform.monitorAttached = true;
  LogDialog log(platform, "4.1.8.1");
  log.SetStatus(u"Port", u"COM1");
  log.AppendLog(1, u"hidden");  // not shown yet: not logging
  EXPECT_EQ(log.MsUntilDue(1000), -1);
  log.Show(1000);
  EXPECT_TRUE(log.LoggingOn());
  EXPECT_EQ(log.MsUntilDue(1040), 60);
  EXPECT_FALSE(log.TickDue(1099));
  EXPECT_TRUE(platform.monitorCommands.empty());
  ASSERT_TRUE(log.TickDue(1100));
  log.Tick(1100);
  log.SetStatus(u"Baud", u"9600");
  log.AppendLog(2, u"line");
  for (uint32_t now : {1200u, 1300u}) log.Tick(now);
  log.SetStatus(u"Baud", u"9600");  // same text: the pane is left alone
  log.Tick(1400);
  EXPECT_EQ(log.Count(), 4u);
  EXPECT_EQ(platform.monitorCommands,
            (std::vector<std::u16string>{u"qbls:Log - DLL Version 418", u"qblt:Port=COM1",
                                         u"qbl2:line", u"qblt:Baud=9600&Port=COM1"}));
  log.Tick(1750);  // late: the next tick is 100 ms from now, missed ones are not made up
  EXPECT_EQ(log.MsUntilDue(1750), 100);
}

}  // namespace
}  // namespace qb::test
