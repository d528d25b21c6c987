// Plans as the engine acts on them, hosted by the program: each in its own
// second, merged when due together with the strongest action winning (the
// schedule's too), one password for the whole countdown, time control
// taking a countdown over, idle, waking, catching up, and the working-day
// calendar.
#include <gtest/gtest.h>

#include "scheduler/plan.h"
#include "support/plans.h"
#include "support/program_fixture.h"

namespace dadado {
namespace {

using testing::DailyPlan;
using testing::IdlePlan;

std::int64_t At(int d, int h, int m, int s) { return LocalSeconds({{2026, 12, d}, h * 3600 + m * 60 + s}); }

// The settings file of a daily schedule with action `action` (0 restart,
// 1 shutdown, 2 log off) at `time` on 7 December.
std::string Schedule(int action, const std::string& time, const std::string& more = "") {
  return "[常规设置]\r\n启动后隐藏界面= 1\r\n频率= 0\r\n操作方式= " + std::to_string(action) +
         "\r\n定时时间=2026/12/7 " + time + "\r\n" + more;
}

struct PlansTest : testing::ProgramTest {
  bool plans_first = false;  // the plans' timer ticks before the schedule's in each second

  std::vector<std::int64_t> exit_at;     // when each exit call came
  std::vector<std::pair<std::int64_t, std::string>> done_at;  // plan actions of this session

