// The guard service's state on Windows: REG_SZ values under
// HKLM\SOFTWARE\dadado\Guard (the 64-bit view), the key where an earlier
// version of the guard noted the instant it performed. Users may read the
// key; only SYSTEM and Administrators may write it. Unlike a file, nothing a
// user can open there keeps the service from writing: a key has no sharing
// to deny.
#pragma once

#include <windows.h>

#include <string>

#include "guard/guard_state.h"

namespace dadado::win32 {

// The value the service's status lies in (see status_file.h).
inline constexpr char kStatusValue[] = "Status";

class RegistryStateStore : public GuardStateStore {
 public:
  RegistryStateStore();
  // Another key (tests): `subkey` of `root`, in the 64-bit view.
  RegistryStateStore(HKEY root, std::wstring subkey);

  // Creates the key if need be and gives it the service's security, an
  // earlier version's key included: SYSTEM and Administrators full control,
  // Users reading, nothing inherited. False when it could not.
  bool Protect();

  std::optional<std::string> Get(const std::string& name) override;
  // Get, refusing a value longer than `max_bytes` (as UTF-16).
  std::optional<std::string> Get(const std::string& name, std::size_t max_bytes);
  bool Set(const std::string& name, const std::string& value) override;
  bool Remove(const std::string& name) override;
  std::string Where() const override;

 private:
  HKEY root_;
  std::wstring subkey_;
};

}  // namespace dadado::win32
