#include "scheduler/daily_use.h"

#include <algorithm>

namespace dadado {

void DailyUse::Load(std::optional<Date> day, int minutes, const LocalDateTime& now) {
  day_ = now.date;
  seconds_ = day && *day == now.date ? std::clamp(minutes, 0, 24 * 60) * 60 : 0;
  since_ = LocalSeconds(now);
}

void DailyUse::SetActive(bool active, const LocalDateTime& now) {
  if (active == active_) return;
  if (!active) Count(now);
  active_ = active;
  since_ = LocalSeconds(now);
}

bool DailyUse::Count(const LocalDateTime& now) {
  const int before = minutes();
  const Date before_day = day_;
  const std::int64_t t = LocalSeconds(now);
  std::int64_t used = 0;
  if (active_ && since_) {
    used = t - *since_;
    if (used < 0 || used > kLongestGapSeconds) used = 0;
  }
  if (!(now.date == day_)) {
    // A new day counts from 0, and only what lies after its midnight.
    day_ = now.date;
    seconds_ = 0;
    used = std::min<std::int64_t>(used, now.second_of_day);
  }
  seconds_ = std::min<int>(seconds_ + static_cast<int>(used), 24 * 3600);
  since_ = t;
  return minutes() != before || !(day_ == before_day);
}

}  // namespace dadado
