#include "system/win32/win_accounts.h"

#include <lm.h>
#include <sddl.h>

#include <memory>

#include "system/win32/handle.h"
#include "system/win32/system_library.h"
#include "system/win32/wide.h"
#include "system/win32/win_os.h"

namespace dadado::win32 {

namespace {

// The relative ids below this are the machine's built-in accounts.
constexpr DWORD kFirstUserRid = 1000;

// A token's information of one class, in a buffer of its own size.
std::unique_ptr<BYTE[]> TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS what) {
  DWORD bytes = 0;
  GetTokenInformation(token, what, nullptr, 0, &bytes);
  if (bytes == 0 || bytes > 1024 * 1024) return nullptr;
  auto buffer = std::make_unique<BYTE[]>(bytes);
  if (!GetTokenInformation(token, what, buffer.get(), bytes, &bytes)) return nullptr;
  return buffer;
}

std::string SidText(PSID sid) {
  LPWSTR text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return "";
  std::string result = Narrow(text);
  LocalFree(text);
  return result;
}

std::string NameOfSid(PSID sid) {
  wchar_t name[256], domain[256];
  DWORD name_length = 256, domain_length = 256;
  SID_NAME_USE use;
  if (!LookupAccountSidW(nullptr, sid, name, &name_length, domain, &domain_length, &use)) return "";
  return Narrow(std::wstring_view(name, name_length));
}

std::string SidOfName(const wchar_t* name) {
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD sid_bytes = sizeof sid;
  wchar_t domain[256];
  DWORD domain_length = 256;
  SID_NAME_USE use;
  if (!LookupAccountNameW(nullptr, name, sid, &sid_bytes, domain, &domain_length, &use)) return "";
  return SidText(sid);
}

}  // namespace

std::optional<Account> AccountOfToken(HANDLE token) {
  const auto user = TokenInformation(token, TokenUser);
  if (!user) return std::nullopt;
  PSID sid = reinterpret_cast<TOKEN_USER*>(user.get())->User.Sid;
  Account account{NameOfSid(sid), SidText(sid), false};
  if (account.name.empty()) return std::nullopt;
  BYTE admins[SECURITY_MAX_SID_SIZE];
  DWORD admins_bytes = sizeof admins;
  const auto groups = TokenInformation(token, TokenGroups);
  if (groups && CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &admins_bytes)) {
    const auto* list = reinterpret_cast<TOKEN_GROUPS*>(groups.get());
    for (DWORD i = 0; i < list->GroupCount; ++i)
      if (EqualSid(list->Groups[i].Sid, admins) &&
          (list->Groups[i].Attributes & (SE_GROUP_ENABLED | SE_GROUP_USE_FOR_DENY_ONLY)))
        account.administrator = true;
  }
  return account;
}

std::vector<Account> LocalAccountsOfMachine() {
  std::vector<Account> accounts;
  BYTE* buffer = nullptr;
  DWORD read = 0, total = 0, resume = 0;
  NET_API_STATUS status;
  do {
    status = SystemNetUserEnum(20, FILTER_NORMAL_ACCOUNT, &buffer, &read, &total, &resume);
    if ((status == NERR_Success || status == ERROR_MORE_DATA) && buffer) {
      const auto* users = reinterpret_cast<USER_INFO_20*>(buffer);
      for (DWORD i = 0; i < read && accounts.size() < 1000; ++i) {
        const bool built_in_off = (users[i].usri20_flags & UF_ACCOUNTDISABLE) && users[i].usri20_user_id < kFirstUserRid;
        if (built_in_off || !users[i].usri20_name) continue;
        accounts.push_back({Narrow(users[i].usri20_name), SidOfName(users[i].usri20_name), false});
      }
    }
    if (buffer) SystemNetApiBufferFree(buffer);
    buffer = nullptr;
  } while (status == ERROR_MORE_DATA && read > 0);
  return accounts;
}

std::optional<Account> WinOperatingSystem::CurrentAccount() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return std::nullopt;
  UniqueHandle token(raw);
  return AccountOfToken(token.get());
}

std::vector<Account> WinOperatingSystem::LocalAccounts() { return LocalAccountsOfMachine(); }

}  // namespace dadado::win32
