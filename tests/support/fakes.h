// Stand-ins for the operating system, the screen, the clock and the disk,
// which record what the program asked of them.
#pragma once

#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/calendar.h"
#include "settings/file_store.h"
#include "guard/guard_management.h"
#include "system/os.h"
#include "ui/screen.h"

namespace dadado::testing {

class MemoryFileStore : public FileStore {
 public:
  std::map<std::string, std::string> files;
  bool fail_writes = false;
  bool fail_reads = false;
  int fail_next_reads = 0;  // this many reads fail, then they work again
  std::set<std::string> unreadable;  // these files cannot be read
  int writes = 0;

  FileContent Read(const std::string& path) override;
  bool WriteAtomically(const std::string& path, const std::string& bytes) override;
};

class FakeClock : public Clock {
 public:
  LocalDateTime now{{2026, 12, 7}, 12 * 3600};
  LocalDateTime Now() override { return now; }
  void Set(int y, int mo, int d, int h, int mi, int s) { now = {{y, mo, d}, h * 3600 + mi * 60 + s}; }
  void Advance(int seconds) { now = FromLocalSeconds(LocalSeconds(now) + seconds); }
};

class FakeOs : public OperatingSystem {
 public:
  // The registry: "key\\name" -> value; keys that exist.
  std::map<std::string, std::string> values;
  std::vector<std::string> keys{"software\\microsoft\\windows\\currentVersion\\run",
                                "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon"};
  bool read_only = false;        // opening for writing, creating, setting and deleting fail
  bool run_key_missing = false;  // the start-up key cannot be opened at all
  bool winlogon_missing = false;
  bool another_copy = false;
  bool privilege_ok = true;
  bool exit_ok = true;
  bool command_ok = true;
  std::vector<std::string> log;          // every operation, in order
  std::vector<unsigned> exit_calls;      // flags of every exit call
  std::vector<std::string> commands;
  std::vector<std::string> mail_links;
  int privilege_calls = 0;

  std::string ExecutableFolder() override { return "C:\\Program Files\\dadado"; }
  std::string ExecutableBaseName() override { return "dadado"; }
  char PathSeparator() override { return '\\'; }
  std::string SystemFolder() override { return "C:\\Windows\\system32"; }
  // What plans asked of this session.
  std::vector<std::string> plan_actions;  // "sleep", "hibernate", "lock", "screen off"
  bool plan_actions_ok = true;
  std::optional<std::int64_t> wake_timer;
  int wake_timer_sets = 0;
  bool kept_awake = false;
  int idle_seconds = 0;
  bool Suspend(bool hibernate) override {
    plan_actions.push_back(hibernate ? "hibernate" : "sleep");
    return plan_actions_ok;
  }
  bool LockSession() override {
    plan_actions.push_back("lock");
    return plan_actions_ok;
  }
  bool TurnScreenOff() override {
    plan_actions.push_back("screen off");
    return plan_actions_ok;
  }
  void ArmWakeTimer(std::optional<std::int64_t> at) override {
    wake_timer = at;
    ++wake_timer_sets;
  }
  void KeepAwake(bool keep) override { kept_awake = keep; }
  int IdleSeconds() override { return idle_seconds; }
  std::optional<bool> wake_timers_allowed = true;
  std::optional<bool> WakeTimersAllowed() override { return wake_timers_allowed; }
  bool administrator = false;
  bool IsAdministrator() override { return administrator; }
  bool AllowWakeTimers() override {
    if (read_only) return false;
    wake_timers_allowed = true;
    return true;
  }
  std::optional<std::int64_t> utc_seconds;
  std::optional<std::int64_t> UtcSeconds() override { return utc_seconds; }
  std::optional<TimeZoneRule> time_zone;  // unknown unless a test gives one
  std::optional<TimeZoneRule> TimeZone() override { return time_zone; }
  // HKEY_CURRENT_USER\Software\dadado
  std::map<std::string, std::string> user_values;
  bool user_values_fail = false;
  std::optional<std::string> ReadUserValue(const std::string& name) override {
    auto it = user_values.find(name);
    return it == user_values.end() ? std::nullopt : std::optional<std::string>(it->second);
  }
  bool WriteUserValue(const std::string& name, const std::string& value) override {
    if (user_values_fail) return false;
    user_values[name] = value;
    return true;
  }
  bool EnableShutdownPrivilege() override;
  bool ExitSession(unsigned flags) override;
  std::optional<RegKey> OpenKey(const std::string& path, bool for_writing) override;
  std::optional<RegKey> CreateKey(const std::string& path) override;
  std::optional<std::string> QueryString(RegKey key, const std::string& name) override;
  bool SetString(RegKey key, const std::string& name, const std::string& value) override;
  bool DeleteValue(RegKey key, const std::string& name) override;
  void CloseKey(RegKey key) override;
  // The automatic logon's secret: what it holds, each call in `log`.
  std::optional<std::string> logon_secret;
  bool secret_fails = false;
  bool StoreLogonSecret(const std::optional<std::string>& password) override {
    log.push_back(password ? "secret " + *password : "secret removed");
    if (!secret_fails) logon_secret = password;
    return !secret_fails;
  }
  std::optional<bool> LogonSecretStored() override {
    return secret_fails ? std::nullopt : std::optional(logon_secret.has_value());
  }
  bool StartCommand(const std::string& command_line) override;
  bool OpenMailLink(const std::string& address) override;
  bool AnotherCopyRunning() override { return another_copy; }
  PolicyValues policy;                   // the machine policy as the registry holds it
  int policy_reads = 0;
  struct Event {
    EventType type;
    int id;
    std::vector<std::string> strings;
  };
  std::vector<Event> events;
  int event_source_updates = 0;
  SystemError last_error{5, "拒绝访问。"};
  void WriteEvent(EventType type, int id, const std::vector<std::string>& strings) override {
    events.push_back({type, id, strings});
  }
  void UpdateEventSource() override { ++event_source_updates; }
  std::optional<Account> account;          // the process's own token
  std::vector<Account> local_accounts;
  std::optional<Account> CurrentAccount() override { return account; }
  std::vector<Account> LocalAccounts() override { return local_accounts; }
  std::optional<bool> session_locked;
  std::optional<bool> SessionLocked() override { return session_locked; }
  SystemError LastSystemError() override { return last_error; }
  PolicyValues ReadPolicyValues() override {
    ++policy_reads;
    return policy;
  }
  PowerSupport power;  // both on, as most machines have them
  PowerSupport PowerCapabilities() override { return power; }

