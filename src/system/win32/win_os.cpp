#include "system/win32/win_os.h"

#include <windows.h>
#include <shellapi.h>
#include <wtsapi32.h>

#include <vector>

#include "system/win32/system_library.h"
#include "system/win32/wide.h"
#include "system/win32/win_session.h"
#include "system/win32/win_time_zone.h"

namespace dadado::win32 {

namespace {

// Both keys are machine-wide; a 32-bit build must reach the same keys as the
// 64-bit one, not their redirected copies.
constexpr REGSAM kView = KEY_WOW64_64KEY;

}  // namespace

WinOperatingSystem::WinOperatingSystem() = default;

std::wstring WinOperatingSystem::ModulePath() {
  std::vector<wchar_t> buf(MAX_PATH);
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n < buf.size()) return std::wstring(buf.data(), n);
    buf.resize(buf.size() * 2);
  }
}

std::string WinOperatingSystem::ExecutableFolder() {
  std::wstring path = ModulePath();
  std::size_t slash = path.find_last_of(L"\\/");
  std::wstring folder = slash == std::wstring::npos ? L"." : path.substr(0, slash);
  // A drive's root folder is reported with its separator, as "C:\".
  if (folder.size() == 2 && folder[1] == L':') folder += L'\\';
  return Narrow(folder);
}

std::string WinOperatingSystem::ExecutableBaseName() {
  std::wstring path = ModulePath();
  std::size_t slash = path.find_last_of(L"\\/");
  std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  if (name.size() > 4 && _wcsicmp(name.c_str() + name.size() - 4, L".exe") == 0) name.resize(name.size() - 4);
  return Narrow(name);
}

std::string WinOperatingSystem::SystemFolder() {
  wchar_t buf[MAX_PATH] = {};
  const UINT n = GetSystemDirectoryW(buf, MAX_PATH);
  return Narrow(n > 0 && n < MAX_PATH ? std::wstring(buf, n) : std::wstring(L"C:\\Windows\\System32"));
}

namespace {
constexpr wchar_t kUserStateKey[] = L"Software\\dadado";
}  // namespace

std::optional<std::string> WinOperatingSystem::ReadUserValue(const std::string& name) {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kUserStateKey, 0, KEY_QUERY_VALUE, &raw) != ERROR_SUCCESS) return std::nullopt;
  UniqueKey key(raw);
  wchar_t text[256] = {};
  DWORD size = sizeof text - sizeof(wchar_t);
  DWORD type = 0;
  if (RegQueryValueExW(raw, Widen(name).c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS ||
      type != REG_SZ)
    return std::nullopt;
  text[size / sizeof(wchar_t)] = L'\0';
  return Narrow(text);
}

