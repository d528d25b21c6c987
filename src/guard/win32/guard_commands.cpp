#include "guard/win32/guard_commands.h"

#include <windows.h>
#include <shellapi.h>

#include "guard/win32/guard_win.h"
#include "system/win32/wide.h"
#include "system/win32/win_os.h"

namespace dadado::win32 {

namespace {

constexpr wchar_t kInstallArgument[] = L"/install-guard";
constexpr wchar_t kUninstallArgument[] = L"/uninstall-guard";
// What /install-guard exits with when the location is refused.
constexpr DWORD kUnprotectedLocationExit = 3;
// Where the program must lie for the guard, said to whoever installs it.
constexpr char kProtectedFolderAdvice[] =
    "守护服务以系统权限运行本程序，所以程序必须放在只有管理员才能修改的文件夹中（例如 C:\\Program Files\\dadado）";

std::string WhyFailed(const GuardSetupResult& r) {
  switch (r.outcome) {
    case GuardSetupOutcome::kNotAdministrator: return "需要管理员权限";
    case GuardSetupOutcome::kRefused:
      return "服务管理器拒绝了这个操作（Windows 错误代码 " + std::to_string(r.error) + "：" + Narrow(r.error_text) + "）";
    case GuardSetupOutcome::kUnprotectedLocation:
      return "普通用户可能修改“" + Narrow(r.path) + "”。" + kProtectedFolderAdvice;
    case GuardSetupOutcome::kSettingsFileRefused:
      return "设置文件的访问权限无法更改（Windows 错误代码 " + std::to_string(r.error) + "：" + Narrow(r.error_text) +
             "）";
    default: return "";
  }
}

bool Succeeded(const GuardSetupResult& r, bool install) {
  // Removing what is not there leaves the machine as asked.
  return r.outcome == GuardSetupOutcome::kDone || (!install && r.outcome == GuardSetupOutcome::kNotInstalled);
}

GuardSetupResult Setup(bool install) { return install ? InstallGuardService() : UninstallGuardService(); }

void Logged(WinOperatingSystem& os, bool install) {
  os.UpdateEventSource();
  os.WriteEvent(EventType::kInformation, events::kGuardInstalled, {install ? "安装" : "删除"});
}

// Waits for the elevated copy while the windows of this one stay drawn.
DWORD WaitForExitCode(HANDLE process) {
  while (MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  DWORD code = 1;
  GetExitCodeProcess(process, &code);
  return code;
}

}  // namespace

int RunGuardCommand(bool install) {
  WinOperatingSystem os;
  const GuardSetupResult r = Setup(install);
  if (!Succeeded(r, install)) {
    const std::string text = std::string(install ? "无法安装守护服务：" : "无法删除守护服务：") + WhyFailed(r) + "。";
    MessageBoxW(nullptr, Widen(text).c_str(), L"dadado", MB_OK | MB_ICONHAND | MB_SETFOREGROUND);
    switch (r.outcome) {
      case GuardSetupOutcome::kNotAdministrator: return 5;
      case GuardSetupOutcome::kUnprotectedLocation: return kUnprotectedLocationExit;
      default: return 2;
    }
  }
  Logged(os, install);
  return 0;
}

bool GuardServiceInstalled() {
  SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!scm) return false;
  SC_HANDLE service = OpenServiceW(scm, kGuardServiceName, SERVICE_QUERY_STATUS);
  const bool installed = service != nullptr;
  if (service) CloseServiceHandle(service);
  CloseServiceHandle(scm);
  return installed;
}

OperatingSystem::GuardChange ChangeGuardInstallation(WinOperatingSystem& os, bool install) {
  const GuardSetupResult r = Setup(install);
  if (Succeeded(r, install)) {
    Logged(os, install);
    return {true, "", false};
  }
  if (r.outcome != GuardSetupOutcome::kNotAdministrator) return {false, WhyFailed(r), false};
  // The system's own prompt asks for an administrator; the elevated copy
  // says itself what went wrong and logs what it did.
  const std::wstring exe = WinOperatingSystem::ModulePath();
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
  info.lpVerb = L"runas";
  info.lpFile = exe.c_str();
  info.lpParameters = install ? kInstallArgument : kUninstallArgument;
  info.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&info) || !info.hProcess)
    return {false, GetLastError() == ERROR_CANCELLED ? "没有得到管理员权限" : "需要管理员权限", false};
  UniqueHandle process(info.hProcess);
  const DWORD code = WaitForExitCode(process.get());
  if (code == 0) return {true, "", false};
  if (code == kUnprotectedLocationExit) return {false, kProtectedFolderAdvice, false};
  return {false, code == 5 ? "需要管理员权限" : "服务管理器拒绝了这个操作", false};
}

}  // namespace dadado::win32
