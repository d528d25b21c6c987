#include <gtest/gtest.h>

#include "protection/password.h"
#include "support/program_fixture.h"

namespace dadado {
namespace {

struct GateTest : testing::ProgramTest {
  void StartHidden(bool protection) {
    GivenFile(std::string("[常规设置]\r\n启动后隐藏界面= 1\r\n密码保护= ") + (protection ? "1" : "0") + "\r\n");
    program.Start();
    ASSERT_FALSE(screen.form_visible);
  }
};

TEST_F(GateTest, WithoutProtectionEveryRequestOpensTheWindowAtItsTab) {
  StartHidden(false);
  struct Row {
    void (Program::*item)();
    int tab;
  };
  for (Row r : {Row{&Program::clock_menu1_Click, 0}, Row{&Program::clock_menu2_Click, 0},
                Row{&Program::clock_menu3_Click, 1}, Row{&Program::clock_menu4_Click, 2},
                Row{&Program::clock_menu5_Click, kAboutTab}}) {
    screen.form_visible = false;
    (program.*r.item)();
    EXPECT_TRUE(screen.form_visible);
    EXPECT_TRUE(program.settings_shown());
    EXPECT_EQ(live().selected_tab(), r.tab);
    for (int t = 0; t < kTabCount; ++t) EXPECT_TRUE(live().tab_enabled(t));
    EXPECT_FALSE(screen.check_password_open);
  }
}

TEST_F(GateTest, ProtectionAsksForThePasswordAndOpensAfterIt) {
  StartHidden(true);
  program.clock_menu3_Click();
  EXPECT_TRUE(screen.check_password_open);
  EXPECT_FALSE(screen.form_visible);
  EXPECT_EQ(live().selected_tab(), 1);
  program.CheckPassword_SetText("wrong");
  program.CheckPassword_cmdOK_Click();
  EXPECT_EQ(screen.LastMessage(), "密码不正确！");
  EXPECT_EQ(screen.messages.back().icon, MessageIcon::kInformation);
  EXPECT_EQ(program.check_password().text, "");
  EXPECT_EQ(screen.focus_check_password, 1);
  EXPECT_TRUE(screen.check_password_open);
  program.CheckPassword_SetText("mossgate");  // a fresh file accepts the default
  program.CheckPassword_cmdOK_Click();
  EXPECT_FALSE(screen.check_password_open);
  EXPECT_TRUE(screen.form_visible);
  EXPECT_TRUE(program.settings_shown());
}

TEST_F(GateTest, TimeControlAloneAlsoGuards) {
  StartHidden(false);
  live().SetCheck(4, 1);  // not applied: the gate reads the control
  program.clock_menu2_Click();
  EXPECT_TRUE(screen.check_password_open);
}

TEST_F(GateTest, AboutWithProtectionOpensAtOnceWithOnlyAboutUsable) {
  StartHidden(true);
  program.clock_menu5_Click();
  EXPECT_TRUE(screen.form_visible);
  EXPECT_FALSE(screen.check_password_open);
  EXPECT_EQ(live().selected_tab(), kAboutTab);
  // 计划 and 使用记录 are behind the password like the other three.
  for (int t : {0, 1, 2, kPlansTab, kUsageTab}) EXPECT_FALSE(live().tab_enabled(t)) << t;
  EXPECT_TRUE(live().tab_enabled(kAboutTab));
  program.clock_menu2_Click();  // a settings request enables them again first
  for (int t : {0, 1, 2, kPlansTab, kUsageTab}) EXPECT_TRUE(live().tab_enabled(t)) << t;
  EXPECT_TRUE(screen.check_password_open);
  EXPECT_TRUE(screen.form_visible);  // an open window is not hidden meanwhile
}

TEST_F(GateTest, CancelThenAskAgainStartsEmpty) {
  StartHidden(true);
  program.clock_menu1_Click();
  program.CheckPassword_SetText("half");
  program.CheckPassword_cmdCancel_Click();
  EXPECT_FALSE(screen.check_password_open);
  EXPECT_FALSE(screen.form_visible);
  program.clock_menu1_Click();
  EXPECT_EQ(program.check_password().text, "");
}

// ---- changing the password --------------------------------------------------------

struct SetPasswordTest : testing::ProgramTest {
  void SetUp() override { program.Start(); }
  void Change(const std::string& old_pw, const std::string& new_pw) {
    screen.during_set_password = [&, old_pw, new_pw] {
      program.SetPassword_SetOld(old_pw);
      program.SetPassword_SetNew(new_pw);
      program.SetPassword_cmdOK_Click();
      if (program.set_password().open) program.SetPassword_cmdCancel_Click();
    };
    program.Label7_MouseDown();
    EXPECT_TRUE(program.label7_pressed());
    program.Label7_MouseUp();
    EXPECT_FALSE(program.label7_pressed());
  }
};

TEST_F(SetPasswordTest, SameOldAndNewNeedsNoChange) {
  Change("anything", "anything");
  EXPECT_EQ(screen.LastMessage(), "对不起，原密码与新密码一样，无需更改密码！");
}

TEST_F(SetPasswordTest, WrongOldPasswordIsRefused) {
  Change("wrong", "new");
  EXPECT_EQ(screen.LastMessage(), "对不起，原密码输入不正确！");
  EXPECT_EQ(screen.focus_old_password, 1);
  EXPECT_TRUE(PasswordMatches(settings, "mossgate"));
}

TEST_F(SetPasswordTest, RightOldPasswordChangesItAtOnce) {
  Change("mossgate", "");
  EXPECT_EQ(screen.LastMessage(), "恭喜，密码修改成功！");
  EXPECT_EQ(screen.messages.back().title, "提示");
  EXPECT_EQ(Key("时间控制", "密码"), EncodePassword(""));
  program.clock_menu5_Click();
  live().SetCheck(10, 1);
  program.clock_menu1_Click();
  program.CheckPassword_SetText("");  // the empty password now opens the settings
  program.CheckPassword_cmdOK_Click();
  EXPECT_FALSE(screen.check_password_open);
}

TEST_F(SetPasswordTest, AFailedWriteIsNotReportedAsSuccess) {
  files.fail_writes = true;
  screen.during_set_password = [&] {
    program.SetPassword_SetOld("mossgate");
    program.SetPassword_SetNew("new");
    program.SetPassword_cmdOK_Click();
    EXPECT_TRUE(program.set_password().open);  // the dialog stays
    program.SetPassword_cmdCancel_Click();
  };
  program.Label7_MouseDown();
  program.Label7_MouseUp();
  EXPECT_NE(screen.LastMessage(), "恭喜，密码修改成功！");
  EXPECT_NE(screen.LastMessage().find("密码没有修改"), std::string::npos);
  files.fail_writes = false;
  EXPECT_TRUE(PasswordMatches(settings, "mossgate"));
}

// ---- tray and closing -----------------------------------------------------------

struct TrayTest : testing::ProgramTest {
  void SetUp() override { program.Start(); }
};

TEST_F(TrayTest, OnlyTheRightButtonOpensTheMenu) {
  program.TrayIcon_MouseDown(1);
  program.TrayIcon_MouseDown(4);
  EXPECT_EQ(screen.tray_menu_popups, 0);
  program.TrayIcon_MouseDown(2);
  program.Form_MouseDown(2);
  EXPECT_EQ(screen.tray_menu_popups, 2);
}

TEST_F(TrayTest, DoubleClickOpensGeneralSettings) {
  program.Command2_Click();
  program.TrayIcon_DblClick();
  EXPECT_TRUE(screen.form_visible);
  EXPECT_EQ(live().selected_tab(), 0);
}

TEST_F(TrayTest, RunNowItemsUseTheirFlagsAndEnd) {
  struct Row {
    int item, check8;
    unsigned flags;
  };
  for (Row r : {Row{0, 0, 9}, Row{0, 1, 13}, Row{1, 0, 2}, Row{1, 1, 6}, Row{2, 0, 0}, Row{2, 1, 4}, Row{0, 2, 9}}) {
    os.exit_calls.clear();
    screen.ended = false;
    live().SetCheck(8, r.check8);
    program.clock_menu61_Click(r.item);
    EXPECT_EQ(os.exit_calls, (std::vector<unsigned>{r.flags})) << r.item << "/" << r.check8;
    EXPECT_TRUE(screen.ended);
    EXPECT_FALSE(program.settings_shown());
  }
}

TEST_F(TrayTest, ARefusedActionIsReportedAndTheProgramKeepsRunning) {
  os.privilege_ok = false;
  os.exit_ok = false;
  program.clock_menu61_Click(0);
  EXPECT_FALSE(screen.ended);
  EXPECT_NE(screen.LastMessage().find("无法关闭计算机"), std::string::npos);
}

TEST_F(TrayTest, ClosingHidesWhileShownAndEndsOtherwise) {
  ASSERT_TRUE(program.settings_shown());
  program.Form_QueryUnload(false);
  EXPECT_FALSE(screen.form_visible);
  EXPECT_FALSE(screen.ended);
  program.Form_QueryUnload(false);
  EXPECT_TRUE(screen.ended);
}

TEST_F(TrayTest, SessionEndIsNeverBlocked) {
  ASSERT_TRUE(program.settings_shown());
  program.Form_QueryUnload(true);
  EXPECT_FALSE(screen.form_visible);
  EXPECT_FALSE(screen.ended);  // the session's end ends the program, not the close
}

TEST_F(TrayTest, PicturesAndMailLink) {
  program.Image1_MouseDown();
  EXPECT_TRUE(program.image1_pressed());
  program.Image1_MouseUp();
  EXPECT_FALSE(program.image1_pressed());
  program.Label6_Click();
  EXPECT_EQ(os.mail_links, (std::vector<std::string>{kContactAddress}));
}

}  // namespace
}  // namespace dadado
