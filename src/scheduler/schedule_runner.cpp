#include "scheduler/schedule_runner.h"

#include <algorithm>

#include "base/date_time_text.h"

namespace dadado {

namespace {

// The notice is given in the first minute after it is due, never later: a
// notice that says ten minutes when five are left would mislead.
bool InNoticeMinute(std::int64_t due, std::int64_t now) {
  return now >= due - kNoticeLeadSeconds && now < due - kNoticeLeadSeconds + 60;
}

}  // namespace

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
  const std::int64_t now = LocalSeconds(clock_.Now());
  for (std::int64_t second : seconds_.Advance(now)) {
    SecondVerdict v = JudgeSecond(in, second);
    if (v.due && seconds_.FirstTime(second, last_due_)) {
      step.action_due = true;
      step.occurrence = step.due = second;
    }
    if (v.warn && seconds_.FirstTime(second, last_warning_)) {
      step.open_warning = true;
      step.occurrence = step.warned_due = second + kWarningLeadSeconds;
    }
    if (!moved_) continue;
    if (!moved_->warned && second >= moved_->due - kWarningLeadSeconds) {
      moved_->warned = true;
      step.open_warning = true;
      step.occurrence = moved_->occurrence;
      step.warned_due = moved_->due;
    }
    if (second == moved_->due) {
      step.action_due = true;
      step.caught_up = moved_->caught_up;
      step.occurrence = moved_->occurrence;
      step.due = moved_->due;
      moved_.reset();
    }
  }
  // The ten-minute notice, of the schedule's next action or of a moved one.
  if (auto due = NextDueAfter(in, now + kWarningLeadSeconds); due && InNoticeMinute(*due, now) &&
                                                              (!last_due_ || *last_due_ != *due) &&
                                                              seconds_.FirstTime(*due, last_notice_))
    step.notice_for = *due;
  if (moved_ && !moved_->noticed && InNoticeMinute(moved_->due, now)) {
    moved_->noticed = true;
    step.notice_for = moved_->due;
  }
  return step;
}

std::optional<MovedOccurrence> ScheduleRunner::StartCatchUp(ScheduleInputs in, std::optional<std::int64_t> last_done) {
  const std::int64_t now = LocalSeconds(clock_.Now());
  const auto missed = LatestDueWithin(WithStartDay(in), now, kCatchUpWindowSeconds);
  if (!missed || *missed >= now) return std::nullopt;  // due this very second: the tick does it
  if (last_done && *missed <= *last_done) return std::nullopt;
  if (last_caught_up_ && *missed <= *last_caught_up_) return std::nullopt;
  last_caught_up_ = *missed;
  // The countdown opens at once, as it would 121 seconds before.
  moved_ = MovedOccurrence{*missed, now + kWarningLeadSeconds, true, true, true};
  return moved_;
}

std::optional<MovedOccurrence> ScheduleRunner::SkippedForward(ScheduleInputs in, std::int64_t from, std::int64_t to) {
  const auto due = NextDueAfter(WithStartDay(in), from);
  if (!due || (last_due_ && *last_due_ == *due) || moved_) return std::nullopt;
  if (*due < to) {
    last_due_ = *due;
    moved_ = MovedOccurrence{*due, to + kWarningLeadSeconds, false, false, false};
    return std::nullopt;
  }
  // Its warning fell into the skipped time (a time early in the day has
  // none): the countdown opens now and the action keeps its second.
  const std::int64_t warn = *due - kWarningLeadSeconds;
  if (warn <= from || warn >= to || in.scheduled_time < kWarningLeadSeconds) return std::nullopt;
  last_due_ = *due;
  moved_ = MovedOccurrence{*due, *due, false, true, true};
  return moved_;
}

void ScheduleRunner::Pass(std::int64_t occurrence) {
  if (moved_ && moved_->occurrence == occurrence) moved_.reset();
  else last_due_ = occurrence;
}

bool ScheduleRunner::StillDue(ScheduleInputs in, std::int64_t occurrence, std::int64_t due) const {
  if (moved_ && moved_->occurrence == occurrence) return moved_->due == due;
  if (due != occurrence || (last_due_ && *last_due_ == occurrence)) return false;
  return JudgeSecond(WithStartDay(in), occurrence).due;
}

std::int64_t ScheduleRunner::Postpone(std::int64_t occurrence, int seconds) {
  if (moved_ && moved_->occurrence == occurrence) {
    moved_->due += seconds;
  } else {
    // The schedule's own instant passes without acting: it counts as done.
    last_due_ = occurrence;
    moved_ = MovedOccurrence{occurrence, occurrence + seconds, false, false, false};
  }
  moved_->warned = false;
  moved_->noticed = false;
  return moved_->due;
}

std::optional<std::int64_t> ScheduleRunner::NextDue(ScheduleInputs in) {
  in = WithStartDay(in);
  const std::int64_t now = LocalSeconds(clock_.Now());
  auto next = NextDueAfter(in, now - 1);
  if (next && last_due_ && *next == *last_due_) next = NextDueAfter(in, *next);
  if (moved_ && moved_->due >= now && (!next || moved_->due < *next)) next = moved_->due;
  return next;
}

int ScheduleRunner::SecondsToNextTick(ScheduleInputs in, int max_idle) {
  in = WithStartDay(in);
  const std::int64_t now = LocalSeconds(clock_.Now());
  TickWait wait(now, max_idle);
  wait.Alert(NextEventAfter(in, now));
  if (auto due = NextDueAfter(in, now + kWarningLeadSeconds)) wait.Exactly(*due - kNoticeLeadSeconds);
  if (moved_) {
    if (!moved_->warned) wait.Alert(moved_->due - kWarningLeadSeconds);
    wait.Alert(moved_->due);
    if (!moved_->noticed) wait.Exactly(moved_->due - kNoticeLeadSeconds);
  }
  return wait.seconds();
}

}  // namespace dadado
