// Summer time in the program: what the wall clock skips is done after its
// countdown, what falls due just after the skip keeps its countdown and its
// second, whichever timer sees the skip first, and a machine asleep across
// the change does nothing it slept through.
#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "scheduler/plan.h"
#include "support/plans.h"
#include "support/program_fixture.h"

namespace dadado {
namespace {

using testing::DailyPlan;

// Summer time of 2026 begins on Sunday 29 March: 02:00 becomes 03:00, at
// 01:00 UTC.
std::int64_t At(int d, int h, int m, int s) { return LocalSeconds({{2026, 3, d}, h * 3600 + m * 60 + s}); }
const std::int64_t kSummerTimeBegins = At(29, 1, 0, 0);  // in UTC
// The zone's rule, as the system tells it: the timers then sleep while
// nothing is due and look just before the change and as it happens.
const TimeZoneRule kCentralEurope{-60, 0, -60, {0, 10, 5, 0, 0, 3 * 3600}, {0, 3, 5, 0, 0, 2 * 3600}};

std::string Daily(const std::string& time) {
  return "[常规设置]\r\n启动后隐藏界面= 1\r\n频率= 0\r\n操作方式= 1\r\n定时时间=2026/3/1 " + time + "\r\n";
}
constexpr char kNoSchedule[] = "[常规设置]\r\n启动后隐藏界面= 1\r\n";

// A screen that hears when the program sets a timer going, or going again.
struct TimerScreen : testing::FakeScreen {
  std::vector<FormTimer> set;
  void SetTimerRunning(FormTimer t, bool running) override {
    testing::FakeScreen::SetTimerRunning(t, running);
    if (running) set.push_back(t);
  }
};

// A program over fakes, in a zone that begins summer time, with its timers
// as the Windows side sets them: each for the second the program asks for,
// when it is started or set again and each time it fires (the schedule's
// sooner still when its tick wants that); the countdown's every second.
// Timers count real time, so a timer set a minute before the clock jumps
// fires a minute later.
struct Machine {
  testing::MemoryFileStore files;
  SettingsFile settings{files, testing::kIniPath};
  testing::FakeOs os;
  testing::FakeGuard guard;
  TimerScreen screen;
  testing::FakeClock clock;
  Program program{settings, os, guard, screen, clock};
  std::int64_t utc = 0;
  std::optional<std::int64_t> schedule_fires, plans_fires;        // in UTC
  std::vector<std::pair<std::int64_t, std::string>> done;         // what was performed, and when
  std::optional<std::int64_t> countdown_from;                     // when a countdown was first seen
  int countdown_seconds = 0;                                      // and what it showed then

