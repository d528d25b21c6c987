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

std::string DurationText(int minutes) {
  const int h = minutes / 60, m = minutes % 60;
  if (h == 0) return std::to_string(m) + "分钟";
  return std::to_string(h) + "小时" + (m ? std::to_string(m) + "分钟" : "");
}

GuardVerdict TimeControlGuard::Check(const TimeRules& rules, const LocalDateTime& now) {
  GuardVerdict v;
  v.use_changed = use_.Count(now);
  const std::int64_t t = LocalSeconds(now);
  if (hold_off_until_ && t < *hold_off_until_) return v;
  hold_off_until_.reset();

  const std::int64_t day = DayNumber(now.date);
  const int weekday = WeekdayOf(day);
  if (!IsTimeAllowed(rules.allowed_hours[weekday], now.second_of_day)) {
    v.shutdown = GuardShutdown::kHoursNotAllowed;
    return v;
  }
  const int limit = rules.daily_limits[weekday];
  if (limit > 0 && use_.minutes() >= limit) {
    v.shutdown = GuardShutdown::kDailyLimitReached;
    return v;
  }

  // The check runs once a minute: the one that falls into the tenth minute
  // before the end tells of it.
  if (auto left = SecondsToEndOfAllowedHours(rules, now); left && *left > 540 && *left <= 600) {
    const std::int64_t end = t + *left;
    if (noticed_end_ != end) {
      noticed_end_ = end;
      v.notices.push_back(FormatClock(FromLocalSeconds(end).second_of_day, false) + "以后不允许使用本机，还剩10分钟。");
    }
  }
  const int minutes_left = limit - use_.minutes();
  if (limit > 0 && (minutes_left == 10 || minutes_left == 1)) {
    const std::pair<std::int64_t, int> told{day, minutes_left};
    if (noticed_left_ != told) {
      noticed_left_ = told;
      v.notices.push_back("今天还可以使用" + std::to_string(minutes_left) + "分钟。");
    }
  }
  return v;
}

std::string TimeControlGuard::NextText(const TimeRules& rules, const LocalDateTime& now) const {
  const auto end = SecondsToEndOfAllowedHours(rules, now);
  const int limit = rules.daily_limits[WeekdayOf(DayNumber(now.date))];
  if (limit > 0) {
    const int left = std::max(0, limit - use_.minutes());
    if (!end || left * 60 < *end) return "今天还可以使用" + DurationText(left);
  }
  if (end) return "允许使用到 " + FormatClock((now.second_of_day + *end) % 86400, false);
  return "";
}

}  // namespace dadado
