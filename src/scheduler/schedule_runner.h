// The running state of the schedule: which seconds the ticks have stood for,
// the instants already acted on, warned and told of, the day the every-N-days
// count starts from, and an occurrence moved off the schedule's own times (a
// missed one caught up, or one postponed). The settings window's controls are
// read afresh on every tick, so a change counts from the next second.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/calendar.h"
#include "scheduler/schedule_tick.h"

namespace dadado {

inline constexpr int kNoticeLeadSeconds = 10 * 60;

// What one tick found.
struct ScheduleStep {
  bool open_warning = false;  // the countdown opens now
  bool action_due = false;    // the action falls due now
  // The occurrence: the scheduled instant that the warning is for or that is
  // due now (for a caught-up action, the instant that was missed; for a
  // postponed one, its scheduled instant).
  std::optional<std::int64_t> occurrence;
  std::optional<std::int64_t> due;  // when the due action was due, postponed or not
  // With the warning: the second its occurrence falls due, postponed or not.
  std::optional<std::int64_t> warned_due;
  bool caught_up = false;           // the action due now is a missed one caught up
  // An action falls due ten minutes from now, at this instant.
  std::optional<std::int64_t> notice_for;
};

// An occurrence performed at another time than the schedule's own.
struct MovedOccurrence {
  std::int64_t occurrence = 0;  // the scheduled instant it stands for
  std::int64_t due = 0;         // when it is performed instead
  bool caught_up = false;       // a missed one; otherwise postponed
  bool warned = false;          // its countdown has opened
  bool noticed = false;         // its ten-minute notice has been given
};

class ScheduleRunner {
 public:
  // While nothing can happen for longer than this, the timer need not run
  // every second; at most this long between two ticks.
  static constexpr int kIdleTickSeconds = 60;
  // A missed action is caught up only this long after it was due.
  static constexpr int kCatchUpWindowSeconds = 2 * 60 * 60;

  explicit ScheduleRunner(Clock& clock) : clock_(clock) {}

  // IntervalStart, as the settings file holds it.
  const std::string& interval_start() const { return interval_start_; }
  void set_interval_start(std::string text) { interval_start_ = std::move(text); }

  // The timer was started again, the clock jumped or the machine resumed:
  // the next tick stands for its own second only.
  void Restart() { seconds_.Reset(); }

  // One tick of the schedule as `in` stands now; `in.start_day` is taken
  // from IntervalStart.
  ScheduleStep Tick(ScheduleInputs in);

  // Whole seconds from the start of the current second to the next tick
  // that may find something: 1 while a warning or an action is at most two
  // minutes away, otherwise up to a minute, so that the clock is read again
  // well before anything is due; a ten-minute notice is woken for exactly.
  // A host whose timer is set to an instant of the clock may wait up to
  // `max_idle` seconds instead.
  int SecondsToNextTick(ScheduleInputs in, int max_idle = kIdleTickSeconds);

  // When the action next falls due, moved or not.
  std::optional<std::int64_t> NextDue(ScheduleInputs in);

  // At start-up and on resume: when the latest due instant of the past two
  // hours came after `last_done` (the last one performed, cancelled or
  // postponed) and is not being caught up already, it is performed 121
  // seconds from now. Returns it then.
  std::optional<MovedOccurrence> StartCatchUp(ScheduleInputs in, std::optional<std::int64_t> last_done);

  // The wall clock skipped from `from` to `to` while time ran on (summer
  // time began): an instant in between was never shown, and is done after
  // the usual countdown from `to`. An instant in the first 121 seconds from
  // `to` had its warning skipped: it stays at its own second, and is
  // returned, as its countdown is to open now (the caller opens it).
  std::optional<MovedOccurrence> SkippedForward(ScheduleInputs in, std::int64_t from, std::int64_t to);

  // Moves an occurrence `seconds` later than it is now due; its countdown
  // opens again 121 seconds before the new time. Returns the new time.
  std::int64_t Postpone(std::int64_t occurrence, int seconds);
  const std::optional<MovedOccurrence>& moved() const { return moved_; }
  // The countdown of the moved occurrence was cancelled with the password.
  void DropMoved() { moved_.reset(); }
  // The occurrence will not act: a stronger action due with it in the same
  // countdown took its place. It counts as done.
  void Pass(std::int64_t occurrence);
  // Whether the occurrence is still to act at `due` as the schedule stands
  // now: not acted on or passed, and neither moved nor changed away.
  bool StillDue(ScheduleInputs in, std::int64_t occurrence, std::int64_t due) const;
  // A postponement kept across a restart: the occurrence is due at `due`
  // (its own instant counts as done).
  void RestorePostponed(std::int64_t occurrence, std::int64_t due) {
    last_due_ = occurrence;
    moved_ = MovedOccurrence{occurrence, due, false, false, false};
  }

 private:
  ScheduleInputs WithStartDay(ScheduleInputs in) const;

  Clock& clock_;
  std::string interval_start_;
  TickSeconds seconds_;
  std::optional<std::int64_t> last_due_;
  std::optional<std::int64_t> last_warning_;
  std::optional<std::int64_t> last_notice_;
  std::optional<MovedOccurrence> moved_;
  std::optional<std::int64_t> last_caught_up_;  // never the same instant twice
};

}  // namespace dadado
