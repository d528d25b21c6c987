// Installing and removing the guard with the service manager.
#include <vector>

#include "guard/win32/guard_win.h"
#include "system/win32/win_os.h"

namespace dadado::win32 {

namespace {

struct ServiceTraits {
  static bool Valid(SC_HANDLE) { return true; }
  static void Close(SC_HANDLE h) { CloseServiceHandle(h); }
};
using UniqueService = UniqueOf<SC_HANDLE, ServiceTraits>;

std::wstring ErrorText(DWORD code) {
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring s = text ? text : L"";
  if (text) LocalFree(text);
  while (!s.empty() && (s.back() == L'\n' || s.back() == L'\r')) s.pop_back();
  return s;
}

GuardSetupResult Failed(GuardSetupOutcome outcome) {
  const DWORD code = GetLastError();
  return {outcome, code, ErrorText(code), false};
}

std::wstring FolderOf(const std::wstring& path) {
  const auto slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? L"." : path.substr(0, slash);
}

std::wstring SettingsPathOf(const std::wstring& exe) {
  const std::wstring folder = FolderOf(exe);
  std::wstring base = exe.substr(folder.size() + 1);
  if (base.size() > 4 && _wcsicmp(base.c_str() + base.size() - 4, L".exe") == 0) base.resize(base.size() - 4);
  return folder + L"\\" + base + L".ini";
}

// What a missing file would mean for the rights: its folder decides.
bool Writable(const std::wstring& path) {
  const auto r = WritableByStandardUsers(path);
  return r ? *r : false;
}

}  // namespace

GuardSetupResult InstallGuardService(const GuardServiceConfig& config) {
  const std::wstring exe = config.executable.empty() ? WinOperatingSystem::ModulePath() : config.executable;
  // The service runs this file as LocalSystem where it lies: whoever may
  // replace it, put a file beside it or edit its settings can undo the
  // guard. The administrator is warned; the choice of folder stays theirs.
  const bool writable = config.check_rights &&
                        (Writable(FolderOf(exe)) || Writable(exe) || Writable(SettingsPathOf(exe)));
  UniqueService scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
  if (!scm) {
    return Failed(GetLastError() == ERROR_ACCESS_DENIED ? GuardSetupOutcome::kNotAdministrator
                                                          : GuardSetupOutcome::kRefused);
  }
  const std::wstring command = L"\"" + exe + L"\" " + kGuardServiceArgument;
  UniqueService service(CreateServiceW(scm.get(), config.name.c_str(), config.display_name.c_str(),
                                       SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                       SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr, nullptr,
                                       nullptr));
  if (!service && GetLastError() == ERROR_SERVICE_EXISTS) {
    // Installing again points the service at this copy.
    service = UniqueService(OpenServiceW(scm.get(), config.name.c_str(), SERVICE_ALL_ACCESS));
    if (!service) return Failed(GuardSetupOutcome::kRefused);
    if (!ChangeServiceConfigW(service.get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                              command.c_str(), nullptr, nullptr, nullptr, L"LocalSystem", nullptr,
                              config.display_name.c_str()))
      return Failed(GuardSetupOutcome::kRefused);
  }
  if (!service) return Failed(GetLastError() == ERROR_ACCESS_DENIED ? GuardSetupOutcome::kNotAdministrator
                                                                     : GuardSetupOutcome::kRefused);
  std::wstring description = config.description;
  SERVICE_DESCRIPTIONW desc{description.data()};
  if (!ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, &desc)) return Failed(GuardSetupOutcome::kRefused);
  // Restarted five seconds after every failure; the count starts again
  // after a day without one.
  SC_ACTION actions[3] = {{SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 5000}};
  SERVICE_FAILURE_ACTIONSW failure{24 * 60 * 60, nullptr, nullptr, 3, actions};
  if (!ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, &failure))
    return Failed(GuardSetupOutcome::kRefused);
  if (config.start && !StartServiceW(service.get(), 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
    return Failed(GuardSetupOutcome::kRefused);
  return {GuardSetupOutcome::kDone, 0, {}, writable};
}

GuardSetupResult UninstallGuardService(const std::wstring& name) {
  UniqueService scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!scm) return Failed(GuardSetupOutcome::kRefused);
  UniqueService service(OpenServiceW(scm.get(), name.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
  if (!service) {
    switch (GetLastError()) {
      case ERROR_SERVICE_DOES_NOT_EXIST: return Failed(GuardSetupOutcome::kNotInstalled);
      case ERROR_ACCESS_DENIED: return Failed(GuardSetupOutcome::kNotAdministrator);
      default: return Failed(GuardSetupOutcome::kRefused);
    }
  }
  SERVICE_STATUS status{};
  if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
    for (int i = 0; i < 100 && status.dwCurrentState != SERVICE_STOPPED; ++i) {
      Sleep(100);
      if (!QueryServiceStatus(service.get(), &status)) break;
    }
  } else if (GetLastError() == ERROR_ACCESS_DENIED) {
    return Failed(GuardSetupOutcome::kNotAdministrator);
  }
  if (!DeleteService(service.get()) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
    return Failed(GetLastError() == ERROR_ACCESS_DENIED ? GuardSetupOutcome::kNotAdministrator
                                                         : GuardSetupOutcome::kRefused);
  return {};
}

}  // namespace dadado::win32
