// The enforcing engine: the schedule with its warning, postponing and
// catching up, time control with the daily limit, their notices, and the
// countdown that stands before every action. It decides; its host carries
// out: the program when it enforces by itself, the guard service when that
// is installed. The clock is injected, the settings are handed in at every
// step, and the session's state is told to it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/calendar.h"
#include "engine/countdown.h"
#include "engine/engine_settings.h"
#include "engine/timers.h"
#include "scheduler/daily_use.h"
#include "scheduler/plan_runner.h"
#include "scheduler/schedule_runner.h"
#include "scheduler/time_control_guard.h"
#include "system/event_log.h"
#include "system/os.h"

namespace dadado {

// What became of a plan's action.
enum class PlanOutcome {
  kDone,
  kRefused,  // the system refused it
  kNotDone,  // it could not be done here; the host has said why
  kAsked,    // someone else does it; the host logs it once it hears back
};

// What the engine asks of whoever hosts it.
class EngineHost {
 public:
  virtual ~EngineHost() = default;
  // The schedule's timer (Timer1) or time control's (Timer2) started or stopped.
  virtual void TimerChanged(FormTimer timer, bool running) = 0;
  // The countdown was created (shown or unseen), what it shows changed, or
  // it closed; what it shows is the engine's countdown().screen().
  virtual void CountdownOpened(bool visible) = 0;
  virtual void CountdownChanged() = 0;
  virtual void CountdownClosed() = 0;
  // A forced action with these exit flags; false when the system refused it.
  virtual bool Perform(unsigned exit_flags) = 0;
  // An action that came without the user at hand was refused: logged and
  // told without holding anything up.
  virtual void ActionRefused(int action_index) = 0;
  virtual void Log(EventType type, int id, const std::vector<std::string>& strings) = 0;
  virtual void Balloon(const std::string& text) = 0;
  // 上次定时, the last occurrence performed, cancelled or postponed; false
  // when it could be stored nowhere.
  virtual bool RememberOccurrence(std::int64_t instant) = 0;
  // Today's use, at most once a minute while it changes, and when the
  // account changes or extra time is granted: the machine's count is to be
  // kept while time control holds for anyone, the accounts' while accounts
  // have rules of their own, the history is kept or extra time was granted.
  virtual void StoreUse(const UsageDay& day, bool machine, bool accounts) = 0;
  // A day's use for the history file (记录使用时间): at least every ten
  // minutes while it grows, when the day or the account changes, and at
  // the end.
  virtual void RecordHistory(const UsageDay& day) = 0;

  // A plan's action (restart, shutdown and log-off forced, as scheduled
  // actions always are) for plan number `plan`, due at `instant`.
  virtual PlanOutcome PerformPlan(PlanAction action, int plan, std::int64_t instant) = 0;
  // The instant the next 唤醒计算机 wakes the machine at, or none.
  virtual void ArmWake(std::optional<std::int64_t> instant) = 0;
  // After a wake the engine caused: keep the machine from sleeping again,
  // or let it.
  virtual void KeepAwake(bool keep) = 0;
  // Why the last system call failed, for the log.
  virtual SystemError LastSystemError() = 0;
  // A message for the user that holds nothing up.
  virtual void Notice(const std::string& text) = 0;
};

class Engine {
 public:
  Engine(EngineHost& host, Clock& clock, std::string version_text)
      : host_(host), clock_(clock), version_text_(std::move(version_text)), runner_(clock), plan_runner_(clock) {}

  const Countdown& countdown() const { return countdown_; }
  bool timer_running(FormTimer t) const { return t == FormTimer::kSchedule ? timer1_ : timer2_; }
  const std::string& interval_start() const { return runner_.interval_start(); }
  void set_interval_start(std::string text) { runner_.set_interval_start(std::move(text)); }
  DailyUse& use() { return use_; }
  const DailyUse& use() const { return use_; }

  void SetTimer(FormTimer timer, bool running);
  // Start-up and Apply: exactly one timer, as the frequency chooses.
  void StartChosenTimer(const EngineSettings& s);
  // The host ends: nothing more is done.
  void Stop() { stopped_ = true; }

