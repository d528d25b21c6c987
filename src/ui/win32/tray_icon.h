// The program's icon in the notification area: it owns its icon handle and
// keeps the icon there through a late shell at logon, a restarted Explorer
// and a change of DPI.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "system/win32/handle.h"

namespace dadado::win32 {

class TrayIcon {
 public:
  using NotifyFunction = BOOL(WINAPI*)(DWORD, PNOTIFYICONDATAW);

  TrayIcon() = default;
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;
  ~TrayIcon() { Remove(); }

  // The window that receives the icon's mouse messages (kTrayMessage), the
  // retry timer (kTimerTrayRetry) and TaskbarCreated.
  void Attach(HWND hwnd);
  UINT taskbar_created_message() const { return taskbar_created_; }

  // Until Release the icon is only wanted, not added: start-up adds it once
  // its window is up. A balloon asked for meanwhile waits for the icon.
  void Hold() { held_ = true; }
  void Release();

  // Shows the icon with a tooltip, or changes the tooltip of a shown one.
  void Show(const std::wstring& tip);
  void Hide();
  // A balloon notice, when the icon is there.
  void ShowBalloon(const std::wstring& text);
  // Explorer started again: the new taskbar has none of the old icons.
  void OnTaskbarCreated();
  void OnRetryTimer();
  // The icon is drawn again at the small-icon size of this DPI.
  void OnDpiChanged(UINT dpi);

  bool shown() const { return shown_; }
  bool added() const { return added_; }
  const std::wstring& tip() const { return tip_; }
  int adds() const { return adds_; }
  HICON icon() const { return icon_.get(); }
  // Stands in for Shell_NotifyIconW in the tests.
  void set_notify_function(NotifyFunction f) { notify_ = f; }

 private:
  NOTIFYICONDATAW Data(UINT flags) const;
  void Add();
  void Remove();
  void StartRetrying();
  void StopRetrying();

  HWND hwnd_ = nullptr;
  UINT taskbar_created_ = 0;
  UINT dpi_ = 96;
  UniqueIcon icon_;
  std::wstring tip_;
  bool shown_ = false;   // wanted in the notification area
  bool added_ = false;   // the shell has it
  bool retrying_ = false;
  bool held_ = false;
  std::wstring held_balloon_;
  int adds_ = 0;
  NotifyFunction notify_ = &Shell_NotifyIconW;
};

}  // namespace dadado::win32
