#include "settings/live_settings.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "scheduler/time_control.h"
#include "scheduler/usage_history.h"

namespace dadado {

RulesText::RulesText() { hours.fill(kAllHoursForbidden); }

int LimitMinutes(const std::string& typed) {
  const auto v = TypedWholeNumber(typed);
  return v && *v >= 1 && *v <= kMaxDailyLimitMinutes ? *v : 0;
}

TimeRules TimeRulesOf(const RulesText& text) {
  TimeRules rules;
  for (int n = 0; n < kWeekdays; ++n) {
    rules.allowed_hours[n] = text.hours[n];
    rules.daily_limits[n] = LimitMinutes(text.limits[n]);
  }
  return rules;
}

LiveSettings::LiveSettings() {
  checks_[8 - 1].value = 1;  // "强制" starts checked
  combo1_ = {-1, false, 7};
  combo2_ = {-1, false, 15};
  combo3_ = {-1, true, 4};
  text1_ = {"Administrator", false};
  text2_ = {"", false};
  for (auto& t : text3_) t = {kAllHoursForbidden, false};
}

// ---- changes --------------------------------------------------------------

void LiveSettings::SetCheck(int n, int value) {
  if (n < 1 || n > kCheckCount) return;
  if (value != 0 && value != 1 && value != 2) value = 0;
  if (checks_[n - 1].value == value) return;
  checks_[n - 1].value = value;
  switch (n) {
    case 1: Check1_Click(); break;
    case 2: Check2_Click(); break;
    case 3: Check3_Click(); break;
    case 4: Check4_Click(); break;
    case 5: Check5_Click(); break;
    case 6: Check6_Click(); break;
    case 7: Check7_Click(); break;
    case 8: Check8_Click(); break;
    case 9: Check9_Click(); break;
    case 10: Check10_Click(); break;
    case 11: Check11_Click(); break;
  }
}

// Selecting a frequency runs its rule even when the button was already
// selected: time control relies on it to reset the action.
void LiveSettings::SelectOption1(int i) {
  if (i < 0 || i > 3) i = kFrequencyNone;
  option1_ = i;
  Option1_Click(i);
}

void LiveSettings::SelectOption2(int i) {
  if (i < 0 || i > 2) return;
  option2_ = i;
  SetCombo3(i);  // Option2_Click: the list follows the button
}

static int ValidIndex(int index, int count) { return index >= 0 && index < count ? index : -1; }

void LiveSettings::SetCombo1(int index) {
  index = ValidIndex(index, combo1_.count);
  if (combo1_.index == index) return;
  combo1_.index = index;
  apply_enabled_ = true;  // Combo1_Click
}

void LiveSettings::SetCombo2(int index) {
  index = ValidIndex(index, combo2_.count);
  if (combo2_.index == index) return;
  combo2_.index = index;
  apply_enabled_ = true;  // Combo2_Click
}

void LiveSettings::SetCombo3(int index) {
  index = ValidIndex(index, combo3_.count);
  if (combo3_.index == index) {
    // The option group already shows this action; Option2_Click still ends
    // by enabling Apply through Combo3_Click.
    if (index >= 0 && index < kActionNone && option2_ == index) apply_enabled_ = true;
    return;
  }
  combo3_.index = index;
  Combo3_Click();
}

void LiveSettings::SetScheduledTime(int seconds_of_day) {
  seconds_of_day = ((seconds_of_day % kSecondsPerDay) + kSecondsPerDay) % kSecondsPerDay;
  if (scheduled_time_ == seconds_of_day) return;
  scheduled_time_ = seconds_of_day;
  apply_enabled_ = true;  // DTPicker1_Change
}

void LiveSettings::SetText1(const std::string& text) {
  if (text1_.text == text) return;
  text1_.text = text;
  apply_enabled_ = true;  // Text1_Change
}

void LiveSettings::SetText2(const std::string& text) {
  if (text2_.text == text) return;
  text2_.text = text;
  apply_enabled_ = true;  // Text2_Change
}

void LiveSettings::SetText3(int n, const std::string& text) {
  if (n < 0 || n >= kWeekdays || text3_[n].text == text) return;
  text3_[n].text = text;
  apply_enabled_ = true;  // Text3_Change(n): the list does not follow typing
  StoreShownRules();
}

void LiveSettings::SelectOption3(int n) {
  if (n < 0 || n >= kWeekdays || option3_ == n) return;
  option3_ = n;
  Option3_Click(n);
}

void LiveSettings::FocusText3(int n) { SelectOption3(n); }  // Text3_GotFocus

void LiveSettings::ClickHour(int h) {
  if (h < 0 || h >= kHourCount) return;
  marks_[h] = !marks_[h];
  List1_Click();
}

void LiveSettings::ShowWeekdayInList(int n) {
  if (n >= 0 && n < kWeekdays) marks_ = HoursMarkedBy(text3_[n].text);
}

// ---- rules ------------------------------------------------------------------

void LiveSettings::Check1_Click() { apply_enabled_ = true; }

void LiveSettings::Check2_Click() {
  apply_enabled_ = true;
  if (IsSet(2)) SetCheck(7, 1);
}

void LiveSettings::Check3_Click() {
  text1_.enabled = text2_.enabled = IsSet(3);
  apply_enabled_ = true;
}

void LiveSettings::Check4_Click() {
  const bool on = check(4).value != 0;
  for (int n = 0; n < kWeekdays; ++n) {
    option3_enabled_[n] = on;
    text3_[n].enabled = on;
  }
  list1_enabled_ = on;
  StoreShownRules();
  ExcludeScheduleByTimeControl(true);
  apply_enabled_ = true;
}

void LiveSettings::ExcludeScheduleByTimeControl(bool always) {
  const bool any = defaults_.enabled != 0 ||
                   std::any_of(sections_.begin(), sections_.end(), [](const AccountSection& a) { return a.rules.enabled == 1; });
  if (any && (always || option1_ != kFrequencyNone)) SelectOption1(kFrequencyNone);
  option1_enabled_.fill(!any);
}

// ---- rules for each account --------------------------------------------------

void LiveSettings::StoreShownRules() {
  if (showing_ || (rules_account_ && rules_section_ < 0)) return;
  RulesText shown;
  shown.enabled = checks_[4 - 1].value;
  for (int n = 0; n < kWeekdays; ++n) {
    shown.hours[n] = text3_[n].text;
    shown.limits[n] = daily_limits_[n];
  }
  RulesText& target = rules_section_ >= 0 ? sections_[rules_section_].rules : defaults_;
  if (target == shown) return;
  target = shown;
  if (rules_section_ >= 0) sections_changed_ = true;
}

void LiveSettings::ShowRules(const RulesText& rules, bool follows) {
  showing_ = true;
  checks_[4 - 1].value = rules.enabled;
  checks_[4 - 1].enabled = !follows;
  const bool on = rules.enabled != 0 && !follows;
  for (int n = 0; n < kWeekdays; ++n) {
    text3_[n] = {rules.hours[n], on};
    daily_limits_[n] = rules.limits[n];
    option3_enabled_[n] = on;
  }
  list1_enabled_ = on;
  ShowWeekdayInList(option3_);
  showing_ = false;
}

void LiveSettings::ShowDefaultRules() {
  rules_account_.reset();
  rules_section_ = -1;
  ShowRules(defaults_, false);
}

void LiveSettings::ShowAccountRules(const std::string& name, const std::string& sid) {
  rules_account_ = Account{name, sid, false};
  rules_section_ = -1;
  for (std::size_t i = 0; i < sections_.size(); ++i)
    if (SectionMatches(AccountRules{sections_[i].name, sections_[i].sid, false, {}}, name, sid)) {
      rules_section_ = static_cast<int>(i);
      break;
    }
  ShowRules(rules_section_ >= 0 ? sections_[rules_section_].rules : defaults_, rules_section_ < 0);
}

void LiveSettings::SetUseDefaultRules(bool use) {
  if (!rules_account_ || use == (rules_section_ < 0)) return;
  if (use) {
    sections_.erase(sections_.begin() + rules_section_);
    rules_section_ = -1;
  } else {
    sections_.push_back({rules_account_->name, rules_account_->sid, defaults_});
    rules_section_ = static_cast<int>(sections_.size()) - 1;
  }
  sections_changed_ = true;
  apply_enabled_ = true;
  ShowRules(use ? defaults_ : sections_[rules_section_].rules, use);
  ExcludeScheduleByTimeControl(false);
}

bool LiveSettings::HasOwnRules(const std::string& name, const std::string& sid) const {
  return std::any_of(sections_.begin(), sections_.end(),
                     [&](const AccountSection& a) { return SectionMatches(AccountRules{a.name, a.sid, false, {}}, name, sid); });
}

void LiveSettings::LoadAccountSections(std::vector<AccountSection> sections) {
  sections_ = std::move(sections);
  sections_changed_ = false;
  ShowDefaultRules();
  // A schedule read before the sections gives way to an account's time
  // control, as it gives way to Check4's.
  ExcludeScheduleByTimeControl(false);
}

void LiveSettings::SetAdministratorsExempt(int value) {
  if (value != 0 && value != 1) value = 0;
  if (administrators_exempt_.value == value) return;
  administrators_exempt_.value = value;
  apply_enabled_ = true;
}

RuleBook LiveSettings::Rules() const {
  RuleBook book;
  book.enabled = defaults_.enabled == 1;
  book.rules = TimeRulesOf(defaults_);
  book.administrators_exempt = administrators_exempt_.value == 1;
  for (const AccountSection& a : sections_) book.accounts.push_back({a.name, a.sid, a.rules.enabled == 1, TimeRulesOf(a.rules)});
  return book;
}

bool LiveSettings::AnyTimeControl() const { return Rules().AnyEnabled(); }

void LiveSettings::SetRecordUsage(int value) {
  if (value != 0 && value != 1) value = 0;
  if (record_usage_.value == value) return;
  record_usage_.value = value;
  apply_enabled_ = true;
}

void LiveSettings::SetKeepDays(int days) { keep_days_ = days >= kMinKeepDays && days <= kMaxKeepDays ? days : kDefaultKeepDays; }

void LiveSettings::Check5_Click() { apply_enabled_ = true; }

void LiveSettings::Check6_Click() { checks_[9 - 1].enabled = !IsSet(6); }

void LiveSettings::Check7_Click() {
  if (check(7).value == 0) SetCheck(10, 0);
  apply_enabled_ = true;
}

void LiveSettings::Check8_Click() { apply_enabled_ = true; }

void LiveSettings::Check9_Click() { apply_enabled_ = true; }

std::optional<int> TypedWholeNumber(const std::string& text) {
  std::size_t i = 0, end = text.size();
  while (i < end && (text[i] == ' ' || text[i] == '\t')) ++i;
  while (end > i && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  if (i == end || end - i > 5) return std::nullopt;
  int v = 0;
  for (; i < end; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    v = v * 10 + (text[i] - '0');
  }
  return v;
}

int LiveSettings::DailyLimitMinutes(int n) const {
  if (n < 0 || n >= kWeekdays) return 0;
  return LimitMinutes(daily_limits_[n]);
}

int LiveSettings::PostponeMinutes() const {
  const auto v = TypedWholeNumber(postpone_minutes_);
  return v && *v >= kMinPostponeMinutes && *v <= kMaxPostponeMinutes ? *v : kDefaultPostponeMinutes;
}

void LiveSettings::SetDailyLimit(int n, const std::string& text) {
  if (n < 0 || n >= kWeekdays || daily_limits_[n] == text) return;
  daily_limits_[n] = text;
  apply_enabled_ = true;
  StoreShownRules();
}

void LiveSettings::SetPostponeMinutes(const std::string& text) {
  if (postpone_minutes_ == text) return;
  postpone_minutes_ = text;
  apply_enabled_ = true;
}

void LiveSettings::SetGuard(int value) {
  if (value != 0 && value != 1 && value != 2) value = 0;
  if (guard_.value == value) return;
  guard_.value = value;
  apply_enabled_ = true;
}

void LiveSettings::SetCatchUp(int value) {
  if (value != 0 && value != 1 && value != 2) value = 0;
  if (catch_up_.value == value) return;
  catch_up_.value = value;
  apply_enabled_ = true;
}

void LiveSettings::Check10_Click() {
  if (IsSet(10)) SetCheck(7, 1);
  apply_enabled_ = true;
}

void LiveSettings::Check11_Click() {
  if (IsSet(11)) {
    SetCheck(3, 0);
    if (open_accounts_panel) open_accounts_panel();
  }
  apply_enabled_ = true;
}

// With no item selected there is no button to select: it reads as "no action".
void LiveSettings::Combo3_Click() {
  option2_ = (combo3_.index >= 0 && combo3_.index < kActionNone) ? combo3_.index : -1;
  apply_enabled_ = true;
}

void LiveSettings::Option1_Click(int i) {
  time_picker_enabled_ = i >= 0 && i <= 2;
  combo1_.enabled = i == 1;
  combo2_.enabled = i == 2;
  if (!time_picker_enabled_) SetCombo3(kActionNone);
  apply_enabled_ = true;
}

void LiveSettings::Option3_Click(int n) {
  ShowWeekdayInList(n);
  apply_enabled_ = true;
}

void LiveSettings::List1_Click() {
  apply_enabled_ = true;
  int n = (option3_ >= 0 && option3_ < kWeekdays) ? option3_ : 0;
  text3_[n].text = BuildAllowedHours(marks_);
  StoreShownRules();
}

// ---- allowed hours in the editor ---------------------------------------------

std::string BuildAllowedHours(const std::array<bool, kHourCount>& marks) {
  std::string text;
  for (int h = 0; h < kHourCount; ++h) {
    if (!marks[h]) continue;
    char label[8];
    std::snprintf(label, sizeof label, "%02d:00", h);
    text += label;
    text += '+';
  }
  if (text.empty()) text = std::string(kAllHoursForbidden) + "+";
  text.pop_back();
  return text;
}

std::array<bool, kHourCount> HoursMarkedBy(const std::string& allowed_hours) {
  std::array<bool, kHourCount> marks{};
  if (allowed_hours == kAllHoursForbidden || allowed_hours.empty()) return marks;
  std::size_t start = 0;
  for (;;) {
    std::size_t plus = allowed_hours.find('+', start);
    std::string part = allowed_hours.substr(start, plus == std::string::npos ? std::string::npos : plus - start);
    if (part.size() >= 2 && part[0] >= '0' && part[0] <= '9' && part[1] >= '0' && part[1] <= '9') {
      int h = (part[0] - '0') * 10 + (part[1] - '0');
      if (h < kHourCount) marks[h] = true;
    }
    if (plus == std::string::npos) break;
    start = plus + 1;
  }
  return marks;
}

void LiveSettings::SetPlans(std::vector<Plan> plans) {
  if (plans.size() > static_cast<std::size_t>(kMaxPlans)) plans.resize(kMaxPlans);
  if (plans == plans_) return;
  plans_ = std::move(plans);
  plans_changed_ = true;
  apply_enabled_ = true;
}

void LiveSettings::SetHolidays(const std::string& text) {
  if (text == holidays_) return;
  holidays_ = text;
  holidays_changed_ = true;
  apply_enabled_ = true;
}

void LiveSettings::SetExtraWorkdays(const std::string& text) {
  if (text == extra_workdays_) return;
  extra_workdays_ = text;
  extra_workdays_changed_ = true;
  apply_enabled_ = true;
}

void LiveSettings::LoadPlans(std::vector<Plan> plans) {
  SetPlans(std::move(plans));
  plans_changed_ = false;
}

void LiveSettings::LoadHolidays(const std::string& text) {
  SetHolidays(text);
  holidays_changed_ = false;
}

void LiveSettings::LoadExtraWorkdays(const std::string& text) {
  SetExtraWorkdays(text);
  extra_workdays_changed_ = false;
}

}  // namespace dadado
