// Installing and removing the guard with the service manager.
#include <vector>

#include "guard/guard_settings.h"
#include "engine/usage_recorder.h"
#include "guard/win32/guard_win.h"
#include "settings/settings_file.h"
#include "system/win32/wide.h"
#include "system/win32/win_file_store.h"
#include "guard/win32/registry_state_store.h"
#include "guard/win32/status_file.h"
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
  return {outcome, code, ErrorText(code), {}};
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The executable in a service's command line: quoted as we write it, or
// (written by someone else) up to our argument.
std::wstring ExecutableOfCommand(const std::wstring& command) {
  if (!command.empty() && command[0] == L'"') {
    const std::size_t close = command.find(L'"', 1);
    return close == std::wstring::npos ? command.substr(1) : command.substr(1, close - 1);
  }
  const std::size_t argument = command.find(std::wstring(L" ") + kGuardServiceArgument);
  return argument == std::wstring::npos ? command : command.substr(0, argument);
}

// Windows starts in Safe Mode only the services named under these keys (the
// minimal list serves Safe Mode with the command prompt as well): a subkey
// of the service's name whose default value is "Service".
constexpr const wchar_t* kSafeBootLists[] = {L"SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\Minimal\\",
                                             L"SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\Network\\"};

// Lists the service for Safe Mode; a Windows error, or ERROR_SUCCESS.
LSTATUS ListForSafeMode(const std::wstring& name) {
  static constexpr wchar_t kService[] = L"Service";
  for (const wchar_t* list : kSafeBootLists) {
    HKEY key = nullptr;
    LSTATUS r = RegCreateKeyExW(HKEY_LOCAL_MACHINE, (list + name).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr);
    if (r != ERROR_SUCCESS) return r;
    r = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(kService), sizeof kService);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS) return r;
  }
  return ERROR_SUCCESS;
}

// Takes the service off the Safe Mode lists; keys already gone are fine.
LSTATUS UnlistForSafeMode(const std::wstring& name) {
  for (const wchar_t* list : kSafeBootLists) {
    const LSTATUS r = RegDeleteKeyExW(HKEY_LOCAL_MACHINE, (list + name).c_str(), KEY_WOW64_64KEY, 0);
    if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND) return r;
  }
  return ERROR_SUCCESS;
}

GuardSetupResult RegistryFailed(LSTATUS code) {
  return {code == ERROR_ACCESS_DENIED ? GuardSetupOutcome::kNotAdministrator : GuardSetupOutcome::kRefused,
          static_cast<DWORD>(code), ErrorText(static_cast<DWORD>(code)), {}};
}

// The executable an installed service runs; empty when it cannot be asked.
std::wstring ServiceExecutable(SC_HANDLE service) {
  DWORD needed = 0;
  QueryServiceConfigW(service, nullptr, 0, &needed);
  if (!needed) return {};
  std::vector<BYTE> buffer(needed);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (!QueryServiceConfigW(service, config, needed, &needed) || !config->lpBinaryPathName) return {};
  return ExecutableOfCommand(config->lpBinaryPathName);
}

}  // namespace

GuardSetupResult InstallGuardService(const GuardServiceConfig& config) {
  const std::wstring exe = config.executable.empty() ? WinOperatingSystem::ModulePath() : config.executable;
  // The service runs this file as LocalSystem where it lies: whoever may
  // replace it, put a file beside it or edit its settings could run code as
  // LocalSystem or undo the guard. Such a location is refused before
  // anything is installed (and before an elevation is asked for).
  if (config.check_rights) {
    if (auto unprotected = FirstUnprotectedPath(exe))
      return {GuardSetupOutcome::kUnprotectedLocation, 0, {}, *unprotected};
  }
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
  // Restarted 5, 10 and 30 seconds after a failure, as the service sets it
  // itself when it starts; the count starts again after a day without one.
  SC_ACTION actions[3] = {{SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 10000}, {SC_ACTION_RESTART, 30000}};
  SERVICE_FAILURE_ACTIONSW failure{24 * 60 * 60, nullptr, nullptr, 3, actions};
  if (!ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, &failure))
    return Failed(GuardSetupOutcome::kRefused);
  // Safe Mode would otherwise be a boot without the control, which any user
  // can choose from the sign-in screen.
  if (const LSTATUS r = ListForSafeMode(config.name); r != ERROR_SUCCESS) return RegistryFailed(r);
  // From its first start the service owns the settings: users may neither
  // read the stored password form nor hold the file open.
  if (!ProtectSettingsFile(SettingsPathOf(exe))) return Failed(GuardSetupOutcome::kSettingsFileRefused);
  // Installed now: the time zone of this moment is the one the service
  // pins, not one left from an earlier installation.
  {
    ProtectedFileSecurity security;
    WinFileStore files(security.descriptor());
    SettingsFile settings(files, Narrow(SettingsPathOf(exe)));
    if (settings.Peek(guard_keys::kSection, guard_keys::kTimeZone)) settings.WriteIniString(guard_keys::kSection, guard_keys::kTimeZone, "");
    RegistryStateStore state;
    state.Remove(state_names::kTimeZone);
    state.Remove(state_names::kFileTimeZone);
  }
  if (config.start && !StartServiceW(service.get(), 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
    return Failed(GuardSetupOutcome::kRefused);
  return {};
}

GuardSetupResult UninstallGuardService(const std::wstring& name) {
  UniqueService scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!scm) return Failed(GuardSetupOutcome::kRefused);
  UniqueService service(
      OpenServiceW(scm.get(), name.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG | DELETE));
  if (!service) {
    switch (GetLastError()) {
      case ERROR_SERVICE_DOES_NOT_EXIST: return Failed(GuardSetupOutcome::kNotInstalled);
      case ERROR_ACCESS_DENIED: return Failed(GuardSetupOutcome::kNotAdministrator);
      default: return Failed(GuardSetupOutcome::kRefused);
    }
  }
  // The settings file of the copy the service ran, whichever copy removes it.
  const std::wstring executable = ServiceExecutable(service.get());
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
  // The status the service left would only be taken for stale from now on;
  // nothing of the guard stays behind in the program's folder.
  if (!executable.empty()) DeleteFileW(StatusPathOf(executable).c_str());
  // Without the guard the program reads its settings as the user again.
  const std::wstring ini = executable.empty() ? std::wstring() : SettingsPathOf(executable);
  if (!ini.empty() && Exists(ini) && !RestoreInheritedAccess(ini))
    return Failed(GuardSetupOutcome::kSettingsFileRefused);
  // So does the usage history the service kept beside it.
  if (const std::wstring history = ini.empty() ? ini : Widen(UsageFilePath(Narrow(ini))); !ini.empty() && Exists(history))
    RestoreInheritedAccess(history);
  if (const LSTATUS r = UnlistForSafeMode(name); r != ERROR_SUCCESS) return RegistryFailed(r);
  return {};
}

}  // namespace dadado::win32
