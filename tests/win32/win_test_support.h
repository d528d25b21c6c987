// What the Windows tests share: pumping the thread's messages for a while,
// the settings file of the test executable, the guard, the text of a window.
#pragma once

#include <windows.h>

#include <string>

#include "guard/win32/win_guard_management.h"
#include "settings/settings_file.h"
#include "system/win32/win_os.h"

namespace dadado::win32 {

inline void Pump(DWORD ms) {
  const ULONGLONG until = GetTickCount64() + ms;
  MSG msg;
  while (GetTickCount64() < until) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

inline std::string SettingsPath() {
  WinOperatingSystem os;
  return SettingsFilePath(os.ExecutableFolder(), os.ExecutableBaseName(), '\\');
}

// The guard as the program started on this machine manages it.
inline GuardManagement& MachineGuard() {
  static WinOperatingSystem log;
  static WinGuardManagement guard(log);
  return guard;
}

inline std::wstring Text(HWND h) {
  wchar_t buf[512] = {};
  GetWindowTextW(h, buf, 512);
  return buf;
}

}  // namespace dadado::win32
