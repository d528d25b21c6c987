// The real program's windows for a while, to show what they hold on to: the
// WinApp hidden in the tray with a daily schedule hours away, a countdown
// opened every PERIOD seconds and cancelled with the password typed into its
// real box, the schedule timer started again by Apply, messages pumped
// meanwhile. Every minute it prints the window-manager and GDI objects, the
// handles and the memory of its process. A benchmark: it prints figures and
// fails only when the program stops behaving as a running program.
//
//   soak_win [SECONDS [PERIOD]]   (600 and 30 by default)
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "settings/settings_file.h"
#include "settings/text.h"
#include "system/win32/wide.h"
#include "system/win32/win_os.h"
#include "ui/win32/ids.h"
#include "ui/win32/win_app.h"
#include "win32/win_test_support.h"

using namespace dadado;
using namespace dadado::win32;

namespace {


// Hidden in the tray, a daily shutdown three hours from now.
bool WriteSettings() {
  WinOperatingSystem os;
  const std::string path = SettingsFilePath(os.ExecutableFolder(), os.ExecutableBaseName(), '\\');
  SYSTEMTIME now;
  GetLocalTime(&now);
  char due[64];
  std::snprintf(due, sizeof due, "%d/%d/%d %02d:%02d:%02d", now.wYear, now.wMonth, now.wDay, (now.wHour + 3) % 24,
                now.wMinute, now.wSecond);
  const std::string ini = std::string("[常规设置]\r\n频率= 0\r\n定时时间=") + due +
                          "\r\n操作方式= 1\r\n启动后隐藏界面= 1\r\n关机画面= 1\r\n";
  FILE* f = _wfopen(Widen(path).c_str(), L"wb");
  if (!f) return false;
  const std::string bytes = Utf8ToGbk(ini);
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

BOOL CALLBACK CountChild(HWND, LPARAM lp) {
  ++*reinterpret_cast<int*>(lp);
  return TRUE;
}

BOOL CALLBACK CountTop(HWND h, LPARAM lp) {
  ++*reinterpret_cast<int*>(lp);
  EnumChildWindows(h, CountChild, lp);
  return TRUE;
}

// The windows of this thread, with their controls: what the window manager
// holds for us, counted by hand, since Wine may not count its objects.
int WindowCount() {
  int n = 0;
  EnumThreadWindows(GetCurrentThreadId(), CountTop, reinterpret_cast<LPARAM>(&n));
  return n;
}

void Report(const char* label, int minute, int countdowns) {
  const DWORD user = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
  const DWORD gdi = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  DWORD handles = 0;
  GetProcessHandleCount(GetCurrentProcess(), &handles);
  PROCESS_MEMORY_COUNTERS pmc{};
  pmc.cb = sizeof pmc;
  GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc);
  std::printf("%s %d countdowns=%d user_objects=%lu gdi_objects=%lu windows=%d handles=%lu private_bytes=%zu working_set=%zu\n",
              label, minute, countdowns, user, gdi, WindowCount(), handles, static_cast<std::size_t>(pmc.PagefileUsage),
              static_cast<std::size_t>(pmc.WorkingSetSize));
  std::fflush(stdout);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const int seconds = argc > 1 ? _wtoi(argv[1]) : 600;
  const int period = argc > 2 ? _wtoi(argv[2]) : 30;
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_TAB_CLASSES | ICC_DATE_CLASSES | ICC_BAR_CLASSES};
  InitCommonControlsEx(&icc);
  if (!WriteSettings()) {
    std::printf("FAILED the settings file could not be written\n");
    return 1;
  }
  WinApp app(MachineGuard());
  app.answer_messages = true;
  if (!app.Start()) {
    std::printf("FAILED the program ended during start-up\n");
    return 1;
  }
  Pump(2000);
  Report("MINUTE", 0, 0);
  int countdowns = 0;
  const ULONGLONG started = GetTickCount64();
  ULONGLONG next_countdown = started + period * 1000ULL;
  int minute = 0;
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    if (now >= started + seconds * 1000ULL) break;
    if (now >= next_countdown) {
      next_countdown += period * 1000ULL;
      app.program().OpenShutdownScreen(1);
      Pump(1500);  // it counts a second on screen
      HWND splash = app.splash().hwnd();
      if (!splash) {
        std::printf("FAILED no countdown window\n");
        return 1;
      }
      SetWindowTextW(GetDlgItem(splash, kIdSplashPassword), L"mossgate");
      SendMessageW(splash, WM_COMMAND, IDOK, 0);
      if (IsWindow(splash)) {
        std::printf("FAILED the password did not close the countdown\n");
        return 1;
      }
      // The right password stops the timers; Apply starts the chosen one again.
      app.program().Command3_Click();
      ++countdowns;
    }
    if (now >= started + (minute + 1) * 60000ULL) Report("MINUTE", ++minute, countdowns);
    Pump(200);
  }
  Report("END", minute, countdowns);
  std::printf("DONE countdowns=%d\n", countdowns);
  std::fflush(stdout);
  return 0;
}
