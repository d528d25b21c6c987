// 防止被结束(守护服务) in the settings window, and what the program tells the
// guard.
#include <gtest/gtest.h>

#include "support/program_fixture.h"

namespace dadado {
namespace {

struct GuardSettingTest : testing::ProgramTest {
  void SetUp() override { clock.Set(2026, 12, 7, 12, 0, 0); }
};

TEST_F(GuardSettingTest, StartUpShowsWhetherTheGuardIsInstalled) {
  program.Start();
  EXPECT_EQ(live().guard().value, 0);
  guard.installed = true;
  Program again{settings, os, guard, screen, clock};
  again.Start();
  EXPECT_EQ(again.live().guard().value, 1);
  EXPECT_FALSE(again.live().apply_enabled());
}

// While the service runs, the program is the face it starts itself.
TEST_F(GuardSettingTest, ACopyStartedByHandWhileTheGuardRunsIsASecondCopy) {
  guard.running = true;
  program.Start();
  EXPECT_TRUE(program.ended());
  EXPECT_EQ(screen.LastMessage(), "程序已运行，请检查窗口是否被最小化！");
}

TEST_F(GuardSettingTest, ApplyInstallsOnlyWhenTheBoxChangedAndTheGuardTakesOver) {
  program.Start();
  program.Command3_Click();
  EXPECT_TRUE(guard.changes.empty());
  live().SetGuard(1);
  EXPECT_TRUE(live().apply_enabled());
  program.Command3_Click();
  EXPECT_EQ(guard.changes, (std::vector<bool>{true}));
  // The service starts the program it shows itself through: this copy goes.
  EXPECT_EQ(screen.LastMessage(), kGuardTookOver);
  EXPECT_TRUE(program.ended());
}

TEST_F(GuardSettingTest, ApplyRemovesTheGuardWhenTheBoxIsCleared) {
  guard.installed = true;
  program.Start();
  live().SetGuard(0);
  program.Command3_Click();
  EXPECT_EQ(guard.changes, (std::vector<bool>{false}));
  EXPECT_FALSE(program.ended());
}

TEST_F(GuardSettingTest, AFailureJoinsTheMessageOfWhatWasNotSaved) {
  program.Start();
  guard.change = {false, "需要管理员权限", false};
  live().SetGuard(1);
  program.Command3_Click();
  ASSERT_EQ(screen.messages.size(), 1u);
  EXPECT_EQ(screen.LastMessage(), "以下设置没有保存：\n・“防止被结束(守护服务)”无法更改：需要管理员权限");
  EXPECT_EQ(live().guard().value, 0);  // the box says how things are
  EXPECT_EQ(Key("常规设置", "频率"), "3");  // the rest was saved
}

// A folder users can change is refused; the window offers Program Files.
TEST_F(GuardSettingTest, FromAFolderUsersCanChangeTheGuardIsOfferedProgramFiles) {
  program.Start();
  guard.change = {false, "普通用户可能修改“C:\\Users\\kid\\Downloads”。", true};
  guard.copied_install = {true, "", false};
  live().SetGuard(1);
  screen.answers = {MessageAnswer::kCancel};
  program.Command3_Click();
  EXPECT_EQ(screen.messages[0].text, kGuardCopyQuestion);
  EXPECT_EQ(guard.copied_installs, 0);
  EXPECT_NE(screen.LastMessage().find("Downloads"), std::string::npos);
  EXPECT_FALSE(program.ended());
  EXPECT_EQ(live().guard().value, 0);

  live().SetGuard(1);
  program.Command3_Click();  // this time yes
  EXPECT_EQ(guard.copied_installs, 1);
  EXPECT_TRUE(program.ended());
}

TEST_F(GuardSettingTest, OnlyTheConfirmedExitLetsTheGuardGo) {
  program.Start();
  screen.answers = {MessageAnswer::kCancel};
  program.Command4_Click();
  EXPECT_FALSE(program.exited_by_user());
  program.Command4_Click();
  EXPECT_TRUE(program.ended());
  EXPECT_TRUE(program.exited_by_user());
  Program closed{settings, os, guard, screen, clock};
  closed.Start();
  closed.Form_QueryUnload(false);
  closed.Form_QueryUnload(false);
  EXPECT_TRUE(closed.ended());
  EXPECT_FALSE(closed.exited_by_user());
}

TEST_F(GuardSettingTest, WhatTheGuardPerformedIsNeverCaughtUp) {
  GivenFile("[常规设置]\r\n频率= 0\r\n定时时间=2026/12/1 11:30:00\r\n操作方式= 1\r\n错过补做= 1\r\n");
  guard.performed_last = "2026/12/7 11:30:00";
  program.Start();
  EXPECT_FALSE(program.countdown().exists);
  guard.performed_last = "2026/12/6 11:30:00";
  Program again{settings, os, guard, screen, clock};
  again.Start();
  EXPECT_TRUE(again.countdown().exists);
}

}  // namespace
}  // namespace dadado
