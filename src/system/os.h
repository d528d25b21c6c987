// Everything the program asks of the operating system, behind one interface
// so that the decisions can be tested without it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "scheduler/accounts.h"
#include "base/time_zone.h"
#include "system/event_log.h"

#include "settings/policy.h"

namespace dadado {

// A registry key under HKEY_LOCAL_MACHINE, opened by the OS layer.
using RegKey = int;

// Why the last failed system call failed, as the system says it.
struct SystemError {
  unsigned code = 0;
  std::string text;
};

// What the machine's power management offers; a plan that would sleep or
// hibernate a machine that cannot is refused before it is made.
struct PowerSupport {
  bool can_sleep = true;
  bool can_hibernate = true;
  bool operator==(const PowerSupport&) const = default;
};

class OperatingSystem {
 public:
  virtual ~OperatingSystem() = default;

  // The executable: its folder as the system reports it, its file name
  // without ".exe", and the separator of paths on this system.
  virtual std::string ExecutableFolder() = 0;
  virtual std::string ExecutableBaseName() = 0;
  virtual char PathSeparator() = 0;
  // The system folder (System32), where the system's own commands lie.
  virtual std::string SystemFolder() = 0;

  // Enables the shutdown privilege in this process's token; false when the
  // token does not hold it.
  virtual bool EnableShutdownPrivilege() = 0;
  // The exit call with the flags of the exit-flag table; false when refused.
  virtual bool ExitSession(unsigned flags) = 0;
  // The error of the call that failed last on this thread.
  virtual SystemError LastSystemError() = 0;

  // Registry, all under HKEY_LOCAL_MACHINE. Open and create give nullopt on
  // failure; the others report whether they succeeded.
  // Opens an existing key, for reading or for setting and deleting values.
  virtual std::optional<RegKey> OpenKey(const std::string& path, bool for_writing) = 0;
  virtual std::optional<RegKey> CreateKey(const std::string& path) = 0;
  // nullopt when the value does not exist; its text otherwise.
  virtual std::optional<std::string> QueryString(RegKey key, const std::string& name) = 0;
  virtual bool SetString(RegKey key, const std::string& name, const std::string& value) = 0;
  // True when the value is gone afterwards, including when it never existed.
  virtual bool DeleteValue(RegKey key, const std::string& name) = 0;
  virtual void CloseKey(RegKey key) = 0;

  // The system's own secret for the automatic logon's password (the LSA
  // secret that Winlogon reads), which no user but SYSTEM and
  // administrators can read. Stores `password`, or removes the secret when
  // none is given (removing one that is not there succeeds); false when the
  // system refused.
  virtual bool StoreLogonSecret(const std::optional<std::string>& password) = 0;
  // Whether that secret holds a password; nullopt when the system cannot say.
  virtual std::optional<bool> LogonSecretStored() = 0;

  // The program's own state for this user (HKEY_CURRENT_USER\Software\dadado),
  // where it goes when the settings file cannot be written.
  virtual std::optional<std::string> ReadUserValue(const std::string& name) = 0;
  virtual bool WriteUserValue(const std::string& name, const std::string& value) = 0;

  // What plans do, in this session: sleep or hibernate (wake timers left
  // on), lock the workstation, turn the screens off; each false when the
  // system refused.
  virtual bool Suspend(bool hibernate) = 0;
  virtual bool LockSession() = 0;
  virtual bool TurnScreenOff() = 0;
  // The timer that wakes the machine at a local instant (none: no wake).
  virtual void ArmWakeTimer(std::optional<std::int64_t> local_instant) = 0;
  // Keeps the machine from sleeping for lack of input, or lets it.
  virtual void KeepAwake(bool keep) = 0;
  // Whether the power plan lets wake timers wake the machine, and letting
  // it (an administrator's to do); nullopt when it cannot be said.
  virtual std::optional<bool> WakeTimersAllowed() = 0;
  // Whether this process runs with an administrator's rights.
  virtual bool IsAdministrator() = 0;
  virtual bool AllowWakeTimers() = 0;
  // Whether nobody is at this session (locked, or disconnected), as the
  // system says; nullopt when it cannot say.
  virtual std::optional<bool> SessionLocked() = 0;
  // The system's clock in UTC seconds since 1970; nullopt when not known.
  // Against the local clock it tells summer time from a clock being set.
  virtual std::optional<std::int64_t> UtcSeconds() = 0;
  // The rule of the time zone the system's clock keeps, which says when the
  // wall clock next changes season; nullopt when it cannot be said.
  virtual std::optional<TimeZoneRule> TimeZone() { return std::nullopt; }
  // Seconds without keyboard or mouse input in this session; 0 while a
  // program keeps the display on (a video, a presentation).
  virtual int IdleSeconds() = 0;

  // The account this process runs as, from its own token: the user name
  // without the domain, the SID, and whether the token holds Administrators
  // (enabled, or for deny only as a filtered token does); nullopt when the
  // token cannot be read.
  virtual std::optional<Account> CurrentAccount() = 0;
  // The machine's local accounts, without the built-in ones that are
  // disabled (Administrator, Guest and the like); empty when the system
  // does not say.
  virtual std::vector<Account> LocalAccounts() = 0;

  // Starts a command line in a normal window with the focus, not waiting.
  virtual bool StartCommand(const std::string& command_line) = 0;
  // Hands "mailto:" & address to the shell.
  virtual bool OpenMailLink(const std::string& address) = 0;
  // Whether another copy of this executable already runs in this session.
  virtual bool AnotherCopyRunning() = 0;

  // The machine policy values of the program, read afresh; empty when there
  // are none or they cannot be read.
  virtual PolicyValues ReadPolicyValues() = 0;

  // Whether the machine can sleep and hibernate now; both true when the
  // system does not say.
  virtual PowerSupport PowerCapabilities() = 0;

  // One entry in the Application log under the program's source; never
  // blocks for long and never fails the caller (a failure is ignored).
  virtual void WriteEvent(EventType type, int id, const std::vector<std::string>& strings) = 0;
  // Registers the program as the log's source, pointing at this executable,
  // when that is allowed (an administrator) and the registration is missing
  // or points elsewhere.
  virtual void UpdateEventSource() = 0;
};

}  // namespace dadado
