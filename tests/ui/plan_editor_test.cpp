// The 计划 tab's model: the rows, the buttons, the plan dialog's fields and
// what it refuses, the holiday dialog, and the line about an outdated
// calendar.
#include "ui/plan_editor.h"

#include <gtest/gtest.h>

#include "support/plans.h"

namespace dadado {
namespace {

using testing::MakePlan;

constexpr int H = 3600;
const LocalDateTime kNow{{2026, 12, 7}, 15 * H + 4 * 60 + 5};  // a Monday

// ---- the list ------------------------------------------------------------------

TEST(PlanRows, EachColumnInWords) {
  Plan once = MakePlan(PlanAction::kRestart, PlanRepeat::kOnce, 8 * H + 5);
  once.date = {2026, 12, 8};
  Plan weekly = MakePlan(PlanAction::kShutDown, PlanRepeat::kWeekly, 17 * H + 30 * 60);
  weekly.weekdays = 0b0101010;
  Plan idle = MakePlan(PlanAction::kLock, PlanRepeat::kIdle, 0, false);
  idle.idle_minutes = 30;
  Plan wake = MakePlan(PlanAction::kWake, PlanRepeat::kWorkingDays, 6 * H + 50 * 60);
  Plan off = MakePlan(PlanAction::kScreenOff, PlanRepeat::kDaily, 23 * H + 59 * 60 + 59, false);
  off.enabled = false;
  struct Row {
    Plan plan;
    PlanRow want;
  } rows[] = {
      {once, {true, "08:00:05", "仅一次（2026年12月8日）", "重新启动计算机", "是",
              "仅一次（2026年12月8日） 08:00:05 重新启动计算机，执行前提示"}},
      {weekly, {true, "17:30:00", "每周一、三、五", "关闭计算机", "是", "每周一、三、五 17:30:00 关闭计算机，执行前提示"}},
      {idle, {true, "—", "空闲30分钟", "锁定计算机", "否", "空闲30分钟后锁定计算机，不提示"}},
      // Waking warns nobody, whatever the line says.
      {wake, {true, "06:50:00", "工作日", "唤醒计算机", "否", "工作日 06:50:00 唤醒计算机"}},
      {off, {false, "23:59:59", "每天", "关闭显示器", "否", "每天 23:59:59 关闭显示器，不提示（未启用）"}},
  };
  for (const Row& r : rows) {
    const PlanRow got = PlanRowOf(r.plan);
    EXPECT_EQ(got.enabled, r.want.enabled) << r.want.summary;
    EXPECT_EQ(got.time, r.want.time);
    EXPECT_EQ(got.repeat, r.want.repeat);
    EXPECT_EQ(got.action, r.want.action);
    EXPECT_EQ(got.warning, r.want.warning);
    EXPECT_EQ(got.summary, r.want.summary);
  }
  EXPECT_EQ(PlanRows({once, idle}).size(), 2u);
}

TEST(PlanTab, ButtonsFollowTheListItsSelectionAndThePolicy) {
  LiveSettings live;
  const Plan daily = MakePlan(PlanAction::kShutDown, PlanRepeat::kDaily, 22 * H);
  live.SetPlans(std::vector<Plan>(kMaxPlans - 1, daily));
  PolicyLocks none;
  PlanTabView v = PlanTabViewOf(live, none, -1, 2026);
  EXPECT_TRUE(v.list_enabled && v.add_enabled && v.calendar_enabled);
  EXPECT_FALSE(v.edit_enabled || v.remove_enabled);
  v = PlanTabViewOf(live, none, kMaxPlans - 2, 2026);  // the last row
  EXPECT_TRUE(v.edit_enabled && v.remove_enabled);
  v = PlanTabViewOf(live, none, kMaxPlans - 1, 2026);  // one past it
  EXPECT_FALSE(v.edit_enabled || v.remove_enabled);

  ASSERT_TRUE(AddPlan(live, daily));  // the sixteenth
  EXPECT_FALSE(PlanTabViewOf(live, none, 0, 2026).add_enabled);
  EXPECT_FALSE(AddPlan(live, daily));  // and no seventeenth
  EXPECT_EQ(live.plans().size(), static_cast<std::size_t>(kMaxPlans));

  PolicyLocks plans;
  plans.plans = true;
  v = PlanTabViewOf(live, plans, 0, 2026);
  EXPECT_FALSE(v.list_enabled || v.add_enabled || v.edit_enabled || v.remove_enabled);
  EXPECT_TRUE(v.calendar_enabled);
  for (auto lock : {&PolicyLocks::holidays, &PolicyLocks::extra_workdays, &PolicyLocks::read_only}) {
    PolicyLocks locks;
    locks.*lock = true;
    v = PlanTabViewOf(live, locks, 0, 2026);
    EXPECT_FALSE(v.calendar_enabled);
    EXPECT_EQ(v.list_enabled, !locks.read_only);
  }
}

TEST(PlanTab, EditsOfTheListEnableApplyAndIgnoreRowsThatAreNotThere) {
  const Plan a = MakePlan(PlanAction::kShutDown, PlanRepeat::kDaily, 22 * H);
  const Plan b = MakePlan(PlanAction::kRestart, PlanRepeat::kDaily, 7 * H);
  LiveSettings live;
  live.SetPlans({a, b});
  live.SetApplyEnabled(false);
  for (int bad : {-1, 2}) {
    EXPECT_FALSE(ReplacePlan(live, bad, a));
    EXPECT_FALSE(RemovePlan(live, bad));
    EXPECT_FALSE(SetPlanEnabled(live, bad, false));
  }
  EXPECT_FALSE(ReplacePlan(live, 0, a));  // the same plan: nothing to apply
  EXPECT_FALSE(SetPlanEnabled(live, 1, true));
  EXPECT_FALSE(live.apply_enabled());

  EXPECT_TRUE(SetPlanEnabled(live, 1, false));
  EXPECT_TRUE(live.apply_enabled());
  EXPECT_FALSE(live.plans()[1].enabled);
  EXPECT_TRUE(ReplacePlan(live, 0, b));
  EXPECT_TRUE(RemovePlan(live, 1));
  EXPECT_EQ(live.plans(), std::vector<Plan>{b});
}

// ---- the line about the calendar ----------------------------------------------------

TEST(CalendarWarning, OnlyWhileAPlanGoesByTheCalendarAndNoListTouchesTheYear) {
  const Plan working = MakePlan(PlanAction::kShutDown, PlanRepeat::kWorkingDays, 17 * H);
  const Plan rest = MakePlan(PlanAction::kShutDown, PlanRepeat::kRestDays, 17 * H);
  const Plan daily = MakePlan(PlanAction::kShutDown, PlanRepeat::kDaily, 17 * H);
  Plan working_off = working;
  working_off.enabled = false;
  struct Case {
    std::vector<Plan> plans;
    std::string holidays, extra;
    int year;
    bool warned;
  } cases[] = {
      {{working}, "", "", 2026, true},
      {{rest}, "", "", 2026, true},
      {{daily}, "", "", 2026, false},
      {{working_off}, "", "", 2026, false},
      {{daily, working}, "2026/10/1-2026/10/8", "", 2026, false},
      {{working}, "2026/10/1-2026/10/8", "", 2027, true},
      {{working}, "2026/10/1-2026/10/8", "", 2025, true},
      {{working}, "", "2027/1/4", 2027, false},                 // the extra working days count too
      {{working}, "2026/12/31-2027/1/1", "", 2026, false},     // a range across New Year
      {{working}, "2026/12/31-2027/1/1", "", 2027, false},
      {{working}, "2026/12/31-2027/1/1", "", 2028, true},
      {{working}, "2026/2/30", "", 2026, true},                // no date at all
  };
  for (const Case& c : cases)
    EXPECT_EQ(CalendarWarning(c.plans, c.holidays, c.extra, c.year), c.warned ? kCalendarOutdated : "")
        << c.holidays << " " << c.extra << " " << c.year;

  LiveSettings live;
  live.SetPlans({working});
  EXPECT_EQ(PlanTabViewOf(live, {}, -1, 2026).calendar_warning, kCalendarOutdated);
  live.SetHolidays("2026/1/1");
  EXPECT_EQ(PlanTabViewOf(live, {}, -1, 2026).calendar_warning, "");
}

// ---- the plan dialog -------------------------------------------------------------

TEST(PlanForm, ANewPlanStartsAtTheComingWholeMinute) {
  struct Case {
    int now, time;
  } cases[] = {{15 * H + 4 * 60 + 5, 15 * H + 5 * 60}, {12 * H, 12 * H + 60}, {23 * H + 59 * 60, 0},
               {23 * H + 59 * 60 + 59, 0}, {0, 60}};
  for (const Case& c : cases) {
    const PlanForm f = PlanForm::ForNew({{2026, 12, 7}, c.now}, {});
    EXPECT_EQ(f.plan().time_of_day, c.time) << c.now;
    EXPECT_TRUE(f.plan().enabled && f.plan().warning);
    EXPECT_EQ(f.plan().action, PlanAction::kShutDown);
    EXPECT_EQ(f.plan().repeat, PlanRepeat::kDaily);
    EXPECT_EQ(f.plan().date, (Date{2026, 12, 7}));
    EXPECT_EQ(f.plan().weekdays, 1u << 1);  // the Monday it is
    EXPECT_EQ(f.Problem(), std::nullopt);
  }
}

TEST(PlanForm, ShowsOnlyTheFieldsItsRepetitionUses) {
  struct Case {
    PlanRepeat repeat;
    bool date;
    const char* label;
    bool weekdays, every_days, idle, time;
  } cases[] = {
      {PlanRepeat::kOnce, true, "日期", false, false, false, true},
      {PlanRepeat::kDaily, false, "日期", false, false, false, true},
      {PlanRepeat::kWeekly, false, "日期", true, false, false, true},
      {PlanRepeat::kEveryNDays, true, "开始日期", false, true, false, true},
      {PlanRepeat::kWorkingDays, false, "日期", false, false, false, true},
      {PlanRepeat::kRestDays, false, "日期", false, false, false, true},
      {PlanRepeat::kIdle, false, "日期", false, false, true, false},
  };
  ASSERT_EQ(PlanForm::Repeats().size(), std::size(cases));
  PlanForm f = PlanForm::ForNew(kNow, {});
  for (const Case& c : cases) {
    f.SetRepeat(c.repeat);
    const PlanForm::Fields v = f.Visible();
    EXPECT_EQ(v.date, c.date) << static_cast<int>(c.repeat);
    if (c.date) {
      EXPECT_EQ(v.date_label, c.label);
    }
    EXPECT_EQ(v.weekdays, c.weekdays);
    EXPECT_EQ(v.every_days, c.every_days);
    EXPECT_EQ(v.idle_minutes, c.idle);
    EXPECT_EQ(v.time, c.time);
    EXPECT_FALSE(PlanForm::RepeatChoiceText(c.repeat).empty());
  }
  EXPECT_TRUE(f.Visible().warning_enabled);
  f.SetRepeat(PlanRepeat::kDaily);
  ASSERT_TRUE(f.SetAction(PlanAction::kWake));
  EXPECT_FALSE(f.Visible().warning_enabled);
}

TEST(PlanForm, SleepAndHibernationWhereTheMachineCannotAreGreyedAndRefused) {
  ASSERT_EQ(PlanForm::Actions().size(), 8u);
  struct Case {
    PowerSupport power;
    bool sleep, hibernate;
    const char* tip;
  } cases[] = {
      {{true, true}, true, true, ""},
      {{false, true}, false, true, "这台计算机不支持睡眠"},
      {{true, false}, true, false, "这台计算机不支持休眠，或者休眠已被关闭"},
      {{false, false}, false, false, "这台计算机不支持睡眠和休眠"},
  };
  for (const Case& c : cases) {
    PlanForm f = PlanForm::ForNew(kNow, c.power);
    EXPECT_EQ(f.ActionAvailable(PlanAction::kSleep), c.sleep);
    EXPECT_EQ(f.ActionAvailable(PlanAction::kHibernate), c.hibernate);
    EXPECT_TRUE(f.ActionAvailable(PlanAction::kLock));
    EXPECT_EQ(f.ActionTip(), c.tip);
    EXPECT_EQ(f.SetAction(PlanAction::kSleep), c.sleep);
    EXPECT_EQ(f.plan().action, c.sleep ? PlanAction::kSleep : PlanAction::kShutDown);
  }
  // A plan made elsewhere that sleeps is shown as it is, and OK says why it
  // cannot be kept here.
  Plan sleeper = MakePlan(PlanAction::kSleep, PlanRepeat::kDaily, 23 * H);
  PlanForm f = PlanForm::ForEdit(sleeper, kNow, {false, true});
  EXPECT_EQ(f.plan().action, PlanAction::kSleep);
  EXPECT_EQ(f.Problem(), "这台计算机不支持睡眠，请选择其他操作！");
  EXPECT_EQ(f.Result(), std::nullopt);
}

TEST(PlanForm, OkSaysWhatIsWrongWithTheTypedNumbersAndTheDays) {
  struct Case {
    PlanRepeat repeat;
    std::string every, idle;
    unsigned weekdays;
    PlanAction action;
    std::optional<std::string> problem;
  } cases[] = {
      {PlanRepeat::kEveryNDays, "1", "60", 0, PlanAction::kShutDown, "间隔天数必须是 2 到 16 之间的整数！"},
      {PlanRepeat::kEveryNDays, "2", "60", 0, PlanAction::kShutDown, std::nullopt},
      {PlanRepeat::kEveryNDays, " 16 ", "60", 0, PlanAction::kShutDown, std::nullopt},
      {PlanRepeat::kEveryNDays, "17", "60", 0, PlanAction::kShutDown, "间隔天数必须是 2 到 16 之间的整数！"},
      {PlanRepeat::kEveryNDays, "", "60", 0, PlanAction::kShutDown, "间隔天数必须是 2 到 16 之间的整数！"},
      {PlanRepeat::kEveryNDays, "三", "60", 0, PlanAction::kShutDown, "间隔天数必须是 2 到 16 之间的整数！"},
      {PlanRepeat::kIdle, "x", "0", 0, PlanAction::kLock, "空闲分钟数必须是 1 到 1440 之间的整数！"},
      {PlanRepeat::kIdle, "x", "1", 0, PlanAction::kLock, std::nullopt},
      {PlanRepeat::kIdle, "x", "1440", 0, PlanAction::kLock, std::nullopt},
      {PlanRepeat::kIdle, "x", "1441", 0, PlanAction::kLock, "空闲分钟数必须是 1 到 1440 之间的整数！"},
      {PlanRepeat::kIdle, "x", "99999999", 0, PlanAction::kLock, "空闲分钟数必须是 1 到 1440 之间的整数！"},
      {PlanRepeat::kIdle, "x", "30", 0, PlanAction::kWake, "唤醒计算机不能按空闲时间执行，请选择其他重复方式！"},
      {PlanRepeat::kWeekly, "x", "x", 0, PlanAction::kShutDown, "请至少选择星期中的一天！"},
      {PlanRepeat::kWeekly, "x", "x", 1u << 6, PlanAction::kShutDown, std::nullopt},
      // What the repetition does not use is never held against it.
      {PlanRepeat::kDaily, "x", "x", 0, PlanAction::kShutDown, std::nullopt},
  };
  for (const Case& c : cases) {
    PlanForm f = PlanForm::ForNew(kNow, {});
    f.SetRepeat(c.repeat);
    ASSERT_TRUE(f.SetAction(c.action));
    f.SetEveryDaysText(c.every);
    f.SetIdleMinutesText(c.idle);
    for (int d = 0; d < 7; ++d) f.SetWeekday(d, (c.weekdays >> d) & 1);
    EXPECT_EQ(f.Problem(), c.problem) << static_cast<int>(c.repeat) << " " << c.every << " " << c.idle;
    EXPECT_EQ(f.Result().has_value(), !c.problem.has_value());
    if (f.Result()) {
      EXPECT_TRUE(IsValidPlan(*f.Result()));
    }
    EXPECT_EQ(f.Summary().empty(), c.problem.has_value() && c.action != PlanAction::kWake);
  }
}

TEST(PlanForm, AOncePlanMustLieAheadWhileItIsOn) {
  struct Case {
    Date date;
    int time;
    bool enabled;
    bool refused;
  } cases[] = {
      {{2026, 12, 7}, kNow.second_of_day - 1, true, true},
      {{2026, 12, 7}, kNow.second_of_day, true, true},
      {{2026, 12, 7}, kNow.second_of_day + 1, true, false},
      {{2026, 12, 6}, 23 * H + 59 * 60 + 59, true, true},
      {{2026, 12, 8}, 0, true, false},
      {{2026, 12, 6}, 0, false, false},  // kept as a record, it does nothing
  };
  for (const Case& c : cases) {
    PlanForm f = PlanForm::ForNew(kNow, {});
    f.SetRepeat(PlanRepeat::kOnce);
    f.SetDate(c.date);
    f.SetTime(c.time);
    f.SetEnabled(c.enabled);
    EXPECT_EQ(f.Problem().has_value(), c.refused) << c.date.day << " " << c.time;
    if (c.refused) {
      EXPECT_EQ(*f.Problem(), "这个时间已经过去，只执行一次的计划不会再执行！请选择以后的时间。");
    }
  }
  PlanForm f = PlanForm::ForNew(kNow, {});
  f.SetRepeat(PlanRepeat::kOnce);
  f.SetDate({999, 1, 1});
  EXPECT_EQ(f.Problem(), "计划的日期或时间无效，请检查后再确定！");
}

TEST(PlanForm, AnUnchangedPlanComesBackEqualAndUnusedFieldsStartSensibly) {
  Plan once = MakePlan(PlanAction::kRestart, PlanRepeat::kOnce, 8 * H);
  once.date = {2027, 1, 1};
  Plan every = MakePlan(PlanAction::kLogOff, PlanRepeat::kEveryNDays, 20 * H);
  every.every_days = 16;
  every.date = {2026, 2, 28};
  Plan weekly = MakePlan(PlanAction::kHibernate, PlanRepeat::kWeekly, 23 * H);
  weekly.weekdays = 0b1000001;
  Plan idle = MakePlan(PlanAction::kSleep, PlanRepeat::kIdle, 0, false);
  idle.idle_minutes = 1440;
  Plan rest = MakePlan(PlanAction::kScreenOff, PlanRepeat::kRestDays, 0);
  for (const Plan& p : {once, every, weekly, idle, rest}) {
    const PlanForm f = PlanForm::ForEdit(p, kNow, {});
    EXPECT_EQ(f.Result(), p) << FormatPlanLine(p);
  }
  // An idle plan switched to a time of day starts at the coming minute, a
  // daily one switched to a date starts today, to weekly on today's weekday.
  PlanForm f = PlanForm::ForEdit(idle, kNow, {});
  f.SetRepeat(PlanRepeat::kDaily);
  EXPECT_EQ(f.plan().time_of_day, 15 * H + 5 * 60);
  f = PlanForm::ForEdit(rest, kNow, {});
  EXPECT_EQ(f.plan().date, kNow.date);
  EXPECT_EQ(f.plan().weekdays, 1u << 1);
}

// ---- the holiday dialog -------------------------------------------------------

TEST(HolidayForm, ShowsAnEntryALineAndReadsBothListsOrNamesWhatIsNoDate) {
  HolidayForm form("2026/10/1-2026/10/8,2027/1/1", "");
  EXPECT_EQ(form.holidays_text, "2026/10/1-2026/10/8\n2027/1/1");
  EXPECT_EQ(form.extra_workdays_text, "");

  form.holidays_text = "2026/10/1-2026/10/8\r\n2027/1/1，2026年5月1日\n";
  form.extra_workdays_text = "2026-9-27 2026.10.10";
  HolidayForm::Outcome out = form.Check();
  ASSERT_TRUE(out.ok) << out.message;
  EXPECT_EQ(out.holidays, "2026/5/1,2026/10/1-2026/10/8,2027/1/1");
  EXPECT_EQ(out.extra_workdays, "2026/9/27,2026/10/10");

  form.holidays_text = "2026/2/29\n2026/10/1";
  form.extra_workdays_text = "2026/10/8-2026/10/1，周六";
  out = form.Check();
  EXPECT_FALSE(out.ok);
  EXPECT_EQ(out.message, "以下内容不是日期，请改正后再按“确定”：\n假日：2026/2/29\n调休：2026/10/8-2026/10/1、周六");

  std::string many;
  for (int i = 0; i < 25; ++i) many += "x" + std::to_string(i) + "\n";
  form.holidays_text = many;
  form.extra_workdays_text = "";
  out = form.Check();
  EXPECT_FALSE(out.ok);
  EXPECT_NE(out.message.find(" 等25项"), std::string::npos) << out.message;

  std::string year;
  for (int d = 0; d < 1002; ++d) {
    const Date day = DateOfDayNumber(DayNumber({2026, 1, 1}) + 2 * d);  // every other day: no range joins them
    year += std::to_string(day.year) + "/" + std::to_string(day.month) + "/" + std::to_string(day.day) + "\n";
  }
  form.holidays_text = year;
  out = form.Check();
  EXPECT_FALSE(out.ok);
  EXPECT_EQ(out.message, "“假日”中的日期太多，最多 1000 项，多出 2 项。");
}

}  // namespace
}  // namespace dadado

namespace dadado {
namespace {

TEST(WakeTimerNotice, SaidOnlyForAnEnabledWakePlanAndOfferedOnlyToAnAdministrator) {
  Plan wake;
  wake.action = PlanAction::kWake;
  wake.repeat = PlanRepeat::kDaily;
  Plan sleep = wake;
  sleep.action = PlanAction::kSleep;
  Plan off = wake;
  off.enabled = false;
  struct Case {
    std::vector<Plan> plans;
    std::optional<bool> allowed;
    bool admin;
    WakeTimerNotice want;
  } cases[] = {
      {{wake}, false, true, {kWakeTimersOff, true}},
      {{wake}, false, false, {kWakeTimersOff, false}},
      {{wake}, true, true, {}},
      {{wake}, std::nullopt, true, {}},  // the power plan cannot be read: nothing to say
      {{sleep}, false, true, {}},
      {{off}, false, true, {}},
      {{}, false, true, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(WakeTimerNoticeOf(c.plans, c.allowed, c.admin), c.want);
}

}  // namespace
}  // namespace dadado
