#include "ui/win32/tray_icon.h"

#include <utility>

#include "ui/win32/ids.h"
#include "ui/win32/window.h"

namespace dadado::win32 {

namespace {

constexpr UINT kTrayIconId = 1;

using ChangeWindowMessageFilterExFn = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
constexpr DWORD kMessageFilterAllow = 1;  // MSGFLT_ALLOW

}  // namespace

void TrayIcon::Attach(HWND hwnd) {
  hwnd_ = hwnd;
  dpi_ = DpiOf(hwnd);
  taskbar_created_ = RegisterWindowMessageW(L"TaskbarCreated");
  // Explorer runs at a lower integrity level than an elevated copy of the
  // program, and its broadcast would be dropped on the way to our window.
  // The call is looked up at run time: older systems do not have it.
  static auto allow = reinterpret_cast<ChangeWindowMessageFilterExFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "ChangeWindowMessageFilterEx")));
  if (allow && taskbar_created_) allow(hwnd, taskbar_created_, kMessageFilterAllow, nullptr);
}

NOTIFYICONDATAW TrayIcon::Data(UINT flags) const {
  NOTIFYICONDATAW nid{};
  nid.cbSize = sizeof nid;
  nid.hWnd = hwnd_;
  nid.uID = kTrayIconId;
  nid.uFlags = flags;
  nid.uCallbackMessage = kTrayMessage;
  nid.hIcon = icon_.get();
  lstrcpynW(nid.szTip, tip_.c_str(), ARRAYSIZE(nid.szTip));
  return nid;
}

void TrayIcon::Release() {
  if (!held_) return;
  held_ = false;
  if (shown_) Show(tip_);
  if (!held_balloon_.empty()) ShowBalloon(held_balloon_);
  held_balloon_.clear();
}

void TrayIcon::Show(const std::wstring& tip) {
  tip_ = tip;
  shown_ = true;
  if (!hwnd_ || held_) return;
  if (added_) {
    NOTIFYICONDATAW nid = Data(NIF_MESSAGE | NIF_ICON | NIF_TIP);
    notify_(NIM_MODIFY, &nid);
  } else {
    Add();
  }
}

void TrayIcon::ShowBalloon(const std::wstring& text) {
  if (held_ && shown_) held_balloon_ = text;
  if (!added_) return;
  NOTIFYICONDATAW nid = Data(NIF_INFO);
  lstrcpynW(nid.szInfo, text.c_str(), ARRAYSIZE(nid.szInfo));
  lstrcpynW(nid.szInfoTitle, L"dadado", ARRAYSIZE(nid.szInfoTitle));
  nid.dwInfoFlags = NIIF_INFO;
  notify_(NIM_MODIFY, &nid);
}

void TrayIcon::Hide() {
  shown_ = false;
  held_balloon_.clear();
  Remove();
}

void TrayIcon::Add() {
  if (!icon_) icon_ = LoadProgramIcon(MetricForDpi(SM_CXSMICON, dpi_));
  NOTIFYICONDATAW nid = Data(NIF_MESSAGE | NIF_ICON | NIF_TIP);
  added_ = notify_(NIM_ADD, &nid) != FALSE;
  if (added_) {
    ++adds_;
    StopRetrying();
  } else {
    // At logon the program may start before the shell can take icons; it
    // is asked again until it does.
    StartRetrying();
  }
}

void TrayIcon::Remove() {
  StopRetrying();
  if (!added_ || !hwnd_) return;
  NOTIFYICONDATAW nid = Data(0);
  notify_(NIM_DELETE, &nid);
  added_ = false;
}

void TrayIcon::OnTaskbarCreated() {
  // Whatever may be left of ours is cleared before it is added again.
  Remove();
  if (shown_ && !held_) Add();
}

void TrayIcon::OnRetryTimer() {
  if (!shown_ || added_) {
    StopRetrying();
    return;
  }
  // An add that timed out while the shell was busy may still have taken:
  // then the icon only needs its data.
  NOTIFYICONDATAW nid = Data(NIF_MESSAGE | NIF_ICON | NIF_TIP);
  if (notify_(NIM_MODIFY, &nid)) {
    added_ = true;
    ++adds_;
    StopRetrying();
    return;
  }
  Add();
}

void TrayIcon::OnDpiChanged(UINT dpi) {
  if (dpi == 0 || (dpi == dpi_ && icon_)) return;
  dpi_ = dpi;
  if (!icon_) return;  // drawn when first added
  // The shell keeps a copy of its own; the old icon goes once it has the new.
  UniqueIcon old = std::move(icon_);
  icon_ = LoadProgramIcon(MetricForDpi(SM_CXSMICON, dpi_));
  if (added_) {
    NOTIFYICONDATAW nid = Data(NIF_ICON);
    notify_(NIM_MODIFY, &nid);
  }
}

void TrayIcon::StartRetrying() {
  if (retrying_ || !hwnd_) return;
  retrying_ = SetTimer(hwnd_, kTimerTrayRetry, kTrayRetryIntervalMs, nullptr) != 0;
}

void TrayIcon::StopRetrying() {
  if (!retrying_) return;
  KillTimer(hwnd_, kTimerTrayRetry);
  retrying_ = false;
}

}  // namespace dadado::win32
