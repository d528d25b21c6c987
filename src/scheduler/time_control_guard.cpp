#include "scheduler/time_control_guard.h"

#include <algorithm>

#include "base/date_time_text.h"
#include "scheduler/time_control.h"

namespace dadado {

std::optional<int> SecondsToEndOfAllowedHours(const TimeRules& rules, const LocalDateTime& now) {
  const std::int64_t day = DayNumber(now.date);
  const std::string& today = rules.allowed_hours[WeekdayOf(day)];
  if (!IsTimeAllowed(today, now.second_of_day)) return std::nullopt;
  // Allowed hours end at a whole hour.
  for (int h = now.second_of_day / 3600 + 1; h < 24; ++h)
    if (!IsTimeAllowed(today, h * 3600)) return h * 3600 - now.second_of_day;
  if (!IsTimeAllowed(rules.allowed_hours[WeekdayOf(day + 1)], 0)) return 86400 - now.second_of_day;
  return std::nullopt;
}

std::optional<int> SecondsToEndOfAllowedHours(const TimeRules& rules, const LocalDateTime& now,
                                              std::optional<std::int64_t> extra_until) {
  const std::int64_t t = LocalSeconds(now);
  if (!extra_until || *extra_until <= t) return SecondsToEndOfAllowedHours(rules, now);
  // Allowed until the window closes at least, and on while the hours allow.
  const LocalDateTime closes = FromLocalSeconds(*extra_until);
  const int window = static_cast<int>(*extra_until - t);
  if (!IsTimeAllowed(rules.allowed_hours[WeekdayOf(DayNumber(closes.date))], closes.second_of_day)) return window;
  const auto after = SecondsToEndOfAllowedHours(rules, closes);
  if (!after) return std::nullopt;
  return window + *after;
}

bool AllowedNow(const TimeRules& rules, const LocalDateTime& now, std::optional<std::int64_t> extra_until) {
  if (extra_until && LocalSeconds(now) < *extra_until) return true;
  return IsTimeAllowed(rules.allowed_hours[WeekdayOf(DayNumber(now.date))], now.second_of_day);
}

std::optional<std::int64_t> ExtraTimeUntil(const TimeRules& rules, const LocalDateTime& now, int minutes,
                                           std::optional<std::int64_t> extra_until) {
  const std::int64_t t = LocalSeconds(now);
  std::int64_t from = t;
  if (AllowedNow(rules, now, extra_until)) {
    const auto end = SecondsToEndOfAllowedHours(rules, now, extra_until);
    if (!end) return std::nullopt;  // nothing ends today
    from = t + *end;
  }
  return from + static_cast<std::int64_t>(minutes) * 60;
}

std::string DurationText(int minutes) {
  const int h = minutes / 60, m = minutes % 60;
  if (h == 0) return std::to_string(m) + "分钟";
  return std::to_string(h) + "小时" + (m ? std::to_string(m) + "分钟" : "");
}

GuardVerdict TimeControlGuard::Check(const TimeRules& rules, const LocalDateTime& now, const UseInForce& use) {
  GuardVerdict v;
  const std::int64_t t = LocalSeconds(now);
  if (hold_off_until_ && t < *hold_off_until_) return v;
  hold_off_until_.reset();

  const std::int64_t day = DayNumber(now.date);
  const int weekday = WeekdayOf(day);
  if (!AllowedNow(rules, now, use.extra_until)) {
    v.shutdown = GuardShutdown::kHoursNotAllowed;
    return v;
  }
  const int limit = rules.daily_limits[weekday] > 0 ? rules.daily_limits[weekday] + use.extra_minutes : 0;
  if (limit > 0 && use.minutes >= limit) {
    v.shutdown = GuardShutdown::kDailyLimitReached;
    return v;
  }

  // The check runs once a minute: the one that falls into the tenth minute
  // before the end tells of it.
  if (auto left = SecondsToEndOfAllowedHours(rules, now, use.extra_until); left && *left > 540 && *left <= 600) {
    const std::int64_t end = t + *left;
    if (noticed_end_ != end) {
      noticed_end_ = end;
      v.notices.push_back(FormatClock(FromLocalSeconds(end).second_of_day, false) + "以后不允许使用本机，还剩10分钟。");
    }
  }
  const int minutes_left = limit - use.minutes;
  if (limit > 0 && (minutes_left == 10 || minutes_left == 1)) {
    const std::pair<std::int64_t, int> told{day, minutes_left};
    if (noticed_left_ != told) {
      noticed_left_ = told;
      v.notices.push_back("今天还可以使用" + std::to_string(minutes_left) + "分钟。");
    }
  }
  return v;
}

std::string TimeControlGuard::NextText(const TimeRules& rules, const LocalDateTime& now, const UseInForce& use) const {
  const std::string extra = use.extra_minutes > 0 ? "（今日加时" + DurationText(use.extra_minutes) + "）" : "";
  const auto end = SecondsToEndOfAllowedHours(rules, now, use.extra_until);
  const int weekday_limit = rules.daily_limits[WeekdayOf(DayNumber(now.date))];
  if (weekday_limit > 0) {
    const int left = std::max(0, weekday_limit + use.extra_minutes - use.minutes);
    if (!end || left * 60 < *end) return "今天还可以使用" + DurationText(left) + extra;
  }
  if (end) return "允许使用到 " + FormatClock((now.second_of_day + *end) % 86400, false) + extra;
  return "";
}

}  // namespace dadado
