// The minute check of time control: the allowed hours, the daily limit with
// today's use, the notices before either ends, and a shutdown held off by
// 推迟. Pure decisions over the live settings and the clock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/calendar.h"
#include "scheduler/accounts.h"

namespace dadado {

enum class GuardShutdown {
  kNone,
  kHoursNotAllowed,   // the current hour is not allowed
  kDailyLimitReached, // today's use has reached today's limit
};

struct GuardVerdict {
  GuardShutdown shutdown = GuardShutdown::kNone;
  std::vector<std::string> notices;    // balloons to show
};

// Today's use as the account at the console is held to it.
struct UseInForce {
  int minutes = 0;        // what the limit counts: the account's, or the machine's
  int extra_minutes = 0;  // granted for today: the limit grows by them
  // Extra time beyond the allowed hours: the machine may be used until then.
  std::optional<std::int64_t> extra_until;
};

// Seconds from `now` to the first second the allowed hours do not allow
// (looking into the first hour of tomorrow), or nullopt when now is not
// allowed or the rest of the day and the turn of it are.
std::optional<int> SecondsToEndOfAllowedHours(const TimeRules& rules, const LocalDateTime& now);
// The same with a window of extra time that lasts until `extra_until`.
std::optional<int> SecondsToEndOfAllowedHours(const TimeRules& rules, const LocalDateTime& now,
                                              std::optional<std::int64_t> extra_until);
// Whether now is allowed, by the hours or by a window of extra time.
bool AllowedNow(const TimeRules& rules, const LocalDateTime& now, std::optional<std::int64_t> extra_until);
// Where a grant of extra time ends: `minutes` after the end of the allowed
// hours (a window still open counted in), or after now when they have ended
// already; nullopt when the hours allow the rest of the day anyway.
std::optional<std::int64_t> ExtraTimeUntil(const TimeRules& rules, const LocalDateTime& now, int minutes,
                                           std::optional<std::int64_t> extra_until);

// "1小时20分钟", "45分钟", "2小时".
std::string DurationText(int minutes);

class TimeControlGuard {
 public:
  // The minute check, with time control on, after today's use was counted.
  GuardVerdict Check(const TimeRules& rules, const LocalDateTime& now, const UseInForce& use);

  // 推迟: no shutdown before `until`; the check after it decides afresh.
  void HoldOff(std::int64_t until) { hold_off_until_ = until; }
  const std::optional<std::int64_t>& held_off_until() const { return hold_off_until_; }

  // What the tooltip says under time control: the sooner of the allowed
  // hours' end and the daily limit's; empty when neither applies.
  // Extra time granted for today is named with it.
  std::string NextText(const TimeRules& rules, const LocalDateTime& now, const UseInForce& use) const;

 private:
  std::optional<std::int64_t> hold_off_until_;
  std::optional<std::int64_t> noticed_end_;                    // the end of the allowed hours told of
  std::optional<std::pair<std::int64_t, int>> noticed_left_;   // the day and minutes left told of
};

}  // namespace dadado
