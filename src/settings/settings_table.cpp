#include "settings/settings_table.h"

#include <algorithm>
#include <cstdint>

#include "base/date_time_text.h"
#include "scheduler/plan.h"
#include "scheduler/time_control.h"
#include "scheduler/usage_history.h"
#include "scheduler/work_calendar.h"
#include "settings/ini_text.h"
#include "settings/keys.h"
#include "settings/text.h"

namespace dadado {

const std::vector<SettingEntry>& SettingsTable() {
  static const std::vector<SettingEntry> table = [] {
    using C = SettingControl;
    using S = LoadStep;
    namespace p = policy;
    std::vector<SettingEntry> t = {
        {keys::kGeneral, keys::kFrequency, C::kFrequency, 0, kFrequencyNone, S::kOptions, p::kScheduleFrequency},
        {keys::kGeneral, keys::kScheduledTime, C::kScheduledTime, 0, 0, S::kSchedule, p::kScheduleTime},
        {keys::kGeneral, keys::kWeeklyDay, C::kWeekday, 0, 0, S::kSchedule, p::kScheduleWeekday},
        {keys::kGeneral, keys::kInterval, C::kInterval, 0, 0, S::kSchedule, p::kScheduleIntervalDays},
        {keys::kGeneral, keys::kIntervalStart, C::kIntervalStart, 0, 0, S::kSchedule, p::kIntervalStart},
        {keys::kGeneral, keys::kAction, C::kAction, 0, kActionNone, S::kSchedule, p::kAction},
        {keys::kGeneral, keys::kRemoveTrayIcon, C::kCheck, 1, 0, S::kSchedule, p::kHideTrayIcon},
        {keys::kGeneral, keys::kHideAfterStart, C::kCheck, 7, 0, S::kOptions, p::kHideWindowAtStart},
        {keys::kGeneral, keys::kLockAfterStart, C::kCheck, 5, 0, S::kLock, p::kLockAtStart},
        {keys::kGeneral, keys::kForced, C::kCheck, 8, 1, S::kOptions, p::kForceImmediate},
        {keys::kGeneral, keys::kShutdownScreen, C::kCheck, 9, 1, S::kOptions, p::kShowWarning},
        {keys::kGeneral, keys::kPasswordProtection, C::kCheck, 10, 0, S::kOptions, p::kPasswordProtection},
        {keys::kGeneral, keys::kCatchUp, C::kCatchUp, 0, 0, S::kSchedule, p::kCatchUpMissed},
        {keys::kAdvanced, keys::kAutoLogon, C::kCheck, 3, 0, S::kCancel, ""},
        {keys::kAdvanced, keys::kPostponeMinutes, C::kPostpone, 0, kDefaultPostponeMinutes, S::kSchedule,
         p::kPostponeMinutes},
        {keys::kTimeControl, keys::kEnabled, C::kCheck, 4, 0, S::kOptions, p::kTimeControl},
    };
    for (int n = 0; n < kWeekdays; ++n)
      t.push_back({keys::kTimeControl, keys::WeekKey(n), C::kAllowedHours, n, 0, S::kHours, p::AllowedHoursName(n)});
    for (int n = 0; n < kWeekdays; ++n)
      t.push_back({keys::kTimeControl, keys::LimitKey(n), C::kDailyLimit, n, 0, S::kHours, p::DailyLimitName(n)});
    t.push_back({keys::kTimeControl, keys::kAdministratorsExempt, C::kAdministratorsExempt, 0, 0, S::kHours,
                 p::kAdministratorsExempt});
    t.push_back({keys::kAdvanced, keys::kRecordUsage, C::kRecordUsage, 0, 0, S::kSchedule, ""});
    t.push_back({keys::kAdvanced, keys::kKeepDays, C::kKeepDays, 0, kDefaultKeepDays, S::kSchedule, ""});
    // Last, so that a file of today's program gains its new sections at the end.
    for (int n = 1; n <= kMaxPlans; ++n)
      t.push_back({keys::kPlans, keys::PlanKey(n), C::kPlan, n, 0, S::kSchedule, p::kPlans});
    t.push_back({keys::kCalendar, keys::kHolidays, C::kHolidays, 0, 0, S::kSchedule, p::kHolidayDates});
    t.push_back({keys::kCalendar, keys::kExtraWorkdays, C::kExtraWorkdays, 0, 0, S::kSchedule, p::kExtraWorkdays});
    return t;
  }();
  return table;
}

const SettingEntry& EntryOf(SettingControl control, int index) {
  for (const SettingEntry& e : SettingsTable())
    if (e.control == control && e.index == index) return e;
  return SettingsTable().front();
}

namespace {

std::optional<std::uint32_t> NumberIn(const PolicyValues& policy, const char* name, std::uint32_t low,
                                      std::uint32_t high) {
  auto it = policy.find(name);
  if (it == policy.end() || !it->second.number) return std::nullopt;
  const std::uint32_t v = *it->second.number;
  return v >= low && v <= high ? std::optional<std::uint32_t>(v) : std::nullopt;
}

const std::string* TextIn(const PolicyValues& policy, const char* name) {
  auto it = policy.find(name);
  return it != policy.end() && it->second.text ? &*it->second.text : nullptr;
}

// "HH:MM:SS", 24-hour, exactly.
std::optional<int> StrictTimeOfDay(const std::string& t) {
  auto digit = [&](std::size_t i) { return t[i] >= '0' && t[i] <= '9'; };
  if (t.size() != 8 || t[2] != ':' || t[5] != ':') return std::nullopt;
  for (std::size_t i : {0, 1, 3, 4, 6, 7})
    if (!digit(i)) return std::nullopt;
  const int h = (t[0] - '0') * 10 + t[1] - '0', m = (t[3] - '0') * 10 + t[4] - '0', s = (t[6] - '0') * 10 + t[7] - '0';
  if (h > 23 || m > 59 || s > 59) return std::nullopt;
  return h * 3600 + m * 60 + s;
}

// Entries of the allowed-hours form joined by "+": times of day, or the
// "24:00" that forbids the day.
bool IsAllowedHoursForm(const std::string& text) {
  if (text.empty() || text.size() >= SettingsFile::kReadBufferBytes) return false;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find('+', start);
    const std::string entry = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (entry != kAllHoursForbidden && !ParseClockEntry(entry)) return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

// A list of dates as its canonical text; entries that are no date are
// dropped, as reading the list for the calendar drops them.
std::string CanonicalDates(std::string_view text) {
  DateList list;
  list.Read(text);
  return list.Text();
}

bool IsBlank(std::string_view text) { return text.find_first_not_of(" \t") == std::string_view::npos; }


// The digits of a value name as its number; nullopt for anything else.
std::optional<long> ValueNumber(std::string_view name) {
  if (name.empty() || name.size() > 6 || name.find_first_not_of("0123456789") != std::string_view::npos)
    return std::nullopt;
  return std::stol(std::string(name));
}

}  // namespace

bool WrittenOnlyWhenHeld(SettingControl control) {
  return control == SettingControl::kPlan || control == SettingControl::kHolidays ||
         control == SettingControl::kExtraWorkdays;
}

bool WrittenWhenNotDefault(SettingControl control) {
  return control == SettingControl::kAdministratorsExempt || control == SettingControl::kRecordUsage ||
         control == SettingControl::kKeepDays;
}

std::optional<std::string> AccountOfSection(const std::string& section) {
  const std::string prefix = keys::kAccountSectionPrefix;
  if (section.size() <= prefix.size() || section.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  return section.substr(prefix.size());
}

bool IsAccountSectionName(const std::string& account) {
  return !account.empty() && account.size() <= 64 && account.find_first_of(std::string("[]\r\n\0", 5)) == std::string::npos &&
         account.front() != ' ' && account.back() != ' ';
}

bool IsSidText(const std::string& sid) {
  return sid.size() > 4 && sid.size() < 200 && sid.compare(0, 4, "S-1-") == 0 &&
         sid.find_first_not_of("S0123456789-") == std::string::npos;
}

std::vector<AccountSection> ReadAccountSections(SettingsFile& file) {
  std::vector<AccountSection> sections;
  for (const std::string& name : file.SectionNames()) {
    const auto account = AccountOfSection(name);
    if (!account || !IsAccountSectionName(*account)) continue;
    if (sections.size() == static_cast<std::size_t>(kMaxAccountSections)) break;
    AccountSection a;
    a.name = *account;
    a.rules.enabled = ParseIniInt(file.Peek(name, keys::kEnabled).value_or("")) == 1 ? 1 : 0;
    for (int n = 0; n < kWeekdays; ++n) {
      const std::string hours = file.Peek(name, keys::WeekKey(n)).value_or("");
      a.rules.hours[n] = hours.empty() ? std::string(kAllHoursForbidden) : hours;
      const int limit = ParseIniInt(file.Peek(name, keys::LimitKey(n)).value_or(""));
      a.rules.limits[n] = std::to_string(limit >= 0 && limit <= kMaxDailyLimitMinutes ? limit : 0);
    }
    if (const std::string sid = file.Peek(name, keys::kSid).value_or(""); IsSidText(sid)) a.sid = sid;
    sections.push_back(std::move(a));
  }
  return sections;
}

std::vector<AccountSection> AcceptedAccountSections(const std::string& ini_bytes, std::vector<std::string>& refused) {
  const IniText ini(ini_bytes);
  std::vector<AccountSection> accepted;
  for (const std::string& raw : ini.SectionNames()) {
    const std::string section = GbkToUtf8(raw);
    const auto account = AccountOfSection(section);
    if (!account) continue;
    auto value = [&](const std::string& key) -> std::optional<std::string> {
      if (auto v = ini.Get(raw, Utf8ToGbk(key))) return GbkToUtf8(*v);
      return std::nullopt;
    };
    AccountSection a{*account, "", {}};
    bool ok = IsAccountSectionName(*account) && accepted.size() < static_cast<std::size_t>(kMaxAccountSections);
    const auto enabled = value(keys::kEnabled);
    const auto on = enabled ? AcceptedValue(EntryOf(SettingControl::kCatchUp), *enabled) : std::nullopt;
    ok = ok && on;
    if (on) a.rules.enabled = ParseIniInt(*on);
    for (int n = 0; n < kWeekdays && ok; ++n) {
      const auto hours = value(keys::WeekKey(n));
      const auto limit = value(keys::LimitKey(n));
      const auto h = hours ? AcceptedValue(EntryOf(SettingControl::kAllowedHours, n), *hours) : std::nullopt;
      const auto l = limit ? AcceptedValue(EntryOf(SettingControl::kDailyLimit, n), *limit) : std::nullopt;
      ok = h && l;
      if (ok) {
        a.rules.hours[n] = *h;
        a.rules.limits[n] = std::to_string(ParseIniInt(*l));
      }
    }
    const std::string sid = value(keys::kSid).value_or("");
    ok = ok && (sid.empty() || IsSidText(sid));
    a.sid = sid;
    if (ok) accepted.push_back(std::move(a));
    else refused.push_back(section);
  }
  return accepted;
}

std::vector<std::pair<std::string, std::string>> AccountSectionKeys(const AccountSection& section) {
  std::vector<std::pair<std::string, std::string>> keys_of;
  keys_of.emplace_back(keys::kEnabled, FormatIniInt(static_cast<std::int16_t>(section.rules.enabled == 1 ? 1 : 0)));
  for (int n = 0; n < kWeekdays; ++n) keys_of.emplace_back(keys::WeekKey(n), section.rules.hours[n]);
  for (int n = 0; n < kWeekdays; ++n)
    keys_of.emplace_back(keys::LimitKey(n), FormatIniInt(static_cast<std::int16_t>(LimitMinutes(section.rules.limits[n]))));
  if (!section.sid.empty()) keys_of.emplace_back(keys::kSid, section.sid);
  return keys_of;
}

std::optional<std::vector<std::string>> PolicyPlanLines(const PolicyValues& policy) {
  const std::string prefix = policy::PlanValueName("");
  std::vector<std::pair<long, std::string>> numbered;
  bool present = false;
  for (auto it = policy.lower_bound(prefix); it != policy.end() && it->first.starts_with(prefix); ++it) {
    present = true;
    const auto number = ValueNumber(std::string_view(it->first).substr(prefix.size()));
    if (!number || !it->second.text) continue;
    if (auto plan = ParsePlanLine(*it->second.text)) numbered.emplace_back(*number, FormatPlanLine(*plan));
  }
  if (!present) return std::nullopt;
  std::stable_sort(numbered.begin(), numbered.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> lines;
  for (auto& [number, line] : numbered) {
    if (lines.size() == static_cast<std::size_t>(kMaxPlans)) break;
    lines.push_back(std::move(line));
  }
  return lines;
}

std::optional<std::string> PolicyOverride(const SettingEntry& e, const PolicyValues& policy) {
  if (!*e.policy_name) return std::nullopt;
  auto number = [&](std::uint32_t low, std::uint32_t high, int offset = 0) -> std::optional<std::string> {
    if (auto v = NumberIn(policy, e.policy_name, low, high)) return std::to_string(static_cast<int>(*v) + offset);
    return std::nullopt;
  };
  const std::string* text = TextIn(policy, e.policy_name);
  switch (e.control) {
    case SettingControl::kCheck:
    case SettingControl::kCatchUp:
    case SettingControl::kAdministratorsExempt:
    case SettingControl::kRecordUsage: return number(0, 1);
    case SettingControl::kKeepDays: return number(kMinKeepDays, kMaxKeepDays);
    case SettingControl::kDailyLimit: return number(0, kMaxDailyLimitMinutes);
    case SettingControl::kPostpone: return number(kMinPostponeMinutes, kMaxPostponeMinutes);
    case SettingControl::kFrequency: return number(0, 3);
    case SettingControl::kWeekday: return number(0, 6);
    case SettingControl::kInterval: return number(2, 16, -2);  // the list starts at every second day
    case SettingControl::kAction: return number(0, 3);
    case SettingControl::kScheduledTime:
      if (auto t = text ? StrictTimeOfDay(*text) : std::nullopt) return FormatTimeOfDay(*t);
      return std::nullopt;
    case SettingControl::kIntervalStart:
      if (auto d = text ? ParseIsoDate(*text) : std::nullopt) return FormatShortDate(*d);
      return std::nullopt;
    case SettingControl::kAllowedHours:
      if (text && IsAllowedHoursForm(*text)) return *text;
      return std::nullopt;
    case SettingControl::kPlan: {
      // Any value in the Plans key makes the list the administrator's: the
      // slots beyond the policy's plans are empty.
      const auto lines = PolicyPlanLines(policy);
      if (!lines) return std::nullopt;
      const std::size_t slot = static_cast<std::size_t>(e.index) - 1;
      return slot < lines->size() ? (*lines)[slot] : std::string();
    }
    case SettingControl::kHolidays:
    case SettingControl::kExtraWorkdays:
      // As the file's lists are read: an entry that is no date is left out
      // rather than the administrator's whole calendar.
      if (text) return CanonicalDates(*text);
      return std::nullopt;
  }
  return std::nullopt;
}

std::optional<std::string> AcceptedValue(const SettingEntry& e, const std::string& text) {
  if ((!WrittenOnlyWhenHeld(e.control) && text.size() >= SettingsFile::kReadBufferBytes) ||
      text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
    return std::nullopt;
  auto number = [&](int low, int high) -> std::optional<std::string> {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    if (i < text.size() && text[i] == '-') ++i;
    if (i == text.size() || text.find_first_not_of("0123456789", i) != std::string::npos || text.size() - i > 5)
      return std::nullopt;
    const int v = ParseIniInt(text);
    if (v < low || v > high) return std::nullopt;
    return FormatIniInt(static_cast<std::int16_t>(v));
  };
  switch (e.control) {
    case SettingControl::kCheck: return number(0, 2);
    case SettingControl::kCatchUp:
    case SettingControl::kAdministratorsExempt:
    case SettingControl::kRecordUsage: return number(0, 1);
    case SettingControl::kKeepDays: return number(kMinKeepDays, kMaxKeepDays);
    case SettingControl::kFrequency: return number(0, 3);
    case SettingControl::kWeekday: return number(-1, 6);
    case SettingControl::kInterval: return number(-1, 14);
    case SettingControl::kAction: return number(-1, 3);
    case SettingControl::kDailyLimit: return number(0, kMaxDailyLimitMinutes);
    case SettingControl::kPostpone: return number(kMinPostponeMinutes, kMaxPostponeMinutes);
    case SettingControl::kScheduledTime:
    case SettingControl::kIntervalStart:
      if (ParseTimeOfDay(text) || (e.control == SettingControl::kIntervalStart && ParseDate(text))) return text;
      return std::nullopt;
    case SettingControl::kAllowedHours:
      return text;  // any text: what is no time of day allows nothing
    case SettingControl::kPlan:
      if (IsBlank(text)) return std::string();  // no plan in this slot
      if (auto plan = ParsePlanLine(text)) return FormatPlanLine(*plan);
      return std::nullopt;
    case SettingControl::kHolidays:
    case SettingControl::kExtraWorkdays: {
      DateList list;
      if (!list.Read(text).ok()) return std::nullopt;
      return list.Text();
    }
  }
  return std::nullopt;
}

std::optional<std::string> AcceptedValue(const SettingEntry& e, const std::string& text,
                                         const std::optional<std::string>& stored) {
  if (WrittenOnlyWhenHeld(e.control) && stored) {
    if (text == *stored) return text;  // left as it stands
    if (e.control == SettingControl::kPlan && !IsBlank(*stored) && !ParsePlanLine(*stored)) return std::nullopt;
  }
  return AcceptedValue(e, text);
}

std::optional<bool> PolicyGuard(const PolicyValues& policy) {
  if (auto v = NumberIn(policy, policy::kGuardService, 0, 1)) return *v == 1;
  return std::nullopt;
}

std::optional<bool> PolicyStartWithWindows(const PolicyValues& policy) {
  if (auto v = NumberIn(policy, policy::kStartWithWindows, 0, 1)) return *v == 1;
  return std::nullopt;
}

std::optional<std::string> PolicyPassword(const PolicyValues& policy) {
  // The stored form is 25 characters of printable ASCII and more; an empty
  // text would let no password in at all.
  const std::string* text = TextIn(policy, policy::kPassword);
  if (!text || text->empty() || text->size() >= SettingsFile::kReadBufferBytes) return std::nullopt;
  return *text;
}

bool PolicyLocks::any() const {
  bool locked = read_only || frequency || scheduled_time || weekday || interval || action || password || catch_up;
  for (bool b : check) locked = locked || b;
  for (bool b : allowed_hours) locked = locked || b;
  for (bool b : daily_limit) locked = locked || b;
  locked = locked || postpone || guard || plans || holidays || extra_workdays || administrators_exempt;
  return locked;
}

PolicyLocks LocksOf(const PolicyValues& policy) {
  PolicyLocks locks;
  locks.read_only = NumberIn(policy, policy::kSettingsReadOnly, 1, 1).has_value();
  for (const SettingEntry& e : SettingsTable()) {
    if (!PolicyOverride(e, policy)) continue;
    switch (e.control) {
      case SettingControl::kCheck: locks.check[e.index] = true; break;
      case SettingControl::kFrequency: locks.frequency = true; break;
      case SettingControl::kWeekday: locks.weekday = true; break;
      case SettingControl::kInterval: locks.interval = true; break;
      case SettingControl::kAction: locks.action = true; break;
      case SettingControl::kScheduledTime: locks.scheduled_time = true; break;
      case SettingControl::kIntervalStart: break;  // no control shows it
      case SettingControl::kAllowedHours: locks.allowed_hours[e.index] = true; break;
      case SettingControl::kCatchUp: locks.catch_up = true; break;
      case SettingControl::kDailyLimit: locks.daily_limit[e.index] = true; break;
      case SettingControl::kPostpone: locks.postpone = true; break;
      case SettingControl::kPlan: locks.plans = true; break;
      case SettingControl::kHolidays: locks.holidays = true; break;
      case SettingControl::kExtraWorkdays: locks.extra_workdays = true; break;
      case SettingControl::kAdministratorsExempt: locks.administrators_exempt = true; break;
      case SettingControl::kRecordUsage:
      case SettingControl::kKeepDays: break;  // no policy value
    }
  }
  locks.check[2] = PolicyStartWithWindows(policy).has_value();
  locks.guard = PolicyGuard(policy).has_value();
  locks.password = PolicyPassword(policy).has_value();
  return locks;
}

namespace {

// The controls of the rules tab stand for the [时间控制] rules while these
// are read into them.
void ShowDefaultRulesFor(const SettingEntry& e, LiveSettings& live) {
  const bool rules = (e.control == SettingControl::kCheck && e.index == 4) || e.control == SettingControl::kAllowedHours ||
                     e.control == SettingControl::kDailyLimit;
  if (rules && live.rules_account()) live.ShowDefaultRules();
}

}  // namespace

void LoadSettingFrom(const SettingEntry& e, const std::string& stored, LiveSettings& live, LoadedExtras& extras) {
  const int number = ParseIniInt(stored);
  ShowDefaultRulesFor(e, live);
  switch (e.control) {
    case SettingControl::kCheck: live.SetCheck(e.index, number); break;
    case SettingControl::kFrequency: live.SelectOption1(number); break;
    case SettingControl::kWeekday: live.SetCombo1(number); break;
    case SettingControl::kInterval: live.SetCombo2(number); break;
    case SettingControl::kAction: live.SetCombo3(number); break;
    case SettingControl::kScheduledTime:
      if (auto t = ParseTimeOfDay(stored)) live.SetScheduledTime(*t);
      break;
    case SettingControl::kIntervalStart: extras.interval_start = stored; break;
    case SettingControl::kAllowedHours: live.SetText3(e.index, stored); break;
    case SettingControl::kCatchUp: live.SetCatchUp(number); break;
    case SettingControl::kDailyLimit:
      live.SetDailyLimit(e.index, std::to_string(number >= 0 && number <= kMaxDailyLimitMinutes ? number : 0));
      break;
    case SettingControl::kPostpone:
      live.SetPostponeMinutes(
          std::to_string(number >= kMinPostponeMinutes && number <= kMaxPostponeMinutes ? number : kDefaultPostponeMinutes));
      break;
    case SettingControl::kPlan: break;  // read with the whole list
    // As the file holds them: the calendar reads what are dates, and the
    // holiday dialog names what are not.
    case SettingControl::kHolidays: live.LoadHolidays(stored); break;
    case SettingControl::kExtraWorkdays: live.LoadExtraWorkdays(stored); break;
    case SettingControl::kAdministratorsExempt: live.SetAdministratorsExempt(number == 1 ? 1 : 0); break;
    case SettingControl::kRecordUsage: live.SetRecordUsage(number == 1 ? 1 : 0); break;
    case SettingControl::kKeepDays: live.SetKeepDays(number); break;
  }
}

namespace {

// What the file holds under the plan keys 计划1 .. 计划16, by slot.
struct StoredPlanLine {
  std::string text;          // as the file holds it; "" when missing
  std::optional<Plan> plan;  // nullopt when blank or when it does not read
  bool unread() const { return !plan && !IsBlank(text); }
};

std::vector<StoredPlanLine> StoredPlanLines(SettingsFile& file) {
  std::vector<StoredPlanLine> lines;
  for (int n = 1; n <= kMaxPlans; ++n) {
    StoredPlanLine stored;
    stored.text = file.Peek(keys::kPlans, keys::PlanKey(n)).value_or("");
    if (!IsBlank(stored.text)) stored.plan = ParsePlanLine(stored.text);
    lines.push_back(std::move(stored));
  }
  return lines;
}

// What Apply stores under 计划1 .. 计划16 for a changed list; nullopt leaves
// a key as it stands. A line of the file that does not read keeps its key
// and its text: it was typed by hand and the list never showed it. The plans
// take the other keys from 计划1 on, in the order of the list, each as the
// file already has it when it holds that plan (so that fields a later
// version added stay with it), else as its canonical line; keys left over
// are emptied. When the plans need more keys than are left, the lines that
// do not read give up theirs from the last one back, into `moved`, to be
// kept after 计划16.
std::vector<std::optional<std::string>> PlanKeyTexts(const std::vector<StoredPlanLine>& stored,
                                                     const std::vector<Plan>& plans, std::vector<std::string>& moved) {
  std::vector<bool> kept(stored.size()), used(stored.size());
  for (std::size_t n = 0; n < stored.size(); ++n) kept[n] = stored[n].unread();
  std::vector<std::string> lines;
  for (const Plan& plan : plans) {
    if (!IsValidPlan(plan)) continue;
    std::string line = FormatPlanLine(plan);
    for (std::size_t n = 0; n < stored.size(); ++n)
      if (!used[n] && stored[n].plan == plan) {
        used[n] = true;
        line = stored[n].text;
        break;
      }
    lines.push_back(std::move(line));
  }
  std::size_t room = static_cast<std::size_t>(std::count(kept.begin(), kept.end(), false));
  for (std::size_t n = stored.size(); n-- > 0 && room < lines.size();)
    if (kept[n]) {
      kept[n] = false;
      moved.insert(moved.begin(), stored[n].text);
      ++room;
    }
  std::vector<std::optional<std::string>> texts(stored.size());
  std::size_t next = 0;
  for (std::size_t n = 0; n < stored.size(); ++n)
    if (!kept[n]) texts[n] = next < lines.size() ? lines[next++] : std::string();
  return texts;
}

// The plans of the file, or of the policy when it holds the list: the lines
// that read, in the order of their keys, with no gap for those that do not.
std::vector<Plan> ReadPlans(SettingsFile& file, const PolicyValues& policy) {
  std::vector<Plan> plans;
  for (const SettingEntry& e : SettingsTable()) {
    if (e.control != SettingControl::kPlan) continue;
    auto line = PolicyOverride(e, policy);
    if (!line) line = file.Peek(e.section, e.key);
    if (!line) continue;
    if (auto plan = ParsePlanLine(*line)) plans.push_back(*plan);
  }
  return plans;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> UnreadPlanLines(SettingsFile& file) {
  std::vector<std::pair<std::string, std::string>> unread;
  const std::vector<StoredPlanLine> stored = StoredPlanLines(file);
  for (std::size_t n = 0; n < stored.size(); ++n)
    if (stored[n].unread()) unread.emplace_back(keys::PlanKey(static_cast<int>(n) + 1), stored[n].text);
  return unread;
}

void LoadSettings(LoadStep step, SettingsFile& file, LiveSettings& live, LoadedExtras& extras,
                  const LocalDateTime& now, const PolicyValues& policy) {
  for (const SettingEntry& e : SettingsTable())
    if (e.step == step) LoadSetting(e, file, live, extras, now, policy);
  // The accounts' own rules, with the [时间控制] rules.
  if (step == LoadStep::kHours) live.LoadAccountSections(ReadAccountSections(file));
}

void LoadSetting(const SettingEntry& e, SettingsFile& file, LiveSettings& live, LoadedExtras& extras,
                 const LocalDateTime& now, const PolicyValues& policy) {
  if (e.control == SettingControl::kPlan) {
    if (e.index == 1) live.LoadPlans(ReadPlans(file, policy));
    return;
  }
  if (auto value = PolicyOverride(e, policy)) {
    LoadSettingFrom(e, *value, live, extras);
    return;
  }
  ShowDefaultRulesFor(e, live);
  {
    auto read_int = [&] { return file.ReadIniInt(e.section, e.key, static_cast<std::int16_t>(e.default_value)); };
    switch (e.control) {
      case SettingControl::kCheck: live.SetCheck(e.index, read_int()); break;
      case SettingControl::kFrequency: live.SelectOption1(read_int()); break;
      case SettingControl::kWeekday: live.SetCombo1(read_int()); break;
      case SettingControl::kInterval: live.SetCombo2(read_int()); break;
      case SettingControl::kAction: live.SetCombo3(read_int()); break;
      case SettingControl::kScheduledTime:
        // Only the time of day counts; a text that holds none leaves the
        // picker where it is.
        if (auto t = ParseTimeOfDay(file.ReadIniString(e.section, e.key, FormatDateTimeText(now.date, now.second_of_day))))
          live.SetScheduledTime(*t);
        break;
      case SettingControl::kIntervalStart:
        extras.interval_start = file.ReadIniString(e.section, e.key, FormatShortDate(now.date));
        break;
      case SettingControl::kAllowedHours:
        live.SetText3(e.index, file.ReadIniString(e.section, e.key, kAllHoursForbidden));
        break;
      case SettingControl::kCatchUp:
        // Anything but 1 is off: a new setting must not act on a hand-edited value.
        live.SetCatchUp(read_int() == 1 ? 1 : 0);
        break;
      case SettingControl::kDailyLimit:
      case SettingControl::kPostpone:
      case SettingControl::kAdministratorsExempt:
      case SettingControl::kRecordUsage:
      case SettingControl::kKeepDays:
        // Missing, empty, unreadable or out of range: the default.
        LoadSettingFrom(e, std::to_string(read_int()), live, extras);
        break;
      case SettingControl::kPlan: break;  // above
      case SettingControl::kHolidays:
      case SettingControl::kExtraWorkdays:
        // Whole, however long; missing reads as an empty list and is not written.
        LoadSettingFrom(e, file.Peek(e.section, e.key).value_or(""), live, extras);
        break;
    }
  }
}

bool SaveAccountSections(SettingsFile& file, const std::vector<AccountSection>& sections,
                         std::vector<std::string>* changed) {
  bool ok = true;
  const std::vector<AccountSection> before = ReadAccountSections(file);
  auto held = [](const std::vector<AccountSection>& list, const std::string& name) {
    return std::find_if(list.begin(), list.end(), [&](const AccountSection& a) { return SameAccountName(a.name, name); });
  };
  // Sections of accounts the list no longer holds go; one that was never
  // read into the list (a name no account can have, or beyond the most the
  // list holds) stays as the file holds it.
  for (const AccountSection& was : before) {
    if (held(sections, was.name) != sections.end()) continue;
    const std::string name = keys::AccountSection(was.name);
    if (changed) changed->push_back(name);
    ok = file.RemoveSection(name) && ok;
  }
  for (const AccountSection& a : sections) {
    if (!IsAccountSectionName(a.name)) continue;
    const std::string section = keys::AccountSection(a.name);
    const auto was = held(before, a.name);
    if (was != before.end() && AccountSectionKeys(*was) == AccountSectionKeys(a)) continue;
    if (changed) changed->push_back(section);
    for (const auto& [key, value] : AccountSectionKeys(a)) ok = file.WriteIniString(section, key, value) && ok;
    if (a.sid.empty() && file.Peek(section, keys::kSid)) ok = file.WriteIniString(section, keys::kSid, "") && ok;
  }
  return ok;
}

bool SaveSettings(SettingsFile& file, const LiveSettings& live, const LocalDateTime& now, const PolicyValues& policy,
                  std::vector<std::string>* changed) {
  file.BeginBatch();
  bool ok = true;
  // The file keeps values without their surrounding blanks.
  auto trimmed = [](std::string_view v) {
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
    return std::string(v);
  };
  auto write_text = [&](const SettingEntry& e, const std::string& value) {
    if (changed) {
      const auto before = file.Peek(e.section, e.key);
      if (!before || trimmed(*before) != trimmed(value)) changed->push_back(e.key);
    }
    ok = file.WriteIniString(e.section, e.key, value) && ok;
  };
  auto write_int = [&](const SettingEntry& e, int value) {
    write_text(e, FormatIniInt(static_cast<std::int16_t>(value)));
  };
  // Plans and the calendar: written when there is something to keep, or to
  // empty what the file held; a key that already holds the value is left
  // as it stands, blanks and all.
  auto write_new = [&](const SettingEntry& e, const std::string& value) {
    const auto before = file.Peek(e.section, e.key);
    if (before && trimmed(*before) == trimmed(value)) return;
    if (!value.empty() || (before && !IsBlank(*before))) write_text(e, value);
  };
  // The plans' keys, only when the list was changed (see PlanKeyTexts).
  std::vector<std::optional<std::string>> plan_texts;
  std::vector<std::string> moved_lines;
  if (live.plans_changed() && !PolicyOverride(EntryOf(SettingControl::kPlan, 1), policy))
    plan_texts = PlanKeyTexts(StoredPlanLines(file), live.plans(), moved_lines);
  // New keys: written when they hold something else than their default, or
  // the file holds them already.
  auto write_if_not_default = [&](const SettingEntry& e, int value) {
    if (value != e.default_value || file.Peek(e.section, e.key)) write_int(e, value);
  };
  const RulesText& rules = live.default_rules();
  for (const SettingEntry& e : SettingsTable()) {
    if (PolicyOverride(e, policy)) continue;
    switch (e.control) {
      case SettingControl::kCheck: write_int(e, e.index == 4 ? rules.enabled : live.check(e.index).value); break;
      case SettingControl::kFrequency:
        if (live.frequency() >= 0) write_int(e, live.frequency());
        break;
      case SettingControl::kWeekday: write_int(e, live.combo1().index); break;
      case SettingControl::kInterval: write_int(e, live.combo2().index); break;
      case SettingControl::kAction: write_int(e, live.combo3().index); break;
      case SettingControl::kScheduledTime: write_text(e, FormatDateTimeText(now.date, live.scheduled_time())); break;
      case SettingControl::kIntervalStart:
        // The count of days starts again on the day every-N-days is applied.
        if (live.frequency() == 2) write_text(e, FormatShortDate(now.date));
        break;
      case SettingControl::kAllowedHours: write_text(e, rules.hours[e.index]); break;
      case SettingControl::kCatchUp: write_int(e, live.catch_up().value); break;
      case SettingControl::kDailyLimit: write_int(e, LimitMinutes(rules.limits[e.index])); break;
      case SettingControl::kPostpone: write_int(e, live.PostponeMinutes()); break;
      case SettingControl::kPlan: {
        // An unchanged list leaves the keys as the file holds them.
        const std::size_t slot = static_cast<std::size_t>(e.index) - 1;
        if (slot < plan_texts.size() && plan_texts[slot]) write_new(e, *plan_texts[slot]);
        break;
      }
      case SettingControl::kHolidays:
        if (live.holidays_changed()) write_new(e, live.holidays());
        break;
      case SettingControl::kExtraWorkdays:
        if (live.extra_workdays_changed()) write_new(e, live.extra_workdays());
        break;
      case SettingControl::kAdministratorsExempt: write_if_not_default(e, live.administrators_exempt().value); break;
      case SettingControl::kRecordUsage: write_if_not_default(e, live.record_usage().value); break;
      case SettingControl::kKeepDays: write_if_not_default(e, live.keep_days()); break;
    }
  }
  if (live.account_sections_changed()) ok = SaveAccountSections(file, live.account_sections(), changed) && ok;
  // Lines that do not read and had to make room go on after 计划16, under
  // the first keys that hold nothing.
  int beyond = kMaxPlans;
  for (const std::string& line : moved_lines) {
    std::string key = keys::PlanKey(++beyond);
    while (!IsBlank(file.Peek(keys::kPlans, key).value_or(""))) key = keys::PlanKey(++beyond);
    if (changed) changed->push_back(key);
    ok = file.WriteIniString(keys::kPlans, key, line) && ok;
  }
  return file.EndBatch() && ok;
}

}  // namespace dadado
