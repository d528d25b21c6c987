// dadado: scheduled restart, shutdown and log-off, and allowed hours of use.
// The composition root: which host the decisions run in is chosen here.
//   (no argument)      the program; it enforces by itself, unless the guard
//                      service runs, which then has a face of its own
//   /face R W          the guard service's face, with the pipes it handed over
//   /guard-service     the guard service, for the service manager
//   /install-guard, /uninstall-guard, /install-guard-copy,
//   /restore-settings-access (the package's uninstall)
//   /status            the status for administrators' scripts, as JSON
//   /usage             the usage history, as CSV
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "guard/win32/guard_commands.h"
#include "guard/win32/guard_win.h"
#include "guard/win32/status_command.h"
#include "guard/win32/usage_command.h"
#include "guard/win32/win_guard_management.h"
#include "system/win32/system_library.h"
#include "system/win32/win_os.h"
#include "ui/win32/start_trace.h"
#include "ui/win32/win_app.h"

namespace {

std::vector<std::wstring> Arguments() {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::wstring> list;
  for (int i = 1; args && i < count; ++i) list.emplace_back(args[i]);
  if (args) LocalFree(args);
  return list;
}

bool Is(const std::vector<std::wstring>& args, const wchar_t* name) {
  return !args.empty() && lstrcmpiW(args[0].c_str(), name) == 0;
}

int RunProgram(dadado::win32::WinApp& app) {
  if (!app.Start()) return app.exit_code();
  return app.Run();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  using namespace dadado::win32;
  StartTraceIfAsked();
  dadado::TraceMark("main");
  // Before anything loads a DLL by name: a folder the user may write to
  // (Downloads, say) could hold one of the same name.
  LoadLibrariesFromSystemFolderOnly();
  const std::vector<std::wstring> args = Arguments();
  if (Is(args, kGuardServiceArgument)) return RunGuardService() ? 0 : 1;
  if (Is(args, L"/install-guard")) return RunGuardCommand(true);
  if (Is(args, L"/uninstall-guard")) return RunGuardCommand(false);
  if (Is(args, L"/install-guard-copy")) return RunGuardCopyCommand();
  if (Is(args, L"/restore-settings-access")) return RunRestoreSettingsAccess();
  if (Is(args, kStatusArgument)) return RunStatusCommand(args);
  if (Is(args, kUsageArgument)) return RunUsageCommand(args);

  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_TAB_CLASSES | ICC_DATE_CLASSES | ICC_BAR_CLASSES};
  InitCommonControlsEx(&icc);
  // The event log's entries of installing and removing the guard from the
  // settings window are written through an OS interface of their own.
  WinOperatingSystem guard_log;
  WinGuardManagement guard(guard_log);
  if (Is(args, L"/face") && args.size() >= 3) {
    if (auto pipes = FacePipesFromArguments(args[1].c_str(), args[2].c_str())) {
      WinApp face(guard, std::move(*pipes));
      return RunProgram(face);
    }
    // Not handed over by the service: started like any other copy.
  }
  // While the guard service runs, a copy started any other way finds the
  // program running, as a second copy does. It asks while its windows are
  // made.
  guard.LookAhead();
  WinApp app(guard);
  return RunProgram(app);
}
