#include "scheduler/schedule_tick.h"

namespace dadado {

namespace {

bool DayMatches(const ScheduleInputs& in, std::int64_t day) {
  switch (in.frequency) {
    case 0:
      return true;
    case 1:
      // Weekday numbers count 1 for Sunday; the list index counts from 0.
      return in.weekday_index >= 0 && WeekdayOf(day) + 1 == in.weekday_index + 1;
    case 2: {
      // With no interval chosen or no readable start date, nothing is due.
      if (in.interval_index < 0 || !in.start_day) return false;
      std::int64_t n = in.interval_index + 2;
      return (day - *in.start_day) % n == 0;  // negative multiples count too
    }
    default:
      return false;
  }
}

}  // namespace

SecondVerdict JudgeSecond(const ScheduleInputs& in, std::int64_t local_second) {
  LocalDateTime t = FromLocalSeconds(local_second);
  std::int64_t day = DayNumber(t.date);
  SecondVerdict v;
  if (!DayMatches(in, day)) return v;
  v.due = t.second_of_day == in.scheduled_time;
  // The warning lies 121 seconds before the time of day on the same day; it
  // never reaches back into the previous day.
  v.warn = in.scheduled_time - t.second_of_day == kWarningLeadSeconds;
  return v;
}

std::optional<std::int64_t> NextEventAfter(const ScheduleInputs& in, std::int64_t local_second) {
  if (in.scheduled_time < 0 || in.scheduled_time >= 86400) return std::nullopt;
  // Every cycle repeats within 16 days; one more day covers today's events
  // that are already past.
  constexpr int kLongestCycleDays = 16;
  const std::int64_t today = DayNumber(FromLocalSeconds(local_second).date);
  for (std::int64_t day = today; day <= today + kLongestCycleDays + 1; ++day) {
    if (!DayMatches(in, day)) continue;
    const std::int64_t due = day * 86400 + in.scheduled_time;
    const std::int64_t warn = due - kWarningLeadSeconds;
    if (in.scheduled_time >= kWarningLeadSeconds && warn > local_second) return warn;
    if (due > local_second) return due;
  }
  return std::nullopt;
}

std::optional<std::int64_t> NextDueAfter(const ScheduleInputs& in, std::int64_t local_second) {
  if (in.scheduled_time < 0 || in.scheduled_time >= 86400) return std::nullopt;
  const std::int64_t today = DayNumber(FromLocalSeconds(local_second).date);
  for (std::int64_t day = today; day <= today + 17; ++day) {
    const std::int64_t due = day * 86400 + in.scheduled_time;
    if (due > local_second && DayMatches(in, day)) return due;
  }
  return std::nullopt;
}

std::optional<std::int64_t> LatestDueWithin(const ScheduleInputs& in, std::int64_t local_second, std::int64_t window) {
  if (in.scheduled_time < 0 || in.scheduled_time >= 86400 || window < 0) return std::nullopt;
  const std::int64_t earliest = local_second - window;
  for (std::int64_t day = DayNumber(FromLocalSeconds(local_second).date); day * 86400 + 86400 > earliest; --day) {
    const std::int64_t due = day * 86400 + in.scheduled_time;
    if (due > local_second || !DayMatches(in, day)) continue;
    return due >= earliest ? std::optional<std::int64_t>(due) : std::nullopt;
  }
  return std::nullopt;
}

std::vector<std::int64_t> TickSeconds::Advance(std::int64_t now) {
  std::vector<std::int64_t> seconds;
  if (last_ && now > *last_ && now - *last_ <= kMaxCatchUp) {
    for (std::int64_t s = *last_ + 1; s <= now; ++s) seconds.push_back(s);
  } else if (!last_ || now != *last_) {
    seconds.push_back(now);
  }
  if (!last_ || now > *last_ || now < *last_ - kMaxCatchUp) last_ = now;
  return seconds;
}

bool TickSeconds::FirstTime(std::int64_t instant, std::optional<std::int64_t>& memory) {
  if (memory && *memory == instant) return false;
  memory = instant;
  return true;
}

}  // namespace dadado
