// Who may change the files the guard runs from, and the security of the
// settings file while the guard owns it.
//
// The service runs dadado.exe as LocalSystem where it lies. Whoever may
// replace that file, put a library beside it, or rename a folder on its way
// can run code as LocalSystem or undo the guard; so the check is an
// allow-list: SYSTEM, Administrators and TrustedInstaller, and nobody else.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstring>
#include <iterator>
#include <vector>

#include "guard/win32/guard_win.h"

namespace dadado::win32 {

namespace {

// NT SERVICE\TrustedInstaller, which owns Windows' own folders:
// S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464.
bool IsTrustedInstaller(PSID sid) {
  static constexpr DWORD kSubAuthorities[] = {80, 956008885, 3418522649, 1831038044, 1853292631, 2271478464};
  static constexpr BYTE kNtAuthority[6] = {0, 0, 0, 0, 0, 5};
  const SID_IDENTIFIER_AUTHORITY* authority = GetSidIdentifierAuthority(sid);
  if (!authority || memcmp(authority->Value, kNtAuthority, sizeof kNtAuthority) != 0) return false;
  if (*GetSidSubAuthorityCount(sid) != std::size(kSubAuthorities)) return false;
  for (DWORD i = 0; i < std::size(kSubAuthorities); ++i)
    if (*GetSidSubAuthority(sid, i) != kSubAuthorities[i]) return false;
  return true;
}

bool IsTrusted(PSID sid) {
  return sid && IsValidSid(sid) &&
         (IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
          IsTrustedInstaller(sid));
}

// The rights that, in a user's hands, let them change what the service runs.
ACCESS_MASK ForbiddenRights(PathRole role) {
  constexpr ACCESS_MASK kRepermission = DELETE | WRITE_DAC | WRITE_OWNER;
  switch (role) {
    case PathRole::kFile: return FILE_WRITE_DATA | FILE_APPEND_DATA | kRepermission;
    case PathRole::kFolder:
      return FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | kRepermission;
    case PathRole::kAncestor:
      // Adding is allowed here: a drive's root lets every user make new
      // folders, which cannot replace the ones already there.
      return FILE_DELETE_CHILD | kRepermission;
  }
  return kRepermission;
}

enum class EntryKind { kAllows, kDenies, kIgnored };

// How an entry takes part in the check. Denials that may not apply
// (conditional or object-specific ones) are ignored, which can only make the
// check stricter; allowances of every kind count.
EntryKind KindOf(BYTE type) {
  switch (type) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_COMPOUND_ACE_TYPE: return EntryKind::kAllows;
    case ACCESS_DENIED_ACE_TYPE: return EntryKind::kDenies;
    default: return EntryKind::kIgnored;
  }
}

// The SID an entry speaks of; null when it names none this check can read
// (such an entry counts as a user's).
PSID SidOf(const ACE_HEADER* header) {
  const BYTE* start = reinterpret_cast<const BYTE*>(header);
  const BYTE* sid = nullptr;
  switch (header->AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_DENIED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
      sid = reinterpret_cast<const BYTE*>(&reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header)->SidStart);
      break;
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE: {
      const auto* entry = reinterpret_cast<const ACCESS_ALLOWED_OBJECT_ACE*>(header);
      sid = reinterpret_cast<const BYTE*>(&entry->ObjectType);
      if (entry->Flags & ACE_OBJECT_TYPE_PRESENT) sid += sizeof(GUID);
      if (entry->Flags & ACE_INHERITED_OBJECT_TYPE_PRESENT) sid += sizeof(GUID);
      break;
    }
    default: return nullptr;
  }
  // A SID that runs past its entry is not read.
  const BYTE* end = start + header->AceSize;
  if (sid + 8 > end) return nullptr;
  PSID p = const_cast<BYTE*>(sid);
  if (sid + GetSidLengthRequired(*GetSidSubAuthorityCount(p)) > end || !IsValidSid(p)) return nullptr;
  return p;
}

