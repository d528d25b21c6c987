#include "engine/engine.h"

#include "base/date_time_text.h"
#include "system/power.h"

namespace dadado {

namespace {

std::string InstantText(std::int64_t instant) {
  const LocalDateTime t = FromLocalSeconds(instant);
  return FormatDateTimeText(t.date, t.second_of_day);
}

}  // namespace

void Engine::SetTimer(FormTimer t, bool running) {
  bool& state = t == FormTimer::kSchedule ? timer1_ : timer2_;
  if (t == FormTimer::kSchedule && running && !timer1_) runner_.Restart();
  state = running;
  host_.TimerChanged(t, running);
}

void Engine::StartChosenTimer(const EngineSettings& s) {
  const bool no_schedule = s.schedule.frequency == kFrequencyNone;
  SetTimer(FormTimer::kSchedule, !no_schedule);
  SetTimer(FormTimer::kTimeControl, no_schedule);
}

// ---- the schedule -----------------------------------------------------------------

void Engine::ScheduleTick(const EngineSettings& s) {
  if (stopped_ || !timer1_) return;
  if (s.schedule.frequency == kFrequencyNone) {
    SetTimer(FormTimer::kSchedule, false);
    return;
  }
  const ScheduleStep step = runner_.Tick(s.schedule);
  if (step.open_warning) {
    OpenCountdown(s, s.prompt);
    if (step.occurrence) countdown_.SetOccurrence(*step.occurrence);
  }
  if (step.notice_for && s.prompt == 1) {
    if (ExitFlagsFor(s.action, true))
      host_.Balloon("将在10分钟后" + ActionText(s.action) + "（" +
                    FormatClock(FromLocalSeconds(*step.notice_for).second_of_day, true) + "）。");
  }
  if (step.action_due && step.occurrence) PerformScheduled(s, *step.occurrence, step.due.value_or(*step.occurrence), step.caught_up);
}

void Engine::PerformScheduled(const EngineSettings& s, std::int64_t occurrence, std::int64_t due_at, bool caught_up) {
  const int action = s.action;
  // A scheduled action is always forced.
  const auto flags = ExitFlagsFor(action, true);
  if (!flags) return;
  // Stored first, so that it is never caught up again; a missed one that
  // could be stored nowhere is not caught up at all, or every boot it
  // causes would catch it up once more.
  if (!host_.RememberOccurrence(occurrence) && caught_up) {
    host_.Log(EventType::kError, events::kActionFailed, {ActionText(action), "0", "无法记录这次补做，没有执行"});
    return;
  }
  if (!host_.Perform(*flags)) {
    host_.ActionRefused(action);
    return;
  }
  if (caught_up) host_.Log(EventType::kInformation, events::kMissedCaughtUp, {ActionText(action), InstantText(occurrence)});
  else host_.Log(EventType::kInformation, events::kActionPerformed, {ActionText(action), std::to_string(*flags), InstantText(due_at)});
}

void Engine::CatchUpMissed(const EngineSettings& s, std::optional<std::int64_t> last_done) {
  if (stopped_ || !timer1_ || !s.catch_up) return;
  if (!ExitFlagsFor(s.action, true)) return;  // nothing would be done
  if (auto c = runner_.StartCatchUp(s.schedule, last_done)) {
    OpenCountdown(s, s.prompt);
    countdown_.SetOccurrence(c->occurrence);
  }
}

// ---- time control -----------------------------------------------------------------

void Engine::TimeControlCheck(const EngineSettings& s) {
  if (stopped_) return;
  if (!s.time_control) {
    SetTimer(FormTimer::kTimeControl, false);
    return;
  }
  const GuardVerdict verdict = guard_.Check(s.rules, clock_.Now());
  if (verdict.use_changed) host_.StoreUse(guard_.use().day(), guard_.use().minutes());
  for (const std::string& notice : verdict.notices) host_.Balloon(notice);
  if (verdict.shutdown == GuardShutdown::kNone) return;
  OpenCountdown(s, s.prompt);
  if (verdict.shutdown == GuardShutdown::kDailyLimitReached) {
    countdown_.SetActionLine(kDailyLimitActionLine);
    countdown_.SetPurpose(CountdownPurpose::kDailyLimit);
  } else {
    countdown_.SetActionLine(kTimeControlActionLine);
  }
  host_.CountdownChanged();
}

// ---- the countdown ---------------------------------------------------------------------

void Engine::OpenCountdown(const EngineSettings& s, int mode) {
  countdown_.Open(s.TimeControlInForce(), ActionText(s.action), version_text_, mode == 1);
  host_.CountdownOpened(countdown_.screen().visible);
}

void Engine::CountdownTick(const EngineSettings& s) {
  if (stopped_ || !countdown_.is_open()) return;
  const CountdownPurpose purpose = countdown_.purpose();
  switch (countdown_.Tick(s.TimeControlInForce())) {
    case CountdownTick::kCounting:
      host_.CountdownChanged();
      return;
    case CountdownTick::kShutDown: {
      const int shut_down = static_cast<int>(ActionKind::kShutDown);
      if (!host_.Perform(*ExitFlagsFor(shut_down, true))) {
        host_.ActionRefused(shut_down);
        break;
      }
      const LocalDateTime now = clock_.Now();
      if (purpose == CountdownPurpose::kDailyLimit)
        host_.Log(EventType::kInformation, events::kDailyLimitReached,
                  {std::to_string(s.rules.daily_limits[WeekdayOf(DayNumber(now.date))])});
      else
        host_.Log(EventType::kInformation, events::kTimeControlShutdown, {FormatClock(now.second_of_day / 3600 * 3600, false)});
      break;
    }
    case CountdownTick::kClosed:
      break;
  }
  host_.CountdownClosed();
}

CountdownAnswer Engine::Enter(const std::string& typed, const std::function<bool(const std::string&)>& password_matches) {
  if (!countdown_.is_open()) return CountdownAnswer::kNoWindow;
  countdown_.SetPassword(typed);
  const std::string counted_down_to = countdown_.screen().action_line;
  const auto occurrence = countdown_.occurrence();
  const CountdownAnswer answer = countdown_.Enter(password_matches);
  if (answer != CountdownAnswer::kCancelled) return answer;
  host_.Log(EventType::kInformation, events::kCountdownCancelled, {counted_down_to});
  if (occurrence) host_.RememberOccurrence(*occurrence);
  runner_.DropMoved();
  SetTimer(FormTimer::kSchedule, false);
  SetTimer(FormTimer::kTimeControl, false);
  host_.CountdownClosed();
  return answer;
}

void Engine::Postpone(const EngineSettings& s) {
  if (!countdown_.is_open()) return;
  const int minutes = s.postpone_minutes;
  std::int64_t until = LocalSeconds(clock_.Now()) + minutes * 60;
  if (countdown_.purpose() == CountdownPurpose::kSchedule && countdown_.occurrence()) {
    // This occurrence only, later; stored so that it is never caught up.
    const std::int64_t occurrence = *countdown_.occurrence();
    until = runner_.Postpone(occurrence, minutes * 60);
    host_.RememberOccurrence(occurrence);
  } else {
    // Time control and the daily limit: the check holds off, then runs again.
    guard_.HoldOff(until);
  }
  host_.Log(EventType::kInformation, events::kPostponed, {std::to_string(minutes), InstantText(until)});
  countdown_.Close();
  host_.CountdownClosed();
}

// ---- what comes next ----------------------------------------------------------------------

std::optional<Engine::NextAction> Engine::NextScheduledAction(const EngineSettings& s) {
  if (!timer1_ || s.schedule.frequency == kFrequencyNone || !ExitFlagsFor(s.action, true)) return std::nullopt;
  const auto due = runner_.NextDue(s.schedule);
  if (!due) return std::nullopt;
  return NextAction{*due, ActionText(s.action)};
}

std::string Engine::NextEventText(const EngineSettings& s) {
  const LocalDateTime now = clock_.Now();
  if (timer1_ && s.schedule.frequency != kFrequencyNone && ExitFlagsFor(s.action, true)) {
    const auto due = runner_.NextDue(s.schedule);
    if (!due) return "";
    const LocalDateTime at = FromLocalSeconds(*due);
    const std::string day = at.date == now.date
                                ? std::string("今天")
                                : std::to_string(at.date.month) + "月" + std::to_string(at.date.day) + "日";
    return "下次：" + day + " " + FormatClock(at.second_of_day, true) + " " + ActionText(s.action);
  }
  if (timer2_ && s.time_control) return guard_.NextText(s.rules, now);
  return "";
}

}  // namespace dadado
