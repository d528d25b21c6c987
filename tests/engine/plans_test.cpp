// Plans as the engine acts on them, hosted by the program: each in its own
// second, merged when due together with the strongest action winning, one
// password for the whole countdown, idle, waking, catching up, and the
// working-day calendar.
#include <gtest/gtest.h>

#include "scheduler/plan.h"
#include "support/program_fixture.h"

namespace dadado {
namespace {

Plan Daily(PlanAction action, int h, int m, int s, bool warning) {
  Plan p;
  p.action = action;
  p.repeat = PlanRepeat::kDaily;
  p.time_of_day = h * 3600 + m * 60 + s;
  p.warning = warning;
  return p;
}

std::int64_t At(int d, int h, int m, int s) { return LocalSeconds({{2026, 12, d}, h * 3600 + m * 60 + s}); }

struct PlansTest : testing::ProgramTest {
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
      if (screen.timer1) program.Timer1_Timer();
      if (screen.plan_timer) program.PlanTimer_Timer();
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
  StartWith({Daily(PlanAction::kScreenOff, 21, 0, 0, false), Daily(PlanAction::kLock, 21, 30, 0, false)});
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
  StartWith({Daily(PlanAction::kLock, 21, 0, 0, true), Daily(PlanAction::kShutDown, 21, 1, 0, true),
             Daily(PlanAction::kScreenOff, 21, 1, 30, true)});
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

TEST_F(PlansTest, OnePasswordCancelsThatOccurrenceOfEachMergedPlanAndOnlyThat) {
  clock.Set(2026, 12, 7, 20, 50, 0);
  StartWith({Daily(PlanAction::kLock, 21, 0, 0, true), Daily(PlanAction::kShutDown, 21, 1, 0, true)});
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
  StartWith({Daily(PlanAction::kShutDown, 21, 0, 0, true)});
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

TEST_F(PlansTest, AWorkingDayPlanDoesNothingOnAHoliday) {
  Plan p = Daily(PlanAction::kShutDown, 17, 30, 0, false);
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

TEST_F(PlansTest, IdleCountsAfreshAfterResume) {
  Plan p;
  p.action = PlanAction::kLock;
  p.repeat = PlanRepeat::kIdle;
  p.idle_minutes = 10;
  p.warning = false;
  clock.Set(2026, 12, 7, 10, 0, 0);
  StartWith({p});
  os.idle_seconds = 3 * 3600;  // slept for hours: the last input is old
  program.Resumed();
  RunUntil(At(7, 10, 9, 0));
  EXPECT_TRUE(os.plan_actions.empty());
  RunUntil(At(7, 10, 11, 0));
  EXPECT_EQ(os.plan_actions, std::vector<std::string>{"lock"});
}

TEST_F(PlansTest, TheWakeTimerFollowsThePlansAndAWakeKeepsTheMachineUp) {
  Plan wake = Daily(PlanAction::kWake, 7, 30, 0, false);
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
  StartWith({Daily(PlanAction::kSleep, 12, 10, 0, false), Daily(PlanAction::kRestart, 12, 0, 0, false)},
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
  Plan p = Daily(PlanAction::kShutDown, 17, 30, 0, true);
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
