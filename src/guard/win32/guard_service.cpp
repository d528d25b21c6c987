// The guard as a service: the service manager's entry, the loop that sleeps
// until something can happen, and what only a LocalSystem service can do:
// start the program in the console session as its face, with its ends of two
// unnamed pipes and nothing else inherited, and act on the machine.
#include <windows.h>
#include <wtsapi32.h>

#include <deque>
#include <optional>
#include <memory>
#include <mutex>

#include "guard/guard_host.h"
#include "guard/win32/guard_win.h"
#include "guard/win32/pipe_channel.h"
#include "guard/win32/status_file.h"
#include "system/power.h"
#include "system/win32/system_library.h"
#include "system/win32/wide.h"
#include "system/win32/win_file_store.h"
#include "system/win32/win_os.h"
#include "system/win32/win_session.h"
#include "system/win32/wake_timer.h"
#include "system/win32/win_time_zone.h"

namespace dadado::win32 {

namespace {

// The program's command line for its face: its ends of the pipes by their
// handle values, which mean something only in a process that inherited them.
constexpr wchar_t kFaceArgument[] = L"/face";

bool EnablePrivilege(const wchar_t* name) {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw)) return false;
  UniqueHandle token(raw);
  TOKEN_PRIVILEGES tp{1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
  if (!LookupPrivilegeValueW(nullptr, name, &tp.Privileges[0].Luid)) return false;
  return AdjustTokenPrivileges(token.get(), FALSE, &tp, 0, nullptr, nullptr) && GetLastError() == ERROR_SUCCESS;
}

struct AttributeListDeleter {
  void operator()(LPPROC_THREAD_ATTRIBUTE_LIST list) const {
    DeleteProcThreadAttributeList(list);
    HeapFree(GetProcessHeap(), 0, list);
  }
};

class WinGuardPlatform : public GuardPlatform {
 public:
  WinGuardPlatform(std::wstring exe, HANDLE arrival) : exe_(std::move(exe)), arrival_(arrival) {}

  std::optional<SessionId> ConsoleUserSession() override {
    const DWORD id = WTSGetActiveConsoleSessionId();
    if (id == 0xFFFFFFFF) return std::nullopt;
    wchar_t* user = nullptr;
    DWORD bytes = 0;
    if (!SystemWTSQuerySessionInformation(id, WTSUserName, &user, &bytes)) return std::nullopt;
    const bool someone = user && *user;
    SystemWTSFreeMemory(user);
    return someone ? std::optional<SessionId>(id) : std::nullopt;
  }

  // Asked of the system, never taken from a message anyone could send.
  bool SessionLocked(SessionId session) override { return SessionIsLocked(session).value_or(false); }

  std::optional<std::string> EarlierGuardPerformedLast() override {
    if (auto text = GuardPerformedLast()) return Narrow(*text);
    return std::nullopt;
  }

