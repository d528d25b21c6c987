// The usage history file and what the 使用记录 tab makes of it.
#include "scheduler/usage_history.h"

#include <gtest/gtest.h>

#include "scheduler/time_control_guard.h"

namespace dadado {
namespace {

constexpr char kBom[] = "\xEF\xBB\xBF";

TEST(UsageHistory, KeepsWhatDoesNotReadAndWritesRowsOldestFirst) {
  UsageHistory h = UsageHistory::Parse(std::string(kBom) +
                                       "日期,账户,分钟\r\n2026-12-01,小明,30\r\nnot \"a row\r\n2026-12-03,\"A,\"\"B\"\"\",5\n"
                                       "2026-13-01,x,1\r\n2026-12-04,小红,99999\r\n");
  EXPECT_EQ(h.Rows(), (std::vector<UsageRow>{{{2026, 12, 1}, "小明", 30}, {{2026, 12, 3}, "A,\"B\"", 5}}));
  h.Record({2026, 12, 2}, "小红", 10);
  h.Record({2026, 12, 1}, "小明", 20);  // a smaller figure never shrinks a row
  h.Record({2026, 12, 9}, "小明", 7);
  EXPECT_EQ(h.Text(), std::string(kBom) +
                          "日期,账户,分钟\r\n2026-12-01,小明,30\r\nnot \"a row\r\n2026-12-02,小红,10\r\n"
                          "2026-12-03,\"A,\"\"B\"\"\",5\r\n2026-13-01,x,1\r\n2026-12-04,小红,99999\r\n2026-12-09,小明,7\r\n");
  h.DropBefore({2026, 12, 3});
  EXPECT_EQ(h.Rows().size(), 2u);
  EXPECT_EQ(UsageHistory::Parse(h.Text()).Text(), h.Text());
  h.Record({2026, 12, 9}, "a\r\nb", 4);  // a quoted line break stays in its row, written again as one
  EXPECT_EQ(UsageHistory::Parse(h.Text()).Rows(), h.Rows());
  EXPECT_EQ(UsageHistory::Parse("").Text(), std::string(kBom) + "日期,账户,分钟\r\n");
}

TEST(UsageHistory, TodayThisWeekAndTheAverageOfThirtyDays) {
  UsageHistory h;
  // 2026-12-09 is a Wednesday; the week began on Monday the 7th.
  h.Record({2026, 12, 5}, "小明", 100);
  h.Record({2026, 12, 7}, "小明", 60);
  h.Record({2026, 12, 8}, "小红", 45);
  h.Record({2026, 12, 9}, "小明", 20);
  h.Record({2026, 12, 9}, "小红", 10);
  EXPECT_EQ(h.Summarize({2026, 12, 9}, ""), (UsageSummary{30, 135, 47}));      // 235 minutes over 5 days
  EXPECT_EQ(h.Summarize({2026, 12, 9}, "小明"), (UsageSummary{20, 80, 36}));  // 180 over 5 days
  EXPECT_EQ(h.MinutesOn({2026, 12, 9}, ""), 30);
  EXPECT_EQ(h.Accounts(), (std::vector<std::string>{"小明", "小红"}));
  EXPECT_EQ(h.Csv("小红"), std::string(kBom) + "日期,账户,分钟\r\n2026-12-08,小红,45\r\n2026-12-09,小红,10\r\n");
  EXPECT_EQ(UsageHistory().Summarize({2026, 12, 9}, ""), (UsageSummary{0, 0, 0}));
}

TEST(ChartScale, FromNothingToAWholeDay) {
  struct Row {
    int largest, top, step;
    std::vector<std::string> labels;
  };
  const Row rows[] = {
      {0, 60, 15, {"0", "15分钟", "30分钟", "45分钟", "1小时"}},
      {59, 60, 15, {"0", "15分钟", "30分钟", "45分钟", "1小时"}},
      {61, 90, 30, {"0", "30分钟", "1小时", "1小时30分钟"}},
      {200, 240, 60, {"0", "1小时", "2小时", "3小时", "4小时"}},
      {481, 540, 180, {"0", "3小时", "6小时", "9小时"}},
      {1440, 1440, 360, {"0", "6小时", "12小时", "18小时", "24小时"}},
      {5000, 1440, 360, {"0", "6小时", "12小时", "18小时", "24小时"}},
  };
  for (const Row& r : rows) EXPECT_EQ(ScaleFor(r.largest), (ChartScale{r.top, r.step, r.labels})) << r.largest;
}

// Monday 2026-12-07 allowed 18:00 to 21:00.
TimeRules Evening() {
  TimeRules r;
  r.allowed_hours.fill("24:00");
  r.allowed_hours[1] = "18:00+19:00+20:00";
  return r;
}

TEST(ExtraTime, GoesOnPastTheEndOfTheHoursAndAddsUp) {
  const auto at = [](int h, int m) { return LocalDateTime{{2026, 12, 7}, h * 3600 + m * 60}; };
  const auto t = [&](int h, int m) { return LocalSeconds(at(h, m)); };
  // The hours have ended: from now. Before they end: after their end.
  EXPECT_EQ(ExtraTimeUntil(Evening(), at(21, 10), 30, std::nullopt), t(21, 40));
  EXPECT_EQ(ExtraTimeUntil(Evening(), at(20, 50), 30, std::nullopt), t(21, 30));
  // A second grant while the first window is open adds to it.
  EXPECT_EQ(ExtraTimeUntil(Evening(), at(21, 20), 15, t(21, 40)), t(21, 55));
  // Allowed to the end of the day anyway: no window is needed.
  TimeRules all = Evening();
  all.allowed_hours[1] = "21:00+22:00+23:00";
  all.allowed_hours[2] = "00:00";
  EXPECT_EQ(ExtraTimeUntil(all, at(21, 0), 30, std::nullopt), std::nullopt);

  TimeControlGuard guard;
  TimeRules limited = Evening();
  limited.daily_limits[1] = 60;
  EXPECT_EQ(guard.Check(limited, at(21, 30), {10, 30, t(21, 40)}).shutdown, GuardShutdown::kNone);
  EXPECT_EQ(guard.Check(limited, at(21, 40), {10, 30, t(21, 40)}).shutdown, GuardShutdown::kHoursNotAllowed);
  EXPECT_EQ(guard.Check(limited, at(19, 0), {89, 30, std::nullopt}).shutdown, GuardShutdown::kNone);
  EXPECT_EQ(guard.Check(limited, at(19, 0), {90, 30, std::nullopt}).shutdown, GuardShutdown::kDailyLimitReached);
  EXPECT_EQ(guard.NextText(limited, at(19, 0), {20, 30, std::nullopt}), "今天还可以使用1小时10分钟（今日加时30分钟）");
  EXPECT_EQ(guard.NextText(Evening(), at(21, 30), {0, 30, t(21, 40)}), "允许使用到 21:40（今日加时30分钟）");
}

}  // namespace
}  // namespace dadado
