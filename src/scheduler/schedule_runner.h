// The running state of the schedule: which seconds the ticks have stood for,
// the instants already acted on and warned for, and the day the every-N-days
// count starts from. The settings window's controls are read afresh on every
// tick, so a change counts from the next second, applied or not.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/calendar.h"
#include "scheduler/schedule_tick.h"

namespace dadado {

// What one tick found.
struct ScheduleStep {
  bool open_warning = false;  // the countdown opens now
  bool action_due = false;    // the action falls due now
  // The occurrence: the due instant that the warning is for, or that is due
  // now; for a caught-up action, the instant that was missed.
  std::optional<std::int64_t> occurrence;
  bool caught_up = false;     // the action due now is a missed one caught up
};

// A missed action being caught up.
struct CatchUp {
  std::int64_t missed = 0;  // the due instant that passed unseen
  std::int64_t due = 0;     // when it is performed instead
};

class ScheduleRunner {
 public:
  // While nothing can happen for longer than this, the timer need not run
  // every second; at most this long between two ticks.
  static constexpr int kIdleTickSeconds = 60;
  // From this long before a warning or an action, every second is ticked.
  static constexpr int kAlertSeconds = 120;
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
  // well before anything is due.
  int SecondsToNextTick(ScheduleInputs in);

  // At start-up and on resume: when the latest due instant of the past two
  // hours came after `last_done` (the last one performed, cancelled or
  // postponed) and is not being caught up already, it is performed 121
  // seconds from now. Returns the catch-up then.
  std::optional<CatchUp> StartCatchUp(ScheduleInputs in, std::optional<std::int64_t> last_done);
  const std::optional<CatchUp>& catch_up() const { return catch_up_; }
  // The catch-up's countdown was cancelled with the password.
  void CancelCatchUp() { catch_up_.reset(); }

 private:
  ScheduleInputs WithStartDay(ScheduleInputs in) const;

  Clock& clock_;
  std::string interval_start_;
  TickSeconds seconds_;
  std::optional<std::int64_t> last_due_;
  std::optional<std::int64_t> last_warning_;
  std::optional<CatchUp> catch_up_;
  std::optional<std::int64_t> last_caught_up_;  // never the same instant twice
};

}  // namespace dadado