  // Started at `local` (before the change), with each timer's first tick
  // that many seconds later than it would be.
  Machine(const std::string& file, std::vector<Plan> plans, std::int64_t local, int schedule_late = 0,
          int plans_late = 0, std::optional<TimeZoneRule> zone = std::nullopt) {
    files.files[testing::kIniPath] = Utf8ToGbk(file);
    os.time_zone = zone;
    utc = local - 3600;
    SetClock();
    program.Start();
    program.live().SetPlans(std::move(plans));
    program.live().SetApplyEnabled(false);
    program.UpdatePlanTimer();
    SetWhatWasSet();
    if (schedule_fires) *schedule_fires += schedule_late;
    if (plans_fires) *plans_fires += plans_late;
  }
  std::int64_t Local() const { return utc + (utc < kSummerTimeBegins ? 3600 : 7200); }
  void SetClock() {
    clock.now = FromLocalSeconds(Local());
    os.utc_seconds = utc;
  }
  void Set(FormTimer t) {
    if (t == FormTimer::kSchedule) schedule_fires = utc + program.SecondsToNextScheduleTick();
    if (t == FormTimer::kPlans) plans_fires = utc + program.SecondsToNextPlanTick();
  }
  void SetWhatWasSet() {
    const std::vector<FormTimer> set = std::move(screen.set);
    screen.set.clear();
    for (FormTimer t : set) Set(t);
  }
  // Whatever timer is due fires, in this second.
  void Fire() {
    const std::size_t exits = os.exit_calls.size(), actions = os.plan_actions.size();
    if (program.countdown().exists) program.Countdown_Timer1_Timer();
    if (screen.timer1 && schedule_fires && utc >= *schedule_fires) {
      Set(FormTimer::kSchedule);
      program.Timer1_Timer();
      SetWhatWasSet();
      if (screen.timer1) schedule_fires = std::min(*schedule_fires, utc + program.SecondsToNextScheduleTick());
    }
    if (screen.timer2) program.Timer2_Timer();
    if (screen.plan_timer && plans_fires && utc >= *plans_fires) {
      Set(FormTimer::kPlans);
      program.PlanTimer_Timer();
      SetWhatWasSet();
    }
    for (std::size_t i = exits; i < os.exit_calls.size(); ++i)
      done.push_back({Local(), "exit " + std::to_string(os.exit_calls[i])});
    for (std::size_t i = actions; i < os.plan_actions.size(); ++i) done.push_back({Local(), os.plan_actions[i]});
    if (program.countdown().exists && !countdown_from) {
      countdown_from = Local();
      countdown_seconds = program.countdown().seconds_left;
    }
  }
  void RunUntil(std::int64_t local) {
    while (Local() < local) {
      ++utc;
      SetClock();
      Fire();
    }
  }
};

struct Skipped {
  const char* what;
  std::string file;
  std::vector<Plan> plans;
  int schedule_late, plans_late;  // each timer's phase
  std::optional<std::int64_t> countdown_from;
  int countdown_seconds;
  std::pair<std::int64_t, std::string> done;
};

TEST(SummerTimeInTheProgram, WhatTheClockSkipsOrWhatFollowsItAtOnceComesAfterItsCountdown) {
  const Plan kLockAt22 = DailyPlan(PlanAction::kLock, 22, 0, 0, false);  // keeps the plans' timer running
  const Skipped cases[] = {
      {"the schedule's time skipped", Daily("02:30:00"), {}, 0, 0, At(29, 3, 0, 0), 120, {At(29, 3, 2, 1), "exit 13"}},
      // Its warning was due at 02:58:59: the countdown opens as the clock
      // jumps and the action keeps its second.
      {"the schedule's warning skipped", Daily("03:01:00"), {}, 0, 0, At(29, 3, 0, 0), 59, {At(29, 3, 1, 0), "exit 13"}},
      {"a plan's time skipped", kNoSchedule, {DailyPlan(PlanAction::kShutDown, 2, 30, 0, true)}, 0, 0, At(29, 3, 0, 0), 120,
       {At(29, 3, 2, 1), "exit 13"}},
      {"a plan's warning skipped", kNoSchedule, {DailyPlan(PlanAction::kShutDown, 3, 1, 0, true)}, 0, 0, At(29, 3, 0, 0), 59,
       {At(29, 3, 1, 0), "exit 13"}},
      {"a plan without a warning", kNoSchedule, {DailyPlan(PlanAction::kLock, 3, 1, 0, false)}, 0, 0, std::nullopt, 0,
       {At(29, 3, 1, 0), "lock"}},
      // The timer that sees the skip first is not the one that acts: the
      // other does not wait for its time to come round.
      {"a plan's time skipped, seen by the schedule's timer", Daily("22:00:00"),
       {DailyPlan(PlanAction::kLock, 2, 30, 0, false)}, 0, 30, std::nullopt, 0, {At(29, 3, 0, 0), "lock"}},
      {"the schedule's warning skipped, seen by the plans' timer", Daily("03:00:20"), {kLockAt22}, 30, 0,
       At(29, 3, 0, 0), 19, {At(29, 3, 0, 20), "exit 13"}},
      {"a plan's warning skipped, seen by the schedule's timer", Daily("22:00:00"),
       {DailyPlan(PlanAction::kShutDown, 3, 0, 20, true)}, 0, 30, At(29, 3, 0, 0), 19, {At(29, 3, 0, 20), "exit 13"}},
  };
  // The timers look every minute when the zone's rule is unknown, and sleep
  // until just before the change when it is known.
  for (const std::optional<TimeZoneRule>& zone : {std::optional<TimeZoneRule>(), std::optional(kCentralEurope)})
    for (const Skipped& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (zone ? ", the zone known" : ""));
      auto m = std::make_unique<Machine>(c.file, c.plans, At(29, 1, 50, 0), c.schedule_late, c.plans_late, zone);
      m->RunUntil(At(29, 3, 10, 0));
      EXPECT_EQ(m->countdown_from, c.countdown_from);
      if (c.countdown_from) {
        EXPECT_EQ(m->countdown_seconds, c.countdown_seconds);
      }
      EXPECT_EQ(m->done, (std::vector<std::pair<std::int64_t, std::string>>{c.done}));
    }
}

// While nothing is due the timers sleep: up to an hour, until the next day
// begins, and until the look just before the clock changes and the look as
// it does; a minute without the zone's rule. The schedule's own alerts
// still come first.
TEST(SummerTimeInTheProgram, WithNothingDueTheNextTickIsFar) {
  const TimeZoneRule kChina{-480, 0, 0, {}, {}};
  const struct {
    const char* what;
    std::optional<TimeZoneRule> zone;
    std::int64_t utc;  // now
    std::string file;
    int schedule, plans;  // seconds to each timer's next tick
  } cases[] = {
      {"the zone unknown", std::nullopt, At(10, 4, 0, 0), Daily("15:00:00"), 60, 60},
      {"no summer time, the action hours away", kChina, At(10, 4, 0, 0), Daily("23:00:00"), 3600, 3600},
      {"no summer time, the day ends first", kChina, At(10, 15, 30, 0), Daily("09:00:00"), 1800, 1800},
      {"the ten-minute notice comes first", kChina, At(10, 4, 0, 0), Daily("12:30:00"), 1200, 3600},
      {"before the look before the change", kCentralEurope, kSummerTimeBegins - 600, Daily("22:00:00"), 540, 540},
      {"after the look before the change", kCentralEurope, kSummerTimeBegins - 30, Daily("22:00:00"), 30, 30},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing::MemoryFileStore files;
    files.files[testing::kIniPath] = Utf8ToGbk(c.file);
    SettingsFile settings{files, testing::kIniPath};
    testing::FakeOs os;
    os.time_zone = c.zone;
    os.utc_seconds = c.utc;
    testing::FakeScreen screen;
    testing::FakeGuard guard;
    testing::FakeClock clock;
    clock.now = LocalTimeOf(c.zone.value_or(kChina), c.utc);
    Program program{settings, os, guard, screen, clock};
    program.Start();
    program.live().SetPlans({DailyPlan(PlanAction::kLock, 2, 30, 0, false)});
    EXPECT_EQ(program.SecondsToNextScheduleTick(), c.schedule);
    EXPECT_EQ(program.SecondsToNextPlanTick(), c.plans);
  }
}

// Asleep from Saturday 21:55 to Sunday 08:00, across the change, without
// 错过补做: the 22:00 action is not done. However the first look after the
// night comes: with the resume told first, with a timer firing before it,
// or when a countdown cancelled with the password stopped the schedule's
// timer and Apply starts it again in the morning.
TEST(SummerTimeInTheProgram, WhatTheMachineSleptThroughIsNoSkip) {
  enum class Morning { kResumed, kTimerBeforeResume, kApplied };
  const struct {
    const char* what;
    std::string file;
    std::vector<Plan> plans;
    Morning morning;
  } cases[] = {
      {"the schedule, resumed", Daily("22:00:00"), {}, Morning::kResumed},
      {"the schedule, a timer before the resume", Daily("22:00:00"), {}, Morning::kTimerBeforeResume},
      {"a sleep plan, resumed", kNoSchedule, {DailyPlan(PlanAction::kSleep, 22, 0, 0, false)}, Morning::kResumed},
      {"a sleep plan, a timer before the resume", kNoSchedule, {DailyPlan(PlanAction::kSleep, 22, 0, 0, false)},
       Morning::kTimerBeforeResume},
      {"the schedule, cancelled and applied again", Daily("22:00:00"), {}, Morning::kApplied},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto m = std::make_unique<Machine>(c.file, c.plans, At(28, 21, 50, 0));
    if (c.morning == Morning::kApplied) {
      m->RunUntil(At(28, 21, 58, 30));
      ASSERT_TRUE(m->program.countdown().exists);
      m->program.Countdown_SetText("mossgate");
      m->program.Countdown_Enter();
      ASSERT_FALSE(m->screen.timer1);
    } else {
      m->RunUntil(At(28, 21, 55, 0));
    }
    m->utc = At(29, 8, 0, 0) - 7200;
    m->SetClock();
    switch (c.morning) {
      case Morning::kResumed:
        m->program.Resumed();
        m->SetWhatWasSet();
        m->Fire();
        break;
      case Morning::kTimerBeforeResume:
        m->Fire();
        m->program.Resumed();
        m->SetWhatWasSet();
        break;
      case Morning::kApplied:
        m->program.Command3_Click();
        ASSERT_TRUE(m->screen.timer1);
        m->SetWhatWasSet();
        m->Fire();
        break;
    }
    m->RunUntil(At(29, 8, 10, 0));
    EXPECT_TRUE(m->done.empty()) << m->done.size() << " at +" << m->done.front().first - At(29, 8, 0, 0) << " s";
    EXPECT_FALSE(m->program.countdown().exists);
  }
}

}  // namespace
}  // namespace dadado
