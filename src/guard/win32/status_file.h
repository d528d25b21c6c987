// The guard service's status: what /status tells scripts while the guard
// runs, written by the service and read by anyone. It lies in the value
// "Status" under HKLM\SOFTWARE\dadado\Guard, which every user may read and
// only SYSTEM and Administrators may write, and which nobody can hold open
// against the service (as anyone could hold a file beside the executable,
// where an earlier version wrote it). It carries no secret.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "guard/control_status.h"

namespace dadado {
class GuardHost;
}  // namespace dadado

namespace dadado::win32 {

class RegistryStateStore;

// "<exe base name>.status.json" beside the executable: where an earlier
// version wrote the status. The service removes one it finds.
std::wstring StatusPathOf(const std::wstring& exe);

// The process as a status's writer: its id and its creation time; nullopt
// when its creation time cannot be read.
std::optional<StatusWriter> WriterOfProcess(DWORD pid, HANDLE process);

// The service's side: writes its status when it differs from what was last
// written. A write that fails is not tried again at every turn of the loop,
// but after a pause that starts at a minute and doubles, up to a quarter of
// an hour.
class StatusPublisher {
 public:
  static constexpr ULONGLONG kFirstRetryMs = 60 * 1000;
  static constexpr ULONGLONG kLongestRetryMs = 15 * 60 * 1000;

  explicit StatusPublisher(RegistryStateStore& store);
  // After each thing the loop handled; `now_ms` from GetTickCount64.
  void Update(GuardHost& host, ULONGLONG now_ms);
  // When the loop should call Update again though nothing happened; nullopt
  // when nothing waits.
  std::optional<ULONGLONG> retry_at() const { return retry_at_; }
  // The service stops: its status goes with it.
  void Withdraw();

 private:
  RegistryStateStore& store_;
  std::string written_;
  std::optional<ULONGLONG> retry_at_;
  ULONGLONG pause_ = kFirstRetryMs;
};

// What /status learns of the guard service.
struct GuardStatusRead {
  bool running = false;              // the service runs (or starts)
  std::optional<std::string> text;   // its status, when it can be read and believed
};
GuardStatusRead CurrentGuardStatus();

}  // namespace dadado::win32
