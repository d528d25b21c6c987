// The guard service as the program sees it from outside: whether it is
// installed and runs, installing and removing it, and what it performed
// last. The program asks these of the guard, never of the operating
// system, which knows nothing of the guard.
#pragma once

#include <optional>
#include <string>

namespace dadado {

// What installing or removing the guard came to.
struct GuardChange {
  bool ok = true;
  std::string why;  // when not ok, for "以下设置没有保存"
  // Not installed: users could change the program or a folder above it.
  bool unprotected_location = false;
};

class GuardManagement {
 public:
  virtual ~GuardManagement() = default;

  virtual bool Installed() = 0;
  // Whether the service runs now (it then enforces, and starts its own
  // face of the program).
  virtual bool Running() = 0;
  // Installing or removing the service, asking for elevation when this
  // process is not an administrator.
  virtual GuardChange Install() = 0;
  virtual GuardChange Uninstall() = 0;
  // Copies the program and its settings into a folder only administrators
  // may change (Program Files) and installs the guard from there.
  virtual GuardChange InstallFromProgramFiles() = 0;
  // The scheduled instant the guard performed last, as the settings file
  // writes instants; nullopt when it never did.
  virtual std::optional<std::string> PerformedLast() = 0;
};

}  // namespace dadado