// Rights denied so far, per SID.
class Denials {
 public:
  void Add(PSID sid, ACCESS_MASK mask) {
    for (auto& [known, denied] : entries_)
      if (EqualSid(known.data(), sid)) {
        denied |= mask;
        return;
      }
    const auto* bytes = static_cast<const BYTE*>(sid);
    entries_.push_back({std::vector<BYTE>(bytes, bytes + GetLengthSid(sid)), mask});
  }
  ACCESS_MASK Of(PSID sid) const {
    for (const auto& [known, denied] : entries_)
      if (EqualSid(const_cast<BYTE*>(known.data()), sid)) return denied;
    return 0;
  }

 private:
  std::vector<std::pair<std::vector<BYTE>, ACCESS_MASK>> entries_;
};

// "C:\", "\\server\share\", "\\?\C:\", "\\?\UNC\server\share\": how many
// characters of a full path name its root; 0 when there is none to tell.
std::size_t RootLength(const std::wstring& path) {
  // The end of the count-th component from start, with its backslash.
  const auto after = [&](std::size_t start, int count) {
    std::size_t i = start;
    for (int c = 0; c < count; ++c) {
      const std::size_t slash = path.find(L'\\', i);
      if (slash == std::wstring::npos) return path.size();
      i = slash + 1;
    }
    return i;
  };
  if (path.size() >= 8 && _wcsnicmp(path.c_str(), L"\\\\?\\UNC\\", 8) == 0) return after(8, 2);
  if (path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0) return after(4, 1);
  if (path.rfind(L"\\\\", 0) == 0) return after(2, 2);
  if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') return 3;
  return 0;
}

// The folder that holds path; empty for a root.
std::wstring ParentOf(const std::wstring& path, std::size_t root) {
  if (path.size() <= root) return {};
  const std::size_t slash = path.find_last_of(L'\\');
  if (slash == std::wstring::npos) return {};
  if (slash + 1 <= root) return path.substr(0, root);
  return path.substr(0, slash);
}

std::wstring FullPath(const std::wstring& path) {
  const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (!size) return path;
  std::wstring full(size, L'\0');
  const DWORD length = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
  if (!length || length >= size) return path;
  full.resize(length);
  return full;
}

}  // namespace

bool OnlyTrustedCanChange(PSECURITY_DESCRIPTOR sd, PathRole role) {
  if (!sd || !IsValidSecurityDescriptor(sd)) return false;
  // The owner may always rewrite the list, whatever it says.
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!GetSecurityDescriptorOwner(sd, &owner, &defaulted) || !IsTrusted(owner)) return false;
  BOOL present = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted)) return false;
  if (!present || !dacl) return false;  // no list: everyone may do anything
  ACL_SIZE_INFORMATION info{};
  if (!GetAclInformation(dacl, &info, sizeof info, AclSizeInformation)) return false;

  const ACCESS_MASK forbidden = ForbiddenRights(role);
  GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
  // Entries are read in order, as the system reads them: a right an earlier
  // entry denied a SID is not granted to it by a later one.
  Denials denials;
  for (DWORD i = 0; i < info.AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) return false;
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    if (header->AceFlags & INHERIT_ONLY_ACE) continue;  // only for what is created inside
    const EntryKind kind = KindOf(header->AceType);
    if (kind == EntryKind::kIgnored) continue;
    ACCESS_MASK mask = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header)->Mask;  // the same place in every kind
    MapGenericMask(&mask, &mapping);
    PSID sid = SidOf(header);
    // CREATOR OWNER and OWNER RIGHTS speak of the owner, trusted by now.
    if (sid && (IsWellKnownSid(sid, WinCreatorOwnerSid) || IsWellKnownSid(sid, WinCreatorOwnerRightsSid))) sid = owner;
    if (sid && IsTrusted(sid)) continue;
    if (kind == EntryKind::kDenies) {
      if (sid) denials.Add(sid, mask);
      continue;
    }
    if (sid) mask &= ~denials.Of(sid);
    if (mask & forbidden) return false;
  }
  return true;
}