bool WinOperatingSystem::WriteUserValue(const std::string& name, const std::string& value) {
  HKEY raw = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kUserStateKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                      &raw, nullptr) != ERROR_SUCCESS)
    return false;
  UniqueKey key(raw);
  const std::wstring data = Widen(value);
  return RegSetValueExW(raw, Widen(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                        static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool WinOperatingSystem::Suspend(bool hibernate) {
  // Sleeping needs the shutdown privilege too; wake timers stay on, so that
  // a 唤醒计算机 plan can wake the machine again.
  EnableShutdownPrivilege();
  return SystemSetSuspendState(hibernate) != FALSE;
}

bool WinOperatingSystem::LockSession() { return LockWorkStation() != FALSE; }

bool WinOperatingSystem::TurnScreenOff() {
  // 2: the screens off. Sent to every top-level window, as the system's own
  // power settings do; a window that hangs is not waited for.
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(HWND_BROADCAST, WM_SYSCOMMAND, SC_MONITORPOWER, 2, SMTO_ABORTIFHUNG, 1000, &result) != 0;
}

void WinOperatingSystem::ArmWakeTimer(std::optional<std::int64_t> local_instant) {
  wake_timer_.Arm(local_instant ? UtcOfSystemLocal(*local_instant) : std::nullopt);
}

void WinOperatingSystem::KeepAwake(bool keep) {
  SetThreadExecutionState(keep ? ES_CONTINUOUS | ES_SYSTEM_REQUIRED : ES_CONTINUOUS);
}

std::optional<bool> WinOperatingSystem::SessionLocked() {
  const auto active = SessionIsActive(WTS_CURRENT_SESSION);
  if (!active) return std::nullopt;
  return !*active;
}

std::optional<TimeZoneRule> WinOperatingSystem::TimeZone() { return CurrentTimeZoneRule(); }

std::optional<std::int64_t> WinOperatingSystem::UtcSeconds() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  const std::int64_t ticks = (static_cast<std::int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return ticks / 10000000LL - 11644473600LL;
}

namespace {

// The power plan's "allow wake timers" setting (Sleep → Allow wake timers).
constexpr GUID kSleepSubgroup = {0x238C9FA8, 0x0AAD, 0x41ED, {0x83, 0xF4, 0x97, 0xBE, 0x24, 0x2C, 0x8F, 0x20}};
constexpr GUID kAllowWakeTimers = {0xBD3B718A, 0x0680, 0x4D9D, {0x8A, 0xB2, 0xE1, 0xD2, 0xB4, 0xAC, 0x80, 0x6D}};

}  // namespace

std::optional<bool> WinOperatingSystem::WakeTimersAllowed() {
  GUID* scheme = nullptr;
  if (SystemPowerGetActiveScheme(&scheme) != ERROR_SUCCESS || !scheme) return std::nullopt;
  DWORD ac = 0, dc = 0;
  const bool read = SystemPowerReadValueIndex(true, scheme, &kSleepSubgroup, &kAllowWakeTimers, &ac) == ERROR_SUCCESS &&
                    SystemPowerReadValueIndex(false, scheme, &kSleepSubgroup, &kAllowWakeTimers, &dc) == ERROR_SUCCESS;
  LocalFree(scheme);
  if (!read) return std::nullopt;
  return ac != 0 && dc != 0;  // 0 disabled, 1 enabled, 2 important ones only
}

bool WinOperatingSystem::AllowWakeTimers() {
  GUID* scheme = nullptr;
  if (SystemPowerGetActiveScheme(&scheme) != ERROR_SUCCESS || !scheme) return false;
  const bool ok = SystemPowerWriteValueIndex(true, scheme, &kSleepSubgroup, &kAllowWakeTimers, 1) == ERROR_SUCCESS &&
                  SystemPowerWriteValueIndex(false, scheme, &kSleepSubgroup, &kAllowWakeTimers, 1) == ERROR_SUCCESS &&
                  SystemPowerSetActiveScheme(scheme) == ERROR_SUCCESS;
  LocalFree(scheme);
  return ok;
}

bool WinOperatingSystem::IsAdministrator() {
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof sid;
  if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &size)) return false;
  BOOL member = FALSE;
  return CheckTokenMembership(nullptr, sid, &member) && member;
}

int WinOperatingSystem::IdleSeconds() {
  // A program that keeps the display on (a video, a presentation) means
  // someone is watching.
  EXECUTION_STATE state = 0;
  if (SystemCallNtPowerInformation(SystemExecutionState, nullptr, 0, &state, sizeof state) == 0 &&
      (state & ES_DISPLAY_REQUIRED))
    return 0;
  LASTINPUTINFO info{sizeof info, 0};
  if (!GetLastInputInfo(&info)) return 0;
  return static_cast<int>((GetTickCount() - info.dwTime) / 1000);
}

bool WinOperatingSystem::EnableShutdownPrivilege() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw)) return false;
  UniqueHandle token(raw);
  TOKEN_PRIVILEGES tp{};
  tp.PrivilegeCount = 1;
  if (!LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &tp.Privileges[0].Luid)) return false;
  tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!AdjustTokenPrivileges(token.get(), FALSE, &tp, sizeof tp, nullptr, nullptr)) return false;
  // Success with ERROR_NOT_ALL_ASSIGNED means the token does not hold it.
  return GetLastError() == ERROR_SUCCESS;
}

bool WinOperatingSystem::ExitSession(unsigned flags) {
  return ExitWindowsEx(flags, 0) != 0;
}

std::optional<RegKey> WinOperatingSystem::Keep(HKEY key) {
  RegKey id = next_key_++;
  keys_.emplace(id, UniqueKey(key));
  return id;
}

HKEY WinOperatingSystem::Find(RegKey key) const {
  auto it = keys_.find(key);
  return it == keys_.end() ? nullptr : it->second.get();
}

