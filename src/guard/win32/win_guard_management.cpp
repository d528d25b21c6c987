#include "guard/win32/win_guard_management.h"

#include "guard/win32/guard_commands.h"
#include "guard/win32/guard_win.h"
#include "system/win32/wide.h"

namespace dadado::win32 {

bool WinGuardManagement::Installed() { return GuardServiceInstalled(); }

bool WinGuardManagement::Running() { return GuardServiceRunning(); }

GuardChange WinGuardManagement::Install() { return ChangeGuardInstallation(log_, true); }

GuardChange WinGuardManagement::Uninstall() { return ChangeGuardInstallation(log_, false); }

GuardChange WinGuardManagement::InstallFromProgramFiles() { return InstallGuardFromProgramFiles(log_); }

std::optional<std::string> WinGuardManagement::PerformedLast() {
  if (auto text = GuardPerformedLast()) return Narrow(*text);
  return std::nullopt;
}

}  // namespace dadado::win32
