#include "guard/win32/guard_commands.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <psapi.h>

#include "engine/usage_recorder.h"
#include "guard/win32/guard_win.h"
#include "system/win32/wide.h"
#include "system/win32/win_os.h"

namespace dadado::win32 {

namespace {

constexpr wchar_t kInstallArgument[] = L"/install-guard";
constexpr wchar_t kUninstallArgument[] = L"/uninstall-guard";
constexpr wchar_t kCopyArgument[] = L"/install-guard-copy";
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

void Logged(OperatingSystem& log, bool install) {
  log.UpdateEventSource();
  log.WriteEvent(EventType::kInformation, events::kGuardInstalled, {install ? "安装" : "删除"});
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

// This program again, through the system's prompt for an administrator,
// with `argument`; its exit code, once it has ended, or why it never ran.
std::optional<std::string> RunElevated(const wchar_t* argument, DWORD& code) {
  const std::wstring exe = WinOperatingSystem::ModulePath();
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
  info.lpVerb = L"runas";
  info.lpFile = exe.c_str();
  info.lpParameters = argument;
  info.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&info) || !info.hProcess)
    return GetLastError() == ERROR_CANCELLED ? "没有得到管理员权限" : "需要管理员权限";
  UniqueHandle process(info.hProcess);
  code = WaitForExitCode(process.get());
  return std::nullopt;
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

GuardChange ChangeGuardInstallation(OperatingSystem& log, bool install) {
  const GuardSetupResult r = Setup(install);
  if (Succeeded(r, install)) {
    Logged(log, install);
    return {true, "", false};
  }
  if (r.outcome != GuardSetupOutcome::kNotAdministrator)
    return {false, WhyFailed(r), r.outcome == GuardSetupOutcome::kUnprotectedLocation};
  // The system's own prompt asks for an administrator; the elevated copy
  // says itself what went wrong and logs what it did.
  DWORD code = 0;
  if (auto refused = RunElevated(install ? kInstallArgument : kUninstallArgument, code)) return {false, *refused, false};
  if (code == 0) return {true, "", false};
  if (code == kUnprotectedLocationExit) return {false, kProtectedFolderAdvice, true};
  return {false, code == 5 ? "需要管理员权限" : "服务管理器拒绝了这个操作", false};
}

namespace {

// Program Files\dadado: writable only by administrators, as the folder above
// it passes on.
std::wstring GuardHome() {
  // SHGetFolderPath rather than SHGetKnownFolderPath, whose answer only
  // ole32 can free: ole32 would load with every start of the program.
  wchar_t known[MAX_PATH] = {};
  std::wstring folder = L"C:\\Program Files";
  if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, known)) && known[0])
    folder = known;
  return folder + L"\\dadado";
}

// The file this process was started from, held so that nobody can change
// it while it is copied: found by the name its image is mapped under now (a
// rename since the start follows it), never by the path it was started
// with, which another file may have taken in a folder users can write.
UniqueHandle OpenOwnImage() {
  wchar_t device[MAX_PATH * 2] = {};
  if (!GetMappedFileNameW(GetCurrentProcess(), GetModuleHandleW(nullptr), device, MAX_PATH * 2)) return {};
  const std::wstring path = L"\\\\?\\GLOBALROOT" + std::wstring(device);
  return UniqueHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
}

bool CopyOwnImage(const std::wstring& exe, const std::wstring& target) {
  UniqueHandle source = OpenOwnImage();
  if (!source) return CopyFileW(exe.c_str(), target.c_str(), FALSE) != FALSE;
  UniqueHandle out(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out) return false;
  char buffer[64 * 1024];
  for (;;) {
    DWORD got = 0, put = 0;
    if (!ReadFile(source.get(), buffer, sizeof buffer, &got, nullptr)) return false;
    if (got == 0) return true;
    if (!WriteFile(out.get(), buffer, got, &put, nullptr) || put != got) return false;
  }
}

GuardSetupResult CopyAndInstall() {
  const std::wstring exe = WinOperatingSystem::ModulePath();
  const std::wstring home = GuardHome();
  const std::wstring target = home + L"\\dadado.exe";
  auto failed = [] {
    const DWORD code = GetLastError();
    return GuardSetupResult{code == ERROR_ACCESS_DENIED ? GuardSetupOutcome::kNotAdministrator
                                                        : GuardSetupOutcome::kRefused,
                            code, L"", L""};
  };
  if (!CreateDirectoryW(home.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return failed();
  if (_wcsicmp(exe.c_str(), target.c_str()) != 0) {
    if (!CopyOwnImage(exe, target)) return failed();
    // The settings go along; a copy already there is replaced by these.
    const std::wstring ini = SettingsPathOf(exe);
    if (GetFileAttributesW(ini.c_str()) != INVALID_FILE_ATTRIBUTES &&
        !CopyFileW(ini.c_str(), SettingsPathOf(target).c_str(), FALSE))
      return failed();
  }
  GuardServiceConfig config;
  config.executable = target;
  return InstallGuardService(config);
}

}  // namespace

int RunRestoreSettingsAccess() {
  // The package's uninstall, after the service it removes has stopped: the
  // settings file stays, as the program without the guard can read it.
  const std::wstring exe = WinOperatingSystem::ModulePath();
  const std::wstring ini = SettingsPathOf(exe);
  if (GetFileAttributesW(ini.c_str()) != INVALID_FILE_ATTRIBUTES && !RestoreInheritedAccess(ini)) return 2;
  // So does the usage history the service kept.
  const std::wstring history = Widen(UsageFilePath(Narrow(ini)));
  if (GetFileAttributesW(history.c_str()) != INVALID_FILE_ATTRIBUTES) RestoreInheritedAccess(history);
  DeleteFileW((exe.substr(0, exe.size() - 4) + L".status.json").c_str());
  return 0;
}

int RunGuardCopyCommand() {
  WinOperatingSystem os;
  const GuardSetupResult r = CopyAndInstall();
  if (r.outcome != GuardSetupOutcome::kDone) {
    const std::string text = "无法安装守护服务：" + WhyFailed(r) + "。";
    MessageBoxW(nullptr, Widen(text).c_str(), L"dadado", MB_OK | MB_ICONHAND | MB_SETFOREGROUND);
    // The exit codes of /install-guard.
    if (r.outcome == GuardSetupOutcome::kNotAdministrator) return 5;
    return r.outcome == GuardSetupOutcome::kUnprotectedLocation ? kUnprotectedLocationExit : 2;
  }
  Logged(os, true);
  return 0;
}

GuardChange InstallGuardFromProgramFiles(OperatingSystem& log) {
  // As an administrator directly; otherwise the system asks for one and an
  // elevated copy of this program does it, saying itself what went wrong.
  SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
  if (scm) {
    CloseServiceHandle(scm);
    const GuardSetupResult r = CopyAndInstall();
    if (r.outcome == GuardSetupOutcome::kDone) {
      Logged(log, true);
      return {true, "", false};
    }
    return {false, WhyFailed(r), false};
  }
  DWORD code = 0;
  if (auto refused = RunElevated(kCopyArgument, code)) return {false, *refused, false};
  if (code == 0) return {true, "", false};
  return {false, code == 5 ? "需要管理员权限" : "程序没有复制或守护服务没有安装", false};
}

}  // namespace dadado::win32
