// The guard service's status file: what /status tells scripts while the
// guard runs, written by the service and read by anyone. It lies beside the
// executable, in a folder that only SYSTEM, Administrators and
// TrustedInstaller may change (the guard installs nowhere else), and carries
// no secret, so a standard user can read it but not forge it. The service
// rewrites it only when its content changes: the status has no clock of its
// own, and the folder the service watches for its settings file would
// otherwise never settle.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "guard/control_status.h"

namespace dadado {
class GuardHost;
}  // namespace dadado

namespace dadado::win32 {

// "<exe base name>.status.json" beside the executable.
std::wstring StatusPathOf(const std::wstring& exe);

// The process as a status's writer: its id and its creation time; nullopt
// when its creation time cannot be read.
std::optional<StatusWriter> WriterOfProcess(DWORD pid, HANDLE process);

// The service, after each thing it handled: writes its status when it
// differs from what the file holds (atomically, readable by every user,
// writable by SYSTEM and Administrators only). A failed write is tried again
// after the next event.
void UpdateStatusFile(GuardHost& host);

// The status the running guard service wrote beside `exe`; nullopt when the
// service does not run, or the file is missing, damaged, or was written by a
// process that is not the running service.
std::optional<std::string> CurrentGuardStatus(const std::wstring& exe);

}  // namespace dadado::win32
