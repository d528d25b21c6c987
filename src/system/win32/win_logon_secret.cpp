// The automatic logon's password as the system's own secret: the LSA secret
// "DefaultPassword", which Winlogon reads before the readable registry value
// and which only SYSTEM and administrators can open.
#include <windows.h>
#include <ntsecapi.h>

#include "system/win32/wide.h"
#include "system/win32/win_os.h"

namespace dadado::win32 {

namespace {

constexpr NTSTATUS kStatusObjectNameNotFound = static_cast<NTSTATUS>(0xC0000034L);
wchar_t kSecretName[] = L"DefaultPassword";

LSA_UNICODE_STRING Counted(wchar_t* text, std::size_t length) {
  const auto bytes = static_cast<USHORT>(length * sizeof(wchar_t));
  return LSA_UNICODE_STRING{bytes, bytes, text};
}

// The policy, opened for `access`; null with the error set when refused.
LSA_HANDLE OpenPolicy(ACCESS_MASK access) {
  LSA_OBJECT_ATTRIBUTES attributes{};
  LSA_HANDLE policy = nullptr;
  const NTSTATUS status = LsaOpenPolicy(nullptr, &attributes, access, &policy);
  if (status != 0) {
    SetLastError(LsaNtStatusToWinError(status));
    return nullptr;
  }
  return policy;
}

}  // namespace

bool WinOperatingSystem::StoreLogonSecret(const std::optional<std::string>& password) {
  LSA_HANDLE policy = OpenPolicy(POLICY_CREATE_SECRET);
  if (!policy) return false;
  LSA_UNICODE_STRING name = Counted(kSecretName, lstrlenW(kSecretName));
  std::wstring wide = password ? Widen(*password) : std::wstring();
  LSA_UNICODE_STRING data = Counted(wide.data(), wide.size());
  const NTSTATUS status = LsaStorePrivateData(policy, &name, password ? &data : nullptr);
  SecureZeroMemory(wide.data(), wide.size() * sizeof(wchar_t));
  LsaClose(policy);
  if (!password && status == kStatusObjectNameNotFound) return true;
  if (status != 0) SetLastError(LsaNtStatusToWinError(status));
  return status == 0;
}

std::optional<bool> WinOperatingSystem::LogonSecretStored() {
  LSA_HANDLE policy = OpenPolicy(POLICY_GET_PRIVATE_INFORMATION);
  if (!policy) return std::nullopt;
  LSA_UNICODE_STRING name = Counted(kSecretName, lstrlenW(kSecretName));
  PLSA_UNICODE_STRING data = nullptr;
  const NTSTATUS status = LsaRetrievePrivateData(policy, &name, &data);
  LsaClose(policy);
  if (status == kStatusObjectNameNotFound) return false;
  if (status != 0) return std::nullopt;
  const bool stored = data && data->Length > 0;
  // Only whether there is one was asked: the password goes at once.
  if (data) {
    if (data->Buffer) SecureZeroMemory(data->Buffer, data->Length);
    LsaFreeMemory(data);
  }
  return stored;
}

}  // namespace dadado::win32
