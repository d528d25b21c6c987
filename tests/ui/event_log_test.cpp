// What the program writes to the event log, at which moment, with which
// strings; and the catching up of an action missed while the computer slept
// or was off.
#include <gtest/gtest.h>

#include "protection/password.h"
#include "support/program_fixture.h"
#include "version.h"

namespace dadado {
namespace {

struct EventLogTest : testing::ProgramTest {
  std::vector<testing::FakeOs::Event> Events(int id) const {
    std::vector<testing::FakeOs::Event> found;
    for (const auto& e : os.events)
      if (e.id == id) found.push_back(e);
    return found;
  }
  void StartDaily(const std::string& extra = "") {
    GivenFile("[常规设置]\r\n频率= 0\r\n定时时间=2026/12/1 22:00:00\r\n操作方式= 1\r\n" + extra);
    program.Start();
  }
};

TEST_F(EventLogTest, StartAndApply) {
  clock.Set(2026, 12, 7, 12, 0, 0);
  program.Start();
  ASSERT_EQ(Events(1000).size(), 1u);
  EXPECT_EQ(Events(1000)[0].type, EventType::kInformation);
  EXPECT_EQ(Events(1000)[0].strings, (std::vector<std::string>{DADADO_VERSION_TEXT, "C:\\Program Files\\dadado"}));

  program.Command3_Click();  // the first Apply writes every key
  ASSERT_EQ(Events(1001).size(), 1u);
  live().SelectOption1(0);
  live().SetScheduledTime(22 * 3600);
  program.Command3_Click();
  ASSERT_EQ(Events(1001).size(), 2u);
  EXPECT_EQ(Events(1001)[1].strings, (std::vector<std::string>{"频率、定时时间"}));
  EXPECT_EQ(os.event_source_updates, 2);

  files.fail_writes = true;
  os.read_only = true;
  live().SetCheck(2, 1);
  program.Command3_Click();
  const auto not_saved = Events(1002);
  ASSERT_EQ(not_saved.size(), 2u);
  EXPECT_EQ(not_saved[0].type, EventType::kWarning);
  EXPECT_EQ(not_saved[0].strings[0], "设置文件");
  EXPECT_EQ(not_saved[1].strings, (std::vector<std::string>{"随系统自动启动", "需要管理员权限"}));
  EXPECT_EQ(Events(1001).size(), 2u);  // nothing new was applied
}

TEST_F(EventLogTest, ASecondCopyLogsNothing) {
  os.another_copy = true;
  program.Start();
  EXPECT_TRUE(os.events.empty());
}

TEST_F(EventLogTest, ScheduledActionsPerformedAndRefused) {
  clock.Set(2026, 12, 7, 21, 0, 0);
  StartDaily();
  clock.Set(2026, 12, 7, 22, 0, 0);
  program.Timer1_Timer();
  ASSERT_EQ(Events(1100).size(), 1u);
  EXPECT_EQ(Events(1100)[0].strings, (std::vector<std::string>{"关闭计算机", "13", "2026/12/7 22:00:00"}));
  EXPECT_EQ(Key("常规设置", "上次定时"), "2026/12/7 22:00:00");

  os.exit_ok = false;
  clock.Set(2026, 12, 8, 22, 0, 0);
  program.Timer1_Timer();
  ASSERT_EQ(Events(1101).size(), 1u);
  EXPECT_EQ(Events(1101)[0].type, EventType::kError);
  EXPECT_EQ(Events(1101)[0].strings, (std::vector<std::string>{"关闭计算机", "5", "拒绝访问。"}));
  EXPECT_EQ(Events(1100).size(), 1u);
}

TEST_F(EventLogTest, ImmediateActions) {
  program.Start();
  program.clock_menu61_Click(1);  // restart
  ASSERT_EQ(Events(1103).size(), 1u);
  EXPECT_EQ(Events(1103)[0].strings, (std::vector<std::string>{"重新启动计算机", "6"}));
  os.exit_ok = false;
  program.clock_menu61_Click(2);  // log off
  ASSERT_EQ(Events(1101).size(), 1u);
  EXPECT_EQ(Events(1101)[0].strings[0], "注销用户");
}

TEST_F(EventLogTest, CountdownCancelledAndWrongPasswordsSayWhere) {
  clock.Set(2026, 12, 7, 21, 57, 58);
  StartDaily();
  clock.Set(2026, 12, 7, 21, 57, 59);
  program.Timer1_Timer();
  program.Countdown_SetText("wrong");
  program.Countdown_Enter();
  program.Countdown_SetText("mossgate");
  program.Countdown_Enter();
  ASSERT_EQ(Events(1200).size(), 1u);
  EXPECT_EQ(Events(1200)[0].strings, (std::vector<std::string>{"操作: 关闭计算机"}));
  EXPECT_EQ(Key("常规设置", "上次定时"), "2026/12/7 22:00:00");  // cancelled: never caught up

  program.clock_menu1_Click();
  live().SetCheck(10, 1);
  program.ShowSettings(1, 0);
  program.CheckPassword_SetText("wrong");
  program.CheckPassword_cmdOK_Click();
  program.CheckPassword_cmdCancel_Click();
  program.Label7_MouseDown();
  screen.during_set_password = [&] {
    program.SetPassword_SetOld("wrong");
    program.SetPassword_SetNew("new");
    program.SetPassword_cmdOK_Click();
    program.SetPassword_cmdCancel_Click();
  };
  program.Label7_MouseUp();
  std::vector<std::string> where;
  for (const auto& e : Events(1201)) {
    EXPECT_EQ(e.type, EventType::kWarning);
    where.push_back(e.strings.at(0));
  }
  EXPECT_EQ(where, (std::vector<std::string>{"倒计时窗口", "权限密码对话框", "更改密码对话框"}));
}

TEST_F(EventLogTest, TimeControlShutdownNamesTheHour) {
  GivenFile("[时间控制]\r\n启用= 1\r\n1week=24:00\r\n");
  clock.Set(2026, 12, 7, 21, 5, 0);  // Monday
  program.Start();
  for (int i = 0; i < 30; ++i) program.Countdown_Timer1_Timer();
  ASSERT_EQ(Events(1300).size(), 1u);
  EXPECT_EQ(Events(1300)[0].strings, (std::vector<std::string>{"21:00"}));
}

TEST_F(EventLogTest, NoEntryEverHoldsThePassword) {
  settings.WriteIniString("时间控制", "密码", EncodePassword("秘密123"));
  clock.Set(2026, 12, 7, 21, 57, 58);
  StartDaily();
  clock.Set(2026, 12, 7, 21, 57, 59);
  program.Timer1_Timer();
  for (const char* typed : {"秘密12", "秘密123"}) {
    program.Countdown_SetText(typed);
    program.Countdown_Enter();
  }
  live().SetText1("张三");
  live().SetText2("登录密码");
  live().SetCheck(3, 1);
  program.Command3_Click();
  ASSERT_FALSE(os.events.empty());
  for (const auto& e : os.events)
    for (const std::string& s : e.strings)
      for (const std::string& secret : {std::string("秘密12"), EncodePassword("秘密123"), std::string("登录密码")})
        EXPECT_EQ(s.find(secret), std::string::npos) << e.id << ": " << s;
}

// ---- catching up -------------------------------------------------------------------------

struct CatchUpTest : EventLogTest {
  // A daily shutdown at 22:00 with catching up as given, started at `h:m`.
  void StartAt(int d, int h, int m, int catch_up, const std::string& extra = "") {
    clock.Set(2026, 12, d, h, m, 0);
    StartDaily("错过补做= " + std::to_string(catch_up) + "\r\n" + extra);
  }
  // Runs both timers for `seconds`, one second at a time.
  void RunFor(int seconds) {
    for (int i = 0; i < seconds; ++i) {
      clock.Advance(1);
      if (program.countdown().exists) program.Countdown_Timer1_Timer();
      program.Timer1_Timer();
    }
  }
};

TEST_F(CatchUpTest, OffByDefaultAMissedActionIsLost) {
  clock.Set(2026, 12, 7, 22, 30, 0);
  StartDaily();
  EXPECT_FALSE(live().catch_up().value);
  RunFor(300);
  EXPECT_FALSE(program.countdown().exists);
  EXPECT_TRUE(os.exit_calls.empty());
}

TEST_F(CatchUpTest, AStartAfterTheComputerWasOffCatchesUp121SecondsLater) {
  StartAt(7, 22, 30, 1);
  ASSERT_TRUE(program.countdown().exists);
  EXPECT_TRUE(program.countdown().visible);
  EXPECT_EQ(program.countdown().seconds_left, 120);
  RunFor(120);
  EXPECT_TRUE(os.exit_calls.empty());
  RunFor(1);
  EXPECT_EQ(os.exit_calls, (std::vector<unsigned>{13}));
  EXPECT_EQ(Key("常规设置", "上次定时"), "2026/12/7 22:00:00");
  ASSERT_EQ(Events(1102).size(), 1u);
  EXPECT_EQ(Events(1102)[0].strings, (std::vector<std::string>{"关闭计算机", "2026/12/7 22:00:00"}));
  EXPECT_TRUE(Events(1100).empty());
  RunFor(600);  // and only once
  EXPECT_EQ(os.exit_calls.size(), 1u);
}

TEST_F(CatchUpTest, WithoutPromptTheCountdownRunsUnseen) {
  StartAt(7, 23, 0, 1, "关机画面= 0\r\n");
  ASSERT_TRUE(program.countdown().exists);
  EXPECT_FALSE(program.countdown().visible);
}

TEST_F(CatchUpTest, OnlyWithinTwoHours) {
  StartAt(8, 0, 0, 1);  // exactly two hours after
  EXPECT_TRUE(program.countdown().exists);
  Program later{settings, os, guard, screen, clock};
  clock.Set(2026, 12, 8, 0, 0, 1);
  later.Start();
  EXPECT_FALSE(later.countdown().exists);
}

TEST_F(CatchUpTest, NeverForAnInstantAlreadyPerformedOrCancelled) {
  StartAt(7, 22, 30, 1, "上次定时=2026/12/7 22:00:00\r\n");
  EXPECT_FALSE(program.countdown().exists);
  // Cancelled with the password: not caught up on the next start either.
  StartAt(8, 22, 30, 1);
  ASSERT_TRUE(program.countdown().exists);
  program.Countdown_SetText("mossgate");
  program.Countdown_Enter();
  EXPECT_EQ(Key("常规设置", "上次定时"), "2026/12/8 22:00:00");
  Program again{settings, os, guard, screen, clock};
  again.Start();
  EXPECT_FALSE(again.countdown().exists);
  RunFor(300);
  EXPECT_TRUE(os.exit_calls.empty());
}

TEST_F(CatchUpTest, SleepingThroughTheDueTimeCatchesUpOnResumeOnce) {
  StartAt(7, 21, 0, 1);
  EXPECT_FALSE(program.countdown().exists);  // nothing missed yet today
  RunFor(60);
  clock.Set(2026, 12, 7, 22, 45, 0);  // slept through 22:00
  program.Resumed();
  ASSERT_TRUE(program.countdown().exists);
  program.Resumed();  // a second resume while it counts changes nothing
  EXPECT_EQ(program.countdown().seconds_left, 120);
  RunFor(121);
  EXPECT_EQ(os.exit_calls.size(), 1u);
  program.Resumed();
  RunFor(200);
  EXPECT_EQ(os.exit_calls.size(), 1u);
}

TEST_F(CatchUpTest, AClockSetBackDoesNotBringAnActionBack) {
  StartAt(7, 21, 59, 1);
  RunFor(60);  // 22:00 performed
  ASSERT_EQ(os.exit_calls.size(), 1u);
  clock.Set(2026, 12, 7, 22, 20, 0);
  program.Resumed();
  clock.Set(2026, 12, 7, 22, 10, 0);  // set back, still after 22:00
  program.Resumed();
  EXPECT_FALSE(program.countdown().exists);
  clock.Set(2026, 12, 7, 21, 0, 0);  // set back before it: yesterday's is too old
  program.Resumed();
  EXPECT_FALSE(program.countdown().exists);
  EXPECT_EQ(os.exit_calls.size(), 1u);
}

TEST_F(CatchUpTest, NothingToCatchUpForNoActionOrNoSchedule) {
  clock.Set(2026, 12, 7, 22, 30, 0);
  GivenFile("[常规设置]\r\n频率= 0\r\n定时时间=2026/12/1 22:00:00\r\n操作方式= 3\r\n错过补做= 1\r\n");
  program.Start();
  EXPECT_FALSE(program.countdown().exists);
  GivenFile("[常规设置]\r\n频率= 3\r\n定时时间=2026/12/1 22:00:00\r\n操作方式= 1\r\n错过补做= 1\r\n");
  Program none{settings, os, guard, screen, clock};
  none.Start();
  EXPECT_FALSE(none.countdown().exists);
}

TEST_F(CatchUpTest, TheSettingIsReadOnlyAsOneAndWrittenByApply) {
  StartAt(7, 12, 0, 7);  // a hand-edited value: off
  EXPECT_EQ(live().catch_up().value, 0);
  live().SetCatchUp(1);
  EXPECT_TRUE(live().apply_enabled());
  program.Command3_Click();
  EXPECT_EQ(Key("常规设置", "错过补做"), "1");
}

}  // namespace
}  // namespace dadado
