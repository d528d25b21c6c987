// The guard service as the OS interface offers it to the program.
#include "guard/win32/guard_commands.h"
#include "guard/win32/guard_win.h"
#include "system/win32/wide.h"
#include "system/win32/win_os.h"

namespace dadado::win32 {

bool WinOperatingSystem::GuardInstalled() { return GuardServiceInstalled(); }

bool WinOperatingSystem::GuardRunning() { return GuardServiceRunning(); }

OperatingSystem::GuardChange WinOperatingSystem::ChangeGuard(bool install) {
  return ChangeGuardInstallation(*this, install);
}

OperatingSystem::GuardChange WinOperatingSystem::InstallGuardFromProgramFiles() {
  return dadado::win32::InstallGuardFromProgramFiles(*this);
}

std::optional<std::string> WinOperatingSystem::GuardPerformedLast() {
  if (auto text = dadado::win32::GuardPerformedLast()) return Narrow(*text);
  return std::nullopt;
}

}  // namespace dadado::win32
