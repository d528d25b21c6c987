#include "system/power.h"

#include <gtest/gtest.h>

namespace dadado {
namespace {

TEST(ExitFlags, TableByKindAndForce) {
  EXPECT_EQ(ExitFlagsFor(0, false), 2u);
  EXPECT_EQ(ExitFlagsFor(0, true), 6u);
  EXPECT_EQ(ExitFlagsFor(1, false), 9u);
  EXPECT_EQ(ExitFlagsFor(1, true), 13u);
  EXPECT_EQ(ExitFlagsFor(2, false), 0u);
  EXPECT_EQ(ExitFlagsFor(2, true), 4u);
  EXPECT_EQ(ExitFlagsFor(3, true), std::nullopt);
  EXPECT_EQ(ExitFlagsFor(-1, true), std::nullopt);
  EXPECT_EQ(ExitFlagsFor(7, false), std::nullopt);
}

TEST(ExitFlags, RunNowItemsUseTheirOwnOrder) {
  EXPECT_EQ(ActionOfRunNowItem(0), ActionKind::kShutDown);
  EXPECT_EQ(ActionOfRunNowItem(1), ActionKind::kRestart);
  EXPECT_EQ(ActionOfRunNowItem(2), ActionKind::kLogOff);
  EXPECT_EQ(ActionOfRunNowItem(3), std::nullopt);
}

}  // namespace
}  // namespace dadado
