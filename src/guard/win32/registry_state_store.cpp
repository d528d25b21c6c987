#include "guard/win32/registry_state_store.h"

#include <sddl.h>

#include <vector>

#include "guard/win32/guard_win.h"
#include "system/win32/handle.h"
#include "system/win32/wide.h"

namespace dadado::win32 {

namespace {

// Inherited by nothing below it (there is nothing below it), and whatever
// HKLM\SOFTWARE passes on (CREATOR OWNER, for one) left out.
constexpr wchar_t kKeySecurity[] = L"O:BAD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)";

class KeySecurity {
 public:
  KeySecurity() {
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(kKeySecurity, SDDL_REVISION_1, &sd, nullptr))
      sd_ = UniqueLocal(sd);
  }
  PSECURITY_DESCRIPTOR descriptor() const { return sd_.get(); }

 private:
  UniqueLocal sd_;
};

}  // namespace

RegistryStateStore::RegistryStateStore() : RegistryStateStore(HKEY_LOCAL_MACHINE, kGuardRecordKey) {}

RegistryStateStore::RegistryStateStore(HKEY root, std::wstring subkey) : root_(root), subkey_(std::move(subkey)) {}

bool RegistryStateStore::Protect() {
  KeySecurity security;
  if (!security.descriptor()) return false;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, security.descriptor(), FALSE};
  HKEY raw = nullptr;
  if (RegCreateKeyExW(root_, subkey_.c_str(), 0, nullptr, 0, WRITE_DAC | KEY_WOW64_64KEY, &attributes, &raw, nullptr) !=
      ERROR_SUCCESS)
    return false;
  UniqueKey key(raw);
  // A key made before (by an earlier version, or by hand) keeps what it was
  // given then: given the service's own again.
  return RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                           security.descriptor()) == ERROR_SUCCESS;
}

std::optional<std::string> RegistryStateStore::Get(const std::string& name) { return Get(name, 1024 * 1024); }

std::optional<std::string> RegistryStateStore::Get(const std::string& name, std::size_t max_bytes) {
  const std::wstring value = Widen(name);
  const DWORD flags = RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY;
  DWORD size = 0;
  if (RegGetValueW(root_, subkey_.c_str(), value.c_str(), flags, nullptr, nullptr, &size) != ERROR_SUCCESS)
    return std::nullopt;
  if (size > max_bytes) return std::nullopt;
  // The value may grow between the two calls: read again with the new size.
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 1);
    DWORD got = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    const LSTATUS r = RegGetValueW(root_, subkey_.c_str(), value.c_str(), flags, nullptr, text.data(), &got);
    if (r == ERROR_SUCCESS) return Narrow(text.data());
    if (r != ERROR_MORE_DATA || got > max_bytes) return std::nullopt;
    size = got;
  }
  return std::nullopt;
}

bool RegistryStateStore::Set(const std::string& name, const std::string& value) {
  KeySecurity security;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, security.descriptor(), FALSE};
  HKEY raw = nullptr;
  // Created with the service's security when it is missing.
  if (RegCreateKeyExW(root_, subkey_.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                      security.descriptor() ? &attributes : nullptr, &raw, nullptr) != ERROR_SUCCESS)
    return false;
  UniqueKey key(raw);
  const std::wstring text = Widen(value);
  return RegSetValueExW(key.get(), Widen(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool RegistryStateStore::Remove(const std::string& name) {
  HKEY raw = nullptr;
  const LSTATUS opened = RegOpenKeyExW(root_, subkey_.c_str(), 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &raw);
  if (opened == ERROR_FILE_NOT_FOUND) return true;
  if (opened != ERROR_SUCCESS) return false;
  UniqueKey key(raw);
  const LSTATUS r = RegDeleteValueW(key.get(), Widen(name).c_str());
  return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
}

std::string RegistryStateStore::Where() const {
  std::string root = root_ == HKEY_LOCAL_MACHINE ? "HKLM" : root_ == HKEY_CURRENT_USER ? "HKCU" : "HKEY";
  return root + "\\" + Narrow(subkey_);
}

}  // namespace dadado::win32
