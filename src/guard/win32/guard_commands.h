// The guard as the program's own executable offers it: installing and
// removing it from the settings window or from a deployment script, and
// running as the service.
#pragma once

#include <string>

#include "system/os.h"

namespace dadado::win32 {

class WinOperatingSystem;

// /install-guard and /uninstall-guard: 0 on success; otherwise non-zero
// after a message box that says why. A warning about the folder goes to the
// console of the script that started it.
int RunGuardCommand(bool install);

// The settings window's 防止被结束: installs or removes directly when this
// process is an administrator, else through an elevated copy of itself.
OperatingSystem::GuardChange ChangeGuardInstallation(WinOperatingSystem& os, bool install);
bool GuardServiceInstalled();

}  // namespace dadado::win32
