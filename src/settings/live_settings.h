// The live settings: the state of every control of the settings window, as
// data, with the rules that run when a control changes. The schedule tick,
// the time-control guard and the actions read these values as they stand,
// applied or not; the window only mirrors them.
//
// Setting a value from code has the same consequences as the user's change:
// the control's rule runs at once, and a rule that sets another control runs
// that control's rule to completion before it goes on.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "scheduler/accounts.h"
#include "scheduler/plan.h"

namespace dadado {

inline constexpr int kCheckCount = 11;       // Check1 .. Check11
inline constexpr int kFrequencyNone = 3;     // Option1(3) "取消定时"
inline constexpr int kActionNone = 3;        // Combo3 item "不进行任何操作"
inline constexpr int kHourCount = 24;        // List1 items "00:00" .. "23:00"
inline constexpr int kWeekdays = 7;          // Option3 / Text3, 0 = Sunday
// The tabs: 常规设置, 高级设置, 时间控制, 计划, 使用记录 hold settings or what
// the password guards; 关于 does not.
inline constexpr int kTabCount = 6;
inline constexpr int kTimeControlTab = 2;
inline constexpr int kPlansTab = 3;
inline constexpr int kUsageTab = 4;
inline constexpr int kAboutTab = 5;
inline constexpr int kSecondsPerDay = 24 * 60 * 60;
inline constexpr int kDefaultPostponeMinutes = 10;
inline constexpr int kMinPostponeMinutes = 5, kMaxPostponeMinutes = 120;
inline constexpr int kMaxDailyLimitMinutes = 24 * 60;
inline constexpr int kMaxPlans = 16;

// Time-control rules as the 时间控制 tab edits them.
struct RulesText {
  int enabled = 0;                            // 启用
  std::array<std::string, kWeekdays> hours;   // 0week .. 6week
  std::array<std::string, kWeekdays> limits;  // 0limit .. 6limit, as typed
  RulesText();
  bool operator==(const RulesText&) const = default;
};

// An account's own rules: the section [时间控制:<name>].
struct AccountSection {
  std::string name;
  std::string sid;  // the SID key, written by the window; empty when none
  RulesText rules;
  bool operator==(const AccountSection&) const = default;
};

// The limit typed for a weekday in whole minutes, 1 to 1440; 0 for none
// (empty, no number, 0 or out of range).
int LimitMinutes(const std::string& typed);
// The rules the engine decides by.
TimeRules TimeRulesOf(const RulesText& text);

struct CheckBox {
  int value = 0;  // 0 unchecked, 1 checked, 2 grey
  bool enabled = true;
};

struct ComboBox {
  int index = -1;  // -1: no item selected
  bool enabled = true;
  int count = 0;
};

struct TextBox {
  std::string text;
  bool enabled = true;
};

class LiveSettings {
 public:
  LiveSettings();

  // Run by Check11 when it becomes set: opens the system's accounts panel.
  std::function<void()> open_accounts_panel;

  // ---- reading -------------------------------------------------------
  const CheckBox& check(int n) const { return checks_[n - 1]; }
  // The one test every reader uses: a checkbox is set when its value is 1;
  // grey (2) counts as not set.
  bool IsSet(int n) const { return checks_[n - 1].value == 1; }

  bool option1_selected(int i) const { return option1_ == i; }
  bool option1_enabled(int i) const { return option1_enabled_[i]; }
  // The first selected button of Option1, or -1 when none is.
  int frequency() const { return option1_; }

  int option2_selected() const { return option2_; }  // -1: none

  const ComboBox& combo1() const { return combo1_; }  // weekday 0..6
  const ComboBox& combo2() const { return combo2_; }  // interval 0..14
  const ComboBox& combo3() const { return combo3_; }  // action 0..3

  int scheduled_time() const { return scheduled_time_; }  // seconds of the day
  bool time_picker_enabled() const { return time_picker_enabled_; }

  const TextBox& text1() const { return text1_; }  // logon user name
  const TextBox& text2() const { return text2_; }  // logon password
  const TextBox& text3(int n) const { return text3_[n]; }
  int option3_selected() const { return option3_; }
  bool option3_enabled(int n) const { return option3_enabled_[n]; }
  bool hour_marked(int h) const { return marks_[h]; }
  bool list1_enabled() const { return list1_enabled_; }