  bool StartFace(SessionId session) override {
    StopFace();
    HANDLE raw = nullptr;
    if (!SystemWTSQueryUserToken(session, &raw)) return false;
    UniqueHandle user(raw);
    HANDLE primary_raw = nullptr;
    if (!DuplicateTokenEx(user.get(), MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary, &primary_raw))
      return false;
    UniqueHandle primary(primary_raw);

    // Two pipes; the face's ends are inheritable, the service's are not.
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE to_face_read = nullptr, to_face_write = nullptr, from_face_read = nullptr, from_face_write = nullptr;
    if (!CreatePipe(&to_face_read, &to_face_write, &inherit, 64 * 1024)) return false;
    UniqueHandle face_in(to_face_read), ours_out(to_face_write);
    if (!CreatePipe(&from_face_read, &from_face_write, &inherit, 64 * 1024)) return false;
    UniqueHandle ours_in(from_face_read), face_out(from_face_write);
    SetHandleInformation(ours_out.get(), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(ours_in.get(), HANDLE_FLAG_INHERIT, 0);

    std::wstring command = L"\"" + exe_ + L"\" " + kFaceArgument + L" " +
                           std::to_wstring(reinterpret_cast<std::uintptr_t>(face_in.get())) + L" " +
                           std::to_wstring(reinterpret_cast<std::uintptr_t>(face_out.get()));
    std::wstring desktop = L"winsta0\\default";
    STARTUPINFOEXW si{};
    si.StartupInfo.cb = sizeof si;
    si.StartupInfo.lpDesktop = desktop.data();
    // Exactly the two pipe ends are inherited, whatever else is open here.
    HANDLE inherited[2] = {face_in.get(), face_out.get()};
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::unique_ptr<_PROC_THREAD_ATTRIBUTE_LIST, AttributeListDeleter> list;
    DWORD flags = CREATE_UNICODE_ENVIRONMENT;
    if (auto* raw_list = static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(HeapAlloc(GetProcessHeap(), 0, size ? size : 64))) {
      if (InitializeProcThreadAttributeList(raw_list, 1, 0, &size)) {
        list.reset(raw_list);
        if (UpdateProcThreadAttribute(list.get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited, sizeof inherited,
                                      nullptr, nullptr)) {
          si.lpAttributeList = list.get();
          flags |= EXTENDED_STARTUPINFO_PRESENT;
        }
      } else {
        HeapFree(GetProcessHeap(), 0, raw_list);
      }
    }
    void* environment = nullptr;
    if (!SystemCreateEnvironmentBlock(&environment, primary.get(), FALSE)) environment = nullptr;
    PROCESS_INFORMATION pi{};
    const std::wstring folder = exe_.substr(0, exe_.find_last_of(L'\\'));
    const BOOL ok = CreateProcessAsUserW(primary.get(), exe_.c_str(), command.data(), nullptr, nullptr, TRUE, flags,
                                         environment, folder.c_str(), &si.StartupInfo, &pi);
    if (environment) SystemDestroyEnvironmentBlock(environment);
    if (!ok) return false;
    CloseHandle(pi.hThread);
    process_ = UniqueHandle(pi.hProcess);
    HANDLE arrival = arrival_;
    channel_ = std::make_unique<PipeChannel>(std::move(ours_in), std::move(ours_out), [arrival] { SetEvent(arrival); },
                                             PipeChannel::kFaceMessagesPerSecond);
    return true;
  }

  bool FaceRunning() override { return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }

  // Its end is seen by the loop's wait on the process, as any other end.
  void ReplaceFace() override {
    if (FaceRunning()) TerminateProcess(process_.get(), 1);
  }

  void SendToFace(const protocol::Message& message) override {
    if (channel_) channel_->Send(message);
  }

  bool Perform(unsigned exit_flags, std::optional<SessionId> session) override {
    if (!(exit_flags & (kEwxShutdown | kEwxReboot | kEwxPoweroff))) {
      // A log-off is of the console's user; with nobody there, nothing to do.
      if (!session) return true;
      return SystemWTSLogoffSession(*session) != FALSE;
    }
    EnablePrivilege(SE_SHUTDOWN_NAME);
    DWORD flags = SHUTDOWN_FORCE_OTHERS | SHUTDOWN_FORCE_SELF;
    flags |= (exit_flags & kEwxReboot) ? SHUTDOWN_RESTART : SHUTDOWN_POWEROFF;
    return InitiateShutdownW(nullptr, nullptr, 0, flags,
                             SHTDN_REASON_MAJOR_OTHER | SHTDN_REASON_MINOR_OTHER | SHTDN_REASON_FLAG_PLANNED) ==
           ERROR_SUCCESS;
  }

  std::optional<TimeZoneRule> CurrentTimeZone() override { return CurrentTimeZoneRule(); }

  bool Suspend(bool hibernate) override {
    EnablePrivilege(SE_SHUTDOWN_NAME);
    return SystemSetSuspendState(hibernate) != FALSE;
  }
  void ArmWake(std::optional<std::int64_t> utc) override { wake_.Arm(utc); }
  void KeepAwake(bool keep) override {
    SetThreadExecutionState(keep ? ES_CONTINUOUS | ES_SYSTEM_REQUIRED : ES_CONTINUOUS);
  }
  HANDLE wake_timer() const { return wake_.handle(); }

  // The face's process, to wait on; null when none runs.
  HANDLE face_process() const { return process_.get(); }
  std::vector<protocol::Message> Received() {
    if (!channel_) return {};
    std::vector<protocol::Message> got = channel_->Received();
    // A face that sent what is no message, or flooded the pipe, is not one
    // the service talks to: it is ended, and the console gets a new one.
    if (channel_->broken() && FaceRunning()) TerminateProcess(process_.get(), 1);
    return got;
  }
  // The face ended: its exit code.
  DWORD FaceEnded() {
    DWORD code = 1;
    if (process_ && !GetExitCodeProcess(process_.get(), &code)) code = 1;
    StopFace();
    return code;
  }

 private:
  void StopFace() {
    // A face still running in another session is the service's own to end.
    if (FaceRunning()) TerminateProcess(process_.get(), 1);
    channel_.reset();
    process_.reset();
  }

  std::wstring exe_;
  HANDLE arrival_;
  UniqueHandle process_;
  std::unique_ptr<PipeChannel> channel_;
  WakeTimer wake_;
};

// What the control handler passes to the loop.
struct ServiceState {
  SERVICE_STATUS_HANDLE handle = nullptr;
  SERVICE_STATUS status{SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING, 0, NO_ERROR, 0, 0, 0};
  UniqueHandle stop{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  UniqueHandle control{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  std::mutex lock;
  enum class Change { kLogon, kSession, kResumed, kClock };
  std::deque<Change> changes;

  void Report(DWORD state) {
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN |
                                                               SERVICE_ACCEPT_SESSIONCHANGE | SERVICE_ACCEPT_POWEREVENT |
                                                               SERVICE_ACCEPT_TIMECHANGE
                                                         : 0;
    SetServiceStatus(handle, &status);
  }
  void Tell(Change c) {
    {
      std::lock_guard<std::mutex> guard(lock);
      if (changes.size() < 256) changes.push_back(c);
    }
    SetEvent(control.get());
  }
};

ServiceState* g_state = nullptr;  // the service manager's callbacks take no context of ours

DWORD WINAPI ControlHandler(DWORD control, DWORD event_type, void*, void*) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      g_state->Report(SERVICE_STOP_PENDING);
      SetEvent(g_state->stop.get());
      return NO_ERROR;
    case SERVICE_CONTROL_SESSIONCHANGE:
      g_state->Tell(event_type == WTS_SESSION_LOGON ? ServiceState::Change::kLogon : ServiceState::Change::kSession);
      return NO_ERROR;
    case SERVICE_CONTROL_POWEREVENT:
      if (event_type == PBT_APMRESUMEAUTOMATIC || event_type == PBT_APMRESUMESUSPEND)
        g_state->Tell(ServiceState::Change::kResumed);
      return NO_ERROR;
    case SERVICE_CONTROL_TIMECHANGE:
      g_state->Tell(ServiceState::Change::kClock);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

// What the package's service tables cannot say: restarted 5, 10 and 30
// seconds after a failure, the count starting again after a day.
void SetRecoveryActions() {
  SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!scm) return;
  if (SC_HANDLE service = OpenServiceW(scm, kGuardServiceName, SERVICE_CHANGE_CONFIG | SERVICE_START)) {
    SC_ACTION actions[3] = {{SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 10000}, {SC_ACTION_RESTART, 30000}};
    SERVICE_FAILURE_ACTIONSW failure{24 * 60 * 60, nullptr, nullptr, 3, actions};
    ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure);
    // Also when the service stops by itself with an error, not only when it
    // crashes.
    SERVICE_FAILURE_ACTIONS_FLAG on_error{TRUE};
    ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &on_error);
    CloseServiceHandle(service);
  }
  CloseServiceHandle(scm);
}

struct FindChangeTraits {
  static bool Valid(HANDLE h) { return h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { FindCloseChangeNotification(h); }
};
using UniqueChangeNotification = UniqueOf<HANDLE, FindChangeTraits>;

// The machine policy's key, watched with its subkeys: it may not exist yet.
class PolicyWatch {
 public:
  PolicyWatch() : event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies", 0, KEY_NOTIFY | KEY_WOW64_64KEY, &raw) == ERROR_SUCCESS)
      key_ = UniqueKey(raw);
    Arm();
  }
  HANDLE event() const { return event_.get(); }
  void Arm() {
    if (key_)
      RegNotifyChangeKeyValue(key_.get(), TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET, event_.get(), TRUE);
  }