  void StartWith(std::vector<Plan> plans, const std::string& file = "[常规设置]\r\n启动后隐藏界面= 1\r\n") {
    GivenFile(file);
    program.Start();
    live().SetPlans(std::move(plans));
    live().SetApplyEnabled(false);
    program.UpdatePlanTimer();
    program.UpdateTrayTip();
  }
  // Every timer that runs, second by second, as the program's loop would.
  void RunUntil(std::int64_t until) {
    while (LocalSeconds(clock.now) < until) {
      clock.Advance(1);
      const std::size_t exits = os.exit_calls.size(), actions = os.plan_actions.size();
      if (program.countdown().exists) program.Countdown_Timer1_Timer();
      if (plans_first && screen.plan_timer) program.PlanTimer_Timer();
      if (screen.timer1) program.Timer1_Timer();
      if (screen.timer2) program.Timer2_Timer();
      if (!plans_first && screen.plan_timer) program.PlanTimer_Timer();
      for (std::size_t i = exits; i < os.exit_calls.size(); ++i) exit_at.push_back(LocalSeconds(clock.now));
      for (std::size_t i = actions; i < os.plan_actions.size(); ++i) done_at.push_back({LocalSeconds(clock.now), os.plan_actions[i]});
    }
  }
  int Events(int id) const {
    int n = 0;
    for (const auto& e : os.events) n += e.id == id;
    return n;
  }
};

TEST_F(PlansTest, TwoPlansActEachInItsOwnSecond) {
  clock.Set(2026, 12, 7, 20, 0, 0);
  StartWith({DailyPlan(PlanAction::kScreenOff, 21, 0, 0, false), DailyPlan(PlanAction::kLock, 21, 30, 0, false)});
  EXPECT_TRUE(screen.plan_timer);
  EXPECT_FALSE(screen.timer1);  // the schedule's own timer keeps to the schedule
  EXPECT_NE(screen.tray_tip.find("下次：今天 21:00:00 关闭显示器"), std::string::npos) << screen.tray_tip;
  RunUntil(At(7, 22, 0, 0));
  const std::vector<std::pair<std::int64_t, std::string>> want = {{At(7, 21, 0, 0), "screen off"},
                                                                  {At(7, 21, 30, 0), "lock"}};
  EXPECT_EQ(done_at, want);
  EXPECT_EQ(Events(events::kPlanPerformed), 2);
  ASSERT_FALSE(os.events.empty());
  EXPECT_EQ(os.events.back().strings[0], "2");  // the plan's number
}

TEST_F(PlansTest, PlansDueTogetherMergeAndTheStrongestActs) {
  clock.Set(2026, 12, 7, 20, 50, 0);
  StartWith({DailyPlan(PlanAction::kLock, 21, 0, 0, true), DailyPlan(PlanAction::kShutDown, 21, 1, 0, true),
             DailyPlan(PlanAction::kScreenOff, 21, 1, 30, true)});
  RunUntil(At(7, 20, 57, 59));
  ASSERT_TRUE(program.countdown().exists);
  EXPECT_EQ(program.countdown().action_line, "操作: 锁定计算机");
  RunUntil(At(7, 20, 58, 59));
  EXPECT_EQ(program.countdown().action_line, "操作: 关闭计算机");
  RunUntil(At(7, 21, 5, 0));
  // Neither the lock nor the screen: the shutdown, at its own second.
  EXPECT_TRUE(os.plan_actions.empty());
  EXPECT_EQ(exit_at, std::vector<std::int64_t>{At(7, 21, 1, 0)});
  EXPECT_EQ(os.exit_calls, std::vector<unsigned>{13});
}

// Due in the same second in one countdown: whichever is listed first, and
// whichever timer ticks first in that second, the strongest acts and only
// it; a schedule that passes counts as done, so that it is never caught up.
struct DueTogether {
  const char* name;
  int schedule;  // the schedule's action at 21:00, or -1 for none
  std::vector<Plan> plans;
  bool plans_first;
  std::vector<unsigned> exits;
  std::vector<std::string> plan_actions;
};

void PrintTo(const DueTogether& c, std::ostream* os) { *os << c.name; }

struct DueTogetherTest : PlansTest, ::testing::WithParamInterface<DueTogether> {};

TEST_P(DueTogetherTest, OnlyTheStrongestActs) {
  const DueTogether& c = GetParam();
  plans_first = c.plans_first;
  clock.Set(2026, 12, 7, 20, 50, 0);
  StartWith(c.plans, c.schedule < 0 ? "[常规设置]\r\n启动后隐藏界面= 1\r\n" : Schedule(c.schedule, "21:00:00"));
  RunUntil(At(7, 21, 5, 0));
  EXPECT_EQ(os.exit_calls, c.exits);
  EXPECT_EQ(os.plan_actions, c.plan_actions);
  EXPECT_EQ(Key("常规设置", "上次定时"), "2026/12/7 21:00:00");
}

const Plan kShutDownAt21 = DailyPlan(PlanAction::kShutDown, 21, 0, 0, true);
const Plan kSleepAt21 = DailyPlan(PlanAction::kSleep, 21, 0, 0, true);

INSTANTIATE_TEST_SUITE_P(
    Cases, DueTogetherTest,
    ::testing::Values(DueTogether{"StrongerPlanListedFirst", -1, {kShutDownAt21, kSleepAt21}, false, {13}, {}},
                      DueTogether{"StrongerPlanListedLast", -1, {kSleepAt21, kShutDownAt21}, false, {13}, {}},
                      DueTogether{"StrongerScheduleTicksFirst", 1, {kSleepAt21}, false, {13}, {}},
                      DueTogether{"StrongerScheduleTicksLast", 1, {kSleepAt21}, true, {13}, {}},
                      DueTogether{"StrongerPlanTicksFirst", 2, {kShutDownAt21}, true, {13}, {}},
                      DueTogether{"StrongerPlanTicksLast", 2, {kShutDownAt21}, false, {13}, {}},
                      DueTogether{"AsStrongScheduleTicksFirst", 1, {kShutDownAt21}, false, {13}, {}},
                      DueTogether{"AsStrongPlanTicksFirst", 1, {kShutDownAt21}, true, {13}, {}}),
    [](const ::testing::TestParamInfo<DueTogether>& info) { return std::string(info.param.name); });

TEST_F(PlansTest, OnePasswordCancelsThatOccurrenceOfEachMergedPlanAndOnlyThat) {
  clock.Set(2026, 12, 7, 20, 50, 0);
  StartWith({DailyPlan(PlanAction::kLock, 21, 0, 0, true), DailyPlan(PlanAction::kShutDown, 21, 1, 0, true)});
  RunUntil(At(7, 20, 59, 0));
  program.Countdown_SetText("mossgate");
  program.Countdown_Enter();
  EXPECT_FALSE(program.countdown().exists);
  RunUntil(At(7, 21, 10, 0));
  EXPECT_TRUE(os.exit_calls.empty());
  EXPECT_TRUE(os.plan_actions.empty());
  // The plans go on: the next day's come.
  EXPECT_TRUE(screen.plan_timer);
  RunUntil(At(8, 21, 5, 0));
  EXPECT_EQ(exit_at, std::vector<std::int64_t>{At(8, 21, 1, 0)});
}

TEST_F(PlansTest, PostponingMovesEachMergedPlan) {
  clock.Set(2026, 12, 7, 20, 50, 0);
  StartWith({DailyPlan(PlanAction::kShutDown, 21, 0, 0, true)});
  RunUntil(At(7, 20, 59, 0));
  program.Countdown_SetText("mossgate");
  program.Countdown_Postpone();
  EXPECT_FALSE(program.countdown().exists);
  RunUntil(At(7, 21, 9, 0));
  EXPECT_TRUE(os.exit_calls.empty());
  EXPECT_TRUE(program.countdown().exists);  // again, 121 seconds before the new time
  RunUntil(At(7, 21, 11, 0));
  EXPECT_EQ(exit_at, std::vector<std::int64_t>{At(7, 21, 10, 0)});
}

// A countdown for the schedule at 21:01 and a plan at 21:00, cancelled or
// postponed with the password: the later of the two is stored, so that a
// restart half an hour later catches up neither.
struct CountdownAnsweredTest : PlansTest, ::testing::WithParamInterface<bool> {};

TEST_P(CountdownAnsweredTest, TheLatestItStoodForIsStored) {
  const bool postpone = GetParam();
  clock.Set(2026, 12, 7, 20, 50, 0);
  StartWith({DailyPlan(PlanAction::kLock, 21, 0, 0, true)}, Schedule(1, "21:01:00", "错过补做= 1\r\n"));
  RunUntil(At(7, 20, 59, 30));
  ASSERT_TRUE(program.countdown().exists);
  program.Countdown_SetText("mossgate");
  if (postpone) program.Countdown_Postpone();
  else program.Countdown_Enter();
  ASSERT_FALSE(program.countdown().exists);
  EXPECT_EQ(Key("常规设置", "上次定时"), "2026/12/7 21:01:00");

  clock.Set(2026, 12, 7, 21, 30, 0);
  testing::FakeScreen screen2;
  Program again{settings, os, guard, screen2, clock};
  again.Start();
  EXPECT_FALSE(again.countdown().exists) << again.countdown().action_line;
}

INSTANTIATE_TEST_SUITE_P(Answers, CountdownAnsweredTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Postponed" : "Cancelled");
                         });

// Allowed hours end at 21:00 while the countdown of a plan at 21:01 is
// open: time control takes it over. It shuts down after time control's 30
// seconds, or the password cancels it as it cancels time control's.
struct TimeControlTakesOverTest : PlansTest, ::testing::WithParamInterface<bool> {};

TEST_P(TimeControlTakesOverTest, APlansCountdown) {
  const bool cancel = GetParam();
  clock.Set(2026, 12, 7, 20, 50, 0);
  StartWith({DailyPlan(PlanAction::kScreenOff, 21, 1, 0, true)},
            "[常规设置]\r\n启动后隐藏界面= 1\r\n频率= 3\r\n[时间控制]\r\n启用= 1\r\n1week=08:00+09:00+10:00+"
            "11:00+12:00+13:00+14:00+15:00+16:00+17:00+18:00+19:00+20:00\r\n");
  ASSERT_TRUE(screen.timer2);
  RunUntil(At(7, 21, 0, 0));
  ASSERT_TRUE(program.countdown().exists);
  EXPECT_EQ(program.countdown().action_line, kTimeControlActionLine);
  EXPECT_EQ(program.countdown().seconds_left, 30);
  if (!cancel) {
    RunUntil(At(7, 21, 0, 31));
    EXPECT_EQ(exit_at, std::vector<std::int64_t>{At(7, 21, 0, 30)});
    EXPECT_EQ(Events(events::kTimeControlShutdown), 1);
    return;
  }
  RunUntil(At(7, 21, 0, 10));
  program.Countdown_SetText("mossgate");
  program.Countdown_Enter();
  EXPECT_FALSE(program.countdown().exists);
  EXPECT_FALSE(screen.timer2);
  RunUntil(At(7, 21, 5, 0));
  EXPECT_TRUE(exit_at.empty());
  EXPECT_TRUE(os.plan_actions.empty());  // the plan's occurrence went with it
}

INSTANTIATE_TEST_SUITE_P(Answers, TimeControlTakesOverTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Cancelled" : "CountedDown");
                         });

