// The settings window's newer controls, the countdown's 推迟 and the machine
// policy in the real windows, driven with window messages.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include "settings/settings_file.h"
#include "system/win32/wide.h"
#include "system/win32/win_os.h"
#include "ui/win32/ids.h"
#include "ui/win32/win_app.h"
#include "win32/fresh_app.h"
#include "win32/win_test_support.h"

namespace dadado::win32 {
namespace {

void SetPolicyNumber(const wchar_t* name, DWORD v) {
  RegSetKeyValueW(HKEY_LOCAL_MACHINE, kPolicyKey, name, REG_DWORD, &v, sizeof v);
}
using FeaturesWin = FreshAppTest;

TEST_F(FeaturesWin, TheNewControlsReachTheModel) {
  Start();
  LiveSettings& live = app->program().live();
  SetWindowTextW(Form1Control(kIdDailyLimitFirst + 3), L"90");
  EXPECT_EQ(live.DailyLimitMinutes(3), 90);
  SetWindowTextW(Form1Control(kIdPostponeMinutes), L"25");
  EXPECT_EQ(live.PostponeMinutes(), 25);
  SendMessageW(Form1Control(kIdCatchUp), BM_CLICK, 0, 0);
  EXPECT_EQ(live.catch_up().value, 1);
  EXPECT_EQ(SendMessageW(Form1Control(kIdCatchUp), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_TRUE(IsWindowEnabled(Form1Control(kIdCommand3)));
  // The limits go with the rest of the editor: off while time control is.
  EXPECT_FALSE(IsWindowEnabled(Form1Control(kIdDailyLimitFirst + 3)));
  SendMessageW(Form1Control(kIdCheckFirst + 4), BM_CLICK, 0, 0);
  Pump(20);
  EXPECT_TRUE(IsWindowEnabled(Form1Control(kIdDailyLimitFirst + 3)));
}

TEST_F(FeaturesWin, PostponeOnTheCountdownTakesThePassword) {
  Start();
  // Time control on and applied: its countdown is the one held off.
  app->program().live().SetCheck(4, 1);
  app->program().Command3_Click();
  ASSERT_TRUE(app->program().timer_running(FormTimer::kTimeControl));
  app->program().OpenShutdownScreen(1);
  HWND splash = app->splash().hwnd();
  ASSERT_TRUE(splash);
  HWND button = GetDlgItem(splash, kIdSplashPostpone);
  ASSERT_TRUE(button);
  EXPECT_EQ(Text(button), L"推迟(&D)");
  // Enter still belongs to the password box, not to the button.
  EXPECT_FALSE(GetWindowLongPtrW(button, GWL_STYLE) & BS_DEFPUSHBUTTON);
  HWND box = GetDlgItem(splash, kIdSplashPassword);
  SetWindowTextW(box, L"wrong");
  SendMessageW(button, BM_CLICK, 0, 0);
  ASSERT_FALSE(app->shown_messages.empty());
  EXPECT_EQ(app->shown_messages.back(), "密码不正确");
  EXPECT_TRUE(IsWindow(splash));
  SetWindowTextW(box, L"mossgate");
  SendMessageW(button, BM_CLICK, 0, 0);
  EXPECT_FALSE(IsWindow(splash));
  EXPECT_FALSE(app->program().countdown().exists);
  EXPECT_TRUE(app->program().timer_running(FormTimer::kTimeControl));  // held off, not cancelled
}

TEST_F(FeaturesWin, PolicyValuesShowLockedInTheWindow) {
  SetPolicyNumber(L"ScheduleFrequency", 0);
  SetPolicyText(kPolicyKey, L"ScheduleTime", L"21:30:00");
  SetPolicyNumber(L"Action", 1);
  SetPolicyNumber(L"ShowWarning", 0);
  SetPolicyNumber(L"DailyLimitMonday", 45);
  SetPolicyNumber(L"CatchUpMissed", 1);
  Start();
  EXPECT_EQ(SendMessageW(Form1Control(kIdOption1First + 0), BM_GETCHECK, 0, 0), BST_CHECKED);
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(IsWindowEnabled(Form1Control(kIdOption1First + i))) << i;
  EXPECT_EQ(SendMessageW(Form1Control(kIdCombo3), CB_GETCURSEL, 0, 0), 1);
  EXPECT_FALSE(IsWindowEnabled(Form1Control(kIdCombo3)));
  EXPECT_FALSE(IsWindowEnabled(Form1Control(kIdPicker)));
  EXPECT_EQ(SendMessageW(Form1Control(kIdCheckFirst + 9), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_FALSE(IsWindowEnabled(Form1Control(kIdCheckFirst + 9)));
  EXPECT_FALSE(IsWindowEnabled(Form1Control(kIdCatchUp)));
  EXPECT_EQ(Text(Form1Control(kIdDailyLimitFirst + 1)), L"45");
  EXPECT_FALSE(IsWindowEnabled(Form1Control(kIdDailyLimitFirst + 1)));
  // What the policy leaves alone stays the user's.
  EXPECT_TRUE(IsWindowEnabled(Form1Control(kIdCheckFirst + 8)));
  EXPECT_TRUE(app->program().timer_running(FormTimer::kSchedule));
}

TEST_F(FeaturesWin, AChangedPolicyIsFollowedWhenTheSystemSaysSo) {
  Start();
  EXPECT_TRUE(IsWindowEnabled(Form1Control(kIdCheckFirst + 9)));
  SetPolicyNumber(L"ShowWarning", 0);
  SetPolicyNumber(L"SettingsReadOnly", 1);
  SendMessageW(app->host().hwnd(), WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Policy"));
  Pump(50);
  EXPECT_EQ(SendMessageW(Form1Control(kIdCheckFirst + 9), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  for (int id : {kIdCheckFirst + 9, kIdCheckFirst + 8, kIdCombo3, kIdText1, kIdList1, kIdCommand3, kIdLabel7})
    EXPECT_FALSE(IsWindowEnabled(Form1Control(id))) << id;
  EXPECT_TRUE(IsWindowEnabled(Form1Control(kIdCommand1)));  // OK, Cancel and Exit stay
  EXPECT_TRUE(IsWindowEnabled(Form1Control(kIdCommand4)));
  ClearPolicy();
  SendMessageW(app->host().hwnd(), WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Policy"));
  Pump(50);
  EXPECT_TRUE(IsWindowEnabled(Form1Control(kIdCheckFirst + 9)));
  EXPECT_EQ(SendMessageW(Form1Control(kIdCheckFirst + 9), BM_GETCHECK, 0, 0), BST_CHECKED);
}

}  // namespace
}  // namespace dadado::win32
