// The guard as a service: the service manager's entry, the loop that sleeps
// until something can happen, and what only a LocalSystem service can do:
// start the program in the console session as its face, with its ends of two
// unnamed pipes and nothing else inherited, and act on the machine.
#include <windows.h>
#include <wtsapi32.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

#include "guard/guard_host.h"
#include "engine/usage_recorder.h"
#include "guard/win32/guard_win.h"
#include "guard/win32/pipe_channel.h"
#include "guard/win32/registry_state_store.h"
#include "guard/win32/status_file.h"
#include "system/power.h"
#include "system/win32/system_library.h"
#include "system/win32/wide.h"
#include "system/win32/win_accounts.h"
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

// A face started: its process and the service's ends of its pipes.
struct LaunchedFace {
  bool ok = false;
  UniqueHandle process, ours_in, ours_out;
};

// One start of the face, on a thread of its own; the loop hears of its end
// through `done`. A service that stops meanwhile abandons it: no face is
// created after that, and one created before is in `face` for it to end.
struct FaceLaunch {
  std::wstring exe;
  SessionId session = 0;
  HANDLE done = nullptr;     // the loop's, alive as long as the service
  std::timed_mutex creating;  // held while the process is created
  bool abandoned = false;     // under `creating`
  LaunchedFace face;          // under `creating` until `done`
};

