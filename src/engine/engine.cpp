#include "engine/engine.h"

#include <algorithm>

#include "base/date_time_text.h"
#include "engine/usage_recorder.h"
#include "system/power.h"

namespace dadado {

namespace {

std::string InstantText(std::int64_t instant) {
  const LocalDateTime t = FromLocalSeconds(instant);
  return FormatDateTimeText(t.date, t.second_of_day);
}

// The seconds a countdown counts so that it closes the second before an
// action due at `due`; at least one.
int SecondsBefore(std::int64_t due, std::int64_t now) {
  return static_cast<int>(std::clamp<std::int64_t>(due - now - 1, 1, 86400));
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
  ForgetPassed();
  const ScheduleStep step = runner_.Tick(s.schedule);
  if (step.open_warning) {
    const bool fresh = !countdown_.is_open();
    OpenCountdown(s, s.prompt);
    if (fresh) KeepOnlyPending();
    if (step.occurrence) ScheduleJoins(s, *step.occurrence, step.warned_due.value_or(*step.occurrence));
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
  const bool in_countdown = merged_schedule_ && merged_schedule_->occurrence == occurrence;
  if (in_countdown) merged_schedule_.reset();
  // A scheduled action is always forced.
  const auto flags = ExitFlagsFor(action, true);
  if (!flags) return;
  std::int64_t remembered = occurrence;
  if (in_countdown) {
    // Of what the countdown stood for only the strongest acts: a stronger
    // plan acts at its own second, and this one passes.
    if (StrongerPlanMerged(s, ActionStrength(static_cast<PlanAction>(action)), nullptr)) {
      host_.RememberOccurrence(occurrence);
      return;
    }
    // The plans still to come went into this one.
    remembered = DropMergedPlans(s, remembered);
  }
  // Stored first, so that it is never caught up again; a missed one that
  // could be stored nowhere is not caught up at all, or every boot it
  // causes would catch it up once more.
  if (!host_.RememberOccurrence(remembered) && caught_up) {
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
    const bool fresh = !countdown_.is_open();
    OpenCountdown(s, s.prompt);
    if (fresh) KeepOnlyPending();
    ScheduleJoins(s, c->occurrence, c->due);
  }
}

void Engine::ScheduleJoins(const EngineSettings& s, std::int64_t occurrence, std::int64_t due) {
  countdown_.SetOccurrence(occurrence);
  merged_schedule_ = MergedSchedule{occurrence, due};
  // A countdown the plans opened lasts until the schedule's action too.
  const int before = countdown_.screen().seconds_left;
  countdown_.ExtendTo(SecondsBefore(due, LocalSeconds(clock_.Now())));
  if (!merged_.empty()) NameStrongest(s);
  if (!merged_.empty() || countdown_.screen().seconds_left != before) host_.CountdownChanged();
}

// ---- time control -----------------------------------------------------------------

void Engine::TimeControlCheck(const EngineSettings& s) {
  if (stopped_) return;
  if (!s.Book().AnyEnabled()) {
    SetTimer(FormTimer::kTimeControl, false);
    return;
  }
  Count(s, false);
  const ChosenRules chosen = RulesInForce(s);
  if (!chosen.time_control) return;  // not for the account at the console
  const GuardVerdict verdict = guard_.Check(chosen.rules, clock_.Now(), UseFor(s, account()));
  for (const std::string& notice : verdict.notices) host_.Balloon(notice);
  if (verdict.shutdown == GuardShutdown::kNone) return;
  const bool plans_countdown = countdown_.is_open() && countdown_by_plans_ && !countdown_.occurrence();
  OpenCountdown(s, s.prompt);
  if (plans_countdown && TimeControlInForce(s)) {
    // Time control takes over the countdown the plans opened: it ends in
    // time control's shutdown, no later than its own countdown would, and
    // the password cancels it as it cancels time control's.
    countdown_by_plans_ = false;
    countdown_.SetPurpose(CountdownPurpose::kTimeControl);
    countdown_.CutTo(kTimeControlCountdownSeconds);
  }
  if (verdict.shutdown == GuardShutdown::kDailyLimitReached) {
    countdown_.SetActionLine(kDailyLimitActionLine);
    countdown_.SetPurpose(CountdownPurpose::kDailyLimit);
  } else {
    countdown_.SetActionLine(kTimeControlActionLine);
  }
  host_.CountdownChanged();
}

// ---- today's use, for each account --------------------------------------------------

namespace {

// Whether the accounts' counts are worth keeping.
bool KeepsAccounts(const EngineSettings& s, const UsageDay& day) {
  return s.Book().PerAccount() || s.record_usage ||
         std::any_of(day.accounts.begin(), day.accounts.end(),
                     [](const AccountUse& a) { return a.extra_minutes > 0 || a.extra_until; });
}

// Whether the history's rows of two counts are of the same accounts: an
// account's first whole minute is a new row.
bool SameRows(const UsageDay& a, const UsageDay& b) {
  const std::vector<UsageRow> x = RowsOf(a), y = RowsOf(b);
  return std::equal(x.begin(), x.end(), y.begin(), y.end(),
                    [](const UsageRow& r, const UsageRow& s) { return r.day == s.day && r.account == s.account; });
}

constexpr int kHistoryEverySeconds = 10 * 60;

// "（账户：小明）" for the event log, when someone is at the console.
std::string AccountNote(const std::optional<Account>& account) {
  return account ? "（账户：" + account->name + "）" : std::string();
}

}  // namespace

UseInForce Engine::UseFor(const EngineSettings& s, const std::optional<Account>& account) const {
  UseInForce u;
  u.minutes = use_.minutes();
  if (!account) return u;
  if (s.Book().PerAccount()) u.minutes = use_.MinutesOf(account->name, account->sid);
  if (const AccountUse* own = use_.Of(account->name, account->sid)) {
    u.extra_minutes = own->extra_minutes;
    u.extra_until = own->extra_until;
  }
  return u;
}

void Engine::Count(const EngineSettings& s, bool account_changed) {
  const LocalDateTime now = clock_.Now();
  const UsageDay before = use_.Snapshot();
  const bool changed = use_.Count(now) || account_changed;
  if (use_.TakeClockSetBack()) {
    const LocalDateTime latest = FromLocalSeconds(use_.latest().value_or(LocalSeconds(now)));
    host_.Log(EventType::kWarning, events::kClockSetBack,
              {FormatDateTimeText(now.date, now.second_of_day), FormatDateTimeText(latest.date, latest.second_of_day),
               FormatShortDate(use_.day())});
  }
  const UsageDay today = use_.Snapshot();
  if (changed) host_.StoreUse(today, s.TimeControlForAnyone(), KeepsAccounts(s, today));
  if (!s.record_usage) return;
  const std::int64_t t = LocalSeconds(now);
  const bool new_day = before.day != today.day;
  if (new_day) host_.RecordHistory(before);  // the day that ended, whole
  // A new row, another account or ten minutes: the file learns of it.
  if (new_day || account_changed || !SameRows(today, history_recorded_) || !history_written_ ||
      t - *history_written_ >= kHistoryEverySeconds || t < *history_written_) {
    history_written_ = t;
    history_recorded_ = today;
    if (!today.accounts.empty()) host_.RecordHistory(today);
  }
}

void Engine::CountUse(const EngineSettings& s) {
  if (stopped_ || !s.CountingWanted()) return;
  Count(s, false);
}

void Engine::SetAccount(const EngineSettings& s, const std::optional<Account>& account) {
  if (!use_.SetAccount(account, clock_.Now())) return;
  if (!stopped_ && s.CountingWanted()) Count(s, true);
}

bool Engine::GrantExtraTime(const EngineSettings& s, const std::string& name, const std::string& sid, int minutes) {
  if (minutes < kMinExtraMinutes || minutes > kMaxExtraMinutes || name.empty()) return false;
  const LocalDateTime now = clock_.Now();
  // The day the grant is for is today's: counted up to now first.
  if (!s.CountingWanted()) use_.Pause();
  use_.Count(now);
  const Account whom{name, sid, false};
  const ChosenRules chosen = s.RulesFor(whom);
  std::optional<std::int64_t> until;
  if (chosen.time_control) until = ExtraTimeUntil(chosen.rules, now, minutes, UseFor(s, whom).extra_until);
  use_.Grant(name, sid, minutes, until);
  host_.Log(EventType::kInformation, events::kExtraTimeGranted, {name, std::to_string(minutes)});
  host_.StoreUse(use_.Snapshot(), s.TimeControlForAnyone(), true);
  // The account at the console may go on now: its countdown ends.
  const bool at_console = account() && SameAccount(account()->name, account()->sid, name, sid);
  if (at_console && countdown_.is_open() && countdown_.purpose() != CountdownPurpose::kSchedule) {
    const ChosenRules own = RulesInForce(s);
    const UseInForce u = UseFor(s, account());
    const int limit = own.rules.daily_limits[WeekdayOf(DayNumber(now.date))];
    if (AllowedNow(own.rules, now, u.extra_until) && (limit == 0 || u.minutes < limit + u.extra_minutes)) {
      countdown_.Close();
      host_.CountdownClosed();
    }
  }
  return true;
}

void Engine::FlushHistory(const EngineSettings& s) {
  if (!s.record_usage) return;
  if (s.CountingWanted() && !stopped_) use_.Count(clock_.Now());
  const UsageDay today = use_.Snapshot();
  history_written_ = LocalSeconds(clock_.Now());
  history_recorded_ = today;
  if (!today.accounts.empty()) host_.RecordHistory(today);
}

// ---- the countdown ---------------------------------------------------------------------

void Engine::OpenCountdown(const EngineSettings& s, int mode) {
  countdown_.Open(TimeControlInForce(s), ActionText(s.action), version_text_, mode == 1);
  host_.CountdownOpened(countdown_.screen().visible);
}

void Engine::CountdownTick(const EngineSettings& s) {
  if (stopped_ || !countdown_.is_open()) return;
  const CountdownPurpose purpose = countdown_.purpose();
  // A countdown the plans opened ends in their actions, never in time
  // control's shutdown.
  const bool by_plans = countdown_by_plans_ && !countdown_.occurrence();
  const dadado::CountdownTick tick = countdown_.Tick(TimeControlInForce(s) && !by_plans);
  if (tick != dadado::CountdownTick::kCounting) countdown_by_plans_ = false;
  switch (tick) {
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
      const std::string hour = FormatClock(now.second_of_day / 3600 * 3600, false);
      if (purpose == CountdownPurpose::kDailyLimit) {
        const UseInForce u = UseFor(s, account());
        const std::string limit =
            std::to_string(RulesInForce(s).rules.daily_limits[WeekdayOf(DayNumber(now.date))] + u.extra_minutes);
        if (account()) host_.Log(EventType::kInformation, events::kAccountDailyLimitReached, {limit, account()->name});
        else host_.Log(EventType::kInformation, events::kDailyLimitReached, {limit});
      } else if (account()) {
        host_.Log(EventType::kInformation, events::kAccountTimeControlShutdown, {hour, account()->name});
      } else {
        host_.Log(EventType::kInformation, events::kTimeControlShutdown, {hour});
      }
      break;
    }
    case CountdownTick::kClosed:
      break;
  }
  host_.CountdownClosed();
}

CountdownAnswer Engine::Enter(const EngineSettings& s, const std::string& typed,
                              const std::function<bool(const std::string&)>& password_matches) {
  if (!countdown_.is_open()) return CountdownAnswer::kNoWindow;
  countdown_.SetPassword(typed);
  // What a time-control countdown stood for names the account it held.
  const std::string counted_down_to =
      countdown_.screen().action_line +
      (countdown_.purpose() == CountdownPurpose::kSchedule ? std::string() : AccountNote(account()));
  const auto occurrence = countdown_.occurrence();
  // A countdown only plans opened leaves the schedule and time control alone.
  const bool plans_only = countdown_by_plans_ && !occurrence;
  const CountdownAnswer answer = countdown_.Enter(password_matches);
  if (answer != CountdownAnswer::kCancelled) return answer;
  host_.Log(EventType::kInformation, events::kCountdownCancelled, {counted_down_to});
  // That occurrence of each plan it stood for is cancelled, and only that.
  // The latest of all it stood for is stored, once, so that none of them is
  // caught up.
  std::optional<std::int64_t> latest = occurrence;
  for (const MergedPlan& m : merged_) {
    plan_runner_.Drop(s.plans, m.occurrence);
    latest = std::max(latest.value_or(m.occurrence.instant), m.occurrence.instant);
  }
  if (latest) host_.RememberOccurrence(*latest);
  merged_.clear();
  merged_schedule_.reset();
  countdown_by_plans_ = false;
  if (!plans_only) {
    runner_.DropMoved();
    SetTimer(FormTimer::kSchedule, false);
    SetTimer(FormTimer::kTimeControl, false);
  }
  host_.CountdownClosed();
  return answer;
}

void Engine::Postpone(const EngineSettings& s) {
  if (!countdown_.is_open()) return;
  const int minutes = s.postpone_minutes;
  std::int64_t until = LocalSeconds(clock_.Now()) + minutes * 60;
  const bool for_schedule = countdown_.purpose() == CountdownPurpose::kSchedule;
  // Each occurrence it stood for moves; the latest of them is stored, once,
  // so that none is caught up.
  std::optional<std::int64_t> latest;
  if (for_schedule && countdown_.occurrence()) {
    // This occurrence only, later.
    const std::int64_t occurrence = *countdown_.occurrence();
    until = runner_.Postpone(occurrence, minutes * 60);
    latest = occurrence;
  } else if (!for_schedule) {
    // Time control and the daily limit: the check holds off, then runs again.
    guard_.HoldOff(until);
  }
  // Each plan it stood for: that occurrence, as much later.
  for (const MergedPlan& m : merged_) {
    const std::int64_t later = plan_runner_.Postpone(s.plans, m.occurrence, minutes * 60);
    if (for_schedule && !countdown_.occurrence()) until = later;
    latest = std::max(latest.value_or(m.occurrence.instant), m.occurrence.instant);
  }
  if (latest) host_.RememberOccurrence(*latest);
  merged_.clear();
  merged_schedule_.reset();
  countdown_by_plans_ = false;
  host_.Log(EventType::kInformation, events::kPostponed,
            {std::to_string(minutes), InstantText(until) + (for_schedule ? std::string() : AccountNote(account()))});
  countdown_.Close();
  host_.CountdownClosed();
}

void Engine::WallClockSkipped(const EngineSettings& s, std::int64_t from) {
  if (stopped_) return;
  const std::int64_t now = LocalSeconds(clock_.Now());
  if (timer1_ && s.schedule.frequency != kFrequencyNone) {
    if (auto m = runner_.SkippedForward(s.schedule, from, now)) {
      // Its warning fell into the time skipped: the countdown opens now and
      // closes as the action falls due.
      const bool fresh = !countdown_.is_open();
      OpenCountdown(s, s.prompt);
      if (fresh) {
        KeepOnlyPending();
        countdown_.CutTo(SecondsBefore(m->due, now));
      }
      ScheduleJoins(s, m->occurrence, m->due);
      host_.CountdownChanged();
    }
  }
  for (const auto& [o, due] : plan_runner_.SkippedForward(s.plans, s.calendar, from, now)) JoinCountdown(s, o, due);
}

// ---- plans ------------------------------------------------------------------------------

void Engine::PlanTick(const EngineSettings& s) {
  if (stopped_) return;
  ForgetPassed();
  const PlanStep step = plan_runner_.Tick(s.plans, s.calendar);
  for (std::size_t i = 0; i < step.warnings.size(); ++i) JoinCountdown(s, step.warnings[i], step.warned_due[i]);
  for (const auto& [o, at] : step.notices) {
    if (o.plan < 1 || o.plan > static_cast<int>(s.plans.size())) continue;
    host_.Balloon("将在10分钟后" + PlanActionText(s.plans[o.plan - 1].action) + "（" +
                  FormatClock(FromLocalSeconds(at).second_of_day, true) + "）。");
  }
  // One that was in the countdown and left it before its turn came passed
  // with a stronger one due in the same second.
  auto is_member = [&](const PlanOccurrence& o) {
    return std::any_of(merged_.begin(), merged_.end(), [&](const MergedPlan& m) { return m.occurrence == o; });
  };
  std::vector<PlanOccurrence> members;
  for (const MergedPlan& m : merged_) members.push_back(m.occurrence);
  for (std::size_t i = 0; i < step.due.size(); ++i) {
    const PlanOccurrence& o = step.due[i];
    if (std::find(members.begin(), members.end(), o) != members.end() && !is_member(o)) continue;
    PerformPlanOccurrence(s, o, step.caught_up[i]);
  }
  const std::int64_t now = LocalSeconds(clock_.Now());
  if (awake_until_ && now >= *awake_until_) {
    awake_until_.reset();
    host_.KeepAwake(false);
  }
  ArmWake(s);
}

void Engine::JoinCountdown(const EngineSettings& s, const PlanOccurrence& o, std::int64_t due) {
  if (o.plan < 1 || o.plan > static_cast<int>(s.plans.size())) return;
  // Time control's countdown is its own; a plan then acts on its own.
  if (countdown_.is_open() && countdown_.purpose() != CountdownPurpose::kSchedule) return;
  const int seconds = SecondsBefore(due, LocalSeconds(clock_.Now()));
  if (!countdown_.is_open()) {
    countdown_.Open(false, PlanActionText(s.plans[o.plan - 1].action), version_text_, true);
    countdown_by_plans_ = true;
    KeepOnlyPending();
    // An action that comes sooner than the full count closes it sooner.
    countdown_.CutTo(seconds);
  } else {
    countdown_.Show();
    countdown_.ExtendTo(seconds);
  }
  merged_.push_back({o, due});
  NameStrongest(s);
  host_.CountdownOpened(true);
  host_.CountdownChanged();
}

void Engine::NameStrongest(const EngineSettings& s) {
  int best = -1;
  std::string text;
  if (ScheduleStillInCountdown(s)) {
    best = ActionStrength(static_cast<PlanAction>(s.action));
    text = ActionText(s.action);
  }
  for (const MergedPlan& m : merged_) {
    const int plan = m.occurrence.plan;
    if (plan < 1 || plan > static_cast<int>(s.plans.size())) continue;
    const PlanAction a = s.plans[plan - 1].action;
    if (ActionStrength(a) > best) {
      best = ActionStrength(a);
      text = PlanActionText(a);
    }
  }
  if (best >= 0) countdown_.SetActionLine("操作: " + text);
}

void Engine::PerformPlanOccurrence(const EngineSettings& s, const PlanOccurrence& o, bool caught_up) {
  if (o.plan < 1 || o.plan > static_cast<int>(s.plans.size())) return;
  const PlanAction action = s.plans[o.plan - 1].action;
  const std::string number = std::to_string(o.plan);
  // Its second has come: from now on it is done or passes, whoever comes back.
  idle_pending_.erase(std::remove(idle_pending_.begin(), idle_pending_.end(), o), idle_pending_.end());
  auto member = std::find_if(merged_.begin(), merged_.end(), [&](const MergedPlan& m) { return m.occurrence == o; });
  std::int64_t remembered = o.instant;
  if (member != merged_.end()) {
    // Due together, only the strongest acts; the others pass with it.
    const int strength = ActionStrength(action);
    const bool schedule = ScheduleStillInCountdown(s);
    const bool stronger_elsewhere = (schedule && ActionStrength(static_cast<PlanAction>(s.action)) > strength) ||
                                    StrongerPlanMerged(s, strength, &o);
    merged_.erase(member);
    if (stronger_elsewhere) {
      plan_runner_.Drop(s.plans, o);
      return;
    }
    // The weaker ones still to come went into this one, the schedule's too:
    // they count as done with it.
    remembered = DropMergedPlans(s, remembered);
    if (schedule) {
      runner_.Pass(merged_schedule_->occurrence);
      remembered = std::max(remembered, merged_schedule_->occurrence);
    }
    merged_schedule_.reset();
  }
  // A missed one that could be stored nowhere is not caught up, or every
  // boot it causes would catch it up once more.
  if (CanCatchUp(action) && !host_.RememberOccurrence(remembered) && caught_up) {
    host_.Log(EventType::kError, events::kPlanFailed, {number, PlanActionText(action), "0", "无法记录这次补做，没有执行"});
    return;
  }
  const PlanOutcome outcome = host_.PerformPlan(action, o.plan, o.instant);
  if (outcome == PlanOutcome::kNotDone || outcome == PlanOutcome::kAsked) return;
  if (outcome == PlanOutcome::kRefused) {
    const SystemError error = host_.LastSystemError();
    host_.Log(EventType::kError, events::kPlanFailed,
              {number, PlanActionText(action), std::to_string(error.code), error.text});
    host_.Notice("无法" + PlanActionText(action) + "（计划" + number + "）：系统拒绝了这个操作。");
    return;
  }
  host_.Log(EventType::kInformation, caught_up ? events::kPlanCaughtUp : events::kPlanPerformed,
            {number, PlanActionText(action), InstantText(o.instant)});
}

void Engine::IdleObserved(const EngineSettings& s, int idle_seconds) {
  if (stopped_) return;
  const std::int64_t now = LocalSeconds(clock_.Now());
  std::int64_t idle = std::max(0, idle_seconds);
  // The clock set back since idle counted afresh: it counts from now.
  if (idle_floor_ && now < *idle_floor_) idle_floor_ = now;
  if (idle_floor_) idle = std::min(idle, now - *idle_floor_);
  // Someone used the machine a wake had kept awake: it may sleep again.
  if (awake_until_ && idle < 60) {
    awake_until_.reset();
    host_.KeepAwake(false);
  }
  for (int i = 1; i <= static_cast<int>(s.plans.size()); ++i) {
    const Plan& plan = s.plans[i - 1];
    if (!plan.enabled || plan.repeat != PlanRepeat::kIdle || plan.action == PlanAction::kWake) continue;
    const auto key = std::make_pair(i, FormatPlanLine(plan));
    bool& fired = idle_fired_[key];
    if (idle >= static_cast<std::int64_t>(plan.idle_minutes) * 60) {
      if (fired) continue;
      fired = true;  // once for each stretch without input
      const PlanOccurrence o{i, now};
      if (plan.warning) {
        plan_runner_.Postpone(s.plans, o, kPlanWarningLeadSeconds);
        idle_pending_.push_back(o);
      } else {
        PerformPlanOccurrence(s, o, false);
      }
      continue;
    }
    if (!fired) continue;
    // Back at the keyboard: what was waiting for the idle machine is off.
    fired = false;
    const std::size_t merged_before = merged_.size();
    for (auto it = idle_pending_.begin(); it != idle_pending_.end();) {
      if (it->plan != i) {
        ++it;
        continue;
      }
      plan_runner_.Drop(s.plans, *it);
      merged_.erase(std::remove_if(merged_.begin(), merged_.end(),
                                   [&](const MergedPlan& m) { return m.occurrence == *it; }),
                    merged_.end());
      it = idle_pending_.erase(it);
    }
    if (merged_.size() != merged_before) CountdownWithoutWithdrawn(s);
  }
}

void Engine::CountdownWithoutWithdrawn(const EngineSettings& s) {
  // Time control's countdown, which took over the plans', is its own.
  if (!countdown_.is_open() || countdown_.purpose() != CountdownPurpose::kSchedule) return;
  const bool schedule = ScheduleStillInCountdown(s);
  if (!schedule && merged_.empty()) {
    countdown_.Close();
    countdown_by_plans_ = false;
    host_.CountdownClosed();
    return;
  }
  // What is left acts at its own second, as if the withdrawn had never
  // joined: the countdown lasts until the last of them and names the
  // strongest.
  std::int64_t last = schedule ? merged_schedule_->due : merged_.front().due;
  for (const MergedPlan& m : merged_) last = std::max(last, m.due);
  countdown_.CutTo(SecondsBefore(last, LocalSeconds(clock_.Now())));
  NameStrongest(s);
  host_.CountdownChanged();
}

void Engine::WokeForPlan() {
  awake_until_ = LocalSeconds(clock_.Now()) + 30 * 60;
  host_.KeepAwake(true);
}

void Engine::ArmWake(const EngineSettings& s) {
  const auto next = plan_runner_.NextWake(s.plans, s.calendar);
  if (wake_ever_armed_ && next == wake_armed_) return;
  wake_ever_armed_ = true;
  wake_armed_ = next;
  host_.ArmWake(next);
}

void Engine::CatchUpMissedPlan(const EngineSettings& s, std::optional<std::int64_t> last_done) {
  if (stopped_ || !s.catch_up) return;
  // Done 121 seconds from now, after the usual countdown.
  if (auto o = plan_runner_.StartCatchUp(s.plans, s.calendar, last_done))
    JoinCountdown(s, *o, LocalSeconds(clock_.Now()) + kPlanWarningLeadSeconds);
}

bool Engine::Withdrawable(const PlanOccurrence& o) const {
  return std::find(idle_pending_.begin(), idle_pending_.end(), o) != idle_pending_.end();
}

bool Engine::StrongerPlanMerged(const EngineSettings& s, int strength, const PlanOccurrence* except) const {
  for (const MergedPlan& m : merged_) {
    const int plan = m.occurrence.plan;
    // One that someone's return may still call off would leave neither done.
    if ((!except || !(m.occurrence == *except)) && plan >= 1 && plan <= static_cast<int>(s.plans.size()) &&
        ActionStrength(s.plans[plan - 1].action) > strength && !Withdrawable(m.occurrence))
      return true;
  }
  return false;
}

std::int64_t Engine::DropMergedPlans(const EngineSettings& s, std::int64_t latest) {
  // What may still be withdrawn stays to act at its own second.
  std::vector<MergedPlan> kept;
  for (const MergedPlan& m : merged_) {
    if (Withdrawable(m.occurrence)) {
      kept.push_back(m);
      continue;
    }
    plan_runner_.Drop(s.plans, m.occurrence);
    latest = std::max(latest, m.occurrence.instant);
  }
  merged_ = std::move(kept);
  return latest;
}

void Engine::KeepOnlyPending() {
  const std::int64_t now = LocalSeconds(clock_.Now());
  // The countdown before closed the second before its last action: that
  // action is due now or in the next second (a late tick: a little before).
  auto pending = [&](std::int64_t due) { return due >= now - TickSeconds::kMaxCatchUp && due <= now + 1; };
  merged_.erase(std::remove_if(merged_.begin(), merged_.end(), [&](const MergedPlan& m) { return !pending(m.due); }),
                merged_.end());
  if (merged_schedule_ && !pending(merged_schedule_->due)) merged_schedule_.reset();
}

void Engine::ForgetPassed() {
  const std::int64_t now = LocalSeconds(clock_.Now());
  auto passed = [&](std::int64_t due) { return due < now - TickSeconds::kMaxCatchUp; };
  merged_.erase(std::remove_if(merged_.begin(), merged_.end(), [&](const MergedPlan& m) { return passed(m.due); }),
                merged_.end());
  if (merged_schedule_ && passed(merged_schedule_->due)) merged_schedule_.reset();
}

bool Engine::ScheduleStillInCountdown(const EngineSettings& s) {
  if (!merged_schedule_ || !timer1_ || s.schedule.frequency == kFrequencyNone || !ExitFlagsFor(s.action, true))
    return false;
  return LocalSeconds(clock_.Now()) <= merged_schedule_->due + TickSeconds::kMaxCatchUp &&
         runner_.StillDue(s.schedule, merged_schedule_->occurrence, merged_schedule_->due);
}

std::optional<Engine::NextAction> Engine::NextPlanAction(const EngineSettings& s) {
  const auto next = plan_runner_.NextDue(s.plans, s.calendar);
  if (!next || next->plan < 1 || next->plan > static_cast<int>(s.plans.size())) return std::nullopt;
  return NextAction{next->instant, PlanActionText(s.plans[next->plan - 1].action)};
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
  std::string text;
  auto next = NextScheduledAction(s);
  if (auto plan = NextPlanAction(s); plan && (!next || plan->at < next->at)) next = plan;
  if (next) {
    const LocalDateTime at = FromLocalSeconds(next->at);
    const std::string day = at.date == now.date
                                ? std::string("今天")
                                : std::to_string(at.date.month) + "月" + std::to_string(at.date.day) + "日";
    text = "下次：" + day + " " + FormatClock(at.second_of_day, true) + " " + next->action;
  } else if (const ChosenRules chosen = RulesInForce(s); timer2_ && chosen.time_control) {
    text = guard_.NextText(chosen.rules, now, UseFor(s, account()));
  }
  // A calendar nobody has brought up to date makes working days plain
  // Monday to Friday.
  const bool by_calendar = std::any_of(s.plans.begin(), s.plans.end(), [](const Plan& p) {
    return p.enabled && (p.repeat == PlanRepeat::kWorkingDays || p.repeat == PlanRepeat::kRestDays);
  });
  if (by_calendar && !s.calendar.HasDateIn(now.date.year)) text += (text.empty() ? "" : "\n") + std::string("节假日安排缺少今年的日期");
  return text;
}

}  // namespace dadado
