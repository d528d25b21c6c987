// A session's state as the system reports it: whoever may send a window
// message could claim a lock or a disconnect; only the system's answer counts.
#pragma once

#include <windows.h>

#include <optional>

namespace dadado::win32 {

// Whether the session's workstation is locked; nullopt when the system
// cannot say.
std::optional<bool> SessionIsLocked(DWORD session);
// Whether someone is at the session now: connected to the console (or a
// remote desktop) and not locked; nullopt when the system cannot say.
std::optional<bool> SessionIsActive(DWORD session);

// The lock state in a WTSSessionInfoEx block as the system returns it, with
// Windows 7's reversed flags turned the right way when `reversed`; nullopt
// when the block is short, of another level, or says it does not know.
std::optional<bool> LockStateOf(const void* block, DWORD bytes, bool reversed);

}  // namespace dadado::win32