// An action that joins an open countdown later keeps it open until its own
// second: the schedule's warning coming into a plan's countdown, and a
// postponed plan's coming into another's.
struct Joining {
  const char* name;
  std::string file;
  std::vector<Plan> plans;
  std::int64_t postpone_at;  // 0: nothing postponed
  std::int64_t countdown_from, due;
};

void PrintTo(const Joining& c, std::ostream* os) { *os << c.name; }

struct JoiningTest : PlansTest, ::testing::WithParamInterface<Joining> {};

TEST_P(JoiningTest, ALaterActionKeepsTheCountdownOpenUntilItsSecond) {
  const Joining& c = GetParam();
  clock.Set(2026, 12, 7, 20, 50, 0);
  StartWith(c.plans, c.file);
  if (c.postpone_at) {
    RunUntil(c.postpone_at);
    program.Countdown_SetText("mossgate");
    program.Countdown_Postpone();
  }
  RunUntil(c.countdown_from - 1);
  std::vector<std::int64_t> without_countdown;
  // It closes as the second before the action begins.
  for (std::int64_t t = c.countdown_from; t < c.due - 1; ++t) {
    RunUntil(t);
    if (!program.countdown().exists) without_countdown.push_back(t - c.due);
  }
  EXPECT_TRUE(without_countdown.empty()) << "none " << -without_countdown.front() << " s before the action";
  RunUntil(c.due + 60);
  EXPECT_EQ(exit_at, std::vector<std::int64_t>{c.due});
  EXPECT_TRUE(os.plan_actions.empty());  // the lock went into the shutdown
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JoiningTest,
    ::testing::Values(Joining{"TheSchedule", Schedule(1, "21:01:30"), {DailyPlan(PlanAction::kLock, 21, 0, 0, true)}, 0,
                              At(7, 20, 57, 59), At(7, 21, 1, 30)},
                      Joining{"APostponedPlan",
                              "[常规设置]\r\n启动后隐藏界面= 1\r\n",
                              {DailyPlan(PlanAction::kShutDown, 21, 0, 0, true), DailyPlan(PlanAction::kLock, 21, 9, 0, true)},
                              At(7, 20, 59, 0), At(7, 21, 6, 59), At(7, 21, 10, 0)}),
    [](const ::testing::TestParamInfo<Joining>& info) { return std::string(info.param.name); });

