// 今日加时: modal, code-created, laid out at 96 DPI. The window is already
// open through the password, so it asks for none; the program grants the
// minutes and says why when it does not.
#include <windows.h>
#include <commctrl.h>

#include "scheduler/daily_use.h"
#include "system/win32/wide.h"
#include "ui/win32/app_windows.h"
#include "ui/win32/ids.h"

namespace dadado::win32 {

namespace {

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr int kWidth = 320, kHeight = 168;

}  // namespace

bool ExtraTimeDialog::Open(HWND owner) {
  if (!CreateTopLevel(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, WS_POPUP | WS_CAPTION | WS_SYSMENU, L"今日加时",
                      kWidth, kHeight, owner))
    return false;
  AddControl(WC_STATICW, L"只对今天有效：每日限时增加这些分钟；允许使用的时间已过时，从现在起还可以使用这些分钟。",
             kChild | SS_LEFT, {12, 10, 296, 36}, kIdStatic);
  AddControl(WC_STATICW, L"账户(&A):", kChild | SS_LEFT, {12, 57, 72, 16}, kIdStatic);
  HWND account = AddControl(WC_COMBOBOXW, L"", kChild | WS_TABSTOP | WS_GROUP | WS_VSCROLL | CBS_DROPDOWNLIST,
                            {86, 53, 222, 200}, kIdExtraAccount);
  for (const Account& a : accounts_)
    SendMessageW(account, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(a.name).c_str()));
  SendMessageW(account, CB_SETCURSEL, chosen_, 0);
  AddControl(WC_STATICW, L"时间(&M):", kChild | SS_LEFT, {12, 91, 72, 16}, kIdStatic);
  HWND minutes = AddControl(WC_EDITW, L"", kChild | WS_TABSTOP | WS_GROUP | WS_BORDER | ES_AUTOHSCROLL | ES_NUMBER,
                            {86, 88, 50, 23}, kIdExtraMinutes, WS_EX_CLIENTEDGE);
  SendMessageW(minutes, EM_SETLIMITTEXT, 3, 0);
  HWND spin = AddControl(UPDOWN_CLASSW, L"", kChild | UDS_AUTOBUDDY | UDS_SETBUDDYINT | UDS_ARROWKEYS | UDS_NOTHOUSANDS,
                         {136, 88, 18, 23}, kIdExtraMinutesSpin);
  SendMessageW(spin, UDM_SETRANGE32, kMinExtraMinutes, kMaxExtraMinutes);
  SendMessageW(spin, UDM_SETPOS32, 0, kDefaultExtraMinutes);
  AddControl(WC_STATICW,
             Widen("分钟（" + std::to_string(kMinExtraMinutes) + " 到 " + std::to_string(kMaxExtraMinutes) + "）"),
             kChild | SS_LEFT, {160, 91, 148, 16}, kIdStatic);
  AddControl(WC_BUTTONW, L"确定", kChild | WS_TABSTOP | WS_GROUP | BS_DEFPUSHBUTTON, {kWidth - 168, kHeight - 38, 76, 26},
             IDOK);
  AddControl(WC_BUTTONW, L"取消", kChild | WS_TABSTOP, {kWidth - 88, kHeight - 38, 76, 26}, IDCANCEL);
  ShowWindow(hwnd(), SW_SHOW);
  SetForegroundWindow(hwnd());
  SetFocus(minutes);
  SendMessageW(minutes, EM_SETSEL, 0, -1);
  return true;
}

void ExtraTimeDialog::Grant() {
  const int index = static_cast<int>(SendMessageW(GetDlgItem(hwnd(), kIdExtraAccount), CB_GETCURSEL, 0, 0));
  if (index < 0 || index >= static_cast<int>(accounts_.size())) {
    screen_.ShowMessage("请选择一个账户。", "提示", MessageIcon::kWarning, MessageButtons::kOk);
    return;
  }
  // What is no number is no time either: the program names the range.
  const int minutes = TypedWholeNumber(Narrow(TextOf(GetDlgItem(hwnd(), kIdExtraMinutes)))).value_or(0);
  const Account& a = accounts_[index];
  if (!program_.GrantExtraTime(a.name, a.sid, minutes)) {
    // Closed behind the dialog's back: nothing more can be granted from it.
    if (!program_.AcceptsInput(kTimeControlTab)) Finish(false);
    return;
  }
  granted_account_ = a.name;
  granted_minutes_ = minutes;
  Finish(true);
}

LRESULT ExtraTimeDialog::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND: {
      const int id = LOWORD(wp), code = HIWORD(wp);
      if (id == IDOK && code == BN_CLICKED) Grant();
      else if (id == IDCANCEL && code == BN_CLICKED) Finish(false);
      return 0;
    }
    case WM_CTLCOLORSTATIC:
      SetBkColor(reinterpret_cast<HDC>(wp), GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    case WM_CLOSE:
      Finish(false);
      return 0;
    default:
      return Window::HandleMessage(msg, wp, lp);
  }
}

}  // namespace dadado::win32
