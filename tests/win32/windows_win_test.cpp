// The real windows, driven with window messages as a user's clicks and
// typing would drive them.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "protection/password.h"
#include "settings/settings_file.h"
#include "system/win32/wide.h"
#include "system/win32/win_file_store.h"
#include "system/win32/win_os.h"
#include "ui/win32/ids.h"
#include "ui/win32/win_app.h"
#include "win32/fresh_app.h"
#include "win32/win_test_support.h"

namespace dadado::win32 {
namespace {

bool Checked(HWND h) { return SendMessageW(h, BM_GETCHECK, 0, 0) == BST_CHECKED; }

struct WindowsWin : FreshAppTest {
  void SetUp() override {
    FreshAppTest::SetUp();
    Start();
  }
  void Click(HWND h) {
    SendMessageW(h, BM_CLICK, 0, 0);
    Pump(20);
  }
  LiveSettings& live() { return app->program().live(); }
};

TEST_F(WindowsWin, FirstStartShowsTheDesignedWindow) {
  HWND form1 = app->form1().hwnd();
  EXPECT_TRUE(IsWindowVisible(form1));
  EXPECT_EQ(Text(form1), L"dadado");
  RECT client;
  GetClientRect(form1, &client);
  const int dpi = static_cast<int>(app->form1().dpi());
  EXPECT_EQ(client.right, MulDiv(386, dpi, 96));
  EXPECT_EQ(client.bottom, MulDiv(359, dpi, 96));
  EXPECT_TRUE(Checked(Form1Control(kIdOption1First + 3)));
  EXPECT_EQ(SendMessageW(Form1Control(kIdCombo3), CB_GETCURSEL, 0, 0), 3);
  EXPECT_TRUE(Checked(Form1Control(kIdCheckFirst + 8)));
  EXPECT_TRUE(Checked(Form1Control(kIdCheckFirst + 9)));
  EXPECT_FALSE(IsWindowEnabled(Form1Control(kIdCommand3)));
  EXPECT_FALSE(IsWindowEnabled(Form1Control(kIdPicker)));
  EXPECT_EQ(TabCtrl_GetItemCount(Form1Control(kIdTab)), kTabCount);
  EXPECT_TRUE(app->tray_shown());
  EXPECT_EQ(app->tray_tip(), Widen(VersionText()));
}

// The page in view is there when the window first paints; the others,
// the tooltips and the tray icon come right after, hidden, and the keyboard
// reaches a page's controls before the window's buttons. Choosing a tab
// shows its page.
TEST_F(WindowsWin, ThePagesNotInViewAreBuiltOnceTheWindowIsUp) {
  HWND form1 = app->form1().hwnd();
  auto before_ok = [&](int id) {
    for (HWND h = GetWindow(form1, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT)) {
      if (GetDlgCtrlID(h) == id) return true;
      if (GetDlgCtrlID(h) == kIdCommand1) return false;
    }
    return false;
  };
  for (int id : {kIdPicker, kIdGuard, kIdList1, kIdPlanList, kIdLabel6}) {
    HWND h = GetDlgItem(form1, id);  // asks the window, builds nothing
    ASSERT_TRUE(h) << id;
    EXPECT_EQ(IsWindowVisible(h) != FALSE, id == kIdPicker) << id;
    EXPECT_TRUE(before_ok(id)) << id;
  }
  EXPECT_TRUE(app->tray().added());
  live().SelectTab(2);
  app->Refresh();
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(form1, kIdList1)));
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(form1, kIdPicker)));
}

TEST_F(WindowsWin, PasswordProtectionChecksHiddenStartAndEnablesApply) {
  Click(Form1Control(kIdCheckFirst + 10));
  EXPECT_TRUE(Checked(Form1Control(kIdCheckFirst + 10)));
  EXPECT_TRUE(Checked(Form1Control(kIdCheckFirst + 7)));
  EXPECT_TRUE(IsWindowEnabled(Form1Control(kIdCommand3)));
  EXPECT_EQ(live().check(7).value, 1);
}