// Starts the program in the session as its user, with its ends of two new
// pipes and nothing else inherited. It may take long: the user's
// environment (HKCU\Environment) is his to make as large as he likes.
void LaunchFace(FaceLaunch& launch) {
  HANDLE raw = nullptr;
  if (!SystemWTSQueryUserToken(launch.session, &raw)) return;
  UniqueHandle user(raw);
  HANDLE primary_raw = nullptr;
  if (!DuplicateTokenEx(user.get(), MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary, &primary_raw))
    return;
  UniqueHandle primary(primary_raw);

  // Two pipes; the face's ends are inheritable, the service's are not.
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE to_face_read = nullptr, to_face_write = nullptr, from_face_read = nullptr, from_face_write = nullptr;
  if (!CreatePipe(&to_face_read, &to_face_write, &inherit, 64 * 1024)) return;
  UniqueHandle face_in(to_face_read), ours_out(to_face_write);
  if (!CreatePipe(&from_face_read, &from_face_write, &inherit, 64 * 1024)) return;
  UniqueHandle ours_in(from_face_read), face_out(from_face_write);
  SetHandleInformation(ours_out.get(), HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(ours_in.get(), HANDLE_FLAG_INHERIT, 0);

  const std::wstring& exe = launch.exe;
  std::wstring command = L"\"" + exe + L"\" " + kFaceArgument + L" " +
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
  const std::wstring folder = exe.substr(0, exe.find_last_of(L'\\'));
  BOOL ok = FALSE;
  {
    std::lock_guard<std::timed_mutex> creating(launch.creating);
    if (!launch.abandoned) {
      ok = CreateProcessAsUserW(primary.get(), exe.c_str(), command.data(), nullptr, nullptr, TRUE, flags, environment,
                                folder.c_str(), &si.StartupInfo, &pi);
      if (ok) {
        CloseHandle(pi.hThread);
        launch.face.ok = true;
        launch.face.process = UniqueHandle(pi.hProcess);
        launch.face.ours_in = std::move(ours_in);
        launch.face.ours_out = std::move(ours_out);
      }
    }
  }
  if (environment) SystemDestroyEnvironmentBlock(environment);
}

DWORD WINAPI LaunchThread(void* param) {
  std::unique_ptr<std::shared_ptr<FaceLaunch>> owned(static_cast<std::shared_ptr<FaceLaunch>*>(param));
  FaceLaunch& launch = **owned;
  LaunchFace(launch);
  SetEvent(launch.done);
  return 0;
}

class WinGuardPlatform : public GuardPlatform {
 public:
  WinGuardPlatform(std::wstring exe, HANDLE arrival) : exe_(std::move(exe)), arrival_(arrival) {}
  ~WinGuardPlatform() override { EndFace(0); }

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

  // The user name as the session gives it; the SID and the groups from the
  // session's token (an administrator's filtered token still holds
  // Administrators, for deny only).
  std::optional<Account> SessionAccount(SessionId session) override {
    wchar_t* user = nullptr;
    DWORD bytes = 0;
    if (!SystemWTSQuerySessionInformation(session, WTSUserName, &user, &bytes)) return std::nullopt;
    Account account{user ? Narrow(user) : std::string(), "", false};
    SystemWTSFreeMemory(user);
    if (account.name.empty()) return std::nullopt;
    HANDLE raw = nullptr;
    if (SystemWTSQueryUserToken(session, &raw)) {
      UniqueHandle token(raw);
      if (const auto of_token = AccountOfToken(token.get())) {
        account.sid = of_token->sid;
        account.administrator = of_token->administrator;
      }
    }
    return account;
  }

  void StartFace(SessionId session) override {
    StopFace();
    auto launch = std::make_shared<FaceLaunch>();
    launch->exe = exe_;
    launch->session = session;
    launch->done = started_.get();
    launch_ = launch;
    auto* param = new std::shared_ptr<FaceLaunch>(launch);
    launcher_ = UniqueHandle(CreateThread(nullptr, 0, LaunchThread, param, 0, nullptr));
    if (!launcher_) {
      delete param;
      SetEvent(started_.get());  // over at once, with nothing started
    }
  }
  // Set when a start StartFace asked for is over.
  HANDLE started_event() const { return started_.get(); }
  // The start is over: whether a face runs now.
  bool TakeStarted() {
    if (!launch_) return false;
    // It has said it is done; its thread only has to return.
    if (launcher_) WaitForSingleObject(launcher_.get(), 5000);
    launcher_.reset();
    const std::shared_ptr<FaceLaunch> launch = std::move(launch_);
    if (!launch->face.ok) return false;
    process_ = std::move(launch->face.process);
    HANDLE arrival = arrival_;
    channel_ = std::make_unique<PipeChannel>(std::move(launch->face.ours_in), std::move(launch->face.ours_out),
                                             [arrival] { SetEvent(arrival); }, PipeChannel::FaceBudget());
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

  // The service stops: the face ends before it, so that nothing of the
  // program runs once the service says it has stopped, and an uninstall or
  // an upgrade replaces every file at once. It is ended rather than asked:
  // an installer that does not wait for the stop (Wine's) goes on at once,
  // and a face taking its time would still hold the program's file.
  void EndFace(DWORD wait_ms) {
    if (launch_) {
      // A start under way creates no face from now on; one it created
      // already is ended with the rest.
      std::unique_lock<std::timed_mutex> creating(launch_->creating, std::defer_lock);
      if (creating.try_lock_for(std::chrono::milliseconds(wait_ms))) {
        launch_->abandoned = true;
        if (launch_->face.ok) process_ = std::move(launch_->face.process);
      }
      launch_.reset();
      launcher_.reset();
    }
    if (FaceRunning()) {
      TerminateProcess(process_.get(), 0);
      WaitForSingleObject(process_.get(), wait_ms);
    }
    StopFace();
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
  UniqueHandle started_{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  std::shared_ptr<FaceLaunch> launch_;  // a start under way
  UniqueHandle launcher_;               // its thread
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
  std::atomic<bool> shutting_down{false};  // the machine goes down: nothing is waited for

  void Report(DWORD state) {
    std::lock_guard<std::mutex> guard(lock);
    status.dwCurrentState = state;
    status.dwCheckPoint = 0;
    status.dwWaitHint = 0;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN |
                                                               SERVICE_ACCEPT_SESSIONCHANGE | SERVICE_ACCEPT_POWEREVENT |
                                                               SERVICE_ACCEPT_TIMECHANGE
                                                         : 0;
    SetServiceStatus(handle, &status);
  }
  // Still stopping, for at most `ms` more.
  void Stopping(DWORD ms) {
    std::lock_guard<std::mutex> guard(lock);
    status.dwCurrentState = SERVICE_STOP_PENDING;
    status.dwControlsAccepted = 0;
    ++status.dwCheckPoint;
    status.dwWaitHint = ms;
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

// How long a stop waits for a face being created, and for the face to be
// gone; and what the service manager is told to allow for it.
constexpr DWORD kFaceGraceMs = 3000;
constexpr DWORD kStopWaitHintMs = 3 * kFaceGraceMs;

DWORD WINAPI ControlHandler(DWORD control, DWORD event_type, void*, void*) {
  switch (control) {
    case SERVICE_CONTROL_SHUTDOWN:
      g_state->shutting_down = true;
      [[fallthrough]];
    case SERVICE_CONTROL_STOP:
      g_state->Stopping(kStopWaitHintMs);
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

// The settings file's folder, watched for changes that name the settings
// file: the service's own files beside it (the temporary file of a write,
// an earlier version's status file) come and go without waking anything
// but this watch, and a change another program makes to them is nothing
// the service reads.
class SettingsFileWatch {
 public:
  SettingsFileWatch(const std::wstring& folder, std::wstring name)
      : folder_(CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr)),
        name_(std::move(name)) {
    overlapped_.hEvent = event_.get();
    Arm();
  }
  ~SettingsFileWatch() {
    if (armed_) {
      CancelIoEx(folder_.get(), &overlapped_);
      DWORD got = 0;
      GetOverlappedResult(folder_.get(), &overlapped_, &got, TRUE);
    }
  }
  SettingsFileWatch(const SettingsFileWatch&) = delete;
  SettingsFileWatch& operator=(const SettingsFileWatch&) = delete;

  // Null when the folder cannot be watched (the loop still looks at the
  // file each time it comes round).
  HANDLE event() const { return armed_ ? event_.get() : nullptr; }

  // After the event: whether the settings file was among what changed (or
  // so much changed that the list was lost); watches on.
  bool Changed() {
    armed_ = false;
    DWORD got = 0;
    bool named = true;
    if (GetOverlappedResult(folder_.get(), &overlapped_, &got, FALSE) && got > 0) {
      named = false;
      for (DWORD at = 0; at + sizeof(FILE_NOTIFY_INFORMATION) <= got;) {
        const auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(buffer_ + at);
        const int length = static_cast<int>(info->FileNameLength / sizeof(WCHAR));
        if (CompareStringOrdinal(info->FileName, length, name_.c_str(), static_cast<int>(name_.size()), TRUE) ==
            CSTR_EQUAL)
          named = true;
        if (!info->NextEntryOffset) break;
        at += info->NextEntryOffset;
      }
    }
    Arm();
    return named;
  }

 private:
  void Arm() {
    if (!folder_) return;
    ResetEvent(event_.get());
    armed_ = ReadDirectoryChangesW(folder_.get(), buffer_, sizeof buffer_, FALSE,
                                   FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE,
                                   nullptr, &overlapped_, nullptr) != FALSE;
  }

  UniqueHandle folder_;
  std::wstring name_;
  UniqueHandle event_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  OVERLAPPED overlapped_{};
  alignas(DWORD) BYTE buffer_[16 * 1024];
  bool armed_ = false;
};

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
  const std::wstring exe = WinOperatingSystem::ModulePath();
  // First: a user holding the executable unshared while the service runs
  // could keep its face from starting, and the service from starting again.
  const UniqueHandle held_executable = HoldAgainstExclusiveOpens(exe);
  SetRecoveryActions();
  const std::wstring ini = SettingsPathOf(exe);
  // Whichever way the service was installed (the command, the package or
  // by hand), the settings file is the service's and the administrators'.
  ProtectSettingsFile(ini);
  // And the usage history beside it, which the service alone writes from
  // now on (one the program wrote before was readable as its folder).
  const std::wstring history = Widen(UsageFilePath(Narrow(ini)));
  if (GetFileAttributesW(history.c_str()) != INVALID_FILE_ATTRIBUTES) ProtectSettingsFile(history);
  // So is the key its state and its status lie under.
  RegistryStateStore store;
  store.Protect();
  // An earlier version wrote its status into a file beside the executable,
  // which anyone could hold open; what is left of it would only mislead.
  DeleteFileW(StatusPathOf(exe).c_str());
  ProtectedFileSecurity security;
  WinFileStore files(security.descriptor());
  WinOperatingSystem os;
  SystemUtcClock utc;
  UniqueHandle arrival(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  WinGuardPlatform platform(exe, arrival.get());
  GuardHost host(platform, os, files, Narrow(ini), utc, store);
  const std::size_t slash = exe.find_last_of(L'\\');
  SettingsFileWatch folder_change(exe.substr(0, slash), ini.substr(slash + 1));
  PolicyWatch policy;
  UniqueHandle timer(CreateWaitableTimerW(nullptr, FALSE, nullptr));
  StatusPublisher status(store);

  host.Start();
  state.Report(SERVICE_RUNNING);
  FileStamp stamp = StampOf(ini);
  ULONGLONG settled_at = 0;  // when a change of the file is looked at; 0: none waits
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
    status.Update(host, GetTickCount64());
    // One timer, set to the next instant anything can happen; an absolute
    // time follows any change of the clock by itself.
    const std::int64_t wake = host.NextWakeUtc();
    LARGE_INTEGER due;
    due.QuadPart = (wake + 11644473600LL) * 10000000LL + 200000LL;  // 20 ms into that second
    SetWaitableTimer(timer.get(), &due, 0, nullptr, nullptr, FALSE);

    HANDLE waits[9];
    DWORD n = 0;
    waits[n++] = state.stop.get();
    waits[n++] = state.control.get();
    waits[n++] = arrival.get();
    waits[n++] = timer.get();  // made at the start; without it nothing could run
    waits[n++] = platform.started_event();
    const DWORD folder_at = folder_change.event() ? n : MAXDWORD;
    if (folder_change.event()) waits[n++] = folder_change.event();
    const DWORD policy_at = policy.event() ? n : MAXDWORD;
    if (policy.event()) waits[n++] = policy.event();
    const DWORD wake_at = platform.wake_timer() ? n : MAXDWORD;
    if (platform.wake_timer()) waits[n++] = platform.wake_timer();
    const DWORD face_at = platform.face_process() ? n : MAXDWORD;
    if (platform.face_process()) waits[n++] = platform.face_process();

    // Besides the timer: a change of the file settling, a status to write
    // again.
    std::optional<ULONGLONG> until;
    if (settled_at) until = settled_at;
    if (auto retry = status.retry_at()) until = until ? std::min(*until, *retry) : *retry;
    DWORD timeout = INFINITE;
    if (until) {
      const ULONGLONG now = GetTickCount64();
      timeout = now >= *until ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(*until - now, INFINITE - 1));
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
    } else if (i == 4) {
      host.FaceStarted(platform.TakeStarted());
    } else if (i == folder_at) {
      // A folder written to all the time must not keep the file from being
      // read: the first change sets the moment.
      if (folder_change.Changed() && !settled_at) settled_at = GetTickCount64() + kSettleMs;
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
  // Stopped for an uninstall or an upgrade, nothing of the program may be
  // left running; going down with the machine, the session ends it anyway.
  if (!state.shutting_down) {
    state.Stopping(kStopWaitHintMs);
    platform.EndFace(kFaceGraceMs);
  }
  status.Withdraw();
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