  void ScheduleTick(const EngineSettings& s);      // Timer1
  void TimeControlCheck(const EngineSettings& s);  // Timer2
  // Opens the countdown (mode 1 shows it): 30 seconds under time control,
  // 120 otherwise; an open one goes on counting.
  void OpenCountdown(const EngineSettings& s, int mode);
  void CountdownTick(const EngineSettings& s);     // the countdown's own second
  // Enter in the countdown's password box. When the password is right the
  // occurrence is stored, the countdown closes and both timers stop.
  CountdownAnswer Enter(const EngineSettings& s, const std::string& typed,
                        const std::function<bool(const std::string&)>& password_matches);
  // After the wrong-password message: empties the box of the window it was
  // shown for, if that is still open.
  bool EmptyBoxAfterWrongPassword(std::uint64_t generation) {
    return countdown_.EmptyBoxAfterWrongPassword(generation);
  }
  void SetCountdownPassword(const std::string& text) { countdown_.SetPassword(text); }
  // 推迟 with the right password: a scheduled occurrence moves later, time
  // control and the limit hold off; the countdown closes.
  void Postpone(const EngineSettings& s);
  // At start-up and on resume, with 错过补做 on: the latest due instant of the
  // last two hours after `last_done` is performed after the usual countdown.
  void CatchUpMissed(const EngineSettings& s, std::optional<std::int64_t> last_done);
  // Summer time began: the wall clock skipped from `from` to now while time
  // ran on. What fell due in between is done now, after its countdown.
  void WallClockSkipped(const EngineSettings& s, std::int64_t from);
  // The clock jumped, the time zone changed or the machine resumed: the next
  // tick starts afresh, and a wake timer that is set is set again at the
  // next ArmWake (the system set it in the zone in force then).
  void ClockDiscontinuity() {
    runner_.Restart();
    plan_runner_.Restart();
    if (wake_armed_) wake_ever_armed_ = false;
  }
  // Someone is at the console (logged on, unlocked) or not: today's use
  // counts only while someone is.
  void SessionChanged(bool active) { use_.SetActive(active, clock_.Now()); }
  // The account at the console (none: nobody is logged on there). Its rules
  // hold from now on, and its minutes are counted from now.
  void SetAccount(const EngineSettings& s, const std::optional<Account>& account);
  const std::optional<Account>& account() const { return use_.account(); }
  // The minute count, for a host whose time-control check does not run
  // (a schedule is selected, or a countdown was cancelled): today's use is
  // counted whatever is cancelled, postponed or paused.
  void CountUse(const EngineSettings& s);
  // The rules in force for the account at the console.
  ChosenRules RulesInForce(const EngineSettings& s) const { return s.RulesFor(account()); }
  bool TimeControlInForce(const EngineSettings& s) const {
    return s.schedule.frequency == kFrequencyNone && RulesInForce(s).time_control;
  }
  // Today's use as the account at the console is held to it.
  UseInForce UseFor(const EngineSettings& s, const std::optional<Account>& account) const;
  // Extra time for an account and today (5 to 600 minutes): its limit grows
  // by them, and past the end of its allowed hours it may go on for as long.
  // False for minutes out of range.
  bool GrantExtraTime(const EngineSettings& s, const std::string& name, const std::string& sid, int minutes);
  // The host ends, or the day's rows are wanted now: the history is written.
  void FlushHistory(const EngineSettings& s);

  // What comes next, for the tooltip's second line; empty when nothing does.
  std::string NextEventText(const EngineSettings& s);
  // The next action the schedule performs: when, and what (the action's
  // text); nullopt when none is due.
  struct NextAction {
    std::int64_t at = 0;
    std::string action;
  };
  std::optional<NextAction> NextScheduledAction(const EngineSettings& s);
  // When the schedule needs its next tick, in whole seconds from the start
  // of the current second (1 to 60).
  int SecondsToNextScheduleTick(const EngineSettings& s, int max_idle = ScheduleRunner::kIdleTickSeconds) {
    return runner_.SecondsToNextTick(s.schedule, max_idle);
  }

  // ---- plans --------------------------------------------------------------
  // The plans' own tick: it runs while there are plans, whatever the
  // schedule's timer does.
  void PlanTick(const EngineSettings& s);
  int SecondsToNextPlanTick(const EngineSettings& s, int max_idle = ScheduleRunner::kIdleTickSeconds) {
    return plan_runner_.SecondsToNextTick(s.plans, s.calendar, max_idle);
  }
  // The seconds without keyboard or mouse input in the user's session, as
  // measured there (time a program kept the display on counts as use).
  void IdleObserved(const EngineSettings& s, int idle_seconds);
  // The machine resumed, or someone logged on: idle counts afresh.
  void IdleRestarts() { idle_floor_ = LocalSeconds(clock_.Now()); }
  // The machine woke at a 唤醒计算机 instant: it stays awake until someone
  // uses it or half an hour has passed.
  void WokeForPlan();
  // Re-arms the wake timer for the plans as they stand.
  void ArmWake(const EngineSettings& s);
  // At start-up and on resume, with 错过补做 on, a missed plan as the
  // schedule's (restart, shutdown and log-off only).
  void CatchUpMissedPlan(const EngineSettings& s, std::optional<std::int64_t> last_done);
  // The next plan occurrence that acts, for the tooltip and the status.
  std::optional<NextAction> NextPlanAction(const EngineSettings& s);