std::optional<RegKey> WinOperatingSystem::OpenKey(const std::string& path, bool for_writing) {
  HKEY key = nullptr;
  REGSAM access = (for_writing ? KEY_QUERY_VALUE | KEY_SET_VALUE : KEY_READ) | kView;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Widen(path).c_str(), 0, access, &key) != ERROR_SUCCESS) return std::nullopt;
  return Keep(key);
}

std::optional<RegKey> WinOperatingSystem::CreateKey(const std::string& path) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, Widen(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_QUERY_VALUE | KEY_SET_VALUE | kView, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return std::nullopt;
  return Keep(key);
}

std::optional<std::string> WinOperatingSystem::QueryString(RegKey id, const std::string& name) {
  HKEY key = Find(id);
  if (!key) return std::nullopt;
  const std::wstring wname = Widen(name);
  // The text is read whole, however long: ask for its size, then read, and
  // ask again if it grew in between.
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD type = 0, size = 0;
    LSTATUS st = RegQueryValueExW(key, wname.c_str(), nullptr, &type, nullptr, &size);
    if (st != ERROR_SUCCESS) return std::nullopt;
    std::vector<wchar_t> buf(size / sizeof(wchar_t) + 1, L'\0');
    DWORD got = static_cast<DWORD>(buf.size() * sizeof(wchar_t));
    st = RegQueryValueExW(key, wname.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &got);
    if (st == ERROR_MORE_DATA) continue;
    if (st != ERROR_SUCCESS) return std::nullopt;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return std::string();
    std::wstring text(buf.data(), got / sizeof(wchar_t));
    text.resize(wcsnlen(text.c_str(), text.size()));  // without the terminating NUL
    return Narrow(text);
  }
  return std::nullopt;
}

bool WinOperatingSystem::SetString(RegKey id, const std::string& name, const std::string& value) {
  HKEY key = Find(id);
  if (!key) return false;
  std::wstring data = Widen(value);
  return RegSetValueExW(key, Widen(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                        static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool WinOperatingSystem::DeleteValue(RegKey id, const std::string& name) {
  HKEY key = Find(id);
  if (!key) return false;
  LSTATUS st = RegDeleteValueW(key, Widen(name).c_str());
  return st == ERROR_SUCCESS || st == ERROR_FILE_NOT_FOUND;
}

void WinOperatingSystem::CloseKey(RegKey id) { keys_.erase(id); }

bool WinOperatingSystem::StartCommand(const std::string& command_line) {
  std::wstring cmd = Widen(command_line);  // CreateProcessW may write into it
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return true;
}

bool WinOperatingSystem::OpenMailLink(const std::string& address) {
  std::wstring link = L"mailto:" + Widen(address);
  auto result = reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", link.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  return result > 32;
}

bool WinOperatingSystem::AnotherCopyRunning() {
  if (instance_checked_) return another_copy_;
  instance_checked_ = true;
  // One name per executable, in this session's namespace.
  std::wstring name = L"Local\\dadado-instance-" + Widen(ExecutableBaseName());
  SetLastError(ERROR_SUCCESS);
  HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
  DWORD err = GetLastError();
  if (!mutex) {
    // Another user's copy holds it and denies us access: still another copy.
    another_copy_ = err == ERROR_ACCESS_DENIED;
    return another_copy_;
  }
  instance_mutex_ = UniqueHandle(mutex);
  another_copy_ = err == ERROR_ALREADY_EXISTS;
  return another_copy_;
}

}  // namespace dadado::win32

namespace dadado::win32 {

void WinOperatingSystem::ReleaseInstance() {
  instance_mutex_.reset();
  instance_checked_ = false;
  another_copy_ = false;
}

}  // namespace dadado::win32

namespace dadado::win32 {

PowerSupport WinOperatingSystem::PowerCapabilities() {
  SYSTEM_POWER_CAPABILITIES caps{};
  // Without an answer nothing is ruled out: the action itself then says
  // whether the machine could do it.
  if (!SystemGetPwrCapabilities(&caps)) return {};
  PowerSupport support;
  support.can_sleep = caps.SystemS1 || caps.SystemS2 || caps.SystemS3;
  // A machine that could hibernate but has hibernation turned off has no
  // hibernation file: putting it to hibernate fails.
  support.can_hibernate = caps.SystemS4 && caps.HiberFilePresent;
  return support;
}

}  // namespace dadado::win32
