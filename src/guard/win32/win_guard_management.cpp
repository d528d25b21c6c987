#include "guard/win32/win_guard_management.h"

#include "guard/win32/guard_commands.h"
#include "guard/win32/guard_win.h"
#include "system/win32/wide.h"

namespace dadado::win32 {

bool WinGuardManagement::Installed() { return GuardServiceInstalled(); }

namespace {
// An answer older than this is asked again.
constexpr ULONGLONG kLookAheadFreshMs = 5000;
}  // namespace

WinGuardManagement::~WinGuardManagement() {
  if (look_ahead_) {
    WaitForSingleObject(look_ahead_, INFINITE);
    CloseHandle(look_ahead_);
  }
}

DWORD WINAPI WinGuardManagement::LookAheadThread(void* self) {
  static_cast<WinGuardManagement*>(self)->looked_ahead_running_ = GuardServiceRunning();
  return 0;
}

void WinGuardManagement::LookAhead() {
  if (look_ahead_) return;
  look_ahead_started_ = GetTickCount64();
  look_ahead_ = CreateThread(nullptr, 0, &WinGuardManagement::LookAheadThread, this, 0, nullptr);
}

bool WinGuardManagement::Running() {
  if (look_ahead_) {
    WaitForSingleObject(look_ahead_, INFINITE);
    CloseHandle(look_ahead_);
    look_ahead_ = nullptr;
    if (GetTickCount64() - look_ahead_started_ <= kLookAheadFreshMs) return looked_ahead_running_;
  }
  return GuardServiceRunning();
}

GuardChange WinGuardManagement::Install() { return ChangeGuardInstallation(log_, true); }

GuardChange WinGuardManagement::Uninstall() { return ChangeGuardInstallation(log_, false); }

GuardChange WinGuardManagement::InstallFromProgramFiles() { return InstallGuardFromProgramFiles(log_); }

std::optional<std::string> WinGuardManagement::PerformedLast() {
  if (auto text = GuardPerformedLast()) return Narrow(*text);
  return std::nullopt;
}

}  // namespace dadado::win32
