// The guard's management over the Windows API: the service manager's word
// on the service, install and uninstall as the settings window asks for
// them, and the record an earlier guard kept.
#pragma once

#include <windows.h>

#include "guard/guard_management.h"
#include "system/os.h"

namespace dadado::win32 {

class WinGuardManagement : public GuardManagement {
 public:
  // Installing and removing are written to the event log through `log`.
  explicit WinGuardManagement(OperatingSystem& log) : log_(log) {}
  ~WinGuardManagement() override;
  WinGuardManagement(const WinGuardManagement&) = delete;
  WinGuardManagement& operator=(const WinGuardManagement&) = delete;

  // Starts asking the service manager whether the guard runs, on a thread of
  // its own: the answer takes a round trip to another process, and the
  // program's first question comes once its windows are made. The next
  // Running() within a few seconds takes this answer; later ones ask again.
  void LookAhead();

  bool Installed() override;
  bool Running() override;
  GuardChange Install() override;
  GuardChange Uninstall() override;
  GuardChange InstallFromProgramFiles() override;
  std::optional<std::string> PerformedLast() override;

 private:
  static DWORD WINAPI LookAheadThread(void* self);

  OperatingSystem& log_;
  HANDLE look_ahead_ = nullptr;
  ULONGLONG look_ahead_started_ = 0;
  bool looked_ahead_running_ = false;
};

}  // namespace dadado::win32