TEST_F(PlansTest, AWorkingDayPlanDoesNothingOnAHoliday) {
  Plan p = DailyPlan(PlanAction::kShutDown, 17, 30, 0, false);
  p.repeat = PlanRepeat::kWorkingDays;
  clock.Set(2026, 12, 7, 17, 0, 0);  // a Monday
  StartWith({p});
  live().SetHolidays("2026/12/7");
  live().SetApplyEnabled(false);
  RunUntil(At(7, 18, 0, 0));
  EXPECT_TRUE(os.exit_calls.empty());
  RunUntil(At(8, 18, 0, 0));  // Tuesday works
  EXPECT_EQ(exit_at, std::vector<std::int64_t>{At(8, 17, 30, 0)});
}

TEST_F(PlansTest, AnIdleMachineSleepsAfterTheWarningUnlessSomeoneComesBack) {
  Plan p;
  p.action = PlanAction::kSleep;
  p.repeat = PlanRepeat::kIdle;
  p.idle_minutes = 60;
  p.warning = true;
  clock.Set(2026, 12, 7, 10, 0, 0);
  StartWith({p});
  // A video keeps the display on: no idle time at all.
  os.idle_seconds = 0;
  RunUntil(At(7, 11, 30, 0));
  EXPECT_FALSE(program.countdown().exists);
  // Nobody at the keyboard: an hour, then the countdown, then sleep.
  const std::int64_t quiet_from = LocalSeconds(clock.now);
  while (LocalSeconds(clock.now) < quiet_from + 3600 + 5) {
    os.idle_seconds = static_cast<int>(LocalSeconds(clock.now) - quiet_from);
    RunUntil(LocalSeconds(clock.now) + 1);
  }
  ASSERT_TRUE(program.countdown().exists);
  EXPECT_EQ(program.countdown().action_line, "操作: 睡眠");
  // Someone moves the mouse: the countdown goes, nothing happens.
  os.idle_seconds = 0;
  RunUntil(LocalSeconds(clock.now) + 200);
  EXPECT_FALSE(program.countdown().exists);
  EXPECT_TRUE(os.plan_actions.empty());
  // Quiet again for the whole hour and the warning.
  const std::int64_t again = LocalSeconds(clock.now);
  while (LocalSeconds(clock.now) < again + 3600 + 200) {
    os.idle_seconds = static_cast<int>(LocalSeconds(clock.now) - again);
    RunUntil(LocalSeconds(clock.now) + 1);
  }
  EXPECT_EQ(os.plan_actions, std::vector<std::string>{"sleep"});
}

