#include "ui/win32/win_app.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include "system/win32/wide.h"
#include "ui/win32/ids.h"

namespace dadado::win32 {

namespace {

constexpr UINT kTrayIconId = 1;

// The schedule tick runs just after each whole second, so that every tick
// falls into its own second even when the timer comes a little late.
constexpr UINT kTickOffsetMs = 20;

UINT DelayToNextSecond() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return 1000 - st.wMilliseconds + kTickOffsetMs;
}

}  // namespace

LocalDateTime WinClock::Now() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return LocalDateTime{{st.wYear, st.wMonth, st.wDay}, st.wHour * 3600 + st.wMinute * 60 + st.wSecond};
}

WinApp::WinApp() {
  settings_ = std::make_unique<SettingsFile>(
      files_, SettingsFilePath(os_.ExecutableFolder(), os_.ExecutableBaseName(), os_.PathSeparator()));
  program_ = std::make_unique<Program>(*settings_, os_, *this, clock_);
  hooks_.refresh = [this] { Refresh(); };
  hooks_.tray_event = [this](LPARAM lp) { OnTrayEvent(lp); };
  hooks_.taskbar_created = [this] {
    // A new taskbar has none of the old icons; whatever may be left of ours
    // is cleared before it is added again.
    RemoveTrayIcon();
    tray_added_ = false;
    if (tray_shown_) AddTrayIcon();
  };
  hooks_.schedule_timer_fired = [this] {
    if (ended_) return;
    ArmScheduleTimer();
    // The tick changes nothing the settings window shows; the countdown
    // screen it may open draws itself. Not mirroring every second keeps the
    // program's idle cost near that of an empty timer.
    program_->Timer1_Timer();
  };
  hooks_.clock_changed = [this] {
    program_->ClockDiscontinuity();
    if (program_->timer_running(FormTimer::kSchedule)) ArmScheduleTimer();
  };
  form1_ = std::make_unique<Form1Window>(*program_, hooks_);
  splash_ = std::make_unique<SplashWindow>(*program_, hooks_);
  check_password_ = std::make_unique<PasswordWindow>(PasswordWindow::Kind::kCheck, *program_, hooks_);
  set_password_ = std::make_unique<PasswordWindow>(PasswordWindow::Kind::kChange, *program_, hooks_);
}

WinApp::~WinApp() {
  RemoveTrayIcon();
  if (tray_icon_) DestroyIcon(tray_icon_);
}

bool WinApp::Start() {
  if (!form1_->Create()) return false;
  program_->Start();
  return !ended_;
}

