// Today's use of the computer, in whole minutes.
#include "scheduler/daily_use.h"

#include <gtest/gtest.h>

namespace dadado {
namespace {

LocalDateTime At(int d, int h, int m, int s) { return {{2026, 12, d}, h * 3600 + m * 60 + s}; }

// Minute checks every 60 s from `from` for `minutes` minutes.
void CheckEveryMinute(DailyUse& use, LocalDateTime from, int minutes) {
  std::int64_t t = LocalSeconds(from);
  for (int i = 0; i < minutes; ++i) use.Count(FromLocalSeconds(t += 60));
}

TEST(DailyUse, CountsWholeMinutesWhileSomeoneIsAtTheConsole) {
  DailyUse use;
  use.Load(std::nullopt, 0, At(7, 9, 0, 0));
  EXPECT_FALSE(use.Count(At(7, 9, 0, 59)));
  EXPECT_TRUE(use.Count(At(7, 9, 1, 0)));
  EXPECT_EQ(use.minutes(), 1);
  CheckEveryMinute(use, At(7, 9, 1, 0), 9);
  EXPECT_EQ(use.minutes(), 10);
  // Locked for five minutes, then unlocked: those minutes do not count.
  use.SetActive(false, At(7, 9, 10, 30));
  CheckEveryMinute(use, At(7, 9, 10, 30), 5);
  use.SetActive(true, At(7, 9, 15, 30));
  EXPECT_EQ(use.minutes(), 10);
  use.Count(At(7, 9, 16, 30));
  EXPECT_EQ(use.minutes(), 11);
  // Logged off and on again: the half minutes before the lock and the log-off
  // count, the time away does not.
  use.SetActive(false, At(7, 9, 17, 0));
  EXPECT_EQ(use.minutes(), 12);
  use.SetActive(true, At(7, 11, 0, 0));
  use.Count(At(7, 11, 1, 0));
  EXPECT_EQ(use.minutes(), 13);
}

TEST(DailyUse, MidnightStartsANewDayFromZero) {
  DailyUse use;
  use.Load(Date{2026, 12, 7}, 200, At(7, 23, 58, 0));
  EXPECT_EQ(use.minutes(), 200);
  use.Count(At(7, 23, 59, 0));
  use.Count(At(7, 23, 59, 50));
  EXPECT_EQ(use.minutes(), 201);
  EXPECT_TRUE(use.Count(At(8, 0, 0, 50)));  // 10 s of the old day, 50 of the new
  EXPECT_EQ(use.day(), (Date{2026, 12, 8}));
  EXPECT_EQ(use.minutes(), 0);
  use.Count(At(8, 0, 1, 10));
  EXPECT_EQ(use.minutes(), 1);
}

TEST(DailyUse, ARestartKeepsTodaysCountAndDropsAnotherDays) {
  DailyUse use;
  use.Load(Date{2026, 12, 7}, 75, At(7, 15, 0, 0));
  EXPECT_EQ(use.minutes(), 75);
  use.Load(Date{2026, 12, 6}, 75, At(7, 15, 0, 0));
  EXPECT_EQ(use.minutes(), 0);
  use.Load(Date{2026, 12, 7}, 99999, At(7, 15, 0, 0));  // a hand-edited count
  EXPECT_EQ(use.minutes(), 1440);
  use.Load(Date{2026, 12, 7}, -5, At(7, 15, 0, 0));
  EXPECT_EQ(use.minutes(), 0);
}

TEST(DailyUse, AClockChangeOrSleepIsNotUse) {
  DailyUse use;
  use.Load(std::nullopt, 0, At(7, 9, 0, 0));
  use.Count(At(7, 10, 0, 0));  // the clock jumped an hour forward
  EXPECT_EQ(use.minutes(), 0);
  use.Count(At(7, 10, 1, 0));
  EXPECT_EQ(use.minutes(), 1);
  use.Count(At(7, 9, 30, 0));  // and back
  use.Count(At(7, 9, 31, 0));
  EXPECT_EQ(use.minutes(), 2);
  // A late check still counts what was used.
  use.Count(At(7, 9, 33, 0));
  EXPECT_EQ(use.minutes(), 4);
}

}  // namespace
}  // namespace dadado
