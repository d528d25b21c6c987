// The guard as a service: the service manager's entry, the one-second loop
// that runs the core, and the system calls the core asks for.
#include <windows.h>
#include <tlhelp32.h>
#include <userenv.h>
#include <wtsapi32.h>

#include <deque>
#include <memory>
#include <mutex>

#include "base/date_time_text.h"
#include "guard/guard.h"
#include "guard/win32/guard_win.h"
#include "settings/settings_file.h"
#include "system/win32/wide.h"
#include "system/win32/win_file_store.h"
#include "system/win32/win_os.h"

namespace dadado::win32 {

namespace {

class SystemClock : public Clock {
 public:
  LocalDateTime Now() override {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return {{t.wYear, t.wMonth, t.wDay}, t.wHour * 3600 + t.wMinute * 60 + t.wSecond};
  }
};

bool EnablePrivilege(const wchar_t* name) {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw)) return false;
  UniqueHandle token(raw);
  TOKEN_PRIVILEGES tp{1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
  if (!LookupPrivilegeValueW(nullptr, name, &tp.Privileges[0].Luid)) return false;
  return AdjustTokenPrivileges(token.get(), FALSE, &tp, 0, nullptr, nullptr) && GetLastError() == ERROR_SUCCESS;
}

class WinGuardSystem : public GuardSystem {
 public:
  WinGuardSystem() : exe_(WinOperatingSystem::ModulePath()) {}

  std::optional<SessionId> ConsoleUserSession() override {
    const DWORD id = WTSGetActiveConsoleSessionId();
    if (id == 0xFFFFFFFF) return std::nullopt;
    wchar_t* user = nullptr;
    DWORD bytes = 0;
    if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, id, WTSUserName, &user, &bytes)) return std::nullopt;
    const bool someone = user && *user;
    WTSFreeMemory(user);
    return someone ? std::optional<SessionId>(id) : std::nullopt;
  }

  // The announcement alone could be made by anyone in the session; a
  // process of this very executable must be there as well.
  bool ProgramRunning(SessionId session) override {
    return ProgramAnnounced(session) && FindProgram(session) != 0;
  }

  bool StartProgram(SessionId session) override {
    HANDLE raw = nullptr;
    if (!WTSQueryUserToken(session, &raw)) return false;
    UniqueHandle user(raw);
    HANDLE primary_raw = nullptr;
    if (!DuplicateTokenEx(user.get(), MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary, &primary_raw))
      return false;
    UniqueHandle primary(primary_raw);
    void* environment = nullptr;
    if (!CreateEnvironmentBlock(&environment, primary.get(), FALSE)) environment = nullptr;
    std::wstring command = L"\"" + exe_ + L"\"";
    std::wstring desktop = L"winsta0\\default";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.lpDesktop = desktop.data();
    PROCESS_INFORMATION pi{};
    const std::wstring folder = exe_.substr(0, exe_.find_last_of(L'\\'));
    const BOOL ok = CreateProcessAsUserW(primary.get(), exe_.c_str(), command.data(), nullptr, nullptr, FALSE,
                                         CREATE_UNICODE_ENVIRONMENT, environment, folder.c_str(), &si, &pi);
    if (environment) DestroyEnvironmentBlock(environment);
    if (!ok) return false;
    CloseHandle(pi.hThread);
    tracked_ = UniqueHandle(pi.hProcess);
    return true;
  }

  bool Perform(const GuardAction& action, std::optional<SessionId> session) override {
    if (action.kind == GuardActionKind::kLogOff)
      return session && WTSLogoffSession(WTS_CURRENT_SERVER_HANDLE, *session, FALSE);
    EnablePrivilege(SE_SHUTDOWN_NAME);
    DWORD flags = SHUTDOWN_FORCE_OTHERS | SHUTDOWN_FORCE_SELF;
    flags |= action.kind == GuardActionKind::kRestart ? SHUTDOWN_RESTART : SHUTDOWN_POWEROFF;
    return InitiateShutdownW(nullptr, nullptr, 0, flags,
                             SHTDN_REASON_MAJOR_OTHER | SHTDN_REASON_MINOR_OTHER | SHTDN_REASON_FLAG_PLANNED) ==
           ERROR_SUCCESS;
  }

  void WriteEvent(EventType type, int id, const std::vector<std::string>& strings) override {
    os_.WriteEvent(type, id, strings);
  }
  void RecordPerformed(std::int64_t occurrence) override {
    const LocalDateTime t = FromLocalSeconds(occurrence);
    const std::wstring text = Widen(FormatDateTimeText(t.date, t.second_of_day));
    HKEY raw = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kGuardRecordKey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr,
                        &raw, nullptr) != ERROR_SUCCESS)
      return;
    UniqueKey key(raw);
    RegSetValueExW(raw, kGuardRecordValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }

  PolicyValues ReadPolicy() override { return os_.ReadPolicyValues(); }

  // The exit code of the program in the console session when it ended since
  // the last call; the program is followed from the moment it is found.
  std::optional<DWORD> ProgramEnded(std::optional<SessionId> session) {
    if (!tracked_ && session) {
      if (DWORD pid = FindProgram(*session))
        tracked_ = UniqueHandle(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    }
    if (!tracked_ || WaitForSingleObject(tracked_.get(), 0) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    if (!GetExitCodeProcess(tracked_.get(), &code)) code = 1;
    tracked_.reset();
    return code;
  }

  std::string SettingsPath() { return SettingsFilePath(os_.ExecutableFolder(), os_.ExecutableBaseName(), '\\'); }

 private:
  // A process of this executable in the session, other than the guard.
  DWORD FindProgram(SessionId session) {
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
      if (entry.th32ProcessID == GetCurrentProcessId()) continue;
      DWORD in_session = 0;
      if (!ProcessIdToSessionId(entry.th32ProcessID, &in_session) || in_session != session) continue;
      UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
      if (!process) continue;
      wchar_t path[MAX_PATH * 2];
      DWORD size = static_cast<DWORD>(std::size(path));
      if (QueryFullProcessImageNameW(process.get(), 0, path, &size) && _wcsicmp(path, exe_.c_str()) == 0)
        return entry.th32ProcessID;
    }
    return 0;
  }

  std::wstring exe_;
  WinOperatingSystem os_;
  UniqueHandle tracked_;
};

