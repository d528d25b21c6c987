// The settings window's keys in one table: which section and key each
// control is stored under, its default, and when start-up reads it. Start-up
// and Cancel read from this table and Apply writes from it, so that no key
// is read and never written, or written under another name.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/calendar.h"
#include "settings/live_settings.h"
#include "settings/policy.h"
#include "settings/settings_file.h"

namespace dadado {

// What a key is stored from.
enum class SettingControl {
  kCheck,          // Check<n>: its value 0, 1 or 2
  kFrequency,      // Option1: the selected button, not written when none is
  kWeekday,        // Combo1
  kInterval,       // Combo2
  kAction,         // Combo3
  kScheduledTime,  // the time picker, stored as today's date with its time
  kIntervalStart,  // IntervalStart: written, as today, only for every-N-days
  kAllowedHours,   // Text3(n)
  kCatchUp,        // 错过后两小时内补做
  kDailyLimit,     // 每日限时 of weekday n, in minutes
  kPostpone,       // 推迟分钟数
  // The plans and their calendar are texts that may be long; they are read
  // whole (never cut as the older keys are), and missing keys are never
  // written with a default, so that a file without plans stays as it was.
  kPlan,           // 计划<n>: plan n of the list (1 .. 16), one line
  kHolidays,       // 假日: the holidays, dates and ranges
  kExtraWorkdays,  // 调休: the days made working days
  // Keys a file of an older program lacks: written only when they hold
  // something else than their default or the file holds them already, so
  // that Apply leaves such a file as it was.
  kAdministratorsExempt,  // 管理员不受限
  kRecordUsage,           // 记录使用时间
  kKeepDays,              // 保留天数
};

// Start-up reads the keys in steps, because setting a control runs its rule
// and the rules depend on what is already set.
enum class LoadStep {
  kOptions,   // frequency and the checkboxes that shape the window
  kSchedule,  // the schedule, the action, the tray icon
  kHours,     // the allowed hours, after the password has been seeded
  kLock,      // the lock at start, read just before it is acted on
  kCancel,    // only Cancel reads it again (start-up takes it from the registry)
};

struct SettingEntry {
  const char* section;
  std::string key;
  SettingControl control;
  int index;         // Check<n>, the weekday of Text3(n), or plan n
  int default_value; // for the numeric controls
  LoadStep step;
  const char* policy_name;  // the machine policy value that replaces it, or ""
};

// Every key of the settings window, in the order Apply writes them.
const std::vector<SettingEntry>& SettingsTable();
// The entry of a control (of weekday or checkbox `index`); every control has one.
const SettingEntry& EntryOf(SettingControl control, int index = 0);

// The plans and the calendar: their keys are read whole, never written with
// a default, and written by Apply only when they hold something or held
// something before (then emptied).
bool WrittenOnlyWhenHeld(SettingControl control);
// The keys written only when not their default, or held already.
bool WrittenWhenNotDefault(SettingControl control);

// The accounts' own sections [时间控制:<account>] of the file, in its order,
// at most kMaxAccountSections. A missing 启用 reads as 0, a missing week key
// as 24:00, a limit out of range as none, a SID that is none as no SID.
inline constexpr int kMaxAccountSections = 64;
std::vector<AccountSection> ReadAccountSections(SettingsFile& file);
// The account an account section is named for; nullopt for any other section.
std::optional<std::string> AccountOfSection(const std::string& section);
// Whether a text can name an account's section: not empty, no brackets, no
// line break, no more than the file keeps of a name.
bool IsAccountSectionName(const std::string& account);
// "S-1-5-21-…": digits and dashes after "S-1-".
bool IsSidText(const std::string& sid);
// An account section's keys, as Apply writes them, in order.
std::vector<std::pair<std::string, std::string>> AccountSectionKeys(const AccountSection& section);
// The account sections of an Apply's ini (GBK), each taken only when every
// key is one the window could have written; the names of those that are not
// go into `refused`.
std::vector<AccountSection> AcceptedAccountSections(const std::string& ini_bytes, std::vector<std::string>& refused);
// Writes the sections as the list holds them and removes the account
// sections it does not hold; true when the file holds them all.
bool SaveAccountSections(SettingsFile& file, const std::vector<AccountSection>& sections,
                         std::vector<std::string>* changed = nullptr);

// The running state that settings feed besides the controls.
struct LoadedExtras {
  std::string interval_start;  // IntervalStart
};

// The value a machine policy gives an entry, in the form the settings file
// holds it; nullopt when the policy leaves the entry alone, or holds a value
// of the wrong type or out of range for it.
std::optional<std::string> PolicyOverride(const SettingEntry& entry, const PolicyValues& policy);

// A value for an entry as the settings window's Apply writes it, checked and
// in the file's form; nullopt when it is none the window could have written
// (a number out of the control's range, a time that does not read, a text
// longer than the file keeps or with a line break in it, a plan line that
// does not read, a calendar list with an entry that is no date).
std::optional<std::string> AcceptedValue(const SettingEntry& entry, const std::string& text);
// The same for a key the file holds `stored` under. A plan line or calendar
// list sent as the file holds it is accepted as it stands, whether it reads
// or not: Apply leaves those keys alone while the lists are unchanged. A
// stored plan line that does not read is never replaced: Apply keeps such a
// line under its key.
std::optional<std::string> AcceptedValue(const SettingEntry& entry, const std::string& text,
                                         const std::optional<std::string>& stored);

// The controls that a machine policy holds: shown with the policy's value,
// disabled, and never saved.
struct PolicyLocks {
  bool read_only = false;  // SettingsReadOnly: nothing of the window is saved
  std::array<bool, kCheckCount + 1> check{};  // by n; Check2 is start with Windows
  bool frequency = false, scheduled_time = false, weekday = false, interval = false, action = false;
  std::array<bool, kWeekdays> allowed_hours{};
  bool password = false;
  bool catch_up = false;
  bool guard = false;
  std::array<bool, kWeekdays> daily_limit{};
  bool postpone = false;
  bool plans = false;  // the list of the 计划 tab
  bool holidays = false, extra_workdays = false;
  bool administrators_exempt = false;
  bool any() const;
};
PolicyLocks LocksOf(const PolicyValues& policy);
// 防止被结束: shown as the policy has it; the service itself is the
// administrator's to install.
std::optional<bool> PolicyGuard(const PolicyValues& policy);
// Start with Windows (Check2), read from the registry rather than the file.
std::optional<bool> PolicyStartWithWindows(const PolicyValues& policy);
// The stored form of the password the policy sets.
std::optional<std::string> PolicyPassword(const PolicyValues& policy);

// The plans a machine policy sets, as their canonical lines in the order of
// the values' numbers, at most kMaxPlans; nullopt when the policy holds no
// value in the Plans key. Lines that do not read are left out.
std::optional<std::vector<std::string>> PolicyPlanLines(const PolicyValues& policy);

// Reads the keys of one step into the controls, in table order; a key that
// the policy replaces takes the policy's value instead. Text keys that are
// missing are written with their default, as every text read does.
void LoadSettings(LoadStep step, SettingsFile& file, LiveSettings& live, LoadedExtras& extras,
                  const LocalDateTime& now, const PolicyValues& policy = {});

// One entry of a step: from the policy when it replaces it, else from the file.
// The first plan entry reads the whole list; the other plan entries do nothing.
// The calendar's lists are taken as the file holds them.
void LoadSetting(const SettingEntry& entry, SettingsFile& file, LiveSettings& live, LoadedExtras& extras,
                 const LocalDateTime& now, const PolicyValues& policy);

// The plan keys 计划1 .. 计划16 of the file that hold a line that does not
// read, with the line: the plans leave them out, and Apply keeps them.
std::vector<std::pair<std::string, std::string>> UnreadPlanLines(SettingsFile& file);

// Sets one entry's control from a value in the settings file's form. A plan
// line alone changes nothing: the plans are read as one list, by LoadSetting
// of the first plan entry, so that lines that do not read leave no gap.
void LoadSettingFrom(const SettingEntry& entry, const std::string& stored, LiveSettings& live, LoadedExtras& extras);

// Writes every key in one replacement of the file; true when the file holds
// them all afterwards. Keys that the policy replaces are left as they are,
// so the user's own value comes back when the policy goes. The plans and
// the calendar's lists are written only when they were changed since they
// were read; otherwise their keys stay as the file holds them. A changed
// list of plans goes under the keys from 计划1 on, except that a line of the
// file that does not read keeps its key and its text (moved after 计划16
// only when the plans need its key), and a plan the file already holds
// keeps its line as written there; keys left over that hold something are
// emptied. A plan or calendar key is written only when it has something to
// hold or held something before: Apply adds no empty sections to a file.
// The accounts' sections are written only when they were changed since they
// were read: each as the list holds it, and a section the list no longer
// holds is removed.
// `changed`, when given, receives the keys whose stored text changed.
bool SaveSettings(SettingsFile& file, const LiveSettings& live, const LocalDateTime& now,
                  const PolicyValues& policy = {}, std::vector<std::string>* changed = nullptr);

}  // namespace dadado