TEST_F(WindowsWin, NoScheduleDisablesTheTimingControls) {
  Click(Form1Control(kIdOption1First + 1));
  EXPECT_TRUE(IsWindowEnabled(Form1Control(kIdPicker)));
  EXPECT_TRUE(IsWindowEnabled(Form1Control(kIdCombo1)));
  Click(Form1Control(kIdOption2First + 1));
  EXPECT_EQ(SendMessageW(Form1Control(kIdCombo3), CB_GETCURSEL, 0, 0), 1);
  Click(Form1Control(kIdOption1First + 3));
  EXPECT_FALSE(IsWindowEnabled(Form1Control(kIdPicker)));
  EXPECT_FALSE(IsWindowEnabled(Form1Control(kIdCombo1)));
  EXPECT_FALSE(IsWindowEnabled(Form1Control(kIdCombo2)));
  EXPECT_EQ(SendMessageW(Form1Control(kIdCombo3), CB_GETCURSEL, 0, 0), 3);
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(Checked(Form1Control(kIdOption2First + i)));
}

TEST_F(WindowsWin, ClickingAnHourRewritesTheSelectedWeekday) {
  Click(Form1Control(kIdCheckFirst + 4));  // time control on: the editor opens
  HWND list = Form1Control(kIdList1);
  EXPECT_TRUE(IsWindowEnabled(list));
  Click(Form1Control(kIdOption3First + 1));
  for (int h : {13, 8, 9}) {
    SendMessageW(list, LB_SETSEL, TRUE, h);
    SendMessageW(app->form1().hwnd(), WM_COMMAND, MAKEWPARAM(kIdList1, LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
  }
  EXPECT_EQ(Text(Form1Control(kIdText3First + 1)), L"08:00+09:00+13:00");
  EXPECT_EQ(live().text3(1).text, "08:00+09:00+13:00");
  EXPECT_EQ(Text(Form1Control(kIdText3First + 0)), L"24:00");
}

// Any program on the desktop can send the hidden window clicks: they change
// nothing, and 退出 with its confirmation does not end the program.
TEST_F(WindowsWin, AHiddenWindowIgnoresClicksSentToIt) {
  app->program().Command1_Click();  // 确定 hides it
  Pump(20);
  ASSERT_FALSE(IsWindowVisible(app->form1().hwnd()));
  Click(Form1Control(kIdCheckFirst + 4));
  EXPECT_FALSE(live().IsSet(4));
  SendMessageW(app->form1().hwnd(), WM_COMMAND, MAKEWPARAM(kIdCommand4, BN_CLICKED),
               reinterpret_cast<LPARAM>(Form1Control(kIdCommand4)));
  Pump(20);
  EXPECT_FALSE(app->program().ended());
}

// Another program's own notifications carry pointers into its memory: posted
// or sent, none is read as ours.
TEST_F(WindowsWin, AnotherProgramsNotificationIsNotReadButItsTabChoiceIs) {
  HWND form1 = app->form1().hwnd();
  PostMessageW(form1, WM_NOTIFY, kIdTab, 1);
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))  // as the program's own loop takes them
    if (!app->PreTranslate(&msg)) DispatchMessageW(&msg);
  std::atomic<bool> sent{false};
  // A tab chosen by another program (an accessibility tool) is still the
  // tab control's own notification.
  HWND tab = Form1Control(kIdTab);
  const int about = app->form1().DisplayedTab(kAboutTab);
  std::thread sender([&] {
    SendMessageW(form1, WM_NOTIFY, kIdTab, 1);
    SendMessageW(tab, TCM_SETCURFOCUS, about, 0);
    sent = true;
  });
  for (int waited = 0; waited < 100 && !sent; ++waited) Pump(20);
  sender.join();
  EXPECT_TRUE(IsWindowVisible(Form1Control(kIdLabel4)));
  EXPECT_FALSE(app->program().ended());
}

TEST_F(WindowsWin, TypingIntoAWeekdayBoxReachesTheModel) {
  Click(Form1Control(kIdCheckFirst + 4));
  SetWindowTextW(Form1Control(kIdText3First + 3), L"07:00+22:00");
  EXPECT_EQ(live().text3(3).text, "07:00+22:00");
}