 private:
  UniqueHandle event_;
  UniqueKey key_;
};

// What the settings file looks like from outside: a change of the folder
// that leaves it alone is none of the service's business.
struct FileStamp {
  bool exists = false;
  ULONGLONG size = 0, written = 0;
  bool operator==(const FileStamp&) const = default;
};
FileStamp StampOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return {};
  return {true, (ULONGLONG{data.nFileSizeHigh} << 32) | data.nFileSizeLow,
          (ULONGLONG{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime};
}

// A change of the file is read once it has settled: whoever writes it may
// take several steps, and every step is told.
constexpr DWORD kSettleMs = 250;

// Runs until the service is told to stop (NO_ERROR) or can go on no longer
// (the error it ends with).
DWORD RunLoop(ServiceState& state) {
  SetRecoveryActions();
  const std::wstring exe = WinOperatingSystem::ModulePath();
  const std::wstring ini = SettingsPathOf(exe);
  // Whichever way the service was installed (the command, the package or
  // by hand), the settings file is the service's and the administrators'.
  ProtectSettingsFile(ini);
  ProtectedFileSecurity security;
  WinFileStore files(security.descriptor());
  WinOperatingSystem os;
  SystemUtcClock utc;
  UniqueHandle arrival(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  WinGuardPlatform platform(exe, arrival.get());
  GuardHost host(platform, os, files, Narrow(ini), utc);
  const std::wstring folder = exe.substr(0, exe.find_last_of(L'\\'));
  UniqueChangeNotification folder_change(FindFirstChangeNotificationW(
      folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE));
  PolicyWatch policy;
  UniqueHandle timer(CreateWaitableTimerW(nullptr, FALSE, nullptr));

  host.Start();
  state.Report(SERVICE_RUNNING);
  FileStamp stamp = StampOf(ini);
  ULONGLONG settled_at = 0;  // when a change of the folder is looked at; 0: none waits
  DWORD failure = NO_ERROR;
  for (;;) {
    // The folder's notification is the quick way to hear of a change, not
    // the only one: a change that came while it was being re-armed is seen
    // here, the next time the loop comes round.
    if (!settled_at && !(StampOf(ini) == stamp)) settled_at = GetTickCount64() + kSettleMs;
    if (settled_at && GetTickCount64() >= settled_at) {
      settled_at = 0;
      const FileStamp now = StampOf(ini);
      if (!(now == stamp)) {
        // An administrator's editor may have saved it as a new file, which
        // takes the folder's access: it is the service's and theirs again.
        ProtectSettingsFile(ini);
        stamp = StampOf(ini);
        host.SettingsChanged();
      }
    }
    // Here the loop has come round from the start, from every event and
    // from a settled change of the file alike: what /status reads follows.
    UpdateStatusFile(host);
    // One timer, set to the next instant anything can happen; an absolute
    // time follows any change of the clock by itself.
    const std::int64_t wake = host.NextWakeUtc();
    LARGE_INTEGER due;
    due.QuadPart = (wake + 11644473600LL) * 10000000LL + 200000LL;  // 20 ms into that second
    SetWaitableTimer(timer.get(), &due, 0, nullptr, nullptr, FALSE);

    HANDLE waits[8];
    DWORD n = 0;
    waits[n++] = state.stop.get();
    waits[n++] = state.control.get();
    waits[n++] = arrival.get();
    waits[n++] = timer.get();  // made at the start; without it nothing could run
    const DWORD folder_at = folder_change ? n : MAXDWORD;
    if (folder_change) waits[n++] = folder_change.get();
    const DWORD policy_at = policy.event() ? n : MAXDWORD;
    if (policy.event()) waits[n++] = policy.event();
    const DWORD wake_at = platform.wake_timer() ? n : MAXDWORD;
    if (platform.wake_timer()) waits[n++] = platform.wake_timer();
    const DWORD face_at = platform.face_process() ? n : MAXDWORD;
    if (platform.face_process()) waits[n++] = platform.face_process();

    DWORD timeout = INFINITE;
    if (settled_at) {
      const ULONGLONG now = GetTickCount64();
      timeout = now >= settled_at ? 0 : static_cast<DWORD>(settled_at - now);
    }
    const DWORD r = WaitForMultipleObjects(n, waits, FALSE, timeout);
    if (r == WAIT_OBJECT_0) break;
    if (r == WAIT_FAILED) {
      // Nothing can be waited for any more: the service ends as failed, so
      // that the service manager starts it again.
      failure = GetLastError() ? GetLastError() : ERROR_INVALID_HANDLE;
      break;
    }
    const DWORD i = r == WAIT_TIMEOUT ? MAXDWORD : r - WAIT_OBJECT_0;
    if (i == 1) {
      std::deque<ServiceState::Change> changes;
      {
        std::lock_guard<std::mutex> guard(state.lock);
        changes.swap(state.changes);
      }
      for (ServiceState::Change c : changes) {
        switch (c) {
          case ServiceState::Change::kLogon: host.SessionLogon(); break;
          case ServiceState::Change::kSession: host.SessionChanged(); break;
          case ServiceState::Change::kResumed: host.Resumed(); break;
          case ServiceState::Change::kClock: host.ClockChanged(); break;
        }
      }
    } else if (i == 2) {
      for (protocol::Message& m : platform.Received()) {
        host.FaceMessage(m);
        protocol::WipeSecrets(m);
      }
    } else if (i == folder_at) {
      FindNextChangeNotification(folder_change.get());
      // A folder written to all the time must not keep the file from being
      // read: the first change sets the moment.
      if (!settled_at) settled_at = GetTickCount64() + kSettleMs;
    } else if (i == wake_at) {
      host.WokeForPlan();
    } else if (i == policy_at) {
      policy.Arm();
      host.PolicyChanged();
    } else if (i == face_at) {
      host.FaceEnded(platform.FaceEnded());
    }
    // The wait answers with the first of the handles that are set, so a
    // face that keeps the pipe busy would hold the timer off for ever: what
    // is due is done by the clock, whatever woke the loop.
    if (i == 3 || utc.UtcNow() >= wake) host.Wake();
  }
  host.Stop();
  return failure;
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
  ServiceState state;
  g_state = &state;
  state.handle = RegisterServiceCtrlHandlerExW(kGuardServiceName, ControlHandler, nullptr);
  if (!state.handle) return;
  state.status.dwWin32ExitCode = RunLoop(state);
  state.Report(SERVICE_STOPPED);
}

}  // namespace

bool RunGuardService() {
  wchar_t name[] = L"dadadoGuard";
  SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherW(table) != FALSE;
}

}  // namespace dadado::win32