int WinApp::Run() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (PreTranslate(&msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

bool WinApp::PreTranslate(MSG* msg) {
  for (Window* w : std::initializer_list<Window*>{check_password_.get(), splash_.get(), form1_.get()}) {
    HWND h = w->hwnd();
    if (h && (msg->hwnd == h || IsChild(h, msg->hwnd)) && IsDialogMessageW(h, msg)) return true;
  }
  return false;
}

void WinApp::ShowSettingsWindow(bool visible) {
  HWND h = form1_->hwnd();
  if (!h) return;
  if (visible) {
    form1_->Mirror();
    ShowWindow(h, SW_SHOW);
    SetForegroundWindow(h);
  } else {
    ShowWindow(h, SW_HIDE);
  }
}

void WinApp::ArmScheduleTimer() { SetTimer(form1_->hwnd(), kTimerSchedule, DelayToNextSecond(), nullptr); }

void WinApp::SetTimerRunning(FormTimer timer, bool running) {
  HWND h = form1_->hwnd();
  if (!h) return;
  if (timer == FormTimer::kSchedule) {
    if (running) ArmScheduleTimer();
    else KillTimer(h, kTimerSchedule);
  } else if (running) {
    SetTimer(h, kTimerGuard, kGuardIntervalMs, nullptr);
  } else {
    KillTimer(h, kTimerGuard);
  }
}

MessageAnswer WinApp::ShowMessage(const std::string& text, const std::string& title, MessageIcon icon,
                                  MessageButtons buttons) {
  shown_messages.push_back(text);
  if (answer_messages) return scripted_answer;
  UINT type = buttons == MessageButtons::kOkCancel ? MB_OKCANCEL : MB_OK;
  switch (icon) {
    case MessageIcon::kCritical: type |= MB_ICONHAND; break;
    case MessageIcon::kQuestion: type |= MB_ICONQUESTION; break;
    case MessageIcon::kWarning: type |= MB_ICONWARNING; break;
    case MessageIcon::kInformation: type |= MB_ICONINFORMATION; break;
  }
  HWND owner = GetActiveWindow();
  if (!owner && !IsWindowVisible(form1_->hwnd())) type |= MB_SETFOREGROUND | MB_TOPMOST;
  int answer = MessageBoxW(owner, Widen(text).c_str(), Widen(title).c_str(), type);
  return answer == IDOK ? MessageAnswer::kOk : MessageAnswer::kCancel;
}

void WinApp::SetTrayIcon(bool shown, const std::string& tooltip) {
  tray_tip_ = Widen(tooltip);
  tray_shown_ = shown;
  if (shown) AddTrayIcon();
  else RemoveTrayIcon();
}

void WinApp::AddTrayIcon() {
  if (!form1_->hwnd()) return;
  // The small-icon size of the screen the window is on.
  if (!tray_icon_) tray_icon_ = LoadProgramIcon(MetricForDpi(SM_CXSMICON, DpiOf(form1_->hwnd())));
  NOTIFYICONDATAW nid{};
  nid.cbSize = sizeof nid;
  nid.hWnd = form1_->hwnd();
  nid.uID = kTrayIconId;
  nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  nid.uCallbackMessage = kTrayMessage;
  nid.hIcon = tray_icon_;
  lstrcpynW(nid.szTip, tray_tip_.c_str(), ARRAYSIZE(nid.szTip));
  if (tray_added_) {
    Shell_NotifyIconW(NIM_MODIFY, &nid);
  } else {
    tray_added_ = Shell_NotifyIconW(NIM_ADD, &nid) != FALSE;
    if (tray_added_) ++tray_adds_;
  }
}

void WinApp::RemoveTrayIcon() {
  if (!tray_added_ || !form1_ || !form1_->hwnd()) return;
  NOTIFYICONDATAW nid{};
  nid.cbSize = sizeof nid;
  nid.hWnd = form1_->hwnd();
  nid.uID = kTrayIconId;
  Shell_NotifyIconW(NIM_DELETE, &nid);
  tray_added_ = false;
}

void WinApp::OnTrayEvent(LPARAM lp) {
  if (ended_) return;
  switch (LOWORD(lp)) {
    case WM_RBUTTONDOWN: program_->TrayIcon_MouseDown(2); break;
    case WM_LBUTTONDOWN: program_->TrayIcon_MouseDown(1); break;
    case WM_MBUTTONDOWN: program_->TrayIcon_MouseDown(4); break;
    case WM_LBUTTONDBLCLK: program_->TrayIcon_DblClick(); break;
    default: return;
  }
  Refresh();
}

void WinApp::PopUpTrayMenu() {
  HMENU menu = CreatePopupMenu();
  HMENU run_now = CreatePopupMenu();
  AppendMenuW(run_now, MF_STRING, kMenuRunNowFirst + 0, L"关闭计算机(&C)");
  AppendMenuW(run_now, MF_STRING, kMenuRunNowFirst + 1, L"重启计算机(&R)");
  AppendMenuW(run_now, MF_STRING, kMenuRunNowFirst + 2, L"注销计算机(&W)");
  AppendMenuW(menu, MF_STRING, kMenuProperties, L"程序属性(&P)");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, kMenuGeneral, L"常规设置(&C)");
  AppendMenuW(menu, MF_STRING, kMenuAdvanced, L"高级设置(&H)");
  AppendMenuW(menu, MF_STRING, kMenuTimeControl, L"时间控制(&T)");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(run_now), L"立即执行(&S)");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, kMenuAbout, L"关于(A)...");
  POINT pt;
  GetCursorPos(&pt);
  // The menu closes when the user clicks elsewhere only if our window is in
  // the foreground while it is open, and the message after it lets the
  // system finish.
  HWND owner = form1_->hwnd();
  SetForegroundWindow(owner);
  int command = static_cast<int>(TrackPopupMenuEx(menu, TPM_RIGHTBUTTON | TPM_RETURNCMD | TPM_NONOTIFY, pt.x, pt.y,
                                                  owner, nullptr));
  PostMessageW(owner, WM_NULL, 0, 0);
  DestroyMenu(menu);
  if (command) DispatchMenu(command);
}

void WinApp::DispatchMenu(int command) {
  switch (command) {
    case kMenuProperties: program_->clock_menu1_Click(); break;
    case kMenuGeneral: program_->clock_menu2_Click(); break;
    case kMenuAdvanced: program_->clock_menu3_Click(); break;
    case kMenuTimeControl: program_->clock_menu4_Click(); break;
    case kMenuAbout: program_->clock_menu5_Click(); break;
    default:
      if (command >= kMenuRunNowFirst && command < kMenuRunNowFirst + 3)
        program_->clock_menu61_Click(command - kMenuRunNowFirst);
      break;
  }
  Refresh();
}

void WinApp::OpenCountdown(bool visible) { splash_->Open(form1_->hwnd(), visible); }

void WinApp::CloseCountdown() { splash_->Close(); }

void WinApp::OpenCheckPassword() { check_password_->Open(form1_->hwnd()); }

void WinApp::CloseCheckPassword() { check_password_->Close(); }

void WinApp::FocusCheckPassword() { check_password_->FocusFirstBox(); }

void WinApp::RunSetPassword() {
  set_password_->Open(form1_->hwnd());
  set_password_->RunModal(form1_->hwnd());
}

void WinApp::CloseSetPassword() { set_password_->Close(); }

void WinApp::FocusOldPassword() { set_password_->FocusFirstBox(); }

void WinApp::EndProgram() {
  if (ended_) return;
  ended_ = true;
  RemoveTrayIcon();
  splash_->Close();
  check_password_->Close();
  set_password_->Close();
  if (form1_->hwnd()) {
    KillTimer(form1_->hwnd(), kTimerSchedule);
    KillTimer(form1_->hwnd(), kTimerGuard);
    ShowWindow(form1_->hwnd(), SW_HIDE);
  }
  PostQuitMessage(0);
}

void WinApp::Refresh() {
  if (ended_) return;
  form1_->Mirror();
  splash_->Mirror();
  check_password_->Mirror();
  set_password_->Mirror();
}

}  // namespace dadado::win32
