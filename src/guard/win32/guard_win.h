// The guard service over the Windows API: the program's announcement and
// its Exit, the rights check of the files the service runs from, install and
// uninstall, and the service itself.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "system/win32/handle.h"

namespace dadado::win32 {

inline constexpr wchar_t kGuardServiceName[] = L"dadadoGuard";
inline constexpr wchar_t kGuardDisplayName[] = L"dadado 守护服务";
inline constexpr wchar_t kGuardDescription[] = L"保证定时关机和时间控制不被结束。";
// The argument the service manager starts dadado.exe with.
inline constexpr wchar_t kGuardServiceArgument[] = L"/guard-service";
// The guard's event that the program sets on Exit.
inline constexpr wchar_t kGuardExitEventName[] = L"Global\\dadado-guard-exit";
// Where the guard notes the scheduled instant it performed (HKLM, 64-bit view).
inline constexpr wchar_t kGuardRecordKey[] = L"SOFTWARE\\dadado\\Guard";
inline constexpr wchar_t kGuardRecordValue[] = L"LastScheduled";

// ---- the program's side -------------------------------------------------

// "Global\dadado-program-<session>": one name per session, so that the guard
// asks about the console session only.
std::wstring AnnouncementName(DWORD session);
// Creates and holds the announcement of this process's session for as long
// as the handle lives. Only this user and LocalSystem may open it.
UniqueHandle AnnounceProgram();
// Tells the guard that the program ends by Exit; false when no guard runs.
bool TellGuardExitRequested();
// The scheduled instant the guard performed last, as "YYYY/M/D H:MM:SS"
// text, for the program's catch-up; nullopt when there is none.
std::optional<std::wstring> GuardPerformedLast();

// ---- the guard's side ------------------------------------------------------

// Whether a program holds the announcement of a session.
bool ProgramAnnounced(DWORD session);
// The event of Exit, made by the guard so that interactive users may set it
// but not take it over.
UniqueHandle CreateGuardExitEvent();

// ---- rights ---------------------------------------------------------------------

// Whether a security descriptor lets a standard user (Users, Authenticated
// Users, Everyone, Interactive) write, replace or re-permission what it
// protects.
bool StandardUsersCanWrite(PSECURITY_DESCRIPTOR sd);
// The same for a file or folder; nullopt when its security cannot be read.
std::optional<bool> WritableByStandardUsers(const std::wstring& path);

// ---- install and uninstall -------------------------------------------------------

enum class GuardSetupOutcome {
  kDone,
  kNotAdministrator,      // the service manager cannot be opened for this
  kRefused,               // the service manager refused a step: see error
  kNotInstalled,          // uninstall: there is no such service
};

struct GuardSetupResult {
  GuardSetupOutcome outcome = GuardSetupOutcome::kDone;
  DWORD error = 0;          // the Windows error of the step that failed
  std::wstring error_text;  // as the system words it
  // Install succeeded, but standard users could replace the program, put a
  // file beside it or change its settings: whoever may, may undo the guard
  // or run code as LocalSystem. The installer is told to use Program Files.
  bool writable_by_users = false;
};

struct GuardServiceConfig {
  std::wstring name = kGuardServiceName;
  std::wstring display_name = kGuardDisplayName;
  std::wstring description = kGuardDescription;
  std::wstring executable;  // empty: this process's executable
  bool start = true;        // start it once installed
  bool check_rights = true;
};

GuardSetupResult InstallGuardService(const GuardServiceConfig& config = {});
GuardSetupResult UninstallGuardService(const std::wstring& name = kGuardServiceName);

// ---- the service --------------------------------------------------------------

// Runs the guard as the service manager's service; returns when it stops.
// False when the process was not started by the service manager.
bool RunGuardService();

}  // namespace dadado::win32
