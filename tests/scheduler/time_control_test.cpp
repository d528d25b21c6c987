#include "scheduler/time_control.h"

#include <gtest/gtest.h>

#include "support/program_fixture.h"

namespace dadado {
namespace {

constexpr int T(int h, int m, int s) { return h * 3600 + m * 60 + s; }

TEST(AllowedHours, EachEntryAllowsUpToTheNextWholeHour) {
  const std::string text = "08:00+09:00";
  EXPECT_FALSE(IsTimeAllowed(text, T(7, 59, 59)));
  EXPECT_TRUE(IsTimeAllowed(text, T(8, 0, 0)));
  EXPECT_TRUE(IsTimeAllowed(text, T(9, 59, 59)));
  EXPECT_FALSE(IsTimeAllowed(text, T(10, 0, 0)));
  EXPECT_FALSE(IsTimeAllowed("08:30", T(8, 29, 59)));
  EXPECT_TRUE(IsTimeAllowed("08:30", T(8, 30, 0)));
  EXPECT_FALSE(IsTimeAllowed("08:30", T(9, 0, 0)));
}

TEST(AllowedHours, ElevenPmLastsUntilMidnight) {
  EXPECT_TRUE(IsTimeAllowed("23:00", T(23, 59, 59)));
  EXPECT_FALSE(IsTimeAllowed("23:00", T(0, 0, 0)));
  EXPECT_TRUE(IsTimeAllowed("00:00", T(0, 0, 0)));
}

TEST(AllowedHours, ForbiddenDaysAndOddTexts) {
  for (const char* text : {"24:00", "08:00+24:00", "x24:00y", "", "+", "++", "abc", "25:00", "08:61", "8"}) {
    for (int t : {T(0, 0, 0), T(8, 0, 0), T(12, 0, 0), T(23, 59, 59)})
      EXPECT_FALSE(IsTimeAllowed(text, t)) << text << " at " << t;
  }
  // Bad entries allow nothing; good ones around them still count.
  EXPECT_TRUE(IsTimeAllowed("abc+08:00++25:00", T(8, 15, 0)));
  EXPECT_TRUE(IsTimeAllowed("8:00", T(8, 15, 0)));
  std::string huge;
  for (int i = 0; i < 20000; ++i) huge += "xx:yy+";
  EXPECT_FALSE(IsTimeAllowed(huge + "12:00", T(11, 0, 0)));
  EXPECT_TRUE(IsTimeAllowed(huge + "12:00", T(12, 0, 0)));
}

struct GuardTest : testing::ProgramTest {
  void StartWithTimeControl(const std::string& today_text) {
    // 2026-12-07 is a Monday: weekday 1.
    GivenFile("[常规设置]\r\n启动后隐藏界面= 1\r\n[时间控制]\r\n启用= 1\r\n1week=" + today_text + "\r\n");
    program.Start();
  }
};

TEST_F(GuardTest, ForbiddenHourAtStartOpensThe30SecondCountdown) {
  clock.Set(2026, 12, 7, 10, 0, 0);
  StartWithTimeControl("08:00+09:00");
  ASSERT_TRUE(program.countdown().exists);
  EXPECT_EQ(program.countdown().seconds_left, 30);
  EXPECT_EQ(program.countdown().remaining, "时间剩余30秒");
  EXPECT_EQ(program.countdown().action_line, "操作: 关闭计算机[定时]");
  EXPECT_TRUE(program.timer_running(FormTimer::kTimeControl));
  for (int i = 0; i < 29; ++i) program.Countdown_Timer1_Timer();
  EXPECT_TRUE(os.exit_calls.empty());
  program.Countdown_Timer1_Timer();
  EXPECT_EQ(os.exit_calls, (std::vector<unsigned>{13}));
  EXPECT_FALSE(program.countdown().exists);
  EXPECT_FALSE(screen.countdown_open);
}

TEST_F(GuardTest, AllowedHourDoesNothingUntilItEnds) {
  clock.Set(2026, 12, 7, 9, 59, 0);
  StartWithTimeControl("08:00+09:00");
  EXPECT_FALSE(program.countdown().exists);
  clock.Set(2026, 12, 7, 10, 0, 30);
  program.Timer2_Timer();
  EXPECT_TRUE(program.countdown().exists);
}

TEST_F(GuardTest, AllDefaultTextsForbidEverything) {
  clock.Set(2026, 12, 7, 12, 0, 0);
  GivenFile("[常规设置]\r\n启动后隐藏界面= 1\r\n");
  program.Start();
  live().SetCheck(4, 1);
  program.Timer2_Timer();
  EXPECT_TRUE(program.countdown().exists);
}

TEST_F(GuardTest, MidnightReadsTheNewWeekdaysText) {
  clock.Set(2026, 12, 7, 23, 59, 0);
  GivenFile("[常规设置]\r\n启动后隐藏界面= 1\r\n[时间控制]\r\n启用= 1\r\n1week=23:00\r\n2week=24:00\r\n");
  program.Start();
  EXPECT_FALSE(program.countdown().exists);
  clock.Set(2026, 12, 8, 0, 0, 30);
  program.Timer2_Timer();
  EXPECT_TRUE(program.countdown().exists);
}

TEST_F(GuardTest, TimeControlOffStopsTheGuard) {
  clock.Set(2026, 12, 7, 12, 0, 0);
  program.Start();
  EXPECT_FALSE(program.timer_running(FormTimer::kTimeControl));
  EXPECT_FALSE(program.timer_running(FormTimer::kSchedule));
  EXPECT_FALSE(program.countdown().exists);
}

TEST_F(GuardTest, TypedTextActsBeforeApply) {
  clock.Set(2026, 12, 7, 12, 0, 0);
  StartWithTimeControl("12:00");
  EXPECT_FALSE(program.countdown().exists);
  live().SetText3(1, "13:00");
  program.Timer2_Timer();
  EXPECT_TRUE(program.countdown().exists);
}

}  // namespace
}  // namespace dadado
