#include "system/win32/system_library.h"

#include <cderr.h>

#include <atomic>
#include <string>

namespace dadado::win32 {

namespace {

// The DLL of that name in the system folder; its own dependencies are looked
// for from there too.
HMODULE SystemModule(const wchar_t* name) {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  const std::wstring path = std::wstring(folder, length) + L"\\" + name;
  return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// A function of a system DLL, looked up on its first use and kept. Only a DLL
// that could not be loaded is tried again at the next use: someone may have
// held it open unshared at that moment, and the service would otherwise go
// without it until it restarted. A function a loaded DLL lacks stays missing.
// Each is a function's static, so made once and thread-safe.
template <class F>
class SystemFunction {
 public:
  SystemFunction(const wchar_t* dll, const char* function) : dll_(dll), function_(function) {}
  F get() {
    if (!settled_.load(std::memory_order_acquire)) {
      HMODULE module = SystemModule(dll_);
      if (!module) return nullptr;
      found_.store(reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, function_))),
                   std::memory_order_relaxed);
      settled_.store(true, std::memory_order_release);
    }
    return found_.load(std::memory_order_relaxed);
  }

 private:
  const wchar_t* dll_;
  const char* function_;
  std::atomic<F> found_{nullptr};
  std::atomic<bool> settled_{false};
};

BOOL Missing() {
  SetLastError(ERROR_PROC_NOT_FOUND);
  return FALSE;
}

}  // namespace

