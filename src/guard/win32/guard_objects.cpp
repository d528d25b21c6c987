// The named objects between the program and the guard, and the rights check.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "guard/win32/guard_win.h"

namespace dadado::win32 {

namespace {

struct LocalFreeTraits {
  static bool Valid(HLOCAL) { return true; }
  static void Close(HLOCAL p) { LocalFree(p); }
};
using UniqueLocal = UniqueOf<HLOCAL, LocalFreeTraits>;

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

bool IsStandardUsersSid(PSID sid) {
  static const WELL_KNOWN_SID_TYPE kTypes[] = {WinBuiltinUsersSid, WinAuthenticatedUserSid, WinWorldSid,
                                               WinInteractiveSid};
  for (WELL_KNOWN_SID_TYPE t : kTypes)
    if (IsWellKnownSid(sid, t)) return true;
  return false;
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

bool StandardUsersCanWrite(PSECURITY_DESCRIPTOR sd) {
  // Rights that let a user change the content, replace or delete the file,
  // add files to a folder, or give themselves the rest.
  constexpr ACCESS_MASK kDangerous = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                     WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
  GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
  PSID owner = nullptr;
  BOOL owner_defaulted = FALSE;
  if (GetSecurityDescriptorOwner(sd, &owner, &owner_defaulted) && owner && IsStandardUsersSid(owner))
    return true;  // the owner may always rewrite the list
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted)) return true;  // unknown: assume the worst
  if (!present || !dacl) return true;  // no list: everyone may do anything
  ACL_SIZE_INFORMATION info{};
  if (!GetAclInformation(dacl, &info, sizeof info, AclSizeInformation)) return true;
  // Every standard user is in each of these groups, so a denial to any of
  // them holds for all; the first entry that speaks of a right decides it.
  ACCESS_MASK denied = 0, granted = 0;
  for (DWORD i = 0; i < info.AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) continue;
    auto* header = static_cast<ACE_HEADER*>(ace);
    if (header->AceFlags & INHERIT_ONLY_ACE) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_DENIED_ACE_TYPE) continue;
    auto* entry = static_cast<ACCESS_ALLOWED_ACE*>(ace);  // the denied form has the same layout
    if (!IsStandardUsersSid(&entry->SidStart)) continue;
    ACCESS_MASK mask = entry->Mask;
    const ACCESS_MASK generic = mask & (GENERIC_WRITE | GENERIC_ALL);
    MapGenericMask(&mask, &mapping);
    mask |= generic;
    if (header->AceType == ACCESS_DENIED_ACE_TYPE) denied |= mask & ~granted;
    else granted |= mask & ~denied;
  }
  return (granted & kDangerous) != 0;
}

std::optional<bool> WritableByStandardUsers(const std::wstring& path) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                            nullptr, nullptr, nullptr, nullptr, &sd) != ERROR_SUCCESS)
    return std::nullopt;
  UniqueLocal owned(sd);
  return StandardUsersCanWrite(sd);
}

}  // namespace dadado::win32
