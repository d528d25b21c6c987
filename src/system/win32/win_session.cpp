#include "system/win32/win_session.h"

#include <wtsapi32.h>

#include <cstddef>

#include "system/win32/system_library.h"

namespace dadado::win32 {

namespace {

// WTSSessionInfoEx, as Windows lays it out; MinGW's headers lack it. The
// times make the block 8-aligned, so the level's data starts at offset 8.
constexpr WTS_INFO_CLASS kSessionInfoEx = static_cast<WTS_INFO_CLASS>(25);
constexpr LONG kSessionStateLock = 0, kSessionStateUnknown = -1;
struct SessionInfoEx {
  DWORD Level;
  union {
    struct {
      ULONG SessionId;
      WTS_CONNECTSTATE_CLASS SessionState;
      LONG SessionFlags;
      WCHAR WinStationName[33];
      WCHAR UserName[21];
      WCHAR DomainName[18];
      LARGE_INTEGER LogonTime;
      LARGE_INTEGER ConnectTime;
      LARGE_INTEGER DisconnectTime;
      LARGE_INTEGER LastInputTime;
      LARGE_INTEGER CurrentTime;
      DWORD IncomingBytes;
      DWORD OutgoingBytes;
      DWORD IncomingFrames;
      DWORD OutgoingFrames;
      DWORD IncomingCompressedBytes;
      DWORD OutgoingCompressedBytes;
    } Level1;
  };
};
static_assert(offsetof(SessionInfoEx, Level1.SessionFlags) == 16, "SessionFlags lies at offset 16");

// Windows 7 and Server 2008 R2 report the lock state the wrong way round.
bool LockFlagsReversed() {
  OSVERSIONINFOEXW v{};
  v.dwOSVersionInfoSize = sizeof v;
  v.dwMajorVersion = 6;
  v.dwMinorVersion = 1;
  const DWORDLONG mask = VerSetConditionMask(VerSetConditionMask(0, VER_MAJORVERSION, VER_LESS_EQUAL), VER_MINORVERSION,
                                             VER_LESS_EQUAL);
  return VerifyVersionInfoW(&v, VER_MAJORVERSION | VER_MINORVERSION, mask) != FALSE;
}

}  // namespace

std::optional<bool> LockStateOf(const void* block, DWORD bytes, bool reversed) {
  if (!block || bytes < offsetof(SessionInfoEx, Level1.WinStationName)) return std::nullopt;
  const auto* info = static_cast<const SessionInfoEx*>(block);
  if (info->Level != 1 || info->Level1.SessionFlags == kSessionStateUnknown) return std::nullopt;
  const bool locked = info->Level1.SessionFlags == kSessionStateLock;
  return reversed ? !locked : locked;
}

std::optional<bool> SessionIsLocked(DWORD session) {
  static const bool reversed = LockFlagsReversed();
  LPWSTR info = nullptr;
  DWORD bytes = 0;
  if (!SystemWTSQuerySessionInformation(session, kSessionInfoEx, &info, &bytes))
    return std::nullopt;
  const auto locked = LockStateOf(info, bytes, reversed);
  SystemWTSFreeMemory(info);
  return locked;
}

std::optional<bool> SessionIsActive(DWORD session) {
  WTS_CONNECTSTATE_CLASS* state = nullptr;
  DWORD bytes = 0;
  if (!SystemWTSQuerySessionInformation(session, WTSConnectState, reinterpret_cast<LPWSTR*>(&state),
                                   &bytes))
    return std::nullopt;
  const bool connected = state && bytes >= sizeof *state && *state == WTSActive;
  SystemWTSFreeMemory(state);
  if (!connected) return false;
  const auto locked = SessionIsLocked(session);
  if (!locked) return std::nullopt;
  return !*locked;
}

}  // namespace dadado::win32