void LoadLibrariesFromSystemFolderOnly() {
  // Windows 8 and later (and 7 with its update) know the setting; SetDllDirectory
  // at least takes the current folder out of the search everywhere.
  SetDllDirectoryW(L"");
  using SetDefault = BOOL(WINAPI*)(DWORD);
  if (HMODULE kernel = GetModuleHandleW(L"kernel32.dll"))
    if (auto set = reinterpret_cast<SetDefault>(reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories"))))
      set(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

BOOL SystemWTSQuerySessionInformation(DWORD session, WTS_INFO_CLASS what, LPWSTR* buffer, DWORD* bytes) {
  using F = BOOL(WINAPI*)(HANDLE, DWORD, WTS_INFO_CLASS, LPWSTR*, DWORD*);
  static SystemFunction<F> lookup(L"wtsapi32.dll", "WTSQuerySessionInformationW");
  const F f = lookup.get();
  return f ? f(WTS_CURRENT_SERVER_HANDLE, session, what, buffer, bytes) : Missing();
}

DWORD SystemNetUserEnum(DWORD level, DWORD filter, BYTE** buffer, DWORD* read, DWORD* total, DWORD* resume) {
  using F = DWORD(WINAPI*)(LPCWSTR, DWORD, DWORD, BYTE**, DWORD, DWORD*, DWORD*, DWORD*);
  static SystemFunction<F> lookup(L"netapi32.dll", "NetUserEnum");
  const F f = lookup.get();
  constexpr DWORD kAsMuchAsThereIs = 0xFFFFFFFF;  // MAX_PREFERRED_LENGTH, in lmcons.h
  return f ? f(nullptr, level, filter, buffer, kAsMuchAsThereIs, read, total, resume) : ERROR_PROC_NOT_FOUND;
}

BOOL SystemGetSaveFileName(OPENFILENAMEW* dialog) {
  using F = BOOL(WINAPI*)(OPENFILENAMEW*);
  static SystemFunction<F> lookup(L"comdlg32.dll", "GetSaveFileNameW");
  const F f = lookup.get();
  return f ? f(dialog) : Missing();
}

DWORD SystemCommDlgExtendedError() {
  using F = DWORD(WINAPI*)();
  static SystemFunction<F> lookup(L"comdlg32.dll", "CommDlgExtendedError");
  const F f = lookup.get();
  return f ? f() : CDERR_INITIALIZATION;
}

void SystemNetApiBufferFree(void* buffer) {
  using F = DWORD(WINAPI*)(void*);
  static SystemFunction<F> lookup(L"netapi32.dll", "NetApiBufferFree");
  const F f = lookup.get();
  if (f) f(buffer);
}

void SystemWTSFreeMemory(void* memory) {
  using F = void(WINAPI*)(void*);
  static SystemFunction<F> lookup(L"wtsapi32.dll", "WTSFreeMemory");
  const F f = lookup.get();
  if (f && memory) f(memory);
}

BOOL SystemWTSQueryUserToken(ULONG session, HANDLE* token) {
  using F = BOOL(WINAPI*)(ULONG, HANDLE*);
  static SystemFunction<F> lookup(L"wtsapi32.dll", "WTSQueryUserToken");
  const F f = lookup.get();
  return f ? f(session, token) : Missing();
}

BOOL SystemWTSLogoffSession(DWORD session) {
  using F = BOOL(WINAPI*)(HANDLE, DWORD, BOOL);
  static SystemFunction<F> lookup(L"wtsapi32.dll", "WTSLogoffSession");
  const F f = lookup.get();
  return f ? f(WTS_CURRENT_SERVER_HANDLE, session, FALSE) : Missing();
}

BOOL SystemWTSRegisterSessionNotification(HWND window, DWORD flags) {
  using F = BOOL(WINAPI*)(HWND, DWORD);
  static SystemFunction<F> lookup(L"wtsapi32.dll", "WTSRegisterSessionNotification");
  const F f = lookup.get();
  return f ? f(window, flags) : Missing();
}

BOOL SystemCreateEnvironmentBlock(void** environment, HANDLE token, BOOL inherit) {
  using F = BOOL(WINAPI*)(void**, HANDLE, BOOL);
  static SystemFunction<F> lookup(L"userenv.dll", "CreateEnvironmentBlock");
  const F f = lookup.get();
  return f ? f(environment, token, inherit) : Missing();
}

BOOL SystemDestroyEnvironmentBlock(void* environment) {
  using F = BOOL(WINAPI*)(void*);
  static SystemFunction<F> lookup(L"userenv.dll", "DestroyEnvironmentBlock");
  const F f = lookup.get();
  return f ? f(environment) : Missing();
}

BOOL SystemSetSuspendState(bool hibernate) {
  using F = BOOLEAN(WINAPI*)(BOOLEAN, BOOLEAN, BOOLEAN);
  static SystemFunction<F> lookup(L"powrprof.dll", "SetSuspendState");
  const F f = lookup.get();
  return f ? (f(hibernate ? TRUE : FALSE, FALSE, FALSE) ? TRUE : FALSE) : Missing();
}

BOOL SystemGetPwrCapabilities(SYSTEM_POWER_CAPABILITIES* capabilities) {
  using F = BOOLEAN(WINAPI*)(SYSTEM_POWER_CAPABILITIES*);
  static SystemFunction<F> lookup(L"powrprof.dll", "GetPwrCapabilities");
  const F f = lookup.get();
  return f ? (f(capabilities) ? TRUE : FALSE) : Missing();
}

LONG SystemCallNtPowerInformation(POWER_INFORMATION_LEVEL level, void* in, ULONG in_bytes, void* out, ULONG out_bytes) {
  using F = LONG(WINAPI*)(POWER_INFORMATION_LEVEL, void*, ULONG, void*, ULONG);
  static SystemFunction<F> lookup(L"powrprof.dll", "CallNtPowerInformation");
  const F f = lookup.get();
  constexpr LONG kNotImplemented = static_cast<LONG>(0xC0000002L);
  return f ? f(level, in, in_bytes, out, out_bytes) : kNotImplemented;
}

DWORD SystemPowerGetActiveScheme(GUID** scheme) {
  using F = DWORD(WINAPI*)(HKEY, GUID**);
  static SystemFunction<F> lookup(L"powrprof.dll", "PowerGetActiveScheme");
  const F f = lookup.get();
  return f ? f(nullptr, scheme) : ERROR_PROC_NOT_FOUND;
}

DWORD SystemPowerReadValueIndex(bool ac, const GUID* scheme, const GUID* subgroup, const GUID* setting, DWORD* value) {
  using F = DWORD(WINAPI*)(HKEY, const GUID*, const GUID*, const GUID*, DWORD*);
  static SystemFunction<F> read_ac(L"powrprof.dll", "PowerReadACValueIndex");
  static SystemFunction<F> read_dc(L"powrprof.dll", "PowerReadDCValueIndex");
  const F f = ac ? read_ac.get() : read_dc.get();
  return f ? f(nullptr, scheme, subgroup, setting, value) : ERROR_PROC_NOT_FOUND;
}

DWORD SystemPowerWriteValueIndex(bool ac, const GUID* scheme, const GUID* subgroup, const GUID* setting, DWORD value) {
  using F = DWORD(WINAPI*)(HKEY, const GUID*, const GUID*, const GUID*, DWORD);
  static SystemFunction<F> write_ac(L"powrprof.dll", "PowerWriteACValueIndex");
  static SystemFunction<F> write_dc(L"powrprof.dll", "PowerWriteDCValueIndex");
  const F f = ac ? write_ac.get() : write_dc.get();
  return f ? f(nullptr, scheme, subgroup, setting, value) : ERROR_PROC_NOT_FOUND;
}

DWORD SystemPowerSetActiveScheme(const GUID* scheme) {
  using F = DWORD(WINAPI*)(HKEY, const GUID*);
  static SystemFunction<F> lookup(L"powrprof.dll", "PowerSetActiveScheme");
  const F f = lookup.get();
  return f ? f(nullptr, scheme) : ERROR_PROC_NOT_FOUND;
}

}  // namespace dadado::win32
