// dadado: scheduled restart, shutdown and log-off, and allowed hours of use.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <string>

#include "guard/win32/guard_commands.h"
#include "guard/win32/guard_win.h"
#include "ui/win32/win_app.h"

namespace {

// The one argument the executable knows, or empty; anything else starts
// the program as usual.
std::wstring Argument() {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  std::wstring first = args && count > 1 ? args[1] : L"";
  if (args) LocalFree(args);
  return first;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  using namespace dadado::win32;
  const std::wstring arg = Argument();
  if (lstrcmpiW(arg.c_str(), kGuardServiceArgument) == 0) return RunGuardService() ? 0 : 1;
  if (lstrcmpiW(arg.c_str(), L"/install-guard") == 0) return RunGuardCommand(true);
  if (lstrcmpiW(arg.c_str(), L"/uninstall-guard") == 0) return RunGuardCommand(false);

  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_TAB_CLASSES | ICC_DATE_CLASSES | ICC_BAR_CLASSES};
  InitCommonControlsEx(&icc);
  WinApp app;
  if (!app.Start()) return app.exit_code();
  // The guard, when installed, sees from this that the program is there
  // and leaves the acting to it. Only a copy that passed the check for
  // another one announces itself: a second copy waiting at its message must
  // not hold the guard off while the first is ended.
  UniqueHandle announcement = AnnounceProgram();
  const int code = app.Run();
  // Only Exit lets the guard leave the program ended; it ends cleanly then.
  if (app.program().exited_by_user()) {
    TellGuardExitRequested();
    return 0;
  }
  return code;
}
