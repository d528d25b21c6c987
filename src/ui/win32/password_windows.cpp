#include <windows.h>
#include <commctrl.h>
#include <imm.h>

#include <utility>

#include "system/win32/wide.h"
#include "ui/win32/app_windows.h"
#include "ui/win32/ids.h"

namespace dadado::win32 {

namespace {

constexpr int kMaxPasswordLength = 25;

HWND PasswordBox(HWND box, wchar_t mask) {
  SendMessageW(box, EM_SETPASSWORDCHAR, mask, 0);
  SendMessageW(box, EM_SETLIMITTEXT, kMaxPasswordLength, 0);
  // Characters come straight from the keyboard, not through an input method.
  ImmAssociateContext(box, nullptr);
  return box;
}

}  // namespace

const PasswordDialog& PasswordWindow::State() const {
  return kind_ == Kind::kCheck ? program_.check_password() : program_.set_password();
}

void PasswordWindow::Open(HWND owner) {
  if (hwnd()) {
    Mirror();
    ShowWindow(hwnd(), SW_SHOW);
    SetForegroundWindow(hwnd());
    return;
  }
  const bool check = kind_ == Kind::kCheck;
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  if (!CreateTopLevel(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, style, check ? L"请输入权限密码：" : L"更改密码",
                      check ? 250 : 281, check ? 95 : 103, owner))
    return;
  picture_control_ = AddControl(WC_STATICW, L"", WS_VISIBLE | SS_ICON | SS_CENTERIMAGE,
                                check ? Rect96{16, 16, 32, 32} : Rect96{8, 8, 32, 32}, kIdStatic);
  OnDpiChanged();
  const DWORD box = WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD;
  if (check) {
    PasswordBox(AddControl(WC_EDITW, L"", box, {64, 16, 161, 25}, kIdPasswordBox, WS_EX_CLIENTEDGE), L'*');
    AddControl(WC_BUTTONW, L"确定", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, {32, 56, 76, 26}, IDOK);
    AddControl(WC_BUTTONW, L"取消", WS_VISIBLE | WS_TABSTOP, {144, 56, 76, 26}, IDCANCEL);
  } else {
    AddControl(WC_STATICW, L"原密码(&P):", WS_VISIBLE | SS_LEFT, {48, 12, 62, 14}, kIdStatic);
    PasswordBox(AddControl(WC_EDITW, L"", box, {112, 9, 155, 23}, kIdPasswordBox, WS_EX_CLIENTEDGE), L'#');
    AddControl(WC_STATICW, L"新密码(&P):", WS_VISIBLE | SS_LEFT, {48, 40, 62, 14}, kIdStatic);
    PasswordBox(AddControl(WC_EDITW, L"", box, {112, 35, 155, 23}, kIdNewPasswordBox, WS_EX_CLIENTEDGE), L'*');
    AddControl(WC_BUTTONW, L"确定", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, {40, 68, 76, 26}, IDOK);
    AddControl(WC_BUTTONW, L"取消", WS_VISIBLE | WS_TABSTOP, {168, 68, 76, 26}, IDCANCEL);
  }
  Mirror();
  ShowWindow(hwnd(), SW_SHOW);
  SetForegroundWindow(hwnd());
  FocusFirstBox();
}

void PasswordWindow::Close() {
  if (!hwnd()) return;
  HWND owner = GetWindow(hwnd(), GW_OWNER);
  if (owner && !IsWindowEnabled(owner)) EnableWindow(owner, TRUE);
  Destroy();
  picture_control_ = nullptr;
  picture_.reset();
}

void PasswordWindow::OnDpiChanged() {
  if (!picture_control_) return;
  UniqueIcon old = std::move(picture_);
  picture_ = MakeProgramIcon(Scale(32));
  SendMessageW(picture_control_, STM_SETICON, reinterpret_cast<WPARAM>(picture_.get()), 0);
}

void PasswordWindow::FocusFirstBox() {
  if (hwnd()) SetFocus(GetDlgItem(hwnd(), kIdPasswordBox));
}

void PasswordWindow::Mirror() {
  if (!hwnd()) return;
  mirroring_ = true;
  SetSecretTextIfDifferent(GetDlgItem(hwnd(), kIdPasswordBox), State().text);
  if (kind_ == Kind::kChange) SetSecretTextIfDifferent(GetDlgItem(hwnd(), kIdNewPasswordBox), State().new_text);
  mirroring_ = false;
}

void PasswordWindow::RunModal(HWND disabled_owner, const std::function<bool(MSG*)>& pre_translate) {
  if (!hwnd()) return;
  if (disabled_owner) EnableWindow(disabled_owner, FALSE);
  MSG msg;
  while (hwnd()) {
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) {
      PostQuitMessage(static_cast<int>(msg.wParam));  // the outer loop ends too
      break;
    }
    if (pre_translate(&msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (disabled_owner && IsWindow(disabled_owner)) {
    EnableWindow(disabled_owner, TRUE);
    SetForegroundWindow(disabled_owner);
  }
}

LRESULT PasswordWindow::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  const bool check = kind_ == Kind::kCheck;
  switch (msg) {
    case WM_COMMAND: {
      if (mirroring_) return 0;
      const int id = LOWORD(wp);
      if (HIWORD(wp) == EN_CHANGE) {
        // From the box of ours the message names, never from the window it
        // carries: anyone may send this.
        HWND box = id == kIdPasswordBox || (!check && id == kIdNewPasswordBox) ? FindControl(id) : nullptr;
        if (!box) return 0;
        std::string text = SecretTextOf(box);
        if (check) program_.CheckPassword_SetText(text);
        else if (id == kIdPasswordBox) program_.SetPassword_SetOld(text);
        else program_.SetPassword_SetNew(text);
        WipeString(text);
        return 0;
      }
      if (id == IDOK) {
        if (check) program_.CheckPassword_cmdOK_Click();
        else program_.SetPassword_cmdOK_Click();
      } else if (id == IDCANCEL) {
        if (check) program_.CheckPassword_cmdCancel_Click();
        else program_.SetPassword_cmdCancel_Click();
      } else {
        return 0;
      }
      screen_.Refresh();
      return 0;
    }
    case WM_CLOSE:
      if (check) program_.CheckPassword_cmdCancel_Click();
      else program_.SetPassword_cmdCancel_Click();
      screen_.Refresh();
      return 0;
    case WM_CTLCOLORSTATIC: {
      SetBkColor(reinterpret_cast<HDC>(wp), GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    default:
      return Window::HandleMessage(msg, wp, lp);
  }
}

}  // namespace dadado::win32