  // 错过后两小时内补做: catch up a scheduled action missed within two hours.
  const CheckBox& catch_up() const { return catch_up_; }
  // 防止被结束(守护服务): the guard service is (to be) installed.
  const CheckBox& guard() const { return guard_; }
  // 每日限时 of weekday n, in minutes as typed; enabled with the hours beside it.
  TextBox daily_limit(int n) const { return {daily_limits_[n], text3_[n].enabled}; }
  // The limit of weekday n in whole minutes, 1 to 1440; 0 for none (empty,
  // no number, 0 or out of range).
  int DailyLimitMinutes(int n) const;
  // 推迟分钟数: how long the countdown's 推迟 holds an action off, as typed.
  const std::string& postpone_minutes_text() const { return postpone_minutes_; }
  // In whole minutes, 5 to 120; anything else reads as 10.
  int PostponeMinutes() const;

  // 计划: the plans in the order of the list (at most kMaxPlans), and the
  // working-day calendar's two lists as their texts (节假日安排). A list read
  // from the settings file is its text as the file holds it, entries that
  // are no date included, so that the holiday dialog shows and names them.
  const std::vector<Plan>& plans() const { return plans_; }
  const std::string& holidays() const { return holidays_; }
  const std::string& extra_workdays() const { return extra_workdays_; }
  // Whether the plans, or a list of the calendar, were changed since they
  // were last read. Apply rewrites their keys only then: what the file holds
  // and the list does not show (a line that does not read, fields a later
  // version added, the way a list was typed) stays as it stands otherwise.
  // Apply leaves them set until the next read; writing the same list again
  // changes nothing in the file.
  bool plans_changed() const { return plans_changed_; }
  bool holidays_changed() const { return holidays_changed_; }
  bool extra_workdays_changed() const { return extra_workdays_changed_; }

  // ---- rules for each account -----------------------------------------
  // The 时间控制 tab shows and edits the rules of one account at a time:
  // Check4, Option3, Text3, List1 and the limit boxes above stand for the
  // rules shown. Shown first (and after every read of the settings) are the
  // [时间控制] rules, which hold for every account without rules of its own
  // ("所有账户"). An account chosen shows its own section's rules; one without
  // a section shows the [时间控制] rules greyed, as it follows them
  // ("使用默认规则").
  void ShowDefaultRules();
  void ShowAccountRules(const std::string& name, const std::string& sid);
  // The account shown; nullopt for 所有账户.
  const std::optional<Account>& rules_account() const { return rules_account_; }
  // Whether the account shown follows the [时间控制] rules (no section).
  bool UsesDefaultRules() const { return rules_account_ && rules_section_ < 0; }
  // 使用默认规则: on removes the shown account's section; off gives it one,
  // starting as a copy of the [时间控制] rules, with its SID.
  void SetUseDefaultRules(bool use);
  // Whether the account has a section of its own (by SID, else by name).
  bool HasOwnRules(const std::string& name, const std::string& sid) const;
  const std::vector<AccountSection>& account_sections() const { return sections_; }
  // The sections were changed since they were read; Apply rewrites them then.
  bool account_sections_changed() const { return sections_changed_; }
  // The sections as the settings file holds them; they count as unchanged.
  void LoadAccountSections(std::vector<AccountSection> sections);
  // The [时间控制] rules, whichever rules are shown.
  const RulesText& default_rules() const { return defaults_; }
  // 管理员不受限: administrators have no time control unless their own
  // section says so.
  const CheckBox& administrators_exempt() const { return administrators_exempt_; }
  void SetAdministratorsExempt(int value);
  // Every rule, as the engine chooses among them.
  RuleBook Rules() const;
  // Time control is on in some rule: the settings gate asks the password.
  bool AnyTimeControl() const;

  // ---- the usage history ---------------------------------------------------
  // 记录使用时间: each account's minutes go into the history file.
  const CheckBox& record_usage() const { return record_usage_; }
  void SetRecordUsage(int value);
  // 保留天数: how many days the history keeps, 7 to 3650 (no control shows it).
  int keep_days() const { return keep_days_; }
  void SetKeepDays(int days);

  bool apply_enabled() const { return apply_enabled_; }
  bool tab_enabled(int t) const { return tab_enabled_[t]; }
  int selected_tab() const { return selected_tab_; }