TEST_F(WindowsWin, TheCountdownCountsAndTakesThePassword) {
  app->program().OpenShutdownScreen(1);
  HWND splash = app->splash().hwnd();
  ASSERT_TRUE(splash);
  EXPECT_TRUE(IsWindowVisible(splash));
  EXPECT_EQ(Text(GetDlgItem(splash, kIdSplashRemaining)), L"时间剩余120秒");
  EXPECT_EQ(Text(GetDlgItem(splash, kIdSplashTitle)), Widen(VersionText() + " 警告"));
  EXPECT_EQ(Text(GetDlgItem(splash, kIdSplashAction)), L"操作: 不进行任何操作");
  // One tick of its own timer, however busy the machine.
  for (int waited = 0; waited < 50 && Text(GetDlgItem(splash, kIdSplashRemaining)) == L"时间剩余120秒"; ++waited)
    Pump(100);
  EXPECT_EQ(Text(GetDlgItem(splash, kIdSplashRemaining)), L"时间剩余119秒");

  // Only the password dismisses it: no close box, and a close request is refused.
  EXPECT_FALSE(GetWindowLongPtrW(splash, GWL_STYLE) & WS_SYSMENU);
  SendMessageW(splash, WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindow(splash));

  HWND box = GetDlgItem(splash, kIdSplashPassword);
  SetWindowTextW(box, L"wrong");
  SendMessageW(splash, WM_COMMAND, IDOK, 0);
  ASSERT_FALSE(app->shown_messages.empty());
  EXPECT_EQ(app->shown_messages.back(), "密码不正确");
  EXPECT_EQ(Text(box), L"");
  EXPECT_TRUE(IsWindow(splash));

  // A change of the box is read from the box, not from the window the
  // message carries.
  HWND decoy = CreateWindowW(L"STATIC", L"mossgate", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  SendMessageW(splash, WM_COMMAND, MAKEWPARAM(kIdSplashPassword, EN_CHANGE), reinterpret_cast<LPARAM>(decoy));
  DestroyWindow(decoy);
  SendMessageW(splash, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(IsWindow(splash));

  SetWindowTextW(box, L"mossgate");
  SendMessageW(splash, WM_COMMAND, IDOK, 0);
  EXPECT_FALSE(IsWindow(splash));
  EXPECT_FALSE(app->program().timer_running(FormTimer::kSchedule));
  EXPECT_FALSE(app->program().timer_running(FormTimer::kTimeControl));
}

TEST_F(WindowsWin, PasswordDialogOpensTheSettings) {
  Click(Form1Control(kIdCheckFirst + 10));
  SendMessageW(app->form1().hwnd(), WM_CLOSE, 0, 0);  // hides it
  Pump(20);
  EXPECT_FALSE(IsWindowVisible(app->form1().hwnd()));
  app->program().clock_menu3_Click();
  app->Refresh();
  HWND dialog = app->check_password().hwnd();
  ASSERT_TRUE(dialog);
  EXPECT_EQ(Text(dialog), L"请输入权限密码：");
  HWND box = GetDlgItem(dialog, kIdPasswordBox);
  EXPECT_EQ(SendMessageW(box, EM_GETLIMITTEXT, 0, 0), 25);
  EXPECT_EQ(SendMessageW(box, EM_GETPASSWORDCHAR, 0, 0), L'*');
  SetWindowTextW(box, L"mossgate");
  SendMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
  Pump(20);
  EXPECT_FALSE(IsWindow(dialog));
  EXPECT_TRUE(IsWindowVisible(app->form1().hwnd()));
  EXPECT_EQ(app->form1().LogicalTabOfItem(TabCtrl_GetCurSel(Form1Control(kIdTab))), 1);
}

// Fills in the modal change-password dialog once it is open.
VOID CALLBACK ChangePasswordTimer(HWND, UINT, UINT_PTR id, DWORD) {
  HWND dialog = FindWindowW(nullptr, L"更改密码");
  if (!dialog) return;
  KillTimer(nullptr, id);
  EXPECT_EQ(SendMessageW(GetDlgItem(dialog, kIdPasswordBox), EM_GETPASSWORDCHAR, 0, 0), L'#');
  SetWindowTextW(GetDlgItem(dialog, kIdPasswordBox), L"mossgate");
  SetWindowTextW(GetDlgItem(dialog, kIdNewPasswordBox), L"新密码1");
  SendMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
}

TEST_F(WindowsWin, ChangingThePasswordWritesItToTheFile) {
  SetTimer(nullptr, 0, 50, &ChangePasswordTimer);
  app->program().Label7_MouseDown();
  app->program().Label7_MouseUp();  // returns when the modal dialog has closed
  EXPECT_EQ(app->shown_messages.back(), "恭喜，密码修改成功！");
  WinFileStore store;
  SettingsFile file(store, SettingsPath());
  EXPECT_TRUE(PasswordMatches(file, "新密码1"));
  EXPECT_FALSE(IsWindow(app->set_password().hwnd()));
}

TEST_F(WindowsWin, EndingTheSessionIsNeverBlocked) {
  HWND form1 = app->form1().hwnd();
  ASSERT_TRUE(IsWindowVisible(form1));
  EXPECT_TRUE(SendMessageW(form1, WM_QUERYENDSESSION, 0, 0));
  EXPECT_FALSE(IsWindowVisible(form1));
  // A close from the close box while shown only hides the window.
  app->program().clock_menu1_Click();
  app->Refresh();
  SendMessageW(form1, WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindow(form1));
  EXPECT_FALSE(IsWindowVisible(form1));
  EXPECT_FALSE(app->program().ended());
}

TEST_F(WindowsWin, TheTrayIconComesBackWhenTheTaskbarRestarts) {
  const int before = app->tray_adds();
  SendMessageW(app->host().hwnd(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_EQ(app->tray_adds(), before + 1);
}

TEST_F(WindowsWin, AboutWithProtectionShowsOnlyTheAboutTab) {
  Click(Form1Control(kIdCheckFirst + 10));
  app->program().clock_menu5_Click();
  app->Refresh();
  HWND tab = Form1Control(kIdTab);
  ASSERT_EQ(TabCtrl_GetItemCount(tab), 1);
  wchar_t caption[32] = {};
  TCITEMW item{};
  item.mask = TCIF_TEXT;
  item.pszText = caption;
  item.cchTextMax = 32;
  SendMessageW(tab, TCM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  EXPECT_STREQ(caption, L"关于");
  EXPECT_TRUE(IsWindowVisible(Form1Control(kIdLabel6)));
  EXPECT_FALSE(IsWindowVisible(Form1Control(kIdCheckFirst + 10)));
  app->program().clock_menu2_Click();  // a settings request brings the tabs back
  app->Refresh();
  EXPECT_EQ(TabCtrl_GetItemCount(tab), kTabCount);
}

TEST_F(WindowsWin, MovingToAScreenOfAnotherDpiLaysTheWindowOutAgain) {
  HWND form1 = app->form1().hwnd();
  const int before = static_cast<int>(app->form1().dpi());
  const int dpi = before * 2;
  RECT now;
  GetWindowRect(form1, &now);
  RECT suggested{now.left, now.top, now.left + (now.right - now.left) * 2, now.top + (now.bottom - now.top) * 2};
  SendMessageW(form1, 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(static_cast<int>(app->form1().dpi()), dpi);
  RECT button;
  GetWindowRect(Form1Control(kIdCommand4), &button);
  EXPECT_EQ(button.right - button.left, MulDiv(72, dpi, 96));
  EXPECT_EQ(button.bottom - button.top, MulDiv(25, dpi, 96));
  LOGFONTW before_font{}, after_font{};
  NONCLIENTMETRICSW ncm{};
  ncm.cbSize = sizeof ncm;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0);
  before_font = ncm.lfMessageFont;
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(Form1Control(kIdCommand4), WM_GETFONT, 0, 0)), sizeof after_font,
             &after_font);
  EXPECT_GT(std::abs(after_font.lfHeight), std::abs(before_font.lfHeight));  // the font grew with it
}

TEST_F(WindowsWin, ApplyWritesTheSettingsFile) {
  Click(Form1Control(kIdOption1First + 0));
  Click(Form1Control(kIdCommand3));
  EXPECT_FALSE(IsWindowEnabled(Form1Control(kIdCommand3)));
  WinFileStore store;
  SettingsFile file(store, SettingsPath());
  EXPECT_EQ(file.ReadIniInt("常规设置", "频率", 9), 0);
  EXPECT_EQ(file.ReadIniInt("时间控制", "启用", 9), 0);
  EXPECT_TRUE(app->program().timer_running(FormTimer::kSchedule));
}

}  // namespace
}  // namespace dadado::win32