  // Postponements, for a host that keeps them across its restarts.
  const std::optional<MovedOccurrence>& moved() const { return runner_.moved(); }
  void RestorePostponed(std::int64_t occurrence, std::int64_t due) { runner_.RestorePostponed(occurrence, due); }
  const std::optional<std::int64_t>& held_off_until() const { return guard_.held_off_until(); }
  void HoldOff(std::int64_t until) { guard_.HoldOff(until); }

 private:
  // A plan's occurrence in the countdown, and the second it falls due.
  struct MergedPlan {
    PlanOccurrence occurrence;
    std::int64_t due = 0;
  };
  // The schedule's occurrence in the countdown, and the second it falls due.
  struct MergedSchedule {
    std::int64_t occurrence = 0;
    std::int64_t due = 0;
  };

  // A plan's warning: it opens the countdown, or joins the one open; the
  // countdown lasts until the occurrence falls due at `due`.
  void JoinCountdown(const EngineSettings& s, const PlanOccurrence& o, std::int64_t due);
  // The schedule's warning, in the countdown just opened or joined: the
  // countdown stands for its occurrence too and lasts until it falls due.
  void ScheduleJoins(const EngineSettings& s, std::int64_t occurrence, std::int64_t due);
  // A new countdown opens: of what the countdown before stood for, only what
  // falls due this very second is still to be settled with it.
  void KeepOnlyPending();
  // Forgets what the countdown stood for that can no longer fall due.
  void ForgetPassed();
  // Whether an idle occurrence may still be called off by someone coming
  // back: it never makes another pass, and nothing passes into it.
  bool Withdrawable(const PlanOccurrence& o) const;
  // After idle occurrences were withdrawn from the countdown: it closes when
  // nothing is left in it, else it lasts for the rest.
  void CountdownWithoutWithdrawn(const EngineSettings& s);
  // Whether a plan the countdown stands for (other than `except`, and none
  // that may still be withdrawn) acts more strongly than `strength`.
  bool StrongerPlanMerged(const EngineSettings& s, int strength, const PlanOccurrence* except) const;
  // The plans the countdown stands for went into the action being done: they
  // count as done (those that may still be withdrawn stay). Returns the
  // latest of their instants and `latest`.
  std::int64_t DropMergedPlans(const EngineSettings& s, std::int64_t latest);
  // Whether the schedule's occurrence in the countdown is still to act at
  // its second, as the settings stand now.
  bool ScheduleStillInCountdown(const EngineSettings& s);
  // The action line names the strongest action the countdown stands for.
  void NameStrongest(const EngineSettings& s);
  void PerformPlanOccurrence(const EngineSettings& s, const PlanOccurrence& o, bool caught_up);
  void PerformScheduled(const EngineSettings& s, std::int64_t occurrence, std::int64_t due_at, bool caught_up);

  EngineHost& host_;
  Clock& clock_;
  std::string version_text_;
  ScheduleRunner runner_;
  TimeControlGuard guard_;
  DailyUse use_;
  // Counts, tells the host to keep what changed, and names a clock set back.
  void Count(const EngineSettings& s, bool account_changed);
  std::optional<std::int64_t> history_written_;  // when the history was last given its rows
  UsageDay history_recorded_;                    // and what it was given
  Countdown countdown_;
  PlanRunner plan_runner_;
  // What the countdown stands for: the plans' occurrences and the
  // schedule's. Of those due together only the strongest acts, each at its
  // own second; the others pass. They outlive the countdown, which closes
  // the second before the last of them falls due.
  std::vector<MergedPlan> merged_;
  std::optional<MergedSchedule> merged_schedule_;
  bool countdown_by_plans_ = false;   // opened by a plan, not by the schedule
  std::optional<std::int64_t> idle_floor_;
  std::map<std::pair<int, std::string>, bool> idle_fired_;
  std::vector<PlanOccurrence> idle_pending_;
  std::optional<std::int64_t> awake_until_;
  std::optional<std::int64_t> wake_armed_;
  bool wake_ever_armed_ = false;
  bool timer1_ = false;
  bool timer2_ = true;  // Timer2 is created running
  bool stopped_ = false;
};

}  // namespace dadado