// An idle shutdown with its warning joins the countdown of a log-off at
// 21:00 and falls due at 21:01. Someone's return may still call it off, so
// it never makes the log-off pass: the log-off acts at its second whenever
// the mouse moves (the parameter: after 21:00, before it, never), and the
// idle shutdown at its own if nobody comes back.
struct IdleJoinedTest : PlansTest, ::testing::WithParamInterface<std::int64_t> {};

TEST_P(IdleJoinedTest, AWithdrawableIdlePlanMakesNothingPass) {
  const std::int64_t mouse_at = GetParam();
  Plan idle = IdlePlan(1, PlanAction::kShutDown);
  idle.warning = true;
  clock.Set(2026, 12, 7, 20, 57, 0);
  StartWith({idle}, Schedule(2, "21:00:00"));
  for (std::int64_t t = At(7, 20, 57, 1); t <= At(7, 21, 3, 0); ++t) {
    const bool back = mouse_at && t >= mouse_at;  // used until 20:58, and again from mouse_at
    os.idle_seconds = back ? 0 : static_cast<int>(std::max<std::int64_t>(0, t - At(7, 20, 58, 0)));
    RunUntil(t);
    // Withdrawn before 21:00, the countdown stays for the log-off alone.
    if (t == At(7, 20, 59, 30) || (back && t == mouse_at + 5 && t < At(7, 21, 0, 0))) {
      EXPECT_EQ(program.countdown().action_line, back ? "操作: 注销用户" : "操作: 关闭计算机");
    }
  }
  EXPECT_EQ(exit_at.empty() ? 0 : exit_at.front(), At(7, 21, 0, 0));
  EXPECT_EQ(os.exit_calls, (mouse_at ? std::vector<unsigned>{4} : std::vector<unsigned>{4, 13}));
  EXPECT_FALSE(program.countdown().exists);
}

INSTANTIATE_TEST_SUITE_P(MouseAfterBeforeNever, IdleJoinedTest,
                         ::testing::Values(At(7, 21, 0, 30), At(7, 20, 59, 40), std::int64_t{0}));

TEST_F(PlansTest, IdleCountsAfreshAfterResume) {
  Plan p = IdlePlan(10);
  clock.Set(2026, 12, 7, 10, 0, 0);
  StartWith({p});
  os.idle_seconds = 3 * 3600;  // slept for hours: the last input is old
  program.Resumed();
  RunUntil(At(7, 10, 9, 0));
  EXPECT_TRUE(os.plan_actions.empty());
  RunUntil(At(7, 10, 11, 0));
  EXPECT_EQ(os.plan_actions, std::vector<std::string>{"lock"});
}

// Set back from 10:00 to 09:00 after a resume: idle counts from 09:00.
TEST_F(PlansTest, IdleCountsFromNowWhenTheClockIsSetBackAfterAResume) {
  Plan p = IdlePlan(10);
  clock.Set(2026, 12, 7, 10, 0, 0);
  StartWith({p});
  program.Resumed();
  clock.Set(2026, 12, 7, 9, 0, 0);
  program.ClockDiscontinuity();
  while (LocalSeconds(clock.now) < At(7, 9, 11, 0)) {
    os.idle_seconds = static_cast<int>(LocalSeconds(clock.now) - At(7, 9, 0, 0));
    RunUntil(LocalSeconds(clock.now) + 1);
  }
  EXPECT_EQ(os.plan_actions, std::vector<std::string>{"lock"});
}

