// What the program and the guard service know of each other: whether the
// service runs, the pipes it hands the program it starts as its face, and the
// record an earlier version of the guard kept of what it performed.
#include <windows.h>

#include <cwchar>

#include "guard/win32/guard_win.h"

namespace dadado::win32 {

std::optional<DWORD> GuardServiceProcess() {
  SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!scm) return std::nullopt;
  std::optional<DWORD> pid;
  if (SC_HANDLE service = OpenServiceW(scm, kGuardServiceName, SERVICE_QUERY_STATUS)) {
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                             &needed) &&
        (status.dwCurrentState == SERVICE_RUNNING || status.dwCurrentState == SERVICE_START_PENDING))
      pid = status.dwProcessId;
    CloseServiceHandle(service);
  }
  CloseServiceHandle(scm);
  return pid;
}

std::optional<FacePipes> FacePipesFromArguments(const wchar_t* in, const wchar_t* out) {
  auto handle_of = [](const wchar_t* text) -> HANDLE {
    if (!text || !*text) return nullptr;
    wchar_t* end = nullptr;
    const unsigned long long v = std::wcstoull(text, &end, 10);
    return end && !*end ? reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(v)) : nullptr;
  };
  HANDLE read = handle_of(in), write = handle_of(out);
  if (!read || !write || read == write) return std::nullopt;
  // Only pipes this process inherited from the running guard service: a
  // copy started by hand with numbers on its command line has none, or has
  // pipes of its starter's.
  if (GetFileType(read) != FILE_TYPE_PIPE || GetFileType(write) != FILE_TYPE_PIPE) return std::nullopt;
  const auto guard = GuardServiceProcess();
  if (!guard) return std::nullopt;
  for (HANDLE h : {read, write}) {
    ULONG server = 0;
    if (!GetNamedPipeServerProcessId(h, &server) || server != *guard) return std::nullopt;
  }
  // The numbers are ours now; nothing else in this process uses them.
  return FacePipes{UniqueHandle(read), UniqueHandle(write)};
}

std::optional<std::wstring> GuardPerformedLast() {
  wchar_t text[64] = {};
  DWORD size = sizeof text - sizeof(wchar_t);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kGuardRecordKey, kGuardRecordValue, RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY,
                   nullptr, text, &size) != ERROR_SUCCESS)
    return std::nullopt;
  return std::wstring(text);
}

UniqueHandle HoldAgainstExclusiveOpens(const std::wstring& path) {
  // Windows keeps no handle open on a running executable, only its image, so
  // any user who may read it could otherwise open it without sharing. With
  // this handle such an open fails, since it would not share our reading;
  // starting the file, reading it and an installer's rename of it (the
  // deleting is shared) go on as before.
  return UniqueHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace dadado::win32
