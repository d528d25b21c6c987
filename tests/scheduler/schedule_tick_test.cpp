#include "scheduler/schedule_tick.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

#include "support/program_fixture.h"

namespace dadado {
namespace {

std::int64_t At(int y, int mo, int d, int h, int mi, int s) {
  return LocalSeconds({{y, mo, d}, h * 3600 + mi * 60 + s});
}

constexpr int kTime(int h, int m, int s) { return h * 3600 + m * 60 + s; }

TEST(JudgeSecond, DailyDueAndWarning) {
  ScheduleInputs in{0, kTime(22, 0, 0), -1, -1, {}};
  EXPECT_TRUE(JudgeSecond(in, At(2026, 12, 7, 22, 0, 0)).due);
  EXPECT_FALSE(JudgeSecond(in, At(2026, 12, 7, 21, 59, 59)).due);
  EXPECT_FALSE(JudgeSecond(in, At(2026, 12, 7, 22, 0, 1)).due);
  EXPECT_TRUE(JudgeSecond(in, At(2026, 12, 7, 21, 57, 59)).warn);   // 121 s before
  EXPECT_FALSE(JudgeSecond(in, At(2026, 12, 7, 21, 58, 0)).warn);   // 120 s before
}

TEST(JudgeSecond, EarlyMorningTimesNeverWarn) {
  for (int t : {kTime(0, 0, 0), kTime(0, 1, 0), kTime(0, 2, 0)}) {
    ScheduleInputs in{0, t, -1, -1, {}};
    for (std::int64_t s = At(2026, 12, 6, 23, 50, 0); s <= At(2026, 12, 7, 0, 5, 0); ++s)
      EXPECT_FALSE(JudgeSecond(in, s).warn) << t;
  }
  ScheduleInputs in{0, kTime(0, 2, 1), -1, -1, {}};
  EXPECT_TRUE(JudgeSecond(in, At(2026, 12, 7, 0, 0, 0)).warn);
}

TEST(JudgeSecond, WeeklyOnlyOnItsWeekday) {
  ScheduleInputs in{1, kTime(9, 0, 0), 3, -1, {}};  // 星期三
  // 2026-12-09 is a Wednesday.
  EXPECT_TRUE(JudgeSecond(in, At(2026, 12, 9, 9, 0, 0)).due);
  EXPECT_TRUE(JudgeSecond(in, At(2026, 12, 9, 8, 57, 59)).warn);
  for (int d : {6, 7, 8, 10, 11, 12}) {
    EXPECT_FALSE(JudgeSecond(in, At(2026, 12, d, 9, 0, 0)).due) << d;
    EXPECT_FALSE(JudgeSecond(in, At(2026, 12, d, 8, 57, 59)).warn) << d;
  }
  in.weekday_index = -1;  // no weekday selected
  EXPECT_FALSE(JudgeSecond(in, At(2026, 12, 9, 9, 0, 0)).due);
}

TEST(JudgeSecond, EveryNDaysCountsFromTheStartDateBothWays) {
  ScheduleInputs in{2, kTime(9, 0, 0), -1, 0, {}};  // 间隔一天: every second day
  in.start_day = DayNumber({2026, 12, 7});
  auto due_on = [&](int day) { return JudgeSecond(in, At(2026, 12, day, 9, 0, 0)).due; };
  EXPECT_TRUE(due_on(7));
  EXPECT_FALSE(due_on(8));
  EXPECT_FALSE(JudgeSecond(in, At(2026, 12, 8, 8, 57, 59)).warn);
  EXPECT_TRUE(due_on(9));
  EXPECT_TRUE(due_on(3));  // D = -4
  EXPECT_FALSE(due_on(4));  // D = -3
  in.interval_index = 14;  // every 16th day
  EXPECT_TRUE(JudgeSecond(in, At(2026, 12, 23, 9, 0, 0)).due);
  EXPECT_FALSE(JudgeSecond(in, At(2026, 12, 22, 9, 0, 0)).due);
  in.start_day.reset();  // a start date that is no date: never due
  EXPECT_FALSE(JudgeSecond(in, At(2026, 12, 7, 9, 0, 0)).due);
}

TEST(TickSeconds, CatchesUpShortGapsOnlyAndNeverRepeats) {
  TickSeconds t;
  EXPECT_EQ(t.Advance(100), (std::vector<std::int64_t>{100}));
  EXPECT_EQ(t.Advance(100), (std::vector<std::int64_t>{}));  // same second again
  EXPECT_EQ(t.Advance(102), (std::vector<std::int64_t>{101, 102}));
  EXPECT_EQ(t.Advance(107), (std::vector<std::int64_t>{103, 104, 105, 106, 107}));
  EXPECT_EQ(t.Advance(200), (std::vector<std::int64_t>{200}));  // a long gap is not caught up
  EXPECT_EQ(t.Advance(150), (std::vector<std::int64_t>{150}));  // the clock went back
  EXPECT_EQ(t.Advance(151), (std::vector<std::int64_t>{151}));
}

// ---- the tick inside the program ------------------------------------------------------

struct ScheduleTickTest : testing::ProgramTest {
  // A program running a daily schedule at `time` with `action`.
  void StartDaily(const std::string& time, int action, int prompt = 1, int forced = 1) {
    GivenFile("[常规设置]\r\n频率= 0\r\n定时时间=2026/12/1 " + time + "\r\n操作方式= " + std::to_string(action) +
              "\r\n关机画面= " + std::to_string(prompt) + "\r\n强制操作= " + std::to_string(forced) + "\r\n");
    program.Start();
    ASSERT_TRUE(program.timer_running(FormTimer::kSchedule));
    ASSERT_FALSE(program.timer_running(FormTimer::kTimeControl));
  }
  void TickAt(int h, int m, int s) {
    clock.Set(2026, 12, 7, h, m, s);
    program.Timer1_Timer();
  }
};

TEST_F(ScheduleTickTest, DailyShutdownWarnsAt121SecondsAndIsForced) {
  clock.Set(2026, 12, 7, 21, 0, 0);
  StartDaily("22:00:00", 1, 1, 0);  // 强制 unchecked: the schedule still forces
  TickAt(21, 57, 58);
  EXPECT_FALSE(program.countdown().exists);
  TickAt(21, 57, 59);
  EXPECT_TRUE(program.countdown().exists);
  EXPECT_TRUE(screen.countdown_visible);
  EXPECT_EQ(program.countdown().remaining, "时间剩余120秒");
  EXPECT_EQ(program.countdown().action_line, "操作: 关闭计算机");
  EXPECT_EQ(program.countdown().title, VersionText() + " 警告");
  TickAt(21, 59, 59);
  EXPECT_TRUE(os.exit_calls.empty());
  TickAt(22, 0, 0);
  EXPECT_EQ(os.exit_calls, (std::vector<unsigned>{13}));
  EXPECT_EQ(os.log.back(), "exit 13");
  EXPECT_EQ(os.log[os.log.size() - 2], "privilege");
  EXPECT_FALSE(program.ended());  // the system ends the program, not itself
}

TEST_F(ScheduleTickTest, RestartAndLogOffAreForcedToo) {
  clock.Set(2026, 12, 7, 21, 0, 0);
  StartDaily("22:00:00", 0);
  TickAt(22, 0, 0);
  live().SetCombo3(2);
  clock.Set(2026, 12, 8, 22, 0, 0);
  program.Timer1_Timer();
  EXPECT_EQ(os.exit_calls, (std::vector<unsigned>{6, 4}));
}

TEST_F(ScheduleTickTest, ARefusedScheduledActionIsToldWithoutHoldingUpTheTick) {
  clock.Set(2026, 12, 7, 21, 0, 0);
  StartDaily("22:00:00", 0);
  os.privilege_ok = false;
  os.exit_ok = false;
  TickAt(22, 0, 0);
  EXPECT_EQ(os.exit_calls, (std::vector<unsigned>{6}));
  ASSERT_EQ(screen.notices.size(), 1u);
  EXPECT_EQ(screen.notices[0].text, "无法重新启动计算机：系统拒绝了这个操作，可能是当前用户没有关机权限。\n程序将继续运行。");
  EXPECT_EQ(screen.notices[0].title, "提示");
  EXPECT_TRUE(screen.messages.empty());
  EXPECT_TRUE(program.timer_running(FormTimer::kSchedule));  // the schedule goes on
  TickAt(22, 0, 1);
  EXPECT_EQ(screen.notices.size(), 1u);
}

TEST_F(ScheduleTickTest, WithoutPromptTheCountdownIsLoadedUnseen) {
  clock.Set(2026, 12, 7, 21, 0, 0);
  StartDaily("22:00:00", 1, 0);
  TickAt(21, 57, 59);
  EXPECT_TRUE(program.countdown().exists);
  EXPECT_FALSE(program.countdown().visible);
}

TEST_F(ScheduleTickTest, NoActionStillWarnsButDoesNothing) {
  clock.Set(2026, 12, 7, 21, 0, 0);
  StartDaily("22:00:00", 3);
  TickAt(21, 57, 59);
  EXPECT_EQ(program.countdown().action_line, "操作: 不进行任何操作");
  TickAt(22, 0, 0);
  EXPECT_TRUE(os.exit_calls.empty());
  EXPECT_EQ(os.privilege_calls, 0);
}

TEST_F(ScheduleTickTest, UnappliedChangesActAtTheNextTick) {
  clock.Set(2026, 12, 7, 21, 0, 0);
  StartDaily("22:00:00", 1);
  live().SetScheduledTime(kTime(21, 30, 0));
  TickAt(21, 30, 0);
  EXPECT_EQ(os.exit_calls.size(), 1u);
  // "取消定时" chosen without Apply stops the timer at the next tick; a
  // schedule chosen again does not restart it.
  live().SelectOption1(3);
  TickAt(21, 30, 1);
  EXPECT_FALSE(program.timer_running(FormTimer::kSchedule));
  EXPECT_FALSE(screen.timer1);
  live().SelectOption1(0);
  EXPECT_FALSE(program.timer_running(FormTimer::kSchedule));
}

TEST_F(ScheduleTickTest, ACorrectPasswordOnTheCountdownCancelsTheAction) {
  clock.Set(2026, 12, 7, 21, 0, 0);
  StartDaily("22:00:00", 1);
  TickAt(21, 57, 59);
  program.Countdown_SetText("mossgate");
  program.Countdown_Enter();
  EXPECT_FALSE(program.countdown().exists);
  EXPECT_FALSE(program.timer_running(FormTimer::kSchedule));
  EXPECT_FALSE(program.timer_running(FormTimer::kTimeControl));
  TickAt(22, 0, 0);  // a stray tick of a stopped timer does nothing
  EXPECT_TRUE(os.exit_calls.empty());
}

// Ticks that come every 950 to 1100 ms, over many simulated days: every due
// second and every warning is acted on exactly once.
TEST_F(ScheduleTickTest, JitteredTicksNeverMissOrDoubleASecond) {
  clock.Set(2026, 12, 7, 0, 0, 0);
  StartDaily("06:30:15", 1);
  std::mt19937 rng(7);
  std::int64_t millis = LocalSeconds(clock.now) * 1000;
  const std::int64_t end = millis + 20LL * 86400 * 1000;
  int warnings = 0;
  bool was_open = false;
  int dues_seen = 0;
  std::set<std::int64_t> due_days;
  while (millis < end) {
    millis += 950 + rng() % 151;
    clock.now = FromLocalSeconds(millis / 1000);
    std::size_t before = os.exit_calls.size();
    program.Timer1_Timer();
    if (os.exit_calls.size() > before) {
      ++dues_seen;
      due_days.insert(DayNumber(clock.now.date));
      EXPECT_LE(clock.now.second_of_day - kTime(6, 30, 15), 2);
    }
    if (program.countdown().exists && !was_open) ++warnings;
    was_open = program.countdown().exists;
    if (program.countdown().exists) program.Countdown_Timer1_Timer();
  }
  EXPECT_EQ(dues_seen, 20);
  EXPECT_EQ(due_days.size(), 20u);
  EXPECT_EQ(warnings, 20);
}

TEST_F(ScheduleTickTest, ClockChangesNeverActTwice) {
  clock.Set(2026, 12, 7, 21, 0, 0);
  StartDaily("22:00:00", 1);
  TickAt(22, 0, 0);
  EXPECT_EQ(os.exit_calls.size(), 1u);
  // The clock is put back before the due time and passes it again.
  program.ClockDiscontinuity();
  for (int s = 0; s < 5; ++s) TickAt(21, 59, 58 + s % 3);
  TickAt(22, 0, 0);
  EXPECT_EQ(os.exit_calls.size(), 1u);
  // A jump forward over the due time does not act on the way.
  clock.Set(2026, 12, 8, 21, 59, 0);
  program.Timer1_Timer();
  clock.Set(2026, 12, 8, 22, 30, 0);
  program.Timer1_Timer();
  EXPECT_EQ(os.exit_calls.size(), 1u);
}

TEST_F(ScheduleTickTest, RepeatedDaylightSavingHourActsOnce) {
  clock.Set(2026, 10, 25, 1, 0, 0);
  StartDaily("02:30:00", 1);
  clock.Set(2026, 10, 25, 2, 29, 59);
  program.Timer1_Timer();
  clock.Set(2026, 10, 25, 2, 30, 0);
  program.Timer1_Timer();
  // 03:00 becomes 02:00 again.
  clock.Set(2026, 10, 25, 2, 29, 59);
  program.Timer1_Timer();
  clock.Set(2026, 10, 25, 2, 30, 0);
  program.Timer1_Timer();
  EXPECT_EQ(os.exit_calls.size(), 1u);
}

TEST_F(ScheduleTickTest, SkippedDaylightSavingHourAndSleepMissTheAction) {
  clock.Set(2026, 3, 29, 1, 0, 0);
  StartDaily("02:30:00", 1);
  clock.Set(2026, 3, 29, 1, 59, 59);
  program.Timer1_Timer();
  clock.Set(2026, 3, 29, 3, 0, 0);  // 02:00 to 02:59 never happen
  program.Timer1_Timer();
  EXPECT_TRUE(os.exit_calls.empty());
  // Resuming from sleep after the due time: no surprise action.
  clock.Set(2026, 3, 30, 2, 0, 0);
  program.Timer1_Timer();
  program.ClockDiscontinuity();
  clock.Set(2026, 3, 30, 2, 30, 3);
  program.Timer1_Timer();
  EXPECT_TRUE(os.exit_calls.empty());
}

TEST_F(ScheduleTickTest, MidnightBetweenTwoTicksCountsTheNewDay) {
  // Weekly on Tuesday 00:00:00; Monday 23:59:59 and then Tuesday 00:00:01.
  clock.Set(2026, 12, 7, 23, 0, 0);
  GivenFile("[常规设置]\r\n频率= 1\r\n定时时间=0:00:00\r\n定时每周= 2\r\n操作方式= 1\r\n");
  program.Start();
  clock.Set(2026, 12, 7, 23, 59, 59);
  program.Timer1_Timer();
  clock.Set(2026, 12, 8, 0, 0, 1);
  program.Timer1_Timer();
  EXPECT_EQ(os.exit_calls, (std::vector<unsigned>{13}));
}

TEST_F(ScheduleTickTest, EveryNDaysUsesTheLoadedStartDate) {
  clock.Set(2026, 12, 7, 8, 0, 0);
  GivenFile("[常规设置]\r\n频率= 2\r\n定时时间=9:00:00\r\n定时间隔= 0\r\n间隔起始时间=2026/12/1\r\n操作方式= 1\r\n");
  program.Start();
  EXPECT_EQ(program.interval_start(), "2026/12/1");
  TickAt(9, 0, 0);  // D = 6, N = 2
  EXPECT_EQ(os.exit_calls.size(), 1u);
  GivenFile("[常规设置]\r\n频率= 2\r\n定时时间=9:00:00\r\n定时间隔= 0\r\n间隔起始时间=someday\r\n操作方式= 1\r\n");
  program.Start();
  clock.Set(2026, 12, 9, 9, 0, 0);
  program.Timer1_Timer();
  EXPECT_EQ(os.exit_calls.size(), 1u);  // no readable start date: never due
}

}  // namespace
}  // namespace dadado
