// The guard as the program's own executable offers it: installing and
// removing it from the settings window or from a deployment script, and
// running as the service.
#pragma once

#include <string>

#include "guard/guard_management.h"
#include "system/os.h"

namespace dadado::win32 {

// /install-guard and /uninstall-guard: 0 on success; otherwise, after a
// message box that says why, 5 without an administrator, 3 when the program
// lies where users could change it (nothing is installed then), 2 otherwise.
int RunGuardCommand(bool install);

// The settings window's 防止被结束: installs or removes directly when this
// process is an administrator, else through an elevated copy of itself.
// What it did goes to the event log through `log`.
GuardChange ChangeGuardInstallation(OperatingSystem& log, bool install);
bool GuardServiceInstalled();

// Copies the program and its settings into Program Files\dadado and installs
// the guard from there (/install-guard-copy, when elevated).
GuardChange InstallGuardFromProgramFiles(OperatingSystem& log);
int RunGuardCopyCommand();
// /restore-settings-access: what the package's uninstall gives back once it
// has removed the service (the settings file's inherited access; the status
// file goes). 0 on success.
int RunRestoreSettingsAccess();

}  // namespace dadado::win32