// The system sets a wake timer in the zone of the moment: a change of the
// time zone (or of the clock, or a resume) sets it again for the same hour.
TEST_F(PlansTest, TheWakeTimerIsSetAgainWhenTheTimeZoneChanges) {
  clock.Set(2026, 12, 7, 22, 0, 0);
  StartWith({DailyPlan(PlanAction::kWake, 7, 30, 0, false)});
  const int sets = os.wake_timer_sets;
  program.ClockDiscontinuity();
  EXPECT_EQ(os.wake_timer_sets, sets + 1);
  EXPECT_EQ(os.wake_timer, At(8, 7, 30, 0));
  program.Resumed();
  EXPECT_EQ(os.wake_timer_sets, sets + 2);
  // With nothing to wake for there is nothing to set again.
  live().SetPlans({DailyPlan(PlanAction::kLock, 7, 30, 0, false)});
  program.UpdatePlanTimer();
  const int cleared = os.wake_timer_sets;
  program.ClockDiscontinuity();
  EXPECT_EQ(os.wake_timer_sets, cleared);
}

TEST_F(PlansTest, TheWakeTimerFollowsThePlansAndAWakeKeepsTheMachineUp) {
  Plan wake = DailyPlan(PlanAction::kWake, 7, 30, 0, false);
  clock.Set(2026, 12, 7, 22, 0, 0);
  StartWith({wake});
  EXPECT_EQ(os.wake_timer, At(8, 7, 30, 0));
  Plan earlier = wake;
  earlier.time_of_day = 6 * 3600;
  live().SetPlans({earlier});
  program.UpdatePlanTimer();
  EXPECT_EQ(os.wake_timer, At(8, 6, 0, 0));
  // Woken at six: up for half an hour unless someone uses it.
  clock.Set(2026, 12, 8, 6, 0, 1);
  program.WokeForPlan();
  EXPECT_TRUE(os.kept_awake);
  os.idle_seconds = 3600;
  RunUntil(At(8, 6, 29, 0));
  EXPECT_TRUE(os.kept_awake);
  RunUntil(At(8, 6, 31, 0));
  EXPECT_FALSE(os.kept_awake);
  EXPECT_EQ(os.wake_timer, At(9, 6, 0, 0));  // re-armed for the next one
}

TEST_F(PlansTest, AMissedRestartPlanIsCaughtUpOnceAndASleepPlanNever) {
  clock.Set(2026, 12, 7, 12, 30, 0);
  StartWith({DailyPlan(PlanAction::kSleep, 12, 10, 0, false), DailyPlan(PlanAction::kRestart, 12, 0, 0, false)},
            "[常规设置]\r\n启动后隐藏界面= 1\r\n错过补做= 1\r\n");
  // The plans came after start-up's catching up; as on resume:
  program.Resumed();
  ASSERT_TRUE(program.countdown().exists);
  RunUntil(At(7, 12, 33, 0));
  EXPECT_EQ(os.exit_calls, std::vector<unsigned>{6});
  EXPECT_TRUE(os.plan_actions.empty());
  EXPECT_EQ(Events(events::kPlanCaughtUp), 1);
  program.Resumed();
  RunUntil(At(7, 12, 40, 0));
  EXPECT_EQ(os.exit_calls.size(), 1u);
}

TEST_F(PlansTest, ACalendarWithoutThisYearIsSaidInTheTooltip) {
  Plan p = DailyPlan(PlanAction::kShutDown, 17, 30, 0, true);
  p.repeat = PlanRepeat::kWorkingDays;
  clock.Set(2026, 12, 7, 12, 0, 0);
  StartWith({p});
  program.UpdateTrayTip();
  EXPECT_NE(screen.tray_tip.find("节假日安排缺少今年的日期"), std::string::npos);
  live().SetHolidays("2026/10/1-2026/10/8");
  program.UpdateTrayTip();
  EXPECT_EQ(screen.tray_tip.find("节假日安排"), std::string::npos);
}

}  // namespace
}  // namespace dadado