  // ---- changing, each with its rule ------------------------------------
  void SetCheck(int n, int value);
  void SelectOption1(int i);
  void SelectOption2(int i);
  void SetCombo1(int index);
  void SetCombo2(int index);
  void SetCombo3(int index);
  void SetScheduledTime(int seconds_of_day);
  void SetText1(const std::string& text);
  void SetText2(const std::string& text);
  void SetText3(int n, const std::string& text);
  void SelectOption3(int n);
  void ClickHour(int h);          // List1_Click after the user toggles hour h
  void FocusText3(int n);         // Text3_GotFocus(n)
  void SetCatchUp(int value);
  void SetGuard(int value);
  void SetDailyLimit(int n, const std::string& text);
  void SetPostponeMinutes(const std::string& text);
  // Each enables Apply when it changes anything.
  void SetPlans(std::vector<Plan> plans);
  void SetHolidays(const std::string& text);
  void SetExtraWorkdays(const std::string& text);
  // The same, for what was read from the settings file or the policy: the
  // list counts as unchanged afterwards.
  void LoadPlans(std::vector<Plan> plans);
  void LoadHolidays(const std::string& text);
  void LoadExtraWorkdays(const std::string& text);

  // ---- plain state, no rule ----------------------------------------------
  void SetCheckEnabled(int n, bool enabled) { checks_[n - 1].enabled = enabled; }
  void SetApplyEnabled(bool enabled) { apply_enabled_ = enabled; }
  void SetTabEnabled(int t, bool enabled) { tab_enabled_[t] = enabled; }
  // The rules of one account are shown on the 时间控制 tab only: elsewhere
  // Check4 (高级设置) is the time control of 所有账户 again.
  void SelectTab(int t) {
    selected_tab_ = t;
    if (t != kTimeControlTab && rules_account_) ShowDefaultRules();
  }
  // Shows weekday n's allowed hours in the list without touching anything
  // else (what start-up does for the weekday that is selected).
  void ShowWeekdayInList(int n);

 private:
  void Check1_Click();
  void Check2_Click();
  void Check3_Click();
  void Check4_Click();
  void Check5_Click();
  void Check6_Click();
  void Check7_Click();
  void Check8_Click();
  void Check9_Click();
  void Check10_Click();
  void Check11_Click();
  void Combo3_Click();
  void Option1_Click(int i);
  void Option3_Click(int n);
  void List1_Click();
  // The rules shown, into the rules they stand for.
  void StoreShownRules();
  // The controls of the rules tab show these rules; greyed when `follows`.
  void ShowRules(const RulesText& rules, bool follows);
  // A schedule and time control exclude each other, whichever rule has it:
  // 取消定时 is selected (`always`: even when it is already) and the
  // frequency's buttons are greyed while any rule has time control.
  void ExcludeScheduleByTimeControl(bool always);

  std::array<CheckBox, kCheckCount> checks_{};
  int option1_ = kFrequencyNone;
  std::array<bool, 4> option1_enabled_{true, true, true, true};
  int option2_ = -1;
  ComboBox combo1_, combo2_, combo3_;
  int scheduled_time_ = 0;
  bool time_picker_enabled_ = true;
  TextBox text1_, text2_;
  std::array<TextBox, kWeekdays> text3_;
  int option3_ = 0;
  std::array<bool, kWeekdays> option3_enabled_{};
  std::array<bool, kHourCount> marks_{};
  bool list1_enabled_ = false;
  CheckBox catch_up_;
  CheckBox guard_;
  std::array<std::string, kWeekdays> daily_limits_{};
  std::string postpone_minutes_ = "10";
  std::vector<Plan> plans_;
  std::string holidays_, extra_workdays_;
  bool plans_changed_ = false, holidays_changed_ = false, extra_workdays_changed_ = false;
  RulesText defaults_;
  std::vector<AccountSection> sections_;
  bool sections_changed_ = false;
  std::optional<Account> rules_account_;
  int rules_section_ = -1;
  bool showing_ = false;  // the controls are being filled: nothing is stored
  CheckBox administrators_exempt_;
  CheckBox record_usage_;
  int keep_days_ = 400;
  bool apply_enabled_ = false;
  std::array<bool, kTabCount> tab_enabled_{true, true, true, true, true, true};
  int selected_tab_ = 0;
};

// A whole number typed into a box: plain digits with blanks around, at most
// five; nullopt for anything else.
std::optional<int> TypedWholeNumber(const std::string& text);

// The allowed-hours string the editor builds from a set of marked hours.
std::string BuildAllowedHours(const std::array<bool, kHourCount>& marks);
// The hours an allowed-hours string marks in the editor: the first two
// characters of each "+"-separated part read as an hour 00..23; anything else
// marks nothing.
std::array<bool, kHourCount> HoursMarkedBy(const std::string& allowed_hours);

}  // namespace dadado
