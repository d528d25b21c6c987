#include "scheduler/daily_use.h"

#include <algorithm>

#include "base/date_time_text.h"

namespace dadado {

namespace {

constexpr int kDaySeconds = 24 * 3600;
constexpr int kDayMinutes = 24 * 60;

std::optional<int> WholeNumber(std::string_view t) {
  if (t.empty() || t.size() > 9) return std::nullopt;
  int v = 0;
  for (char c : t) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return v;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (;;) {
    const std::size_t at = text.find(separator);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return parts;
    text.remove_prefix(at + 1);
  }
}

}  // namespace

std::string FormatAccountDay(const UsageDay& day) {
  if (!day.day) return "";
  std::string text = FormatShortDate(*day.day);
  for (const AccountUse& a : day.accounts) {
    text += ";" + a.name + "," + a.sid + "," + std::to_string(a.minutes) + "," + std::to_string(a.extra_minutes) + ",";
    if (a.extra_until) {
      const LocalDateTime until = FromLocalSeconds(*a.extra_until);
      text += FormatDateTimeText(until.date, until.second_of_day);
    }
  }
  return text;
}

UsageDay ParseAccountDay(const std::string& text) {
  UsageDay day;
  const std::vector<std::string_view> parts = Split(text, ';');
  day.day = ParseDate(parts.front());
  if (!day.day) return {};
  for (std::size_t i = 1; i < parts.size(); ++i) {
    const std::vector<std::string_view> f = Split(parts[i], ',');
    if (f.size() != 5 || (f[0].empty() && f[1].empty())) continue;
    AccountUse a{std::string(f[0]), std::string(f[1]), 0, 0, std::nullopt};
    a.minutes = std::min(WholeNumber(f[2]).value_or(0), kDayMinutes);
    a.extra_minutes = std::min(WholeNumber(f[3]).value_or(0), kDayMinutes);
    const auto date = ParseDate(f[4]);
    const auto time = ParseTimeOfDay(f[4]);
    if (date && time) a.extra_until = LocalSeconds({*date, *time});
    day.accounts.push_back(std::move(a));
  }
  return day;
}

UsageDay CombineKept(std::optional<Date> machine_day, int machine_minutes, UsageDay accounts) {
  if (machine_day && (!accounts.day || DayNumber(*machine_day) > DayNumber(*accounts.day)))
    return UsageDay{machine_day, machine_minutes, {}};
  accounts.minutes = machine_day && accounts.day && *machine_day == *accounts.day ? machine_minutes : 0;
  return accounts;
}

void DailyUse::Load(std::optional<Date> day, int minutes, const LocalDateTime& now) {
  UsageDay stored;
  stored.day = day;
  stored.minutes = minutes;
  Load(stored, now);
}

void DailyUse::Load(const UsageDay& stored, const LocalDateTime& now) {
  const std::int64_t t = LocalSeconds(now);
  const std::int64_t today = DayNumber(now.date);
  const std::int64_t day = stored.day ? DayNumber(*stored.day) : today - 1;
  day_ = now.date;
  seconds_ = 0;
  accounts_.clear();
  if (day >= today) {
    // A day after today: the clock was set back since it was counted. It
    // keeps the use until the clock reaches it, so that setting the clock
    // back gives no fresh day.
    if (day > today) {
      day_ = *stored.day;
      latest_ = day * 86400;
      behind_ = true;
      set_back_told_ = false;
    }
    seconds_ = std::clamp(stored.minutes, 0, kDayMinutes) * 60;
  }
  for (const AccountUse& a : stored.accounts) {
    Entry e{a, 0};
    if (day >= today) {
      e.seconds = std::clamp(a.minutes, 0, kDayMinutes) * 60;
      e.use.extra_minutes = std::clamp(a.extra_minutes, 0, kDayMinutes);
    } else if (a.extra_until && *a.extra_until > t) {
      // A window granted yesterday evening runs its course past midnight.
      e.use.extra_minutes = 0;
    } else {
      continue;
    }
    accounts_.push_back(std::move(e));
  }
  since_ = t;
}

void DailyUse::SetActive(bool active, const LocalDateTime& now) {
  if (active == active_) return;
  if (!active) Count(now);
  active_ = active;
  since_ = LocalSeconds(now);
}

bool DailyUse::SetAccount(const std::optional<Account>& account, const LocalDateTime& now) {
  if (account == account_) return false;
  Count(now);
  account_ = account;
  return true;
}

DailyUse::Entry& DailyUse::EntryOf(const Account& account) {
  for (Entry& e : accounts_)
    if (SameAccount(e.use.name, e.use.sid, account.name, account.sid)) {
      // The name follows a rename; a SID learnt later is kept.
      if (!account.name.empty()) e.use.name = account.name;
      if (e.use.sid.empty()) e.use.sid = account.sid;
      return e;
    }
  accounts_.push_back({AccountUse{account.name, account.sid, 0, 0, std::nullopt}, 0});
  return accounts_.back();
}

void DailyUse::NewDay(const Date& day) {
  const std::int64_t midnight = DayNumber(day) * 86400;
  day_ = day;
  seconds_ = 0;
  std::vector<Entry> open;
  for (Entry& e : accounts_)
    if (e.use.extra_until && *e.use.extra_until > midnight) {
      e.seconds = 0;
      e.use.extra_minutes = 0;
      open.push_back(std::move(e));
    }
  accounts_ = std::move(open);
}

bool DailyUse::Count(const LocalDateTime& now) {
  const int before = minutes();
  const Date before_day = day_;
  const int account_before = account_ ? MinutesOf(account_->name, account_->sid) : 0;
  const std::int64_t t = LocalSeconds(now);
  std::int64_t used = 0;
  if (active_ && since_) {
    used = t - *since_;
    if (used < 0 || used > kLongestGapSeconds) used = 0;
  }
  if (latest_ && t + kSetBackSeconds < *latest_) {
    if (!behind_) set_back_told_ = false;
    behind_ = true;
  } else if (!latest_ || t >= *latest_) {
    behind_ = false;
  }
  // A later day counts from 0, and only what lies after its midnight. An
  // earlier one (the clock set back) goes on counting into the latest day.
  if (DayNumber(now.date) > DayNumber(day_)) {
    NewDay(now.date);
    used = std::min<std::int64_t>(used, now.second_of_day);
  }
  seconds_ = std::min<int>(seconds_ + static_cast<int>(used), kDaySeconds);
  if (account_ && used > 0) {
    Entry& e = EntryOf(*account_);
    e.seconds = std::min<int>(e.seconds + static_cast<int>(used), kDaySeconds);
  }
  since_ = t;
  latest_ = std::max(latest_.value_or(t), t);
  const int account_after = account_ ? MinutesOf(account_->name, account_->sid) : 0;
  return minutes() != before || account_after != account_before || !(day_ == before_day);
}

const AccountUse* DailyUse::Of(const std::string& name, const std::string& sid) const {
  for (const Entry& e : accounts_)
    if (SameAccount(e.use.name, e.use.sid, name, sid)) return &e.use;
  return nullptr;
}

int DailyUse::MinutesOf(const std::string& name, const std::string& sid) const {
  for (const Entry& e : accounts_)
    if (SameAccount(e.use.name, e.use.sid, name, sid)) return e.seconds / 60;
  return 0;
}

UsageDay DailyUse::Snapshot() const {
  UsageDay day{day_, minutes(), {}};
  for (const Entry& e : accounts_) {
    AccountUse a = e.use;
    a.minutes = e.seconds / 60;
    day.accounts.push_back(std::move(a));
  }
  return day;
}

void DailyUse::Grant(const std::string& name, const std::string& sid, int minutes, std::optional<std::int64_t> until) {
  Entry& e = EntryOf(Account{name, sid, false});
  e.use.extra_minutes = std::clamp(e.use.extra_minutes + minutes, 0, kDayMinutes);
  if (until && (!e.use.extra_until || *until > *e.use.extra_until)) e.use.extra_until = until;
}

bool DailyUse::TakeClockSetBack() {
  if (set_back_told_) return false;
  set_back_told_ = true;
  return true;
}

}  // namespace dadado
