// The guard's management over the Windows API: the service manager's word
// on the service, install and uninstall as the settings window asks for
// them, and the record an earlier guard kept.
#pragma once

#include "guard/guard_management.h"
#include "system/os.h"

namespace dadado::win32 {

class WinGuardManagement : public GuardManagement {
 public:
  // Installing and removing are written to the event log through `log`.
  explicit WinGuardManagement(OperatingSystem& log) : log_(log) {}

  bool Installed() override;
  bool Running() override;
  GuardChange Install() override;
  GuardChange Uninstall() override;
  GuardChange InstallFromProgramFiles() override;
  std::optional<std::string> PerformedLast() override;

 private:
  OperatingSystem& log_;
};

}  // namespace dadado::win32
