#include "scheduler/schedule_runner.h"

#include <algorithm>

#include "base/date_time_text.h"

namespace dadado {

ScheduleInputs ScheduleRunner::WithStartDay(ScheduleInputs in) const {
  in.start_day.reset();
  if (in.frequency == 2) {
    if (auto start = ParseDate(interval_start_)) in.start_day = DayNumber(*start);
  }
  return in;
}

ScheduleStep ScheduleRunner::Tick(ScheduleInputs in) {
  in = WithStartDay(in);
  ScheduleStep step;
  for (std::int64_t second : seconds_.Advance(LocalSeconds(clock_.Now()))) {
    SecondVerdict v = JudgeSecond(in, second);
    if (v.due && seconds_.FirstTime(second, last_due_)) step.action_due = true;
    if (v.warn && seconds_.FirstTime(second, last_warning_)) step.open_warning = true;
  }
  return step;
}

int ScheduleRunner::SecondsToNextTick(ScheduleInputs in) {
  const std::int64_t now = LocalSeconds(clock_.Now());
  const auto next = NextEventAfter(WithStartDay(in), now);
  if (!next) return kIdleTickSeconds;
  const std::int64_t quiet = *next - now - kAlertSeconds;
  return quiet <= 1 ? 1 : static_cast<int>(std::min<std::int64_t>(quiet, kIdleTickSeconds));
}

}  // namespace dadado
