#include "system/win32/win_session.h"

#include <wtsapi32.h>

#include <cstddef>

namespace dadado::win32 {

namespace {

// WTSSessionInfoEx, as Windows lays it out; MinGW's headers lack it.
constexpr WTS_INFO_CLASS kSessionInfoEx = static_cast<WTS_INFO_CLASS>(25);
constexpr LONG kSessionStateLock = 0, kSessionStateUnknown = -1;
struct SessionInfoEx {
  DWORD Level;
  struct {
    ULONG SessionId;
    WTS_CONNECTSTATE_CLASS SessionState;
    LONG SessionFlags;
    WCHAR WinStationName[33];
    WCHAR UserName[21];
    WCHAR DomainName[18];
  } Level1;
};

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

std::optional<bool> SessionIsLocked(DWORD session) {
  static const bool reversed = LockFlagsReversed();
  SessionInfoEx* info = nullptr;
  DWORD bytes = 0;
  if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, session, kSessionInfoEx, reinterpret_cast<LPWSTR*>(&info),
                                   &bytes))
    return std::nullopt;
  LONG flags = kSessionStateUnknown;
  if (info && bytes >= offsetof(SessionInfoEx, Level1.WinStationName) && info->Level == 1)
    flags = info->Level1.SessionFlags;
  WTSFreeMemory(info);
  if (flags == kSessionStateUnknown) return std::nullopt;
  const bool locked = flags == kSessionStateLock;
  return reversed ? !locked : locked;
}

std::optional<bool> SessionIsActive(DWORD session) {
  WTS_CONNECTSTATE_CLASS* state = nullptr;
  DWORD bytes = 0;
  if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, session, WTSConnectState, reinterpret_cast<LPWSTR*>(&state),
                                   &bytes))
    return std::nullopt;
  const bool connected = state && bytes >= sizeof *state && *state == WTSActive;
  WTSFreeMemory(state);
  if (!connected) return false;
  const auto locked = SessionIsLocked(session);
  if (!locked) return std::nullopt;
  return !*locked;
}

}  // namespace dadado::win32
