// The daily limit, postponing with the password, the ten-minute notices and
// the tray tooltip that says what comes next.
#include <gtest/gtest.h>

#include "support/program_fixture.h"

namespace dadado {
namespace {

// Every hour of the day allowed.
std::string AllDay() {
  std::string t;
  for (int h = 0; h < 24; ++h) t += (h ? "+" : "") + std::string(h < 10 ? "0" : "") + std::to_string(h) + ":00";
  return t;
}

// Hours from 00:00 up to (not including) `end`.
std::string HoursUntil(int end) {
  std::string t;
  for (int h = 0; h < end; ++h) t += (h ? "+" : "") + std::string(h < 10 ? "0" : "") + std::to_string(h) + ":00";
  return t;
}

struct LimitTest : testing::ProgramTest {
  // Time control on, Monday (2026-12-07) allowed all day with a limit.
  void StartWithLimit(int limit, int used, const std::string& extra = "") {
    GivenFile("[常规设置]\r\n频率= 3\r\n[时间控制]\r\n启用= 1\r\n1week=" + AllDay() + "\r\n1limit= " +
              std::to_string(limit) + "\r\n[使用记录]\r\n日期=2026/12/7\r\n已用分钟=" + std::to_string(used) + "\r\n" +
              extra);
    clock.Set(2026, 12, 7, 12, 0, 0);
    program.Start();
  }
  // The minute check, `n` times.
  void Minutes(int n) {
    for (int i = 0; i < n; ++i) {
      clock.Advance(60);
      program.Timer2_Timer();
    }
  }
  void CountDown(int seconds) {
    for (int i = 0; i < seconds; ++i) program.Countdown_Timer1_Timer();
  }
};

TEST_F(LimitTest, ReachingTheLimitCountsDownAndShutsDown) {
  StartWithLimit(2, 1);
  EXPECT_EQ(program.daily_use().minutes(), 1);
  EXPECT_FALSE(program.countdown().exists);
  Minutes(1);
  ASSERT_TRUE(program.countdown().exists);
  EXPECT_EQ(program.countdown().seconds_left, 30);
  EXPECT_EQ(program.countdown().action_line, "操作: 关闭计算机[限时]");
  CountDown(29);
  EXPECT_TRUE(os.exit_calls.empty());
  CountDown(1);
  EXPECT_EQ(os.exit_calls, (std::vector<unsigned>{13}));
  ASSERT_FALSE(os.events.empty());
  EXPECT_EQ(os.events.back().id, 1301);
  EXPECT_EQ(os.events.back().strings, (std::vector<std::string>{"2"}));
}

TEST_F(LimitTest, TheCountIsStoredAndSurvivesARestart) {
  StartWithLimit(60, 5);
  Minutes(3);
  EXPECT_EQ(Key("使用记录", "日期"), "2026/12/7");
  EXPECT_EQ(Key("使用记录", "已用分钟"), "8");
  const int writes = files.writes;
  clock.Advance(30);
  program.Timer2_Timer();  // no whole minute more: nothing written
  EXPECT_EQ(files.writes, writes);
  testing::FakeScreen screen2;
  Program again{settings, os, guard, screen2, clock};
  again.Start();
  EXPECT_EQ(again.daily_use().minutes(), 8);
}

TEST_F(LimitTest, LockedTimeDoesNotCount) {
  StartWithLimit(60, 0);
  os.session_locked = true;
  program.SessionChanged();
  Minutes(30);
  os.session_locked = false;
  program.SessionChanged();
  Minutes(2);
  EXPECT_EQ(program.daily_use().minutes(), 2);
}

TEST_F(LimitTest, NoLimitAndTimeControlOffChangeNothing) {
  StartWithLimit(0, 1000);
  Minutes(5);
  EXPECT_FALSE(program.countdown().exists);
  GivenFile("[时间控制]\r\n启用= 0\r\n1limit= 1\r\n[使用记录]\r\n日期=2026/12/7\r\n已用分钟=100\r\n");
  Program off{settings, os, guard, screen, clock};
  off.Start();
  EXPECT_FALSE(off.timer_running(FormTimer::kTimeControl));
  EXPECT_FALSE(off.countdown().exists);
}

TEST_F(LimitTest, ThePasswordCancelsAsForTimeControl) {
  StartWithLimit(1, 1);
  ASSERT_TRUE(program.countdown().exists);  // the check at start-up
  program.Countdown_SetText("mossgate");
  program.Countdown_Enter();
  EXPECT_FALSE(program.countdown().exists);
  EXPECT_FALSE(program.timer_running(FormTimer::kTimeControl));
  CountDown(40);
  EXPECT_TRUE(os.exit_calls.empty());
}

TEST_F(LimitTest, PostponingHoldsTheShutdownOffThenChecksAgain) {
  StartWithLimit(1, 1, "[高级设置]\r\n推迟分钟数= 5\r\n");
  ASSERT_TRUE(program.countdown().exists);
  program.Countdown_SetText("wrong");
  program.Countdown_Postpone();
  EXPECT_EQ(screen.LastMessage(), "密码不正确");
  EXPECT_TRUE(program.countdown().exists);
  EXPECT_EQ(program.countdown().password, "");
  program.Countdown_SetText("mossgate");
  program.Countdown_Postpone();
  EXPECT_FALSE(program.countdown().exists);
  EXPECT_TRUE(program.timer_running(FormTimer::kTimeControl));
  EXPECT_EQ(os.events.back().id, 1202);
  EXPECT_EQ(os.events.back().strings[0], "5");
  Minutes(4);
  CountDown(40);
  EXPECT_FALSE(program.countdown().exists);
  EXPECT_TRUE(os.exit_calls.empty());
  Minutes(1);  // five minutes on: the check counts down again
  ASSERT_TRUE(program.countdown().exists);
  CountDown(30);
  EXPECT_EQ(os.exit_calls, (std::vector<unsigned>{13}));
}

TEST_F(LimitTest, PostponeMinutesOutOfRangeReadAsTen) {
  for (const char* stored : {" 4", " 121", "abc", ""}) {
    GivenFile(std::string("[高级设置]\r\n推迟分钟数=") + stored + "\r\n");
    Program p{settings, os, guard, screen, clock};
    p.Start();
    EXPECT_EQ(p.live().PostponeMinutes(), 10) << stored;
  }
  GivenFile("[高级设置]\r\n推迟分钟数= 120\r\n");
  Program p{settings, os, guard, screen, clock};
  p.Start();
  EXPECT_EQ(p.live().PostponeMinutes(), 120);
}

TEST_F(LimitTest, NoticesAtTenAndAtOneMinuteLeft) {
  StartWithLimit(15, 3);
  Minutes(1);  // 4 used, 11 left
  EXPECT_TRUE(screen.balloons.empty());
  Minutes(1);
  EXPECT_EQ(screen.balloons, (std::vector<std::string>{"今天还可以使用10分钟。"}));
  Minutes(8);
  EXPECT_EQ(screen.balloons.size(), 1u);
  Minutes(1);
  EXPECT_EQ(screen.balloons.back(), "今天还可以使用1分钟。");
  EXPECT_EQ(screen.balloons.size(), 2u);
}

// ---- postponing a scheduled action -----------------------------------------------------

struct PostponeTest : testing::ProgramTest {
  void SetUp() override {
    GivenFile("[常规设置]\r\n频率= 0\r\n定时时间=2026/12/1 22:00:00\r\n操作方式= 1\r\n[高级设置]\r\n推迟分钟数= 10\r\n");
    clock.Set(2026, 12, 7, 21, 57, 0);
    program.Start();
  }
  // Both timers, one second at a time, until h:m:s; the exit calls' seconds.
  std::vector<int> RunTo(int h, int m, int s) {
    std::vector<int> at;
    while (clock.now.second_of_day < h * 3600 + m * 60 + s) {
      clock.Advance(1);
      if (program.countdown().exists) program.Countdown_Timer1_Timer();
      const std::size_t before = os.exit_calls.size();
      program.Timer1_Timer();
      if (os.exit_calls.size() > before) at.push_back(clock.now.second_of_day);
      if (opened_at < 0 && program.countdown().exists) opened_at = clock.now.second_of_day;
    }
    return at;
  }
  int opened_at = -1;
};

constexpr int T(int h, int m, int s) { return h * 3600 + m * 60 + s; }

TEST_F(PostponeTest, TheOccurrenceMovesLaterAndItsCountdownOpensAgain) {
  RunTo(21, 58, 30);
  ASSERT_TRUE(program.countdown().exists);
  program.Countdown_SetText("mossgate");
  program.Countdown_Postpone();
  EXPECT_FALSE(program.countdown().exists);
  EXPECT_TRUE(program.timer_running(FormTimer::kSchedule));
  EXPECT_EQ(os.events.back().strings, (std::vector<std::string>{"10", "2026/12/7 22:10:00"}));
  EXPECT_EQ(Key("常规设置", "上次定时"), "2026/12/7 22:00:00");
  opened_at = -1;
  EXPECT_TRUE(RunTo(22, 9, 59).empty());
  EXPECT_EQ(opened_at, T(22, 7, 59));
  EXPECT_EQ(RunTo(22, 10, 5), (std::vector<int>{T(22, 10, 0)}));
}

TEST_F(PostponeTest, EachPostponementCounts) {
  RunTo(21, 58, 0);
  for (int i = 0; i < 3; ++i) {
    program.Countdown_SetText("mossgate");
    program.Countdown_Postpone();
    EXPECT_FALSE(program.countdown().exists);
    opened_at = -1;
    RunTo(22, 7 + 10 * i, 59);
    EXPECT_EQ(opened_at, T(22, 7 + 10 * i, 59)) << i;
  }
  EXPECT_EQ(os.events.back().strings[1], "2026/12/7 22:30:00");
  EXPECT_EQ(RunTo(22, 31, 0), (std::vector<int>{T(22, 30, 0)}));
}

TEST_F(PostponeTest, TheTooltipFollowsThePostponedTime) {
  EXPECT_EQ(screen.tray_tip, VersionText() + "\n下次：今天 22:00:00 关闭计算机");
  RunTo(21, 58, 0);
  program.Countdown_SetText("mossgate");
  program.Countdown_Postpone();
  EXPECT_EQ(screen.tray_tip, VersionText() + "\n下次：今天 22:10:00 关闭计算机");
  RunTo(22, 10, 1);
  EXPECT_EQ(screen.tray_tip, VersionText() + "\n下次：12月8日 22:00:00 关闭计算机");
}

// ---- notices and the tooltip -------------------------------------------------------------

struct NoticeTest : testing::ProgramTest {
  // Runs the schedule timer as it would be armed, from now until h:m:s.
  void Until(int h, int m, int s) {
    while (clock.now.second_of_day < h * 3600 + m * 60 + s) {
      clock.Advance(program.SecondsToNextScheduleTick());
      program.Timer1_Timer();
      if (program.countdown().exists) program.Countdown_Timer1_Timer();
      seen.push_back({clock.now.second_of_day, screen.balloons.size()});
    }
  }
  std::vector<std::pair<int, std::size_t>> seen;  // (second, balloons so far)
};

TEST_F(NoticeTest, TenMinutesBeforeAScheduledActionInItsSecond) {
  GivenFile("[常规设置]\r\n频率= 0\r\n定时时间=2026/12/1 9:00:00\r\n操作方式= 0\r\n");
  clock.Set(2026, 12, 7, 6, 0, 0);
  program.Start();
  Until(8, 50, 0);
  ASSERT_EQ(screen.balloons, (std::vector<std::string>{"将在10分钟后重新启动计算机（09:00:00）。"}));
  EXPECT_EQ(seen.back(), (std::pair<int, std::size_t>{T(8, 50, 0), 1}));
  Until(9, 0, 30);
  EXPECT_EQ(screen.balloons.size(), 1u);
}

TEST_F(NoticeTest, NoNoticeWithoutPromptOrWithoutIconOrAction) {
  for (const char* extra : {"关机画面= 0\r\n操作方式= 1\r\n", "移除系统图标= 1\r\n操作方式= 1\r\n", "操作方式= 3\r\n"}) {
    GivenFile(std::string("[常规设置]\r\n频率= 0\r\n定时时间=2026/12/1 9:00:00\r\n") + extra);
    clock.Set(2026, 12, 7, 8, 45, 0);
    Program p{settings, os, guard, screen, clock};
    p.Start();
    for (int i = 0; i < 600; ++i) {
      clock.Advance(1);
      p.Timer1_Timer();
    }
    EXPECT_TRUE(screen.balloons.empty()) << extra;
  }
}

TEST_F(NoticeTest, TimeControlTellsTenMinutesBeforeTheAllowedHoursEnd) {
  GivenFile("[时间控制]\r\n启用= 1\r\n1week=" + HoursUntil(21) + "\r\n");
  clock.Set(2026, 12, 7, 20, 40, 30);
  program.Start();
  EXPECT_EQ(screen.tray_tip, VersionText() + "\n允许使用到 21:00");
  for (int i = 0; i < 15; ++i) {
    clock.Advance(60);
    program.Timer2_Timer();
  }
  EXPECT_EQ(screen.balloons, (std::vector<std::string>{"21:00以后不允许使用本机，还剩10分钟。"}));
}

TEST_F(NoticeTest, TheTooltipShowsTheSoonerOfLimitAndHours) {
  GivenFile("[时间控制]\r\n启用= 1\r\n1week=" + HoursUntil(21) + "\r\n1limit= 120\r\n[使用记录]\r\n日期=2026/12/7\r\n已用分钟=40\r\n");
  clock.Set(2026, 12, 7, 12, 0, 0);
  program.Start();
  EXPECT_EQ(screen.tray_tip, VersionText() + "\n今天还可以使用1小时20分钟");
  clock.Set(2026, 12, 7, 20, 30, 0);
  program.Timer2_Timer();
  EXPECT_EQ(screen.tray_tip, VersionText() + "\n允许使用到 21:00");
}

TEST_F(NoticeTest, NothingSetLeavesTheTooltipAsItWas) {
  program.Start();
  EXPECT_EQ(screen.tray_tip, VersionText());
}

}  // namespace
}  // namespace dadado
