// The minute check of time control: the allowed hours, the daily limit with
// today's use, the notices before either ends, and a shutdown held off by
// 推迟. Pure decisions over the live settings and the clock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <array>

#include "base/calendar.h"
#include "scheduler/daily_use.h"

namespace dadado {

// What time control decides by: each weekday's allowed hours (0 = Sunday)
// and its daily limit in minutes (0: none).
struct TimeRules {
  std::array<std::string, 7> allowed_hours;
  std::array<int, 7> daily_limits{};
  bool operator==(const TimeRules&) const = default;
};

enum class GuardShutdown {
  kNone,
  kHoursNotAllowed,   // the current hour is not allowed
  kDailyLimitReached, // today's use has reached today's limit
};

struct GuardVerdict {
  GuardShutdown shutdown = GuardShutdown::kNone;
  bool use_changed = false;            // today's count is to be stored
  std::vector<std::string> notices;    // balloons to show
};

// Seconds from `now` to the first second the allowed hours do not allow
// (looking into the first hour of tomorrow), or nullopt when now is not
// allowed or the rest of the day and the turn of it are.
std::optional<int> SecondsToEndOfAllowedHours(const TimeRules& rules, const LocalDateTime& now);

// "1小时20分钟", "45分钟", "2小时".
std::string DurationText(int minutes);

class TimeControlGuard {
 public:
  DailyUse& use() { return use_; }
  const DailyUse& use() const { return use_; }

  // The minute check, with time control on.
  GuardVerdict Check(const TimeRules& rules, const LocalDateTime& now);

  // 推迟: no shutdown before `until`; the check after it decides afresh.
  void HoldOff(std::int64_t until) { hold_off_until_ = until; }
  const std::optional<std::int64_t>& held_off_until() const { return hold_off_until_; }

  // What the tooltip says under time control: the sooner of the allowed
  // hours' end and the daily limit's; empty when neither applies.
  std::string NextText(const TimeRules& rules, const LocalDateTime& now) const;

 private:
  DailyUse use_;
  std::optional<std::int64_t> hold_off_until_;
  std::optional<std::int64_t> noticed_end_;                    // the end of the allowed hours told of
  std::optional<std::pair<std::int64_t, int>> noticed_left_;   // the day and minutes left told of
};

}  // namespace dadado
