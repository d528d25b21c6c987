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

namespace dadado {
namespace {

LocalDateTime On(int d, int h, int m) { return {{2026, 12, d}, h * 3600 + m * 60}; }

TEST(DailyUse, EachAccountCountsItsOwnMinutesAndTheMachineAll) {
  DailyUse use;
  use.Load(std::nullopt, 0, On(7, 9, 0));
  const Account ming{"小明", "S-1", false}, hong{"小红", "S-2", false};
  use.SetAccount(ming, On(7, 9, 0));
  for (int m = 1; m <= 10; ++m) use.Count(On(7, 9, m));
  // Fast user switching: 小明's half minute before the switch is his.
  EXPECT_TRUE(use.SetAccount(hong, At(7, 9, 10, 30)));
  EXPECT_FALSE(use.SetAccount(hong, At(7, 9, 10, 40)));
  for (int m = 11; m <= 15; ++m) use.Count(At(7, 9, m, 30));
  EXPECT_EQ(use.MinutesOf("小明", "S-1"), 10);
  EXPECT_EQ(use.MinutesOf("小红", "S-2"), 5);
  EXPECT_EQ(use.minutes(), 15);
  // A rename keeps the count: the SID is the account.
  EXPECT_EQ(use.MinutesOf("Hong", "S-2"), 5);
  // Stored and read back as one line.
  const UsageDay day = use.Snapshot();
  EXPECT_EQ(ParseAccountDay(FormatAccountDay(day)), (UsageDay{day.day, 0, day.accounts}));
  DailyUse again;
  again.Load(day, On(7, 12, 0));
  EXPECT_EQ(again.MinutesOf("小明", "S-1"), 10);
  EXPECT_EQ(again.minutes(), 15);
}

TEST(DailyUse, TheClockSetBackStartsNoFreshDay) {
  DailyUse use;
  use.Load(Date{2026, 12, 8}, 100, On(8, 0, 30));
  use.Count(On(8, 0, 31));
  EXPECT_FALSE(use.TakeClockSetBack());
  // Set back to the evening before: the use stays with the 8th, told once.
  use.Count(On(7, 23, 0));
  use.Count(On(7, 23, 1));
  use.Count(On(7, 23, 2));
  EXPECT_TRUE(use.TakeClockSetBack());
  EXPECT_FALSE(use.TakeClockSetBack());
  EXPECT_EQ(use.day(), (Date{2026, 12, 8}));
  EXPECT_EQ(use.minutes(), 103);
  // Passing midnight again goes on with the same day, not a fresh one.
  for (int m = 3; m <= 59; ++m) use.Count(On(7, 23, m));
  use.Count(On(8, 0, 0));
  use.Count(On(8, 0, 1));
  EXPECT_EQ(use.day(), (Date{2026, 12, 8}));
  EXPECT_EQ(use.minutes(), 162);
  // A firmware clock set back across a restart: the stored later day holds.
  DailyUse restarted;
  restarted.Load(Date{2026, 12, 8}, 100, On(7, 22, 0));
  EXPECT_EQ(restarted.day(), (Date{2026, 12, 8}));
  EXPECT_EQ(restarted.minutes(), 100);
  EXPECT_TRUE(restarted.TakeClockSetBack());
}

TEST(DailyUse, ExtraTimeAddsUpForTheDayAndItsWindowRunsPastMidnight) {
  DailyUse use;
  use.Load(std::nullopt, 0, On(7, 23, 0));
  use.Grant("小明", "S-1", 30, LocalSeconds(On(8, 0, 20)));
  use.Grant("小明", "S-1", 15, LocalSeconds(On(7, 23, 50)));  // an earlier end keeps the later one
  const AccountUse* a = use.Of("小明", "S-1");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->extra_minutes, 45);
  EXPECT_EQ(a->extra_until, LocalSeconds(On(8, 0, 20)));
  use.Count(On(8, 0, 5));
  a = use.Of("小明", "S-1");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->extra_minutes, 0);  // the limit's part was for yesterday
  EXPECT_EQ(a->extra_until, LocalSeconds(On(8, 0, 20)));
  DailyUse restarted;
  restarted.Load(use.Snapshot(), On(8, 1, 0));
  EXPECT_EQ(restarted.Of("小明", "S-1")->extra_until, LocalSeconds(On(8, 0, 20)));
  EXPECT_EQ(ParseAccountDay("2026/12/7;a,,x,y,z;,,1,2,;b,S-9,2000,5,").accounts,
            (std::vector<AccountUse>{{"a", "", 0, 0, std::nullopt}, {"b", "S-9", 1440, 5, std::nullopt}}));
}

}  // namespace
}  // namespace dadado
