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
};

class ScheduleRunner {
 public:
  // While nothing can happen for longer than this, the timer need not run
  // every second; at most this long between two ticks.
  static constexpr int kIdleTickSeconds = 60;
  // From this long before a warning or an action, every second is ticked.
  static constexpr int kAlertSeconds = 120;

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

 private:
  ScheduleInputs WithStartDay(ScheduleInputs in) const;

  Clock& clock_;
  std::string interval_start_;
  TickSeconds seconds_;
  std::optional<std::int64_t> last_due_;
  std::optional<std::int64_t> last_warning_;
};

}  // namespace dadado
