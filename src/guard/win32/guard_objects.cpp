// The named objects between the program and the guard.
#include <windows.h>
#include <sddl.h>

#include <vector>

#include "guard/win32/guard_win.h"

namespace dadado::win32 {

namespace {

// The string form of this process's user.
std::wstring CurrentUserSid() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
  UniqueHandle token(raw);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (!size || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) return {};
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) return {};
  std::wstring sid = text;
  LocalFree(text);
  return sid;
}

// A security descriptor from SDDL, owned.
UniqueLocal DescriptorOf(const std::wstring& sddl) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &sd, nullptr)) return {};
  return UniqueLocal(sd);
}

}  // namespace

std::wstring AnnouncementName(DWORD session) { return L"Global\\dadado-program-" + std::to_wstring(session); }

UniqueHandle AnnounceProgram() {
  DWORD session = 0;
  if (!ProcessIdToSessionId(GetCurrentProcessId(), &session)) return {};
  // This user holds it; LocalSystem may look at it and nobody else may
  // touch it. Created by a standard user in the global namespace, which a
  // mutex (unlike a file mapping) allows.
  const std::wstring user = CurrentUserSid();
  std::wstring sddl = L"D:P(A;;GA;;;SY)";
  if (!user.empty()) sddl += L"(A;;GA;;;" + user + L")";
  UniqueLocal sd = DescriptorOf(sddl);
  SECURITY_ATTRIBUTES sa{sizeof sa, sd.get(), FALSE};
  return UniqueHandle(CreateMutexW(sd ? &sa : nullptr, FALSE, AnnouncementName(session).c_str()));
}

bool ProgramAnnounced(DWORD session) {
  UniqueHandle h(OpenMutexW(SYNCHRONIZE, FALSE, AnnouncementName(session).c_str()));
  // Denied access still means that it exists.
  return h || GetLastError() == ERROR_ACCESS_DENIED;
}

UniqueHandle CreateGuardExitEvent() {
  // Interactive users may set it (EVENT_MODIFY_STATE | SYNCHRONIZE); only
  // LocalSystem and administrators may change it.
  UniqueLocal sd = DescriptorOf(L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100002;;;IU)");
  SECURITY_ATTRIBUTES sa{sizeof sa, sd.get(), FALSE};
  return UniqueHandle(CreateEventW(sd ? &sa : nullptr, FALSE, FALSE, kGuardExitEventName));
}

bool TellGuardExitRequested() {
  UniqueHandle h(OpenEventW(EVENT_MODIFY_STATE, FALSE, kGuardExitEventName));
  return h && SetEvent(h.get());
}

std::optional<std::wstring> GuardPerformedLast() {
  wchar_t text[64] = {};
  DWORD size = sizeof text - sizeof(wchar_t);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kGuardRecordKey, kGuardRecordValue, RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY,
                   nullptr, text, &size) != ERROR_SUCCESS)
    return std::nullopt;
  return std::wstring(text);
}

}  // namespace dadado::win32
