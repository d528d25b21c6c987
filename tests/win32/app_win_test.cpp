// The application around the windows: its message loops, the messages it
// shows, and the handles it holds over a long run.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "settings/settings_file.h"
#include "system/win32/wide.h"
#include "system/win32/win_os.h"
#include "ui/win32/ids.h"
#include "ui/win32/win_app.h"
#include "win32/win_test_support.h"

namespace dadado::win32 {
namespace {



int IconWidth(HICON icon) {
  ICONINFO ii{};
  if (!GetIconInfo(icon, &ii)) return 0;
  BITMAP bm{};
  GetObjectW(ii.hbmColor ? ii.hbmColor : ii.hbmMask, sizeof bm, &bm);
  if (ii.hbmColor) DeleteObject(ii.hbmColor);
  if (ii.hbmMask) DeleteObject(ii.hbmMask);
  return bm.bmWidth;
}

bool IconAlive(HICON icon) {
  ICONINFO ii{};
  if (!GetIconInfo(icon, &ii)) return false;
  if (ii.hbmColor) DeleteObject(ii.hbmColor);
  if (ii.hbmMask) DeleteObject(ii.hbmMask);
  return true;
}

HICON IconOf(HWND picture) { return reinterpret_cast<HICON>(SendMessageW(picture, STM_GETICON, 0, 0)); }

// The timer procedures below run inside the modal loops under test; this is
// their way to the program.
WinApp* g_app = nullptr;
int g_step = 0;
bool g_countdown_open_after_enter = true;

// Opens the countdown, types the password into it and presses Enter there.
void EnterPasswordIntoCountdown() {
  g_app->program().OpenShutdownScreen(1);
  g_app->Refresh();
  HWND box = GetDlgItem(g_app->splash().hwnd(), kIdSplashPassword);
  SetWindowTextW(box, L"mossgate");
  PostMessageW(box, WM_KEYDOWN, VK_RETURN, 1);
}

struct AppWin : ::testing::Test {
  std::unique_ptr<WinApp> app;
  void SetUp() override {
    DeleteFileW(Widen(SettingsPath()).c_str());
    app = std::make_unique<WinApp>(MachineGuard());
    app->answer_messages = true;
    ASSERT_TRUE(app->Start());
    g_app = app.get();
    g_step = 0;
    g_countdown_open_after_enter = true;
    Pump(100);
  }
  void TearDown() override {
    g_app = nullptr;
    app.reset();
    Pump(50);
    DeleteFileW(Widen(SettingsPath()).c_str());
  }
};

// ---- every message loop takes the countdown's password ------------------------

VOID CALLBACK WhileChangingThePassword(HWND, UINT, UINT_PTR id, DWORD) {
  HWND dialog = FindWindowW(nullptr, L"更改密码");
  if (!dialog) return;
  if (g_step++ == 0) {
    EnterPasswordIntoCountdown();
    return;
  }
  KillTimer(nullptr, id);
  g_countdown_open_after_enter = g_app->program().countdown().exists;
  SendMessageW(dialog, WM_CLOSE, 0, 0);
}

TEST_F(AppWin, TheCountdownTakesThePasswordWhileTheChangePasswordDialogIsOpen) {
  SetTimer(nullptr, 0, 100, &WhileChangingThePassword);
  app->program().Label7_MouseDown();
  app->program().Label7_MouseUp();  // runs the modal dialog until the timer closes it
  EXPECT_FALSE(g_countdown_open_after_enter);
  EXPECT_FALSE(app->program().countdown().exists);
  EXPECT_FALSE(IsWindow(app->set_password().hwnd()));
}

VOID CALLBACK WhileAMessageBoxIsOpen(HWND, UINT, UINT_PTR id, DWORD) {
  HWND box = FindWindowW(L"#32770", L"dadado");
  if (!box) return;
  if (g_step++ == 0) {
    EnterPasswordIntoCountdown();
    return;
  }
  KillTimer(nullptr, id);
  g_countdown_open_after_enter = g_app->program().countdown().exists;
  SendMessageW(box, WM_COMMAND, IDOK, 0);
}

TEST_F(AppWin, TheCountdownTakesThePasswordWhileAMessageBoxIsOpen) {
  app->answer_messages = false;
  SetTimer(nullptr, 0, 100, &WhileAMessageBoxIsOpen);
  app->ShowMessage("请稍候", "dadado", MessageIcon::kInformation, MessageButtons::kOk);
  EXPECT_FALSE(g_countdown_open_after_enter);
  EXPECT_FALSE(app->program().countdown().exists);
}

// ---- messages ---------------------------------------------------------------------

bool g_notice_call_returned = false;
bool g_notice_seen_before_return = false;

VOID CALLBACK AnswerTheNotice(HWND, UINT, UINT_PTR id, DWORD) {
  HWND box = FindWindowW(L"#32770", L"dadado");
  if (!box) return;
  KillTimer(nullptr, id);
  g_notice_seen_before_return = !g_notice_call_returned;
  SendMessageW(box, WM_COMMAND, IDOK, 0);
}

TEST_F(AppWin, ANoticeIsShownFromTheMessageLoopNotFromItsCaller) {
  app->answer_messages = false;
  g_notice_call_returned = false;
  g_notice_seen_before_return = false;
  SetTimer(nullptr, 0, 50, &AnswerTheNotice);
  app->ShowNotice("关机失败", "dadado", MessageIcon::kCritical);
  g_notice_call_returned = true;
  ASSERT_FALSE(app->shown_messages.empty());
  EXPECT_EQ(app->shown_messages.back(), "关机失败");
  for (int waited = 0; waited < 50 && FindWindowW(L"#32770", L"dadado") == nullptr && !g_notice_seen_before_return;
       ++waited)
    Pump(100);
  Pump(300);
  EXPECT_FALSE(g_notice_seen_before_return);
  EXPECT_EQ(FindWindowW(L"#32770", L"dadado"), nullptr);
}

TEST_F(AppWin, TheRecordOfShownMessagesStaysBounded) {
  for (int i = 0; i < 100; ++i)
    app->ShowMessage("消息" + std::to_string(i), "dadado", MessageIcon::kInformation, MessageButtons::kOk);
  EXPECT_LE(app->shown_messages.size(), 16u);
  ASSERT_FALSE(app->shown_messages.empty());
  EXPECT_EQ(app->shown_messages.back(), "消息99");
}

// Wine cannot say whether the session is locked, and any program may post
// the message that tells of a lock: today's use goes on counting.
TEST_F(AppWin, APostedLockTheSystemCannotConfirmStopsNoCount) {
  ASSERT_FALSE(WinOperatingSystem().SessionLocked().has_value());
  SendMessageW(app->host().hwnd(), WM_WTSSESSION_CHANGE, 0x7 /* WTS_SESSION_LOCK */, 0);
  EXPECT_TRUE(app->program().daily_use().active());
}

// ---- handles ------------------------------------------------------------------------

TEST_F(AppWin, TheSettingsWindowsIconsGoWithIt) {
  HICON small_picture = IconOf(app->form1().Control(kIdImage1));
  HICON large_picture = IconOf(app->form1().Control(kIdImage2));
  ASSERT_TRUE(IconAlive(small_picture));
  ASSERT_TRUE(IconAlive(large_picture));
  app.reset();
  EXPECT_FALSE(IconAlive(small_picture));
  EXPECT_FALSE(IconAlive(large_picture));
}

TEST_F(AppWin, TheCountdownsLogoIsRedrawnAtANewDpi) {
  app->program().OpenShutdownScreen(1);
  HWND splash = app->splash().hwnd();
  ASSERT_TRUE(splash);
  HWND logo = nullptr;
  for (HWND c = GetWindow(splash, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
    if (IconOf(c)) logo = c;
  ASSERT_TRUE(logo);
  HICON before = IconOf(logo);
  const int dpi = static_cast<int>(app->splash().dpi()) * 2;
  RECT now;
  GetWindowRect(splash, &now);
  RECT suggested{now.left, now.top, now.left + (now.right - now.left) * 2, now.top + (now.bottom - now.top) * 2};
  SendMessageW(splash, 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(IconWidth(IconOf(logo)), MulDiv(41, dpi, 96));
  EXPECT_FALSE(IconAlive(before));
}

// Counts this process's windows and, where the system reports them, its GDI
// and USER objects.
struct Resources {
  DWORD gdi, user;
  int windows;
};
BOOL CALLBACK CountWindow(HWND, LPARAM count) {
  ++*reinterpret_cast<int*>(count);
  return TRUE;
}
Resources Count() {
  int windows = 0;
  EnumThreadWindows(GetCurrentThreadId(), &CountWindow, reinterpret_cast<LPARAM>(&windows));
  return {GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS),
          windows};
}

TEST_F(AppWin, OpeningAndClosingTheDialogsHoldsNoHandles) {
  auto cycle = [this](bool dialogs) {
    app->program().OpenShutdownScreen(0);
    HWND splash = app->splash().hwnd();
    std::vector<HICON> icons;
    for (HWND c = GetWindow(splash, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
      if (HICON i = IconOf(c)) icons.push_back(i);
    app->CloseCountdown();
    if (!dialogs) return icons;
    app->OpenCheckPassword();
    HWND dialog = app->check_password().hwnd();
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
      if (HICON i = IconOf(c)) icons.push_back(i);
    app->CloseCheckPassword();
    return icons;
  };
  for (int i = 0; i < 5; ++i) cycle(true);  // whatever is made once, on first use
  Pump(50);
  const Resources before = Count();
  for (int i = 0; i < 200; ++i) {
    // Under Wine GetGuiResources reports nothing; that every icon of a closed
    // window is gone is checked on every platform.
    for (HICON icon : cycle(i % 40 == 0)) ASSERT_FALSE(IconAlive(icon)) << "cycle " << i;
  }
  Pump(50);
  const Resources after = Count();
  std::printf("GDI objects %lu -> %lu, USER objects %lu -> %lu, windows %d -> %d\n", before.gdi, after.gdi, before.user,
              after.user, before.windows, after.windows);
  EXPECT_LE(after.gdi, before.gdi);
  EXPECT_LE(after.user, before.user);
  EXPECT_EQ(after.windows, before.windows);
}

// ---- start-up and the tray icon ----------------------------------------------------

TEST(AppStartWin, WhenTheWindowsCannotBeCreatedItSaysSoAndEnds) {
  DeleteFileW(Widen(SettingsPath()).c_str());
  WinApp app(MachineGuard());
  app.answer_messages = true;
  app.fail_window_creation = true;
  EXPECT_NE(app.Main(), 0);  // returns instead of waiting in the message loop
  ASSERT_EQ(app.shown_messages.size(), 1u);
  EXPECT_EQ(app.shown_messages[0], "无法创建程序窗口，程序将退出。");
  WinOperatingSystem next_start;
  EXPECT_FALSE(next_start.AnotherCopyRunning());
  DeleteFileW(Widen(SettingsPath()).c_str());
}

int g_adds_refused = 0;
int g_add_attempts = 0;
BOOL WINAPI ShellNotReadyAtFirst(DWORD message, PNOTIFYICONDATAW data) {
  if (message == NIM_ADD && ++g_add_attempts <= g_adds_refused) return FALSE;
  return Shell_NotifyIconW(message, data);
}

TEST(AppStartWin, TheTrayIconIsAddedOnceTheShellTakesIt) {
  DeleteFileW(Widen(SettingsPath()).c_str());
  g_adds_refused = 2;
  g_add_attempts = 0;
  {
    WinApp app(MachineGuard());
    app.answer_messages = true;
    app.tray().set_notify_function(&ShellNotReadyAtFirst);
    ASSERT_TRUE(app.Start());
    EXPECT_TRUE(app.tray_shown());
    EXPECT_FALSE(app.tray().added());
    for (int waited = 0; waited < 150 && !app.tray().added(); ++waited) Pump(100);
    EXPECT_TRUE(app.tray().added());
    EXPECT_EQ(app.tray_adds(), 1);
    EXPECT_EQ(g_add_attempts, 3);
  }
  Pump(50);
  DeleteFileW(Widen(SettingsPath()).c_str());
}

TEST_F(AppWin, TheTrayIconIsDrawnAgainAtANewDpi) {
  ASSERT_TRUE(app->tray().added());
  const UINT dpi = app->host().dpi() * 2;
  SendMessageW(app->host().hwnd(), 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(dpi, dpi), 0);
  EXPECT_EQ(IconWidth(app->tray().icon()), MetricForDpi(SM_CXSMICON, dpi));
  EXPECT_TRUE(app->tray().added());
}

TEST(ScheduleTimerWin, ItRunsJustAfterTheWantedWholeSecond) {
  struct Case {
    int seconds, ms_into_second;
    UINT delay;
  } cases[] = {
      {1, 0, 1020},    {1, 999, 21},      {2, 500, 1520},
      {60, 0, 60020},  {60, 999, 59021},  {3600, 0, 3600020},
      {0, 300, 720},   {-5, 300, 720},    {3601, 0, 3600020},  // out of range: the next second, at most an hour
  };
  for (const Case& c : cases)
    EXPECT_EQ(ScheduleDelayMs(c.seconds, c.ms_into_second), c.delay) << c.seconds << " s, " << c.ms_into_second << " ms";
}

}  // namespace
}  // namespace dadado::win32
