#include "ui/win32/host_window.h"

#include "ui/win32/ids.h"
#include "ui/win32/win_app.h"

namespace dadado::win32 {

namespace {

using ChangeWindowMessageFilterExFn = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
constexpr DWORD kMessageFilterAllow = 1;  // MSGFLT_ALLOW

}  // namespace

bool HostWindow::Create() {
  // Not a message-only window (HWND_MESSAGE): those receive no broadcasts,
  // and WM_TIMECHANGE, WM_POWERBROADCAST and TaskbarCreated are broadcasts.
  // A top-level popup that is never shown gets them; as a tool window it
  // has no taskbar button and stays out of Alt+Tab.
  if (!CreateBare(kHostWindowClass, WS_EX_TOOLWINDOW, WS_POPUP, nullptr)) return false;
  guard_started_ = RegisterWindowMessageW(L"dadado guard started");
  // The face may run at another integrity level than an elevated copy.
  static auto allow = reinterpret_cast<ChangeWindowMessageFilterExFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "ChangeWindowMessageFilterEx")));
  if (allow && guard_started_) allow(hwnd(), guard_started_, kMessageFilterAllow, nullptr);
  return true;
}

void HostWindow::TellOtherCopiesGuardStarted() {
  if (!guard_started_) return;
  for (HWND h = nullptr; (h = FindWindowExW(nullptr, h, kHostWindowClass, nullptr)) != nullptr;)
    if (h != hwnd()) PostMessageW(h, guard_started_, 0, 0);
}

LRESULT HostWindow::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_TIMER:
      if (wp == kTimerSchedule) app_.OnScheduleTimer();
      else if (wp == kTimerGuard) app_.OnGuardTimer();
      else if (wp == kTimerTrayRetry) app_.tray().OnRetryTimer();
      else if (wp == kTimerPlans) app_.OnPlanTimer();
      else if (wp == kTimerUsage) app_.OnUsageTimer();
      else if (wp == kTimerFinishStart) app_.FinishStart();
      return 0;
    case WM_TIMECHANGE:
      app_.OnClockChanged();
      return 0;
    case WM_POWERBROADCAST:
      if (wp == PBT_APMRESUMEAUTOMATIC || wp == PBT_APMRESUMESUSPEND) app_.OnResumed();
      return TRUE;
    case WM_WTSSESSION_CHANGE:
      app_.OnSessionChange();
      return 0;
    case kTrayMessage:
      app_.OnTrayEvent(lp);
      return 0;
    case kNoticeMessage:
      app_.ShowNextNotice();
      return 0;
    case kFaceMessage:
      app_.OnFaceMessages();
      return 0;
    case kWokeMessage:
      app_.OnWokeForPlan();
      return 0;
    case kFinishStartMessage:
      app_.FinishStart();
      return 0;
    case 0x02E0:  // WM_DPICHANGED: nothing here is laid out; only the tray icon is drawn again
      app_.tray().OnDpiChanged(HIWORD(wp));
      return 0;
    case WM_SETTINGCHANGE:
      // Group Policy tells every top-level window when it has applied a
      // change of the machine's policy.
      if (lp && lstrcmpiW(reinterpret_cast<const wchar_t*>(lp), L"Policy") == 0) {
        app_.OnPolicyChanged();
        return 0;
      }
      [[fallthrough]];
    case WM_DISPLAYCHANGE:
      // The system's scale may have changed without a WM_DPICHANGED reaching
      // a window that is never shown.
      app_.tray().OnDpiChanged(DpiOf(hwnd()));
      return DefWindowProcW(hwnd(), msg, wp, lp);
    default:
      if (msg != 0 && msg == guard_started_) {
        app_.OnGuardStarted();
        return 0;
      }
      if (msg != 0 && msg == app_.tray().taskbar_created_message()) {
        app_.tray().OnTaskbarCreated();
        return 0;
      }
      return DefWindowProcW(hwnd(), msg, wp, lp);
  }
}

}  // namespace dadado::win32
