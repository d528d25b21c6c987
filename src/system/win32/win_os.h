// The operating-system interface over the Windows API.
#pragma once

#include <map>

#include "system/os.h"
#include <functional>

#include "system/win32/handle.h"
#include "system/win32/wake_timer.h"

namespace dadado::win32 {

class WinOperatingSystem : public OperatingSystem {
 public:
  WinOperatingSystem();

  std::string ExecutableFolder() override;
  std::string ExecutableBaseName() override;
  char PathSeparator() override { return '\\'; }
  std::string SystemFolder() override;
  bool Suspend(bool hibernate) override;
  bool LockSession() override;
  bool TurnScreenOff() override;
  void ArmWakeTimer(std::optional<std::int64_t> local_instant) override;
  void KeepAwake(bool keep) override;
  int IdleSeconds() override;
  std::optional<std::int64_t> UtcSeconds() override;
  std::optional<TimeZoneRule> TimeZone() override;
  std::optional<bool> WakeTimersAllowed() override;
  bool AllowWakeTimers() override;
  bool IsAdministrator() override;
  std::optional<Account> CurrentAccount() override;  // win_accounts.cpp
  std::vector<Account> LocalAccounts() override;
  // Called, from a thread of the timer's, when the wake timer fires.
  void OnWake(std::function<void()> woke) { wake_timer_.CallBack(std::move(woke)); }
  std::optional<std::string> ReadUserValue(const std::string& name) override;
  bool WriteUserValue(const std::string& name, const std::string& value) override;
  bool EnableShutdownPrivilege() override;
  bool ExitSession(unsigned flags) override;
  std::optional<RegKey> OpenKey(const std::string& path, bool for_writing) override;
  std::optional<RegKey> CreateKey(const std::string& path) override;
  std::optional<std::string> QueryString(RegKey key, const std::string& name) override;
  bool SetString(RegKey key, const std::string& name, const std::string& value) override;
  bool DeleteValue(RegKey key, const std::string& name) override;
  void CloseKey(RegKey key) override;
  // win_logon_secret.cpp
  bool StoreLogonSecret(const std::optional<std::string>& password) override;
  std::optional<bool> LogonSecretStored() override;
  bool StartCommand(const std::string& command_line) override;
  bool OpenMailLink(const std::string& address) override;
  bool AnotherCopyRunning() override;
  PolicyValues ReadPolicyValues() override;  // win_policy.cpp
  PowerSupport PowerCapabilities() override;
  // win_event_log.cpp
  SystemError LastSystemError() override;
  void WriteEvent(EventType type, int id, const std::vector<std::string>& strings) override;
  void UpdateEventSource() override;
  std::optional<bool> SessionLocked() override;
  // Lets another copy start: for a program that ends early. The instance is
  // otherwise held until this object goes.
  void ReleaseInstance();

  // The full path of the running executable.
  static std::wstring ModulePath();

 private:
  std::optional<RegKey> Keep(HKEY key);
  HKEY Find(RegKey key) const;

  std::map<RegKey, UniqueKey> keys_;
  RegKey next_key_ = 1;
  WakeTimer wake_timer_;
  // The instance mutex lives as long as this process.
  UniqueHandle instance_mutex_;
  bool another_copy_ = false;
  bool instance_checked_ = false;
};

}  // namespace dadado::win32