  std::string Value(const std::string& key, const std::string& name) const;
  bool Has(const std::string& key, const std::string& name) const;

 private:
  bool Missing(const std::string& path) const;
  std::map<RegKey, std::string> open_;
  RegKey next_ = 1;
};

class FakeGuard : public GuardManagement {
 public:
  bool installed = false;
  bool running = false;
  GuardChange change;                     // what the next install or removal gives
  std::vector<bool> changes;              // install (true) or remove, in order
  GuardChange copied_install;             // what installing from Program Files gives
  int copied_installs = 0;
  std::optional<std::string> performed_last;

  bool Installed() override { return installed; }
  bool Running() override { return running; }
  GuardChange Install() override { return Changed(true); }
  GuardChange Uninstall() override { return Changed(false); }
  GuardChange InstallFromProgramFiles() override {
    ++copied_installs;
    if (copied_install.ok) installed = true;
    return copied_install;
  }
  std::optional<std::string> PerformedLast() override { return performed_last; }

 private:
  GuardChange Changed(bool install) {
    changes.push_back(install);
    if (change.ok) installed = install;
    return change;
  }
};

struct Message {
  std::string text, title;
  MessageIcon icon;
  MessageButtons buttons;
};

class FakeScreen : public Screen {
 public:
  bool form_visible = false;
  bool timer1 = false, timer2 = false;
  bool tray_shown = false;
  std::string tray_tip;
  bool countdown_open = false, countdown_visible = false;
  bool check_password_open = false;
  bool set_password_open = false;
  bool ended = false;
  int tray_menu_popups = 0;
  int focus_check_password = 0, focus_old_password = 0;
  std::vector<Message> messages;
  std::vector<Message> notices;               // shown without waiting
  std::deque<MessageAnswer> answers;          // answers to give, in order; OK when empty
  std::function<void()> during_message;       // runs while a message box is open
  std::function<void()> during_set_password;  // runs while the modal dialog is open

  void ShowSettingsWindow(bool visible) override { form_visible = visible; }
  bool plan_timer = false;
  bool usage_timer = false;
  void SetTimerRunning(FormTimer t, bool running) override {
    if (t == FormTimer::kUsage) usage_timer = running;
    else (t == FormTimer::kSchedule ? timer1 : t == FormTimer::kTimeControl ? timer2 : plan_timer) = running;
  }
  MessageAnswer ShowMessage(const std::string& text, const std::string& title, MessageIcon icon,
                            MessageButtons buttons) override;
  void ShowNotice(const std::string& text, const std::string& title, MessageIcon icon) override {
    notices.push_back({text, title, icon, MessageButtons::kOk});
  }
  std::vector<std::string> balloons;
  void ShowBalloon(const std::string& text) override { balloons.push_back(text); }
  void SetTrayIcon(bool shown, const std::string& tooltip) override {
    tray_shown = shown;
    tray_tip = tooltip;
  }
  void OpenCountdown(bool visible) override {
    countdown_open = true;
    countdown_visible = visible;
  }
  void CloseCountdown() override { countdown_open = countdown_visible = false; }
  void OpenCheckPassword() override { check_password_open = true; }
  void CloseCheckPassword() override { check_password_open = false; }
  void FocusCheckPassword() override { ++focus_check_password; }
  void RunSetPassword() override;
  void CloseSetPassword() override { set_password_open = false; }
  void FocusOldPassword() override { ++focus_old_password; }
  void PopUpTrayMenu() override { ++tray_menu_popups; }
  void EndProgram() override { ended = true; }
  void Refresh() override {}

  std::string LastMessage() const { return messages.empty() ? "" : messages.back().text; }
};

// A fresh, empty folder under the system's temporary folder.
std::filesystem::path MakeTempDir(const std::string& name);

}  // namespace dadado::testing
