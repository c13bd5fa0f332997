// Stands in for the libmodbus peer tests when libmodbus is not installed.
#include <gtest/gtest.h>

TEST(LibmodbusPeerMissing, Skipped) {
  GTEST_SKIP() << "libmodbus is not installed (scripts/install-deps.sh installs it)";
}
