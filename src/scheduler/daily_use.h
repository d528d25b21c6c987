// How long the computer has been used today, in whole minutes: the machine's
// use (whoever was at the console) and each account's, counted while a user
// is at the console and the workstation is not locked, by the minute check,
// with the extra time granted to an account for today; kept across restarts
// by the host.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/calendar.h"
#include "scheduler/accounts.h"

namespace dadado {

// Extra time for today is granted in these steps.
inline constexpr int kDefaultExtraMinutes = 30;
inline constexpr int kMinExtraMinutes = 5, kMaxExtraMinutes = 600;

// One account's day.
struct AccountUse {
  std::string name, sid;
  int minutes = 0;
  int extra_minutes = 0;                    // granted for today, added up
  std::optional<std::int64_t> extra_until;  // may use the machine until this local second
  bool operator==(const AccountUse&) const = default;
};

// A day's counts as the host keeps them.
struct UsageDay {
  std::optional<Date> day;
  int minutes = 0;  // the machine's
  std::vector<AccountUse> accounts;
  bool operator==(const UsageDay&) const = default;
};

// The accounts' part of a day as one line of text, and back:
// "yyyy/m/d;name,sid,minutes,extra,until;…" (a user name holds neither ","
// nor ";"). A text that does not read gives no day.
std::string FormatAccountDay(const UsageDay& day);
UsageDay ParseAccountDay(const std::string& text);
// The day a host keeps from the machine's count (kept apart, as before) and
// the accounts' line: the later day, with the machine's count of that day.
UsageDay CombineKept(std::optional<Date> machine_day, int machine_minutes, UsageDay accounts);

class DailyUse {
 public:
  // A gap between two checks longer than this is not use: the machine slept,
  // or the clock was changed.
  static constexpr int kLongestGapSeconds = 150;
  // A clock that goes back further than this behind the last check counted
  // was set back.
  static constexpr int kSetBackSeconds = 60;

  // The stored count: minutes used on `day`. Another day's count, or none,
  // starts today from 0, except a day after today: the clock was set back,
  // and the use stays with that day until the clock reaches it again.
  void Load(std::optional<Date> day, int minutes, const LocalDateTime& now);
  // The same with the accounts' counts and extra time of their day.
  void Load(const UsageDay& stored, const LocalDateTime& now);

  // A user logged on or unlocked the workstation (true), or locked it or
  // logged off (false), at `now`.
  void SetActive(bool active, const LocalDateTime& now);
  bool active() const { return active_; }
  // The account at the console changed: the one before is counted up to now.
  // True when it changed.
  bool SetAccount(const std::optional<Account>& account, const LocalDateTime& now);
  const std::optional<Account>& account() const { return account_; }

  // The minute check: adds the time used since the last check. True when the
  // whole minutes (the machine's or the account's) or the day changed, so
  // that the count is stored.
  bool Count(const LocalDateTime& now);
  // The counting pauses; the next check starts afresh.
  void Pause() { since_.reset(); }

  int minutes() const { return seconds_ / 60; }
  const Date& day() const { return day_; }
  // The account's minutes and extra time of the day; nullptr when it has none.
  const AccountUse* Of(const std::string& name, const std::string& sid) const;
  int MinutesOf(const std::string& name, const std::string& sid) const;
  // The day as the host keeps it.
  UsageDay Snapshot() const;

  // Extra time for an account and today: its limit grows by `minutes`, and it
  // may use the machine until `until` whatever its hours say (the window of
  // an earlier grant still open is kept when it lasts longer).
  void Grant(const std::string& name, const std::string& sid, int minutes, std::optional<std::int64_t> until);

  // The clock was found set back behind the last check counted: true once
  // for each time, until the clock has passed that check again.
  bool TakeClockSetBack();
  // The latest second the count has reached, by the clock.
  const std::optional<std::int64_t>& latest() const { return latest_; }

 private:
  struct Entry {
    AccountUse use;
    int seconds = 0;
  };
  Entry& EntryOf(const Account& account);
  void NewDay(const Date& day);

  Date day_;
  int seconds_ = 0;
  std::vector<Entry> accounts_;
  std::optional<Account> account_;
  bool active_ = true;
  std::optional<std::int64_t> since_;
  std::optional<std::int64_t> latest_;
  bool behind_ = false;
  bool set_back_told_ = true;
};

}  // namespace dadado