// What the control handler passes to the loop.
struct ServiceState {
  SERVICE_STATUS_HANDLE handle = nullptr;
  SERVICE_STATUS status{SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING, 0, NO_ERROR, 0, 0, 0};
  UniqueHandle stop{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  UniqueHandle wake{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  std::mutex lock;
  std::deque<std::pair<DWORD, DWORD>> session_changes;  // event, session

  void Report(DWORD state) {
    status.dwCurrentState = state;
    status.dwControlsAccepted =
        state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_SESSIONCHANGE : 0;
    SetServiceStatus(handle, &status);
  }
};

ServiceState* g_state = nullptr;  // the service manager's callbacks take no context of ours

DWORD WINAPI ControlHandler(DWORD control, DWORD event_type, void* event_data, void*) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      g_state->Report(SERVICE_STOP_PENDING);
      SetEvent(g_state->stop.get());
      return NO_ERROR;
    case SERVICE_CONTROL_SESSIONCHANGE: {
      const auto* n = static_cast<WTSSESSION_NOTIFICATION*>(event_data);
      {
        std::lock_guard<std::mutex> guard(g_state->lock);
        g_state->session_changes.emplace_back(event_type, n ? n->dwSessionId : 0);
      }
      SetEvent(g_state->wake.get());
      return NO_ERROR;
    }
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void RunLoop(ServiceState& state) {
  WinGuardSystem system;
  WinFileStore files;
  SystemClock clock;
  GuardService guard(system, files, system.SettingsPath(), clock);
  UniqueHandle exit_event = CreateGuardExitEvent();
  state.Report(SERVICE_RUNNING);
  for (;;) {
    HANDLE waits[3] = {state.stop.get(), state.wake.get(), exit_event.get()};
    SYSTEMTIME now;
    GetLocalTime(&now);
    // Wake at the start of the next second, so that every second is ticked.
    const DWORD wait = 1000 - now.wMilliseconds + 10;
    const DWORD r = WaitForMultipleObjects(exit_event ? 3 : 2, waits, FALSE, wait);
    if (r == WAIT_OBJECT_0) break;
    if (r == WAIT_OBJECT_0 + 2) guard.ExitRequested();
    std::deque<std::pair<DWORD, DWORD>> changes;
    {
      std::lock_guard<std::mutex> lock(state.lock);
      changes.swap(state.session_changes);
    }
    for (auto [event, session] : changes) {
      if (event == WTS_SESSION_LOGON) guard.SessionLogon(session);
      if (event == WTS_SESSION_LOGOFF) guard.SessionLogoff(session);
    }
    if (auto code = system.ProgramEnded(system.ConsoleUserSession())) guard.ProgramExited(*code);
    if (r == WAIT_TIMEOUT) guard.Tick();
  }
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
  ServiceState state;
  g_state = &state;
  state.handle = RegisterServiceCtrlHandlerExW(kGuardServiceName, ControlHandler, nullptr);
  if (!state.handle) return;
  RunLoop(state);
  state.Report(SERVICE_STOPPED);
}

}  // namespace

bool RunGuardService() {
  wchar_t name[] = L"dadadoGuard";
  SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherW(table) != FALSE;
}

}  // namespace dadado::win32
