// The program without the guard against what the person at the keyboard can
// do to it: a settings window that only listens while it is open, a settings
// file held open by another program, and a settings file the program may not
// write (a standard user's program under Program Files).
#include <gtest/gtest.h>

#include "protection/password.h"
#include "support/program_fixture.h"
#include "ui/program_state.h"

namespace dadado {
namespace {

using testing::ProgramTest;

// ---- the settings window ------------------------------------------------------

struct WindowInputTest : ProgramTest {};

TEST_F(WindowInputTest, AHiddenWindowTakesNoInput) {
  GivenFile("[常规设置]\r\n启动后隐藏界面= 1\r\n");
  program.Start();
  ASSERT_FALSE(program.form_visible());
  for (int tab = -1; tab < kTabCount; ++tab) EXPECT_FALSE(program.AcceptsInput(tab)) << tab;
}

TEST_F(WindowInputTest, BehindThePasswordOnlyWhatTheGateOpened) {
  GivenFile("[常规设置]\r\n密码保护= 1\r\n");
  program.Start();
  program.clock_menu5_Click();  // 关于: no password, the settings tabs closed
  ASSERT_TRUE(program.form_visible());
  EXPECT_TRUE(program.AcceptsInput(kAboutTab));
  EXPECT_TRUE(program.AcceptsInput(-1));
  for (int tab : {0, 1, 2, kPlansTab, kUsageTab}) EXPECT_FALSE(program.AcceptsInput(tab)) << tab;

  program.Command2_Click();
  program.clock_menu3_Click();  // 高级设置: the password dialog, the window still hidden
  EXPECT_FALSE(program.AcceptsInput(1));
  program.CheckPassword_SetText("mossgate");
  program.CheckPassword_cmdOK_Click();
  for (int tab = -1; tab < kTabCount; ++tab) EXPECT_TRUE(program.AcceptsInput(tab)) << tab;
}

// Installed by a script while the program ran: within a minute the program
// leaves the control to the service, which starts its own face; two would
// each act on every countdown.
TEST_F(WindowInputTest, AProgramRunningWhenTheGuardStartsLeavesItTheControl) {
  GivenFile("[常规设置]\r\n启动后隐藏界面= 1\r\n");
  program.Start();
  clock.Advance(30);
  guard.running = true;
  program.Timer2_Timer();
  EXPECT_FALSE(program.ended());
  clock.Advance(30);
  program.Timer2_Timer();
  EXPECT_TRUE(program.ended());
}

// The guard's face says at its start that the service runs: the system is
// asked, and the word alone ends nothing.
TEST_F(WindowInputTest, TheWordOfAStartedGuardIsCheckedWithTheSystem) {
  GivenFile("[常规设置]\r\n启动后隐藏界面= 1\r\n");
  program.Start();
  program.GuardMayHaveStarted();
  EXPECT_FALSE(program.ended());
  guard.running = true;
  program.GuardMayHaveStarted();
  EXPECT_TRUE(program.ended());
}

// ---- a settings file that cannot be read ----------------------------------------

struct UnreadableFileTest : ProgramTest {
  void SetUp() override {
    // Time control on, every hour forbidden, and a password of the owner's.
    GivenFile("[常规设置]\r\n频率= 3\r\n[时间控制]\r\n启用= 1\r\n密码=" + EncodePassword("owner") + "\r\n");
  }
};

TEST_F(UnreadableFileTest, HeldOpenAtStartTheDefaultPasswordIsNoKey) {
  files.fail_reads = true;
  program.Start();
  EXPECT_TRUE(program.settings_unread());
  ASSERT_EQ(screen.notices.size(), 1u);
  EXPECT_NE(screen.notices[0].text.find("无法读取设置文件"), std::string::npos);
  // The gate and a countdown both refuse the documented default.
  program.clock_menu2_Click();
  program.CheckPassword_SetText("mossgate");
  program.CheckPassword_cmdOK_Click();
  EXPECT_FALSE(program.form_visible());
  program.OpenShutdownScreen(1);
  program.Countdown_SetText("mossgate");
  program.Countdown_Enter();
  EXPECT_TRUE(program.countdown().exists);
}

TEST_F(UnreadableFileTest, NothingIsSavedOverTheFileItCouldNotRead) {
  const std::string before = files.files[testing::kIniPath];
  files.fail_reads = true;
  program.Start();
  files.fail_reads = false;  // released, but the window still shows defaults
  program.clock_menu2_Click();
  program.CheckPassword_SetText("owner");
  program.CheckPassword_cmdOK_Click();
  program.Command3_Click();
  EXPECT_EQ(files.files[testing::kIniPath], before);
  EXPECT_NE(screen.LastMessage().find("设置没有保存"), std::string::npos);
}

TEST_F(UnreadableFileTest, OnceReadableAgainTheSettingsAreLoaded) {
  files.fail_reads = true;
  program.Start();
  EXPECT_FALSE(live().IsSet(4));
  files.fail_reads = false;
  clock.Advance(60);
  program.Timer2_Timer();
  EXPECT_FALSE(program.settings_unread());
  EXPECT_TRUE(live().IsSet(4));
  EXPECT_TRUE(PasswordMatches(settings, "owner"));
}

// ---- a settings file that cannot be written ----------------------------------------

struct UnwritableFileTest : ProgramTest {
  void RunFor(int seconds) {
    for (int i = 0; i < seconds; ++i) {
      clock.Advance(1);
      if (program.countdown().exists) program.Countdown_Timer1_Timer();
      if (screen.timer1) program.Timer1_Timer();
    }
  }
};

// A restart that was caught up is kept under the user's key; the boot it
// caused must not catch it up again, or the machine restarts for ever.
TEST_F(UnwritableFileTest, ACaughtUpRestartIsNotCaughtUpAgainAfterTheBootItCaused) {
  GivenFile("[常规设置]\r\n频率= 0\r\n定时时间=2026/12/1 22:00:00\r\n操作方式= 0\r\n错过补做= 1\r\n"
            "启动后隐藏界面= 1\r\n间隔起始时间=2026/12/1\r\n");
  files.fail_writes = true;
  clock.Set(2026, 12, 7, 22, 30, 0);
  program.Start();
  ASSERT_TRUE(program.countdown().exists);
  RunFor(121);
  ASSERT_EQ(os.exit_calls, (std::vector<unsigned>{6}));
  EXPECT_EQ(os.user_values[user_values::kLastScheduled], "2026/12/7 22:00:00");

  Program after_boot{settings, os, guard, screen, clock};
  clock.Set(2026, 12, 7, 22, 34, 0);
  after_boot.Start();
  EXPECT_FALSE(after_boot.countdown().exists);
}

TEST_F(UnwritableFileTest, AMissedActionThatCanBeStoredNowhereIsNotCaughtUp) {
  GivenFile("[常规设置]\r\n频率= 0\r\n定时时间=2026/12/1 22:00:00\r\n操作方式= 0\r\n错过补做= 1\r\n"
            "启动后隐藏界面= 1\r\n");
  files.fail_writes = true;
  os.user_values_fail = true;
  clock.Set(2026, 12, 7, 22, 30, 0);
  program.Start();
  RunFor(121);
  EXPECT_TRUE(os.exit_calls.empty());
}

TEST_F(UnwritableFileTest, TodaysUseAndTheIntervalStartLiveUnderTheUserKey) {
  GivenFile("[常规设置]\r\n频率= 2\r\n定时时间=2026/12/1 22:00:00\r\n[时间控制]\r\n0week=00:00\r\n");
  files.fail_writes = true;
  clock.Set(2026, 12, 7, 12, 0, 0);
  program.Start();
  EXPECT_EQ(program.interval_start(), "2026/12/7");
  EXPECT_EQ(os.user_values[user_values::kIntervalStart], "2026/12/7");

  // Another day, another start: the count still starts on the first day.
  Program next{settings, os, guard, screen, clock};
  clock.Set(2026, 12, 9, 12, 0, 0);
  next.Start();
  EXPECT_EQ(next.interval_start(), "2026/12/7");

  ProgramState state{settings, os, guard};
  EXPECT_TRUE(state.StoreUse({2026, 12, 9}, 42));
  EXPECT_EQ(os.user_values[user_values::kUsage], "2026/12/9,42");
  const ProgramState::Use use = state.LoadUse();
  ASSERT_TRUE(use.day);
  EXPECT_EQ(use.minutes, 42);
}

TEST(ProgramStateRead, TheLaterRecordWinsWhereverItIsKept) {
  testing::MemoryFileStore files;
  SettingsFile settings{files, testing::kIniPath};
  testing::FakeOs os;
  testing::FakeGuard guard;
  ProgramState state{settings, os, guard};
  files.files[testing::kIniPath] = Utf8ToGbk(
      "[常规设置]\r\n上次定时=2026/12/7 22:00:00\r\n[使用记录]\r\n日期=2026/12/8\r\n已用分钟=30\r\n");
  os.user_values[user_values::kLastScheduled] = "2026/12/8 06:00:00";
  os.user_values[user_values::kUsage] = "2026/12/8,45";
  EXPECT_EQ(state.LastOccurrence(), LocalSeconds({{2026, 12, 8}, 6 * 3600}));
  EXPECT_EQ(state.LoadUse().minutes, 45);
  os.user_values[user_values::kUsage] = "2026/12/7,300";  // an older day counts for nothing
  EXPECT_EQ(state.LoadUse().minutes, 30);
  guard.performed_last = "2026/12/9 01:00:00";
  EXPECT_EQ(state.LastOccurrence(), LocalSeconds({{2026, 12, 9}, 3600}));
}

}  // namespace
}  // namespace dadado
