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
    if (v.due && seconds_.FirstTime(second, last_due_)) {
      step.action_due = true;
      step.occurrence = second;
    }
    if (v.warn && seconds_.FirstTime(second, last_warning_)) {
      step.open_warning = true;
      step.occurrence = second + kWarningLeadSeconds;
    }
    if (catch_up_ && second == catch_up_->due) {
      step.action_due = true;
      step.caught_up = true;
      step.occurrence = catch_up_->missed;
      catch_up_.reset();
    }
  }
  return step;
}

std::optional<CatchUp> ScheduleRunner::StartCatchUp(ScheduleInputs in, std::optional<std::int64_t> last_done) {
  const std::int64_t now = LocalSeconds(clock_.Now());
  const auto missed = LatestDueWithin(WithStartDay(in), now, kCatchUpWindowSeconds);
  if (!missed || *missed >= now) return std::nullopt;  // due this very second: the tick does it
  if (last_done && *missed <= *last_done) return std::nullopt;
  if (last_caught_up_ && *missed <= *last_caught_up_) return std::nullopt;
  last_caught_up_ = *missed;
  catch_up_ = CatchUp{*missed, now + kWarningLeadSeconds};
  return catch_up_;
}

int ScheduleRunner::SecondsToNextTick(ScheduleInputs in) {
  const std::int64_t now = LocalSeconds(clock_.Now());
  auto next = NextEventAfter(WithStartDay(in), now);
  if (catch_up_ && catch_up_->due > now && (!next || catch_up_->due < *next)) next = catch_up_->due;
  if (!next) return kIdleTickSeconds;
  const std::int64_t quiet = *next - now - kAlertSeconds;
  return quiet <= 1 ? 1 : static_cast<int>(std::min<std::int64_t>(quiet, kIdleTickSeconds));
}

}  // namespace dadado