std::wstring SettingsPathOf(const std::wstring& exe) {
  const std::size_t slash = exe.find_last_of(L"\\/");
  const std::wstring folder = slash == std::wstring::npos ? L"" : exe.substr(0, slash + 1);
  std::wstring base = exe.substr(folder.size());
  if (base.size() > 4 && _wcsicmp(base.c_str() + base.size() - 4, L".exe") == 0) base.resize(base.size() - 4);
  return folder + base + L".ini";
}

std::vector<GuardedPath> PathsTheGuardRunsFrom(const std::wstring& exe) {
  // "..", "." and "/" resolved, so that the walk up meets every real folder.
  const std::wstring full = FullPath(exe);
  std::vector<GuardedPath> paths{{full, PathRole::kFile, false}, {SettingsPathOf(full), PathRole::kFile, true}};
  const std::size_t root = RootLength(full);
  std::wstring folder = ParentOf(full, root);
  if (folder.empty()) return paths;
  paths.push_back({folder, PathRole::kFolder, false});
  for (folder = ParentOf(folder, root); !folder.empty(); folder = ParentOf(folder, root))
    paths.push_back({folder, PathRole::kAncestor, false});
  return paths;
}

std::optional<std::wstring> FirstUnprotectedPath(const std::wstring& exe) {
  for (const GuardedPath& p : PathsTheGuardRunsFrom(exe)) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    const DWORD error = GetNamedSecurityInfoW(p.path.c_str(), SE_FILE_OBJECT,
                                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                                              nullptr, nullptr, nullptr, &sd);
    if (error == ERROR_FILE_NOT_FOUND && p.may_be_missing) continue;
    if (error != ERROR_SUCCESS) return p.path;
    UniqueLocal owned(sd);
    if (!OnlyTrustedCanChange(sd, p.role)) return p.path;
  }
  return std::nullopt;
}

ProtectedFileSecurity::ProtectedFileSecurity() {
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)", SDDL_REVISION_1, &sd,
                                                           nullptr))
    sd_ = UniqueLocal(sd);
}

bool ProtectSettingsFile(const std::wstring& ini) {
  ProtectedFileSecurity security;
  if (!security.descriptor()) return false;
  // A missing file is made with the protected security from the start.
  SECURITY_ATTRIBUTES attributes = security.attributes();
  UniqueHandle created(
      CreateFileW(ini.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (created) return true;
  if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) return false;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  if (!GetSecurityDescriptorOwner(security.descriptor(), &owner, &defaulted) ||
      !GetSecurityDescriptorDacl(security.descriptor(), &present, &dacl, &defaulted))
    return false;
  std::wstring path = ini;
  // The list first: Administrators owning the file may always rewrite it,
  // and the new list lets them take the ownership, which the old one may not.
  DWORD error = SetNamedSecurityInfoW(path.data(), SE_FILE_OBJECT,
                                      DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                      nullptr, dacl, nullptr);
  if (error == ERROR_SUCCESS)
    error = SetNamedSecurityInfoW(path.data(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, owner, nullptr, nullptr,
                                  nullptr);
  SetLastError(error);
  return error == ERROR_SUCCESS;
}

bool RestoreInheritedAccess(const std::wstring& ini) {
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof administrators;
  if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size)) return false;
  // No entries of its own: with inheritance on, the folder's are all it has.
  // (A null list here would mean everyone may do anything.)
  ACL empty{};
  if (!InitializeAcl(&empty, sizeof empty, ACL_REVISION)) return false;
  std::wstring path = ini;
  const DWORD error = SetNamedSecurityInfoW(
      path.data(), SE_FILE_OBJECT,
      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
      administrators, nullptr, &empty, nullptr);
  SetLastError(error);
  return error == ERROR_SUCCESS;
}

}  // namespace dadado::win32
