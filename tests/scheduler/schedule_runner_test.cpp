// The schedule's running state, and the timer that wakes only when something
// can happen.
#include "scheduler/schedule_runner.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/program_fixture.h"

namespace dadado {
namespace {

constexpr int kTime(int h, int m, int s) { return h * 3600 + m * 60 + s; }

std::int64_t At(int y, int mo, int d, int h, int mi, int s) {
  return LocalSeconds({{y, mo, d}, h * 3600 + mi * 60 + s});
}

// The first second after `from` that JudgeSecond marks, found one second at
// a time.
std::optional<std::int64_t> FirstMarkedSecondAfter(const ScheduleInputs& in, std::int64_t from, std::int64_t limit) {
  for (std::int64_t s = from + 1; s <= from + limit; ++s) {
    SecondVerdict v = JudgeSecond(in, s);
    if (v.due || v.warn) return s;
  }
  return std::nullopt;
}

TEST(NextEventAfter, AgreesWithTheVerdictOfEverySecond) {
  ScheduleInputs daily{0, kTime(22, 0, 0), -1, -1, {}};
  ScheduleInputs early{0, kTime(0, 1, 0), -1, -1, {}};  // too early in the day to warn
  ScheduleInputs weekly{1, kTime(9, 0, 0), 3, -1, {}};
  ScheduleInputs every16{2, kTime(23, 59, 59), -1, 14, DayNumber({2026, 12, 20})};
  ScheduleInputs midnight{0, 0, -1, -1, {}};
  const std::int64_t starts[] = {At(2026, 12, 7, 21, 57, 58), At(2026, 12, 7, 21, 57, 59), At(2026, 12, 7, 22, 0, 0),
                                 At(2026, 12, 7, 23, 59, 59), At(2026, 12, 31, 0, 0, 0)};
  for (const ScheduleInputs& in : {daily, early, weekly, every16, midnight})
    for (std::int64_t from : starts)
      EXPECT_EQ(NextEventAfter(in, from), FirstMarkedSecondAfter(in, from, 17 * 86400))
          << in.frequency << " " << in.scheduled_time << " from " << from;
}

TEST(NextEventAfter, NothingWhenNothingCanBeDue) {
  const std::int64_t now = At(2026, 12, 7, 12, 0, 0);
  EXPECT_FALSE(NextEventAfter({3, kTime(22, 0, 0), 0, 0, {}}, now));
  EXPECT_FALSE(NextEventAfter({-1, kTime(22, 0, 0), 0, 0, {}}, now));
  EXPECT_FALSE(NextEventAfter({1, kTime(22, 0, 0), -1, 0, {}}, now));  // no weekday chosen
  EXPECT_FALSE(NextEventAfter({2, kTime(22, 0, 0), 0, 0, {}}, now));   // no start date
  EXPECT_FALSE(NextEventAfter({2, kTime(22, 0, 0), 0, -1, 1}, now));   // no interval
}

TEST(ScheduleRunner, WakesEveryMinuteUntilTwoMinutesBeforeAWarning) {
  testing::FakeClock clock;
  ScheduleRunner runner(clock);
  const ScheduleInputs daily{0, kTime(22, 0, 0), -1, -1, {}};  // warns at 21:57:59
  struct Case {
    int h, m, s, expected;
  } cases[] = {
      {12, 0, 0, 60},    // hours away
      {21, 54, 0, 60},   // 239 s before the warning
      {21, 55, 0, 59},   // wakes at 21:55:59, two minutes before it
      {21, 55, 58, 1},   // 121 s before: from here on every second
      {21, 55, 59, 1},
      {21, 57, 59, 1},   // the warning's own second
      {21, 59, 59, 1},   // the action's second is next
      {22, 0, 0, 60},    // done for today
  };
  for (const Case& c : cases) {
    clock.Set(2026, 12, 7, c.h, c.m, c.s);
    EXPECT_EQ(runner.SecondsToNextTick(daily), c.expected) << c.h << ":" << c.m << ":" << c.s;
  }
  EXPECT_EQ(runner.SecondsToNextTick({3, kTime(22, 0, 0), -1, -1, {}}), 60);  // no schedule
}

TEST(ScheduleRunner, EveryNDaysReadsItsStartDateFromTheText) {
  testing::FakeClock clock;
  ScheduleRunner runner(clock);
  const ScheduleInputs every2{2, kTime(9, 0, 0), -1, 0, {}};
  clock.Set(2026, 12, 7, 8, 58, 0);
  runner.set_interval_start("2026/12/1");  // 12/7 is day 6 of a 2-day cycle: due
  EXPECT_EQ(runner.SecondsToNextTick(every2), 1);
  runner.set_interval_start("2026/12/2");  // not today
  EXPECT_EQ(runner.SecondsToNextTick(every2), 60);
  runner.set_interval_start("no date");
  EXPECT_EQ(runner.SecondsToNextTick(every2), 60);
  clock.Set(2026, 12, 7, 9, 0, 0);
  runner.set_interval_start("2026/12/1");
  EXPECT_TRUE(runner.Tick(every2).action_due);
}

// ---- the program driven by a timer that sleeps as long as it is told -----------------

struct IdleTimerTest : testing::ProgramTest {
  struct Seen {
    std::vector<std::int64_t> warnings, actions;
    int ticks = 0;
  };
  // Runs the schedule timer from now for `seconds` of clock time, each wake
  // `late_ms` after its second began; with `every_second` it ticks every
  // second as it used to.
  Seen Run(Program& program, std::int64_t seconds, bool every_second) {
    Seen seen;
    const std::int64_t end = LocalSeconds(clock.now) + seconds;
    bool was_open = false;
    while (LocalSeconds(clock.now) < end) {
      const int wait = every_second ? 1 : program.SecondsToNextScheduleTick();
      EXPECT_GE(wait, 1);
      EXPECT_LE(wait, 60);
      for (int i = 0; i < wait; ++i) {
        clock.Advance(1);
        // The countdown keeps its own one-second timer.
        if (program.countdown().exists) program.Countdown_Timer1_Timer();
      }
      const std::size_t exits = os.exit_calls.size();
      program.Timer1_Timer();
      ++seen.ticks;
      if (os.exit_calls.size() > exits) seen.actions.push_back(LocalSeconds(clock.now));
      if (program.countdown().exists && !was_open) seen.warnings.push_back(LocalSeconds(clock.now));
      was_open = program.countdown().exists;
    }
    return seen;
  }
};

TEST_F(IdleTimerTest, SleepingTimerActsInTheSameSecondsAsOneThatTicksEverySecond) {
  const char* const files[] = {
      "[常规设置]\r\n频率= 0\r\n定时时间=2026/12/1 6:30:15\r\n操作方式= 1\r\n",
      "[常规设置]\r\n频率= 1\r\n定时时间=2026/12/1 0:01:00\r\n定时每周= 3\r\n操作方式= 0\r\n",
      "[常规设置]\r\n频率= 2\r\n定时时间=2026/12/1 23:59:59\r\n定时间隔= 1\r\n间隔起始时间=2026/12/5\r\n操作方式= 2\r\n",
  };
  for (const char* file : files) {
    Seen reference, sleeping;
    for (bool every_second : {true, false}) {
      clock.Set(2026, 12, 7, 0, 0, 0);
      os.exit_calls.clear();
      GivenFile(file);
      Program fresh{settings, os, guard, screen, clock};
      fresh.Start();
      ASSERT_TRUE(fresh.timer_running(FormTimer::kSchedule));
      (every_second ? reference : sleeping) = Run(fresh, 8 * 86400, every_second);
    }
    EXPECT_FALSE(reference.actions.empty()) << file;
    EXPECT_EQ(sleeping.actions, reference.actions) << file;
    EXPECT_EQ(sleeping.warnings, reference.warnings) << file;
    // About one wake a minute, and every second of the last two minutes
    // before each warning and action.
    EXPECT_LT(sleeping.ticks, reference.ticks / 40) << file;
  }
}

TEST_F(IdleTimerTest, AControlChangedBeforeApplyCountsFromTheNextSecond) {
  clock.Set(2026, 12, 7, 12, 0, 0);
  GivenFile("[常规设置]\r\n频率= 0\r\n定时时间=2026/12/1 22:00:00\r\n操作方式= 1\r\n");
  program.Start();
  EXPECT_EQ(program.SecondsToNextScheduleTick(), 60);
  live().SetScheduledTime(kTime(12, 1, 0));  // a minute from now, not applied
  EXPECT_EQ(program.SecondsToNextScheduleTick(), 1);
  clock.Set(2026, 12, 7, 12, 1, 0);
  program.Timer1_Timer();
  EXPECT_EQ(os.exit_calls, (std::vector<unsigned>{13}));
}

}  // namespace
}  // namespace dadado
