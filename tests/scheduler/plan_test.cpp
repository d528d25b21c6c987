#include "scheduler/plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "base/date_time_text.h"
#include "system/power.h"
#include "support/plans.h"

namespace dadado {
namespace {

std::int64_t At(int y, int mo, int d, int h, int mi, int s) { return LocalSeconds({{y, mo, d}, h * 3600 + mi * 60 + s}); }
constexpr int kTime(int h, int m, int s) { return h * 3600 + m * 60 + s; }
std::string SecondText(std::optional<std::int64_t> s) {
  if (!s) return "none";
  const LocalDateTime t = FromLocalSeconds(*s);
  return FormatDateTimeText(t.date, t.second_of_day);
}

using testing::MakePlan;

Plan Once(Date date, int time_of_day) {
  Plan p = MakePlan(PlanAction::kShutDown, PlanRepeat::kOnce, time_of_day);
  p.date = date;
  return p;
}
Plan Weekly(unsigned weekdays, int time_of_day) {
  Plan p = MakePlan(PlanAction::kLock, PlanRepeat::kWeekly, time_of_day);
  p.weekdays = weekdays;
  return p;
}
Plan EveryNDays(int n, Date start, int time_of_day) {
  Plan p = MakePlan(PlanAction::kRestart, PlanRepeat::kEveryNDays, time_of_day);
  p.every_days = n;
  p.date = start;
  return p;
}
Plan Idle(int minutes, PlanAction action = PlanAction::kSleep, bool warning = false) {
  Plan p = MakePlan(action, PlanRepeat::kIdle, 0, warning);
  p.idle_minutes = minutes;
  return p;
}

// ---- the stored line --------------------------------------------------------------------

TEST(PlanLine, ReadsEachRepetitionAndWritesTheCanonicalForm) {
  Plan disabled = MakePlan(PlanAction::kRestart, PlanRepeat::kDaily, 0, false);
  disabled.enabled = false;
  struct Case {
    const char* line;
    Plan plan;
    const char* canonical;  // nullptr: the line itself
  };
  const Case cases[] = {
      {"1,1,4,,17:30:00,1", MakePlan(PlanAction::kShutDown, PlanRepeat::kWorkingDays, kTime(17, 30, 0)), nullptr},
      {"0,0,1,,0:00:00,0", disabled, nullptr},
      {"1,1,0,2026/12/8,23:59:59,1", Once({2026, 12, 8}, kTime(23, 59, 59)), nullptr},
      {"1,1,0,2026-12-08,23:59:59,1", Once({2026, 12, 8}, kTime(23, 59, 59)), "1,1,0,2026/12/8,23:59:59,1"},
      {"1,1,0,2028年2月29日,0:00:00,1", Once({2028, 2, 29}, 0), "1,1,0,2028/2/29,0:00:00,1"},
      {"1,6,2,12345,21:00:00,1", Weekly(0b0111110, kTime(21, 0, 0)), nullptr},
      {"1,6,2,0,21:00:00,1", Weekly(0b0000001, kTime(21, 0, 0)), nullptr},
      {"1,6,2,6,21:00:00,1", Weekly(0b1000000, kTime(21, 0, 0)), nullptr},
      {"1,6,2,6543210,21:00:00,1", Weekly(0b1111111, kTime(21, 0, 0)), "1,6,2,0123456,21:00:00,1"},
      {"1,0,3,2@2028/2/29,12:00:00,1", EveryNDays(2, {2028, 2, 29}, kTime(12, 0, 0)), nullptr},
      {"1,0,3,16@2026/1/1,12:00:00,1", EveryNDays(16, {2026, 1, 1}, kTime(12, 0, 0)), nullptr},
      {"1,0,3, 7 @ 2026/1/1 ,12:00:00,1", EveryNDays(7, {2026, 1, 1}, kTime(12, 0, 0)), "1,0,3,7@2026/1/1,12:00:00,1"},
      {"1,4,6,60,,0", Idle(60), nullptr},
      {"1,4,6,1,,0", Idle(1), nullptr},
      {"1,5,6,1440,12:00:00,1", Idle(1440, PlanAction::kHibernate, true), "1,5,6,1440,,1"},
      {"1,2,5,,9:05:07,1", MakePlan(PlanAction::kLogOff, PlanRepeat::kRestDays, kTime(9, 5, 7)), nullptr},
      {"1,7,1,,19:00:00,0", MakePlan(PlanAction::kScreenOff, PlanRepeat::kDaily, kTime(19, 0, 0), false), nullptr},
      {"1,8,4,,7:30:00,0", MakePlan(PlanAction::kWake, PlanRepeat::kWorkingDays, kTime(7, 30, 0), false), nullptr},
      {"1,4,1,,07:30:00,1", MakePlan(PlanAction::kSleep, PlanRepeat::kDaily, kTime(7, 30, 0)), "1,4,1,,7:30:00,1"},
      {" 1 ,\t1 , 4 , , 17:30:00 , 1 \r\n", MakePlan(PlanAction::kShutDown, PlanRepeat::kWorkingDays, kTime(17, 30, 0)),
       "1,1,4,,17:30:00,1"},
      {"1,1,4,,17:30:00,1,7,新的字段,", MakePlan(PlanAction::kShutDown, PlanRepeat::kWorkingDays, kTime(17, 30, 0)),
       "1,1,4,,17:30:00,1"},
      {"1,1,4,,17:30:00,1,", MakePlan(PlanAction::kShutDown, PlanRepeat::kWorkingDays, kTime(17, 30, 0)), "1,1,4,,17:30:00,1"},
  };
  for (const Case& c : cases) {
    const auto plan = ParsePlanLine(c.line);
    ASSERT_TRUE(plan) << c.line;
    EXPECT_EQ(*plan, c.plan) << c.line;
    const std::string canonical = c.canonical ? c.canonical : c.line;
    EXPECT_EQ(FormatPlanLine(*plan), canonical) << c.line;
    EXPECT_EQ(ParsePlanLine(canonical), plan) << c.line;
  }
}

TEST(PlanLine, RefusesEveryFieldOutsideItsValues) {
  const char* const bad[] = {
      // the whole line
      "", ",,,,,", "1", "1,1,4,,17:30:00", "启用,操作,重复,参数,时间,提示", "1，1，4，，17:30:00，1",
      // 启用
      "2,1,4,,17:30:00,1", "-1,1,4,,17:30:00,1", ",1,4,,17:30:00,1", "是,1,4,,17:30:00,1", "01,1,4,,17:30:00,1",
      // 操作: 3 is "no action"
      "1,3,4,,17:30:00,1", "1,9,4,,17:30:00,1", "1,-1,4,,17:30:00,1", "1,,4,,17:30:00,1", "1,关机,4,,17:30:00,1",
      "1,1.0,4,,17:30:00,1", "1,00000000001,4,,17:30:00,1",
      // 重复
      "1,1,7,,17:30:00,1", "1,1,-1,,17:30:00,1", "1,1,,,17:30:00,1", "1,1,每天,,17:30:00,1",
      // 参数 that the repetition does not take
      "1,1,1,1,17:30:00,1", "1,1,4,x,17:30:00,1", "1,1,5,2026/1/1,17:30:00,1",
      // once
      "1,1,0,,17:30:00,1", "1,1,0,2026/2/29,17:30:00,1", "1,1,0,2026/12/8x,17:30:00,1", "1,1,0,26/12/8,17:30:00,1",
      "1,1,0,2026/13/1,17:30:00,1", "1,1,0,0999/1/1,17:30:00,1", "1,1,0,明天,17:30:00,1",
      // weekly
      "1,1,2,,17:30:00,1", "1,1,2,7,17:30:00,1", "1,1,2,112,17:30:00,1", "1,1,2,1 2,17:30:00,1", "1,1,2,一,17:30:00,1",
      "1,1,2,-1,17:30:00,1",
      // every N days
      "1,1,3,1@2026/1/1,17:30:00,1", "1,1,3,17@2026/1/1,17:30:00,1", "1,1,3,3,17:30:00,1", "1,1,3,3@,17:30:00,1",
      "1,1,3,@2026/1/1,17:30:00,1", "1,1,3,3@2026/2/30,17:30:00,1", "1,1,3,3@@2026/1/1,17:30:00,1",
      "1,1,3,-3@2026/1/1,17:30:00,1",
      // idle
      "1,4,6,0,,0", "1,4,6,1441,,0", "1,4,6,,,0", "1,4,6,60分钟,,0", "1,4,6,-5,,0", "1,4,6,60,半夜,0", "1,4,6,60,25:00:00,0",
      // 时间
      "1,1,4,,,1", "1,1,4,,24:00:00,1", "1,1,4,,17:30,1", "1,1,4,,17:60:00,1", "1,1,4,,17:30:60,1", "1,1,4,,7:3:00,1",
      "1,1,4,,下午5:30:00,1", "1,1,4,,17:30:00.5,1", "1,1,4,,117:30:00,1", "1,1,4,,-1:30:00,1",
      // 提示
      "1,1,4,,17:30:00,2", "1,1,4,,17:30:00,", "1,1,4,,17:30:00,是",
  };
  for (const char* line : bad) EXPECT_EQ(ParsePlanLine(line), std::nullopt) << line;
}

TEST(PlanLine, AVeryLongLineIsReadOrRefusedWhole) {
  EXPECT_EQ(ParsePlanLine("1,1,4,," + std::string(1'000'000, '9') + ",1"), std::nullopt);
  EXPECT_EQ(ParsePlanLine("1,1,2," + std::string(1'000'000, '1') + ",17:30:00,1"), std::nullopt);
  EXPECT_EQ(ParsePlanLine(std::string(1'000'000, ',')), std::nullopt);
  // A later version's fields may be long; the six known ones still count.
  EXPECT_EQ(ParsePlanLine("1,1,4,,17:30:00,1," + std::string(1'000'000, 'x')),
            MakePlan(PlanAction::kShutDown, PlanRepeat::kWorkingDays, kTime(17, 30, 0)));
}

TEST(PlanLine, APlanMissingWhatItsRepetitionNeedsIsNotValid) {
  EXPECT_FALSE(IsValidPlan(Weekly(0, 0)));
  EXPECT_FALSE(IsValidPlan(Weekly(1u << 7, 0)));
  EXPECT_FALSE(IsValidPlan(EveryNDays(1, {2026, 1, 1}, 0)));
  EXPECT_FALSE(IsValidPlan(EveryNDays(17, {2026, 1, 1}, 0)));
  EXPECT_FALSE(IsValidPlan(Once({2026, 2, 29}, 0)));
  EXPECT_FALSE(IsValidPlan(Once({999, 1, 1}, 0)));
  EXPECT_FALSE(IsValidPlan(MakePlan(PlanAction::kShutDown, PlanRepeat::kDaily, 86400)));
  EXPECT_FALSE(IsValidPlan(MakePlan(PlanAction::kShutDown, PlanRepeat::kDaily, -1)));
  EXPECT_FALSE(IsValidPlan(MakePlan(static_cast<PlanAction>(3), PlanRepeat::kDaily, 0)));
  EXPECT_FALSE(IsValidPlan(MakePlan(PlanAction::kShutDown, static_cast<PlanRepeat>(7), 0)));
  EXPECT_FALSE(IsValidPlan(Idle(0)));
  EXPECT_FALSE(IsValidPlan(Idle(1441)));
  EXPECT_TRUE(IsValidPlan(Plan{}));
  // What is not valid is not written as something that reads back.
  for (const Plan& p : {Weekly(0, 0), EveryNDays(1, {2026, 1, 1}, 0), Idle(0)})
    EXPECT_EQ(ParsePlanLine(FormatPlanLine(p)), std::nullopt) << FormatPlanLine(p);
}

// ---- names and kinds of actions ----------------------------------------------------------

TEST(PlanAction, NamesKindsAndStrength) {
  const struct {
    PlanAction action;
    const char* text;
    bool needs_session, catches_up;
  } cases[] = {
      {PlanAction::kRestart, "重新启动计算机", false, true}, {PlanAction::kShutDown, "关闭计算机", false, true},
      {PlanAction::kLogOff, "注销用户", false, true},        {PlanAction::kSleep, "睡眠", false, false},
      {PlanAction::kHibernate, "休眠", false, false},       {PlanAction::kLock, "锁定计算机", true, false},
      {PlanAction::kScreenOff, "关闭显示器", true, false},   {PlanAction::kWake, "唤醒计算机", false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PlanActionText(c.action), c.text);
    EXPECT_EQ(NeedsUserSession(c.action), c.needs_session) << c.text;
    EXPECT_EQ(CanCatchUp(c.action), c.catches_up) << c.text;
  }
  // The three the single schedule knows keep its numbers and names.
  for (int n = 0; n <= 2; ++n) EXPECT_EQ(PlanActionText(static_cast<PlanAction>(n)), ActionText(n));
  EXPECT_EQ(PlanActionText(static_cast<PlanAction>(3)), "");

  const std::vector<PlanAction> strongest_first = {PlanAction::kShutDown, PlanAction::kRestart,   PlanAction::kLogOff,
                                                   PlanAction::kHibernate, PlanAction::kSleep,    PlanAction::kLock,
                                                   PlanAction::kScreenOff};
  for (std::size_t i = 0; i + 1 < strongest_first.size(); ++i)
    EXPECT_GT(ActionStrength(strongest_first[i]), ActionStrength(strongest_first[i + 1]))
        << PlanActionText(strongest_first[i]);
  EXPECT_GT(ActionStrength(PlanAction::kScreenOff), 0);
  EXPECT_EQ(ActionStrength(PlanAction::kWake), 0);
}

TEST(PlanRepeatText, ReadsAsARowOfTheList) {
  const struct {
    Plan plan;
    const char* text;
  } cases[] = {
      {Once({2026, 12, 8}, 0), "仅一次（2026年12月8日）"},
      {MakePlan(PlanAction::kShutDown, PlanRepeat::kDaily, 0), "每天"},
      {Weekly(0b0101010, 0), "每周一、三、五"},
      {Weekly(0b0000001, 0), "每周日"},
      {Weekly(0b0111110, 0), "每周一至五"},
      {Weekly(0b1000001, 0), "每周六、日"},
      {Weekly(0b0000110, 0), "每周一、二"},
      {Weekly(0b1101111, 0), "每周一至三、五至日"},
      {Weekly(0b1000011, 0), "每周一、六、日"},
      {Weekly(0b1111111, 0), "每天"},
      {EveryNDays(2, {2026, 1, 1}, 0), "每隔1天"},
      {EveryNDays(3, {2026, 1, 1}, 0), "每隔2天"},
      {EveryNDays(16, {2026, 1, 1}, 0), "每隔15天"},
      {MakePlan(PlanAction::kShutDown, PlanRepeat::kWorkingDays, 0), "工作日"},
      {MakePlan(PlanAction::kShutDown, PlanRepeat::kRestDays, 0), "休息日"},
      {Idle(30), "空闲30分钟"},
  };
  for (const auto& c : cases) EXPECT_EQ(PlanRepeatText(c.plan), c.text);
}

// ---- when a plan is due ------------------------------------------------------------------

struct PlanDueTest : ::testing::Test {
  // Holidays from Thursday 2026/10/1 to Thursday 10/8; Sunday 9/27 and
  // Saturday 10/10 are worked in their place.
  PlanDueTest() {
    calendar.SetHolidays("2026/10/1-2026/10/8");
    calendar.SetExtraWorkdays("2026/9/27,2026/10/10");
  }
  std::string Next(const Plan& p, std::int64_t s) const { return SecondText(NextPlanDueAfter(p, calendar, s)); }
  WorkCalendar calendar;
};

TEST_F(PlanDueTest, DailyAcrossMidnight) {
  const struct {
    int time;
    std::int64_t from;
    const char* next;
  } cases[] = {
      {kTime(23, 59, 59), At(2026, 12, 31, 23, 59, 58), "2026/12/31 23:59:59"},
      {kTime(23, 59, 59), At(2026, 12, 31, 23, 59, 59), "2027/1/1 23:59:59"},
      {kTime(0, 0, 0), At(2026, 12, 31, 23, 59, 59), "2027/1/1 0:00:00"},
      {kTime(0, 0, 0), At(2027, 1, 1, 0, 0, 0), "2027/1/2 0:00:00"},
      {kTime(0, 0, 0), At(2028, 2, 28, 12, 0, 0), "2028/2/29 0:00:00"},
      {kTime(12, 0, 0), At(2027, 2, 28, 12, 0, 0), "2027/3/1 12:00:00"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Next(MakePlan(PlanAction::kShutDown, PlanRepeat::kDaily, c.time), c.from), c.next) << SecondText(c.from);
}

TEST_F(PlanDueTest, OnceOnlyBeforeItsSecond) {
  const Plan p = Once({2026, 12, 8}, kTime(17, 30, 0));
  EXPECT_EQ(Next(p, At(2026, 12, 7, 17, 30, 0)), "2026/12/8 17:30:00");  // the day before
  EXPECT_EQ(Next(p, At(2026, 12, 8, 17, 29, 59)), "2026/12/8 17:30:00");
  EXPECT_EQ(Next(p, At(2026, 12, 8, 17, 30, 0)), "none");
  EXPECT_EQ(Next(p, At(2026, 12, 8, 17, 30, 1)), "none");
  EXPECT_EQ(Next(p, At(2027, 1, 1, 0, 0, 0)), "none");
  // Far ahead is no look-ahead matter: the day is known.
  EXPECT_EQ(Next(Once({2030, 1, 1}, 0), At(2026, 12, 8, 0, 0, 0)), "2030/1/1 0:00:00");
  for (int day = 6; day <= 10; ++day) EXPECT_EQ(PlanDayMatches(p, calendar, DayNumber({2026, 12, day})), day == 8) << day;
}

TEST_F(PlanDueTest, WeeklyOnItsDaysOnly) {
  // 2026/12/6 is a Sunday.
  const Plan sunday = Weekly(0b0000001, kTime(9, 0, 0));
  EXPECT_EQ(Next(sunday, At(2026, 12, 6, 8, 59, 59)), "2026/12/6 9:00:00");
  EXPECT_EQ(Next(sunday, At(2026, 12, 6, 9, 0, 0)), "2026/12/13 9:00:00");
  EXPECT_EQ(Next(sunday, At(2026, 12, 12, 23, 59, 59)), "2026/12/13 9:00:00");

  const Plan mon_wed_fri = Weekly(0b0101010, kTime(21, 0, 0));
  const char* const expected[] = {"2026/12/7 21:00:00", "2026/12/9 21:00:00", "2026/12/11 21:00:00", "2026/12/14 21:00:00"};
  std::int64_t s = At(2026, 12, 6, 0, 0, 0);
  for (const char* e : expected) {
    auto next = NextPlanDueAfter(mon_wed_fri, calendar, s);
    ASSERT_TRUE(next);
    EXPECT_EQ(SecondText(next), e);
    s = *next;
  }
}

TEST_F(PlanDueTest, EveryNDaysFromALeapDay) {
  const Date leap{2028, 2, 29};
  const struct {
    int n;
    std::vector<Date> due, not_due;
  } cases[] = {
      {2,
       {{2028, 2, 27}, {2028, 2, 29}, {2028, 3, 2}, {2029, 2, 27}, {2029, 3, 1}},
       {{2028, 2, 28}, {2028, 3, 1}, {2029, 2, 28}, {2029, 3, 2}}},
      {3,
       {{2028, 2, 26}, {2028, 2, 29}, {2028, 3, 3}, {2029, 2, 26}, {2029, 3, 1}},
       {{2028, 2, 27}, {2028, 2, 28}, {2028, 3, 1}, {2029, 2, 27}, {2029, 2, 28}}},
      {7,
       {{2028, 2, 22}, {2028, 2, 29}, {2028, 3, 7}, {2029, 2, 27}, {2029, 3, 6}},
       {{2028, 2, 28}, {2028, 3, 1}, {2029, 2, 28}, {2029, 3, 1}}},
  };
  for (const auto& c : cases) {
    const Plan p = EveryNDays(c.n, leap, kTime(0, 0, 0));
    for (const Date& d : c.due) EXPECT_TRUE(PlanDayMatches(p, calendar, DayNumber(d))) << c.n << " " << FormatShortDate(d);
    for (const Date& d : c.not_due) EXPECT_FALSE(PlanDayMatches(p, calendar, DayNumber(d))) << c.n << " " << FormatShortDate(d);
  }
  // Across the end of February of a year with no leap day.
  EXPECT_EQ(Next(EveryNDays(3, leap, 0), At(2029, 2, 28, 23, 59, 59)), "2029/3/1 0:00:00");
  EXPECT_EQ(Next(EveryNDays(2, leap, kTime(12, 0, 0)), At(2029, 2, 27, 12, 0, 0)), "2029/3/1 12:00:00");
  EXPECT_EQ(Next(EveryNDays(7, leap, kTime(12, 0, 0)), At(2029, 2, 27, 12, 0, 1)), "2029/3/6 12:00:00");
}

TEST_F(PlanDueTest, WorkingDaysFollowTheCalendar) {
  const Plan work = MakePlan(PlanAction::kShutDown, PlanRepeat::kWorkingDays, kTime(17, 30, 0));
  // Saturday 9/26 is a rest day, Sunday 9/27 a working one.
  EXPECT_EQ(Next(work, At(2026, 9, 25, 17, 30, 0)), "2026/9/27 17:30:00");
  // The holidays are skipped, the Saturday made a working day is not.
  EXPECT_EQ(Next(work, At(2026, 9, 30, 17, 30, 0)), "2026/10/9 17:30:00");
  EXPECT_EQ(Next(work, At(2026, 10, 9, 17, 30, 0)), "2026/10/10 17:30:00");
  EXPECT_EQ(Next(work, At(2026, 10, 10, 17, 30, 0)), "2026/10/12 17:30:00");

  const Plan rest = MakePlan(PlanAction::kShutDown, PlanRepeat::kRestDays, kTime(22, 0, 0));
  EXPECT_EQ(Next(rest, At(2026, 9, 26, 22, 0, 0)), "2026/10/1 22:00:00");
  EXPECT_TRUE(PlanDayMatches(rest, calendar, DayNumber({2026, 10, 5})));  // a holiday Monday
  EXPECT_FALSE(PlanDayMatches(work, calendar, DayNumber({2026, 10, 5})));
  EXPECT_EQ(Next(rest, At(2026, 10, 8, 22, 0, 0)), "2026/10/11 22:00:00");
}

TEST_F(PlanDueTest, AMonthOfHolidaysIsLookedPastButNoWorkingDayEndsTheSearch) {
  const Plan work = MakePlan(PlanAction::kShutDown, PlanRepeat::kWorkingDays, kTime(17, 30, 0));
  WorkCalendar long_break;
  long_break.SetHolidays("2026/7/1-2026/8/31");
  EXPECT_EQ(SecondText(NextPlanDueAfter(work, long_break, At(2026, 6, 30, 18, 0, 0))), "2026/9/1 17:30:00");
  WorkCalendar no_work;
  no_work.SetHolidays("2026/1/1-2099/12/31");
  EXPECT_EQ(NextPlanDueAfter(work, no_work, At(2026, 6, 30, 18, 0, 0)), std::nullopt);
  EXPECT_EQ(NextPlanEventAfter(work, no_work, At(2026, 6, 30, 18, 0, 0)), std::nullopt);
}

TEST_F(PlanDueTest, DisabledAndIdlePlansAreNeverDue) {
  Plan off = MakePlan(PlanAction::kShutDown, PlanRepeat::kDaily, kTime(12, 0, 0));
  off.enabled = false;
  const std::int64_t noon = At(2026, 12, 8, 12, 0, 0);
  for (const Plan& p : {off, Idle(30)}) {
    EXPECT_EQ(NextPlanDueAfter(p, calendar, noon - 1), std::nullopt);
    EXPECT_EQ(LatestPlanDueWithin(p, calendar, noon, 86400), std::nullopt);
    EXPECT_EQ(NextPlanEventAfter(p, calendar, noon - 1), std::nullopt);
    EXPECT_FALSE(PlanDayMatches(p, calendar, DayNumber({2026, 12, 8})));
  }
  // A plan no line could carry is never due either, and never divides by nought.
  EXPECT_EQ(NextPlanDueAfter(EveryNDays(0, {2026, 1, 1}, 0), calendar, noon), std::nullopt);
}

TEST_F(PlanDueTest, TheLatestDueWithinTheWindow) {
  const Plan daily = MakePlan(PlanAction::kShutDown, PlanRepeat::kDaily, kTime(22, 0, 0));
  const std::int64_t due = At(2026, 12, 8, 22, 0, 0);
  EXPECT_EQ(LatestPlanDueWithin(daily, calendar, due, 0), due);
  EXPECT_EQ(LatestPlanDueWithin(daily, calendar, due + 1800, 1800), due);
  EXPECT_EQ(LatestPlanDueWithin(daily, calendar, due + 1800, 1799), std::nullopt);
  EXPECT_EQ(LatestPlanDueWithin(daily, calendar, due - 1, 3600), std::nullopt);
  EXPECT_EQ(LatestPlanDueWithin(daily, calendar, due - 1, 86400), due - 86400);
  EXPECT_EQ(LatestPlanDueWithin(daily, calendar, due, -1), std::nullopt);
  EXPECT_EQ(LatestPlanDueWithin(daily, calendar, due, std::numeric_limits<std::int64_t>::max()), due);

  // Monday morning after the weekend: Friday's.
  const Plan work = MakePlan(PlanAction::kShutDown, PlanRepeat::kWorkingDays, kTime(17, 30, 0));
  EXPECT_EQ(SecondText(LatestPlanDueWithin(work, calendar, At(2026, 12, 7, 8, 0, 0), 3 * 86400)), "2026/12/4 17:30:00");
  EXPECT_EQ(LatestPlanDueWithin(work, calendar, At(2026, 12, 7, 8, 0, 0), 86400), std::nullopt);

  const Plan once = Once({2026, 12, 8}, kTime(17, 30, 0));
  EXPECT_EQ(LatestPlanDueWithin(once, calendar, At(2026, 12, 8, 17, 29, 59), 86400), std::nullopt);
  EXPECT_EQ(SecondText(LatestPlanDueWithin(once, calendar, At(2026, 12, 8, 17, 30, 0), 0)), "2026/12/8 17:30:00");
  EXPECT_EQ(SecondText(LatestPlanDueWithin(once, calendar, At(2026, 12, 8, 18, 30, 0), 3600)), "2026/12/8 17:30:00");
  EXPECT_EQ(LatestPlanDueWithin(once, calendar, At(2026, 12, 8, 18, 30, 1), 3600), std::nullopt);
}

TEST_F(PlanDueTest, TheWarningMayReachBackIntoThePreviousDay) {
  const struct {
    int time;
    const char* due_day;
    const char* warning;
  } cases[] = {
      {kTime(0, 1, 0), "2027/1/1", "2026/12/31 23:58:59"},
      {kTime(0, 0, 0), "2027/1/1", "2026/12/31 23:57:59"},
      {kTime(0, 2, 0), "2027/1/1", "2026/12/31 23:59:59"},
      {kTime(0, 2, 1), "2027/1/1", "2027/1/1 0:00:00"},
      {kTime(17, 30, 0), "2027/1/1", "2027/1/1 17:27:59"},
  };
  for (const auto& c : cases) {
    const Plan p = MakePlan(PlanAction::kShutDown, PlanRepeat::kDaily, c.time);
    const std::int64_t due = DayNumber(*ParseCalendarDate(c.due_day)) * 86400 + c.time;
    EXPECT_EQ(SecondText(PlanWarningAt(p, due)), c.warning) << c.time;
  }
  const std::int64_t due = At(2027, 1, 1, 0, 1, 0);
  EXPECT_EQ(PlanWarningAt(MakePlan(PlanAction::kShutDown, PlanRepeat::kDaily, kTime(0, 1, 0), false), due), std::nullopt);
  EXPECT_EQ(PlanWarningAt(MakePlan(PlanAction::kWake, PlanRepeat::kDaily, kTime(0, 1, 0), true), due), std::nullopt);

  // The next event of a plan at 00:01:00 is its warning the evening before.
  const Plan p = MakePlan(PlanAction::kShutDown, PlanRepeat::kDaily, kTime(0, 1, 0));
  EXPECT_EQ(SecondText(NextPlanEventAfter(p, calendar, At(2026, 12, 31, 23, 58, 58))), "2026/12/31 23:58:59");
  EXPECT_EQ(SecondText(NextPlanEventAfter(p, calendar, At(2026, 12, 31, 23, 58, 59))), "2027/1/1 0:01:00");
  EXPECT_EQ(SecondText(NextPlanEventAfter(p, calendar, At(2027, 1, 1, 0, 1, 0))), "2027/1/1 23:58:59");
  // A working-day plan just after midnight warns on the evening of a rest day.
  const Plan work = MakePlan(PlanAction::kShutDown, PlanRepeat::kWorkingDays, kTime(0, 1, 0));
  EXPECT_EQ(SecondText(NextPlanEventAfter(work, calendar, At(2026, 10, 9, 12, 0, 0))), "2026/10/9 23:58:59");
  EXPECT_EQ(SecondText(NextPlanEventAfter(work, calendar, At(2026, 10, 10, 12, 0, 0))), "2026/10/11 23:58:59");
}

}  // namespace
}  // namespace dadado
