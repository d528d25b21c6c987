// The guard service over the Windows API: what the program and the service
// know of each other, the rights check of the files the service runs from,
// install and uninstall, and the service itself.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "system/win32/handle.h"

namespace dadado::win32 {

inline constexpr wchar_t kGuardServiceName[] = L"dadadoGuard";
inline constexpr wchar_t kGuardDisplayName[] = L"dadado 守护服务";
inline constexpr wchar_t kGuardDescription[] = L"保证定时关机和时间控制不被结束。";
// The argument the service manager starts dadado.exe with.
inline constexpr wchar_t kGuardServiceArgument[] = L"/guard-service";
// Where an earlier version of the guard noted the scheduled instant it
// performed (HKLM, 64-bit view); still read, so that nothing it did is
// caught up again.
inline constexpr wchar_t kGuardRecordKey[] = L"SOFTWARE\\dadado\\Guard";
inline constexpr wchar_t kGuardRecordValue[] = L"LastScheduled";

// ---- the program and the service ------------------------------------------

// The process of the guard service while it runs (or starts).
std::optional<DWORD> GuardServiceProcess();
inline bool GuardServiceRunning() { return GuardServiceProcess().has_value(); }
// The program's ends of the pipes to the service that started it as its
// face, from the handle values on its command line: only pipes it inherited
// from the running service count.
struct FacePipes {
  UniqueHandle read, write;
};
std::optional<FacePipes> FacePipesFromArguments(const wchar_t* read, const wchar_t* write);
// The scheduled instant the earlier guard performed last, as "YYYY/M/D
// H:MM:SS" text; nullopt when there is none.
std::optional<std::wstring> GuardPerformedLast();
// Opens the file for reading as the service does its own executable while it
// runs: others may still read it, start it and rename it, but nobody can open
// it without sharing, which would keep the service's face, and the service
// itself once stopped, from being started from it.
UniqueHandle HoldAgainstExclusiveOpens(const std::wstring& path);

// ---- rights ---------------------------------------------------------------------

// Owns memory the security functions hand out with LocalAlloc.
struct LocalFreeTraits {
  static bool Valid(HLOCAL) { return true; }
  static void Close(HLOCAL p) { LocalFree(p); }
};
using UniqueLocal = UniqueOf<HLOCAL, LocalFreeTraits>;

// What a path is to the program the guard runs; it decides which rights
// nobody but SYSTEM, Administrators and TrustedInstaller may hold on it.
enum class PathRole {
  kFile,      // dadado.exe or its settings file: no writing, deleting or re-permissioning
  kFolder,    // the folder they lie in: no adding, deleting or renaming inside either
  kAncestor,  // every folder above it: nothing that could delete or rename what lies inside
};

// Whether only SYSTEM, Administrators and TrustedInstaller can change,
// replace or re-permission what the descriptor (owner and DACL) protects.
// Every other account or group counts as a user, whoever it is.
bool OnlyTrustedCanChange(PSECURITY_DESCRIPTOR sd, PathRole role);

struct GuardedPath {
  std::wstring path;
  PathRole role;
  bool may_be_missing;  // the settings file: when missing, its folder decides who may create it
};
// What the service's safety rests on, in the order they are checked: the
// executable, its settings file, its folder and every folder above it up to
// the root of its drive or share ("C:\", "\\server\share\").
std::vector<GuardedPath> PathsTheGuardRunsFrom(const std::wstring& exe);
// The settings file of an executable: its base name with ".ini", beside it.
std::wstring SettingsPathOf(const std::wstring& exe);
// The first of PathsTheGuardRunsFrom that a user could change, or whose
// security cannot be read; nullopt when all of them are safe. A missing
// settings file is skipped: its folder decides who may create it.
std::optional<std::wstring> FirstUnprotectedPath(const std::wstring& exe);

// ---- the settings file under the guard -------------------------------------------

// The security of the settings file while the guard owns it: owner
// Administrators, and a protected DACL of SYSTEM and Administrators with full
// control (nothing inherited from the folder), so that a user can neither
// read the stored password form nor hold the file open.
class ProtectedFileSecurity {
 public:
  ProtectedFileSecurity();
  // Null when the descriptor could not be built.
  PSECURITY_DESCRIPTOR descriptor() const { return sd_.get(); }
  // For CreateFileW; not inheritable.
  SECURITY_ATTRIBUTES attributes() const { return {sizeof(SECURITY_ATTRIBUTES), sd_.get(), FALSE}; }

 private:
  UniqueLocal sd_;
};

// Gives the settings file the protected security, creating it empty when it
// is missing (an existing file keeps its content). False with the Windows
// error in GetLastError when it could not.
bool ProtectSettingsFile(const std::wstring& ini);
// Gives the settings file back the access its folder passes on (inheritance
// on, no entries of its own) and owner Administrators. False with the Windows
// error in GetLastError when it could not.
bool RestoreInheritedAccess(const std::wstring& ini);

// ---- install and uninstall -------------------------------------------------------

enum class GuardSetupOutcome {
  kDone,
  kNotAdministrator,      // the service manager cannot be opened for this
  kRefused,               // the service manager refused a step: see error
  kNotInstalled,          // uninstall: there is no such service
  kUnprotectedLocation,   // install: users could change path; nothing was installed
  kSettingsFileRefused,   // the settings file's security could not be set: see error
};

struct GuardSetupResult {
  GuardSetupOutcome outcome = GuardSetupOutcome::kDone;
  DWORD error = 0;          // the Windows error of the step that failed
  std::wstring error_text;  // as the system words it
  std::wstring path;        // kUnprotectedLocation: the first path users could change
};

struct GuardServiceConfig {
  std::wstring name = kGuardServiceName;
  std::wstring display_name = kGuardDisplayName;
  std::wstring description = kGuardDescription;
  std::wstring executable;  // empty: this process's executable
  bool start = true;        // start it once installed
  // Refuse a location users could change (off only for tests whose
  // executable lies where Wine reports every file as the user's own).
  bool check_rights = true;
};

// Installs (or points at this executable) and starts the service, after the
// settings file beside the executable has been protected. Refuses, with
// nothing installed, an executable that users could replace.
GuardSetupResult InstallGuardService(const GuardServiceConfig& config = {});
// Stops and removes the service, then gives the settings file of the
// executable it ran back to its folder's access.
GuardSetupResult UninstallGuardService(const std::wstring& name = kGuardServiceName);

// ---- the service --------------------------------------------------------------

// Runs the guard as the service manager's service; returns when it stops.
// False when the process was not started by the service manager.
bool RunGuardService();

}  // namespace dadado::win32
