// The functions the program needs from system DLLs that Windows does not
// count among its known ones (wtsapi32, userenv, powrprof). Imported the
// usual way they would be looked for first in the program's own folder, and
// whoever may write there could put a DLL of the same name beside it, to be
// run with the rights of whoever starts the program (an administrator who
// installs the guard from it, say). Here they are taken from the system
// folder by full path, and only when first used.
#pragma once

#include <windows.h>
#include <commdlg.h>
#include <wtsapi32.h>

namespace dadado::win32 {

// Called first thing: every DLL loaded later by name, by the program or by
// Windows on its behalf, comes from the system folder only.
void LoadLibrariesFromSystemFolderOnly();

// As the functions of the same names; FALSE with ERROR_PROC_NOT_FOUND when
// the system has no such function.
BOOL SystemWTSQuerySessionInformation(DWORD session, WTS_INFO_CLASS what, LPWSTR* buffer, DWORD* bytes);
void SystemWTSFreeMemory(void* memory);
BOOL SystemWTSQueryUserToken(ULONG session, HANDLE* token);
BOOL SystemWTSLogoffSession(DWORD session);
BOOL SystemWTSRegisterSessionNotification(HWND window, DWORD flags);
BOOL SystemCreateEnvironmentBlock(void** environment, HANDLE token, BOOL inherit);
BOOL SystemDestroyEnvironmentBlock(void* environment);
BOOL SystemSetSuspendState(bool hibernate);
BOOL SystemGetPwrCapabilities(SYSTEM_POWER_CAPABILITIES* capabilities);
// The power plan's functions, with their error codes (ERROR_PROC_NOT_FOUND
// when missing); `ac` chooses between the plugged-in and the battery value.
DWORD SystemPowerGetActiveScheme(GUID** scheme);
DWORD SystemPowerReadValueIndex(bool ac, const GUID* scheme, const GUID* subgroup, const GUID* setting, DWORD* value);
DWORD SystemPowerWriteValueIndex(bool ac, const GUID* scheme, const GUID* subgroup, const GUID* setting, DWORD value);
DWORD SystemPowerSetActiveScheme(const GUID* scheme);
// NetUserEnum and NetApiBufferFree (netapi32): the status, ERROR_PROC_NOT_FOUND
// when missing.
DWORD SystemNetUserEnum(DWORD level, DWORD filter, BYTE** buffer, DWORD* read, DWORD* total, DWORD* resume);
void SystemNetApiBufferFree(void* buffer);
// The save dialog (comdlg32, which pulls in much of the shell): loaded when
// a user first exports, not with every start. FALSE, with
// SystemCommDlgExtendedError() non-zero, when it could not be shown.
BOOL SystemGetSaveFileName(OPENFILENAMEW* dialog);
DWORD SystemCommDlgExtendedError();
// CallNtPowerInformation's NTSTATUS; STATUS_NOT_IMPLEMENTED-like non-zero
// when it is missing.
LONG SystemCallNtPowerInformation(POWER_INFORMATION_LEVEL level, void* in, ULONG in_bytes, void* out, ULONG out_bytes);

}  // namespace dadado::win32
