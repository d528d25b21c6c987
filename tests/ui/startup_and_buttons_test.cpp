#include <gtest/gtest.h>

#include "protection/password.h"
#include "support/program_fixture.h"
#include "system/windows_integration.h"

namespace dadado {
namespace {

const std::string kRun = kRunKey;
const std::string kLogon = kWinlogonKey;

struct StartupTest : testing::ProgramTest {
  void SetUp() override { clock.Set(2026, 12, 7, 15, 4, 5); }
};

TEST_F(StartupTest, FirstStartWithoutASettingsFile) {
  program.Start();
  EXPECT_TRUE(screen.form_visible);
  EXPECT_TRUE(program.settings_shown());
  EXPECT_TRUE(live().option1_selected(3));
  EXPECT_EQ(live().combo3().index, 3);
  EXPECT_EQ(live().check(8).value, 1);
  EXPECT_EQ(live().check(9).value, 1);
  EXPECT_FALSE(live().apply_enabled());
  EXPECT_TRUE(screen.tray_shown);
  EXPECT_EQ(screen.tray_tip, VersionText());
  // Exactly one timer was started; the guard then stopped itself.
  EXPECT_FALSE(program.timer_running(FormTimer::kSchedule));
  std::string expected = "[常规设置]\r\n定时时间=2026/12/7 15:04:05\r\n间隔起始时间=2026/12/7\r\n"
                         "[时间控制]\r\n密码=" + EncodePassword("mossgate") + "\r\n";
  for (int n = 0; n < 7; ++n) expected += std::to_string(n) + "week=24:00\r\n";
  EXPECT_EQ(FileText(), expected);
  // One replacement of the file for the schedule's values, one for the
  // password and the hours; a start that finds them all writes nothing.
  EXPECT_EQ(files.writes, 2);
  files.writes = 0;
  program.Form_Load();
  EXPECT_EQ(files.writes, 0);
}

TEST_F(StartupTest, AHostThatShowsTheWindowFirstFinishesTheStartOnceItIsUp) {
  guard.installed = true;
  program.Start(/*finish_later=*/true);
  EXPECT_TRUE(screen.form_visible);
  // The window takes nothing yet: Apply would compare the guard's box with
  // the system before the box was read.
  EXPECT_FALSE(program.AcceptsInput(-1));
  EXPECT_EQ(live().guard().value, 0);
  EXPECT_TRUE(os.events.empty());
  program.FinishStart();
  EXPECT_TRUE(program.AcceptsInput(-1));
  EXPECT_EQ(live().guard().value, 1);
  EXPECT_FALSE(live().apply_enabled());
  ASSERT_EQ(os.events.size(), 1u);
  EXPECT_EQ(os.events[0].id, events::kStarted);
}

TEST_F(StartupTest, ProtectionFromTheFileHidesTheWindow) {
  GivenFile("[常规设置]\r\n密码保护= 1\r\n启动后隐藏界面= 0\r\n");
  program.Start();
  EXPECT_FALSE(screen.form_visible);
  EXPECT_FALSE(program.settings_shown());
  EXPECT_EQ(live().check(7).value, 1);
  EXPECT_FALSE(live().apply_enabled());
}

TEST_F(StartupTest, TimeControlShowsThePasswordDialogInstead) {
  GivenFile("[常规设置]\r\n频率= 0\r\n[时间控制]\r\n启用= 1\r\n1week=15:00\r\n");
  program.Start();
  EXPECT_FALSE(screen.form_visible);
  EXPECT_TRUE(screen.check_password_open);
  EXPECT_TRUE(live().option1_selected(3));
  EXPECT_TRUE(program.timer_running(FormTimer::kTimeControl));
  EXPECT_FALSE(program.timer_running(FormTimer::kSchedule));
}

TEST_F(StartupTest, ScheduleRunsTheTickAndStopsTheGuard) {
  GivenFile("[常规设置]\r\n频率= 1\r\n定时每周= 4\r\n定时时间=2020/1/1 6:07:08\r\n");
  program.Start();
  EXPECT_TRUE(program.timer_running(FormTimer::kSchedule));
  EXPECT_FALSE(program.timer_running(FormTimer::kTimeControl));
  EXPECT_EQ(live().scheduled_time(), 6 * 3600 + 7 * 60 + 8);
  EXPECT_EQ(live().combo1().index, 4);
  EXPECT_TRUE(live().combo1().enabled);
}

TEST_F(StartupTest, LockAfterStartRunsTheLockCommand) {
  GivenFile("[常规设置]\r\n启动后锁定计算机= 1\r\n");
  program.Start();
  EXPECT_EQ(os.commands, (std::vector<std::string>{LockWorkStationCommand("C:\\Windows\\system32")}));
}

TEST_F(StartupTest, RegistryStateIsLoaded) {
  os.values[kRun + "\\dadado"] = "C:\\dadado.exe";
  os.values[kLogon + "\\DefaultPassword"] = "pw";
  os.values[kLogon + "\\DefaultUserName"] = "张三";
  program.Start();
  EXPECT_EQ(live().check(2).value, 1);
  EXPECT_EQ(live().check(7).value, 0);  // Check2's rule set it; the file's value came after
  EXPECT_EQ(live().check(3).value, 1);
  EXPECT_EQ(live().text2().text, "pw");
  EXPECT_EQ(live().text1().text, "张三");
  EXPECT_TRUE(live().text1().enabled);
  EXPECT_FALSE(live().apply_enabled());
}

TEST_F(StartupTest, UnreadableLogonKeyDisablesTheLogonBoxes) {
  os.winlogon_missing = true;
  program.Start();
  EXPECT_FALSE(live().check(3).enabled);
  EXPECT_FALSE(live().check(11).enabled);
}

TEST_F(StartupTest, UnreadableStartupKeyShowsTheErrorAndTheDesignedWindow) {
  os.run_key_missing = true;
  GivenFile("[常规设置]\r\n频率= 0\r\n");
  program.Start();
  ASSERT_EQ(screen.messages.size(), 1u);
  EXPECT_EQ(screen.messages[0].text, "注册表读取错误");
  EXPECT_EQ(screen.messages[0].title, "错误号：1");
  EXPECT_EQ(screen.messages[0].icon, MessageIcon::kCritical);
  EXPECT_TRUE(screen.form_visible);
  EXPECT_FALSE(program.settings_shown());
  EXPECT_TRUE(live().option1_selected(3));  // nothing was read
  EXPECT_TRUE(program.timer_running(FormTimer::kTimeControl));
  EXPECT_FALSE(program.timer_running(FormTimer::kSchedule));
  EXPECT_EQ(FileText(), "[常规设置]\r\n频率= 0\r\n");  // nothing written
  program.Form_QueryUnload(false);   // closing ends the program
  EXPECT_TRUE(screen.ended);
}

TEST_F(StartupTest, SecondCopyOnlyShowsTheMessage) {
  os.another_copy = true;
  program.Start();
  ASSERT_EQ(screen.messages.size(), 1u);
  EXPECT_EQ(screen.messages[0].text, "程序已运行，请检查窗口是否被最小化！");
  EXPECT_EQ(screen.messages[0].title, "dadado");
  EXPECT_TRUE(screen.ended);
  EXPECT_FALSE(screen.tray_shown);
  EXPECT_TRUE(files.files.empty());
}

TEST_F(StartupTest, HandEditedValuesOutOfRangeDoNotBreakAnything) {
  GivenFile("[常规设置]\r\n频率= 77\r\n操作方式=-5\r\n定时每周=100000\r\n强制操作=abc\r\n定时时间=garbage\r\n");
  program.Start();
  EXPECT_TRUE(live().option1_selected(3));
  EXPECT_EQ(live().combo3().index, -1);
  EXPECT_EQ(live().combo1().index, -1);
  EXPECT_EQ(live().check(8).value, 0);
  EXPECT_EQ(live().scheduled_time(), 15 * 3600 + 4 * 60 + 5);  // stays at the time of the start
}

// ---- OK, Cancel, Apply, Exit --------------------------------------------------------

struct ButtonsTest : testing::ProgramTest {
  void SetUp() override {
    clock.Set(2026, 12, 7, 15, 4, 5);
    program.Start();
  }
};

TEST_F(ButtonsTest, ApplyWritesEveryKey) {
  live().SelectOption1(2);
  live().SetCombo2(3);
  live().SetScheduledTime(22 * 3600);
  live().SelectOption2(1);
  live().SetCheck(10, 1);
  live().SetText3(3, "08:00+09:00");
  program.Command3_Click();
  EXPECT_FALSE(live().apply_enabled());
  EXPECT_EQ(Key("常规设置", "频率"), "2");
  EXPECT_EQ(Key("常规设置", "定时时间"), "2026/12/7 22:00:00");
  EXPECT_EQ(Key("常规设置", "定时每周"), "0");
  EXPECT_EQ(Key("常规设置", "定时间隔"), "3");
  EXPECT_EQ(Key("常规设置", "间隔起始时间"), "2026/12/7");
  EXPECT_EQ(Key("常规设置", "操作方式"), "1");
  EXPECT_EQ(Key("常规设置", "启动后隐藏界面"), "1");
  EXPECT_EQ(Key("常规设置", "密码保护"), "1");
  EXPECT_EQ(Key("常规设置", "强制操作"), "1");
  EXPECT_EQ(Key("高级设置", "自动登录"), "0");
  EXPECT_EQ(Key("时间控制", "启用"), "0");
  EXPECT_EQ(Key("时间控制", "3week"), "08:00+09:00");
  EXPECT_NE(FileText().find("频率= 2"), std::string::npos);  // the sign position
  EXPECT_TRUE(program.timer_running(FormTimer::kSchedule));
  EXPECT_FALSE(program.timer_running(FormTimer::kTimeControl));
  EXPECT_EQ(os.Value(kLogon, "PowerdownAfterShutdown"), "1");
  EXPECT_TRUE(screen.messages.empty());
}

TEST_F(ButtonsTest, ApplyReplacesTheFileOnceSoAPowerCutCannotMixOldAndNew) {
  const int before = files.writes;
  program.Command3_Click();
  EXPECT_EQ(files.writes, before + 1);
  EXPECT_EQ(Key("时间控制", "6week"), "24:00");
  EXPECT_EQ(Key("常规设置", "频率"), "3");
}

TEST_F(ButtonsTest, IntervalStartMovesOnlyForEveryNDays) {
  program.Command3_Click();
  EXPECT_EQ(Key("常规设置", "间隔起始时间"), "2026/12/7");  // written back by start-up
  live().SelectOption1(2);
  clock.Set(2026, 12, 9, 8, 0, 0);
  program.Command3_Click();
  EXPECT_EQ(Key("常规设置", "间隔起始时间"), "2026/12/9");
  EXPECT_EQ(program.interval_start(), "2026/12/7");  // the running tick keeps its date
  live().SelectOption1(0);
  clock.Set(2026, 12, 10, 8, 0, 0);
  program.Command3_Click();
  EXPECT_EQ(Key("常规设置", "间隔起始时间"), "2026/12/9");
}

TEST_F(ButtonsTest, ApplyThatCouldNotSaveSaysSoAndStaysAvailable) {
  live().SetCheck(2, 1);
  files.fail_writes = true;
  os.read_only = true;
  program.Command3_Click();
  EXPECT_TRUE(live().apply_enabled());
  ASSERT_EQ(screen.messages.size(), 1u);
  const std::string& text = screen.messages[0].text;
  EXPECT_NE(text.find("设置文件无法写入"), std::string::npos);
  EXPECT_NE(text.find("随系统自动启动"), std::string::npos);
  EXPECT_EQ(text.find("自动登录设置"), std::string::npos);
  EXPECT_EQ(screen.messages[0].icon, MessageIcon::kWarning);
}

TEST_F(ButtonsTest, OkWithRunNowActsAndSavesNothing) {
  live().SetCheck(6, 1);
  live().SelectOption2(2);
  live().SetCheck(8, 0);
  const std::string before = FileText();
  program.Command1_Click();
  EXPECT_EQ(os.exit_calls, (std::vector<unsigned>{0}));
  EXPECT_TRUE(screen.ended);
  EXPECT_EQ(FileText(), before);
  EXPECT_TRUE(os.values.empty());
}

TEST_F(ButtonsTest, OkWithRunNowAndNoActionApplies) {
  live().SetCheck(6, 1);
  program.Command1_Click();
  EXPECT_TRUE(os.exit_calls.empty());
  EXPECT_FALSE(screen.form_visible);
  EXPECT_FALSE(program.settings_shown());
  EXPECT_EQ(Key("常规设置", "操作方式"), "3");
}

TEST_F(ButtonsTest, OkWithNothingChangedStillWritesEverything) {
  program.Command1_Click();
  EXPECT_EQ(Key("常规设置", "频率"), "3");
  EXPECT_EQ(Key("时间控制", "启用"), "0");
  EXPECT_FALSE(screen.form_visible);
}

TEST_F(ButtonsTest, CancelWithChangesRestoresTheFile) {
  live().SelectOption1(0);
  live().SetCheck(9, 0);
  live().SetText3(2, "typed");
  program.Command2_Click();
  EXPECT_TRUE(live().option1_selected(3));
  EXPECT_EQ(live().check(9).value, 1);
  EXPECT_EQ(live().text3(2).text, "24:00");
  EXPECT_FALSE(live().apply_enabled());
  EXPECT_FALSE(screen.form_visible);
  EXPECT_FALSE(program.settings_shown());
}

TEST_F(ButtonsTest, CancelWithoutChangesOnlyResetsForcedAndRunNow) {
  live().SetCheck(8, 0);
  live().SetApplyEnabled(false);
  live().SetCheck(6, 1);
  program.Command2_Click();
  EXPECT_EQ(live().check(8).value, 1);
  EXPECT_EQ(live().check(6).value, 0);
  EXPECT_TRUE(live().apply_enabled());  // 强制's own rule
}

TEST_F(ButtonsTest, CancelReloadLocksAgainAndAsksForThePassword) {
  GivenFile("[常规设置]\r\n启动后锁定计算机= 1\r\n[时间控制]\r\n启用= 1\r\n1week=15:00\r\n");
  live().SetCheck(1, 1);
  program.Command2_Click();
  EXPECT_EQ(os.commands, (std::vector<std::string>{LockWorkStationCommand("C:\\Windows\\system32")}));
  EXPECT_TRUE(screen.check_password_open);
}

TEST_F(ButtonsTest, CancelRestoresStoredLogonFromTheFile) {
  GivenFile("[高级设置]\r\n自动登录= 1\r\n");
  live().SetCheck(5, 1);
  program.Command2_Click();
  EXPECT_EQ(live().check(3).value, 1);
}

TEST_F(ButtonsTest, ExitAsksFirst) {
  screen.answers = {MessageAnswer::kCancel};
  program.Command4_Click();
  EXPECT_FALSE(screen.ended);
  EXPECT_EQ(screen.messages.back().text, "你确实要退出本系统吗？");
  EXPECT_EQ(screen.messages.back().icon, MessageIcon::kQuestion);
  EXPECT_EQ(screen.messages.back().buttons, MessageButtons::kOkCancel);
  program.Command4_Click();
  EXPECT_TRUE(screen.ended);
}

TEST_F(ButtonsTest, RemovingTheTrayIconTakesEffectOnApply) {
  live().SetCheck(1, 1);
  EXPECT_TRUE(screen.tray_shown);
  program.Command3_Click();
  EXPECT_FALSE(screen.tray_shown);
}

}  // namespace
}  // namespace dadado
