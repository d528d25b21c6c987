#include <windows.h>
#include <commctrl.h>

#include <utility>

#include "system/win32/wide.h"
#include "ui/win32/app_windows.h"
#include "ui/win32/ids.h"

namespace dadado::win32 {

namespace {

// The design is in twips, 15 to a pixel at 96 DPI. Controls lie in a frame
// and are placed relative to it.
constexpr int kFrameX = 120, kFrameY = 60;
Rect96 Twips(int x, int y, int w, int h, bool in_frame = true) {
  const int ox = in_frame ? kFrameX : 0, oy = in_frame ? kFrameY : 0;
  return {(x + ox) / 15, (y + oy) / 15, w / 15, h / 15};
}

}  // namespace

void SplashWindow::Open(HWND owner, bool visible) {
  if (!hwnd()) {
    // A warning before a shutdown stays on top; it has no close box, since
    // only the password may dismiss it.
    const CountdownScreen& c = program_.countdown();
    if (!CreateTopLevel(WS_EX_DLGMODALFRAME | WS_EX_TOPMOST | WS_EX_CONTROLPARENT, WS_POPUP | WS_CAPTION,
                        Widen(c.title), 4320 / 15, 1830 / 15, owner))
      return;
    AddControl(WC_BUTTONW, L"", WS_VISIBLE | BS_GROUPBOX, Twips(0, 0, 4080, 1635), kIdStatic);
    logo_control_ =
        AddControl(WC_STATICW, L"", WS_VISIBLE | SS_ICON | SS_CENTERIMAGE, Twips(240, 360, 615, 615), kIdStatic);
    OnDpiChanged();
    AddControl(WC_STATICW, Widen(c.title), WS_VISIBLE | SS_LEFT | SS_NOPREFIX, Twips(960, 240, 2775, 255), kIdSplashTitle);
    AddControl(WC_STATICW, Widen(c.action_line), WS_VISIBLE | SS_LEFT | SS_NOPREFIX, Twips(1080, 600, 2655, 255),
               kIdSplashAction);
    AddControl(WC_STATICW, Widen(c.remaining), WS_VISIBLE | SS_LEFT, Twips(960, 960, 2895, 255), kIdSplashRemaining);
    AddControl(WC_STATICW, L"输入解除密码：", WS_VISIBLE | SS_LEFT, Twips(360, 1320, 1260, 180 + 60), kIdStatic);
    HWND box = AddControl(WC_EDITW, L"", WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD,
                          Twips(1800, 1280, 1290, 270 + 60), kIdSplashPassword, WS_EX_CLIENTEDGE);
    // Not the default button: Enter in the box still cancels with the
    // password; 推迟 is a choice of its own.
    AddControl(WC_BUTTONW, L"推迟(&D)", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, Twips(3150, 1265, 870, 360),
               kIdSplashPostpone);
    SendMessageW(box, EM_SETPASSWORDCHAR, L'*', 0);
    SendMessageW(box, EM_SETLIMITTEXT, 0, 0);  // no length limit
    SetTimer(hwnd(), kTimerCountdown, kCountdownIntervalMs, nullptr);
  }
  if (visible && !IsWindowVisible(hwnd())) {
    ShowWindow(hwnd(), SW_SHOW);
    SetForegroundWindow(hwnd());
    SetFocus(GetDlgItem(hwnd(), kIdSplashPassword));
  }
  Mirror();
}

void SplashWindow::Close() {
  if (!hwnd()) return;
  KillTimer(hwnd(), kTimerCountdown);
  Destroy();
  logo_control_ = nullptr;
  logo_.reset();
}

void SplashWindow::OnDpiChanged() {
  if (!logo_control_) return;
  UniqueIcon old = std::move(logo_);
  logo_ = MakeProgramIcon(Scale(615 / 15));
  SendMessageW(logo_control_, STM_SETICON, reinterpret_cast<WPARAM>(logo_.get()), 0);
}

void SplashWindow::Mirror() {
  if (!hwnd()) return;
  mirroring_ = true;
  const CountdownScreen& c = program_.countdown();
  SetTextIfDifferent(GetDlgItem(hwnd(), kIdSplashTitle), Widen(c.title));
  SetTextIfDifferent(GetDlgItem(hwnd(), kIdSplashAction), Widen(c.action_line));
  SetTextIfDifferent(GetDlgItem(hwnd(), kIdSplashRemaining), Widen(c.remaining));
  SetSecretTextIfDifferent(GetDlgItem(hwnd(), kIdSplashPassword), c.password);
  mirroring_ = false;
}

LRESULT SplashWindow::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_TIMER:
      if (wp == kTimerCountdown) {
        program_.Countdown_Timer1_Timer();
        screen_.Refresh();
      }
      return 0;
    case WM_COMMAND:
      if (mirroring_) return 0;
      if (LOWORD(wp) == kIdSplashPassword && HIWORD(wp) == EN_CHANGE) {
        std::string typed = SecretTextOf(FindControl(kIdSplashPassword));  // ours, not the one the message names
        program_.Countdown_SetText(typed);
        WipeString(typed);
      } else if (LOWORD(wp) == IDOK) {
        // Enter in the password box. The countdown may reach zero while the
        // wrong-password message is open, which destroys this window: touch
        // nothing of it afterwards.
        program_.Countdown_Enter();
        screen_.Refresh();
      } else if (LOWORD(wp) == kIdSplashPostpone && HIWORD(wp) == BN_CLICKED) {
        // The same caution as Enter: the window may be gone afterwards.
        program_.Countdown_Postpone();
        screen_.Refresh();
      }
      return 0;
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wp);
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lp));
      SetTextColor(dc, id == kIdSplashRemaining ? RGB(0, 0, 255) : GetSysColor(COLOR_BTNTEXT));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_CLOSE:
      return 0;
    default:
      return Window::HandleMessage(msg, wp, lp);
  }
}

}  // namespace dadado::win32
