// The decisions of the schedule tick: which seconds a tick stands for, and
// whether the action or its warning falls on one of them.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/calendar.h"

namespace dadado {

inline constexpr int kWarningLeadSeconds = 121;

struct ScheduleInputs {
  int frequency = 3;          // 0 daily, 1 weekly, 2 every N days, 3 none, -1 none selected
  int scheduled_time = 0;     // seconds of the day
  int weekday_index = -1;     // Combo1: 0 Sunday .. 6 Saturday
  int interval_index = -1;    // Combo2: N = index + 2
  std::optional<std::int64_t> start_day;  // IntervalStart as a day number
  bool operator==(const ScheduleInputs&) const = default;
};

struct SecondVerdict {
  bool due = false;   // the action falls on this second
  bool warn = false;  // the countdown opens on this second
};

// The verdict for one local second.
SecondVerdict JudgeSecond(const ScheduleInputs& in, std::int64_t local_second);

// The first second after `local_second` on which the schedule warns or acts,
// or nullopt when none comes within the longest cycle (no schedule, no
// weekday or interval chosen, no readable start date).
std::optional<std::int64_t> NextEventAfter(const ScheduleInputs& in, std::int64_t local_second);

// The first second after `local_second` on which the schedule is due.
std::optional<std::int64_t> NextDueAfter(const ScheduleInputs& in, std::int64_t local_second);

// The latest second at or before `local_second`, and no more than `window`
// seconds before it, on which the schedule was due.
std::optional<std::int64_t> LatestDueWithin(const ScheduleInputs& in, std::int64_t local_second, std::int64_t window);

// A timer fires about once a second, never exactly: one tick may come late
// and the next early, and a whole second may pass between two ticks. Each
// tick therefore stands for every second since the previous one, each second
// at most once. A longer gap (the machine slept, the clock was changed) is
// not caught up: only the current second counts then.
class TickSeconds {
 public:
  static constexpr std::int64_t kMaxCatchUp = 5;

  // The local seconds the tick at `now` stands for, oldest first.
  std::vector<std::int64_t> Advance(std::int64_t now);
  // Forget the previous tick (the timer was restarted, the clock changed,
  // the machine resumed).
  void Reset() { last_.reset(); }

  // Whether this instant has already been acted on; marks it when not. An
  // instant never counts twice, even when the clock is turned back over it
  // or a daylight-saving hour repeats it.
  bool FirstTime(std::int64_t instant, std::optional<std::int64_t>& memory);

 private:
  std::optional<std::int64_t> last_;
};

// The wait until the next tick that matters, gathered from what is coming:
// from a little before a warning or an action every second is ticked; a
// notice needs only its own second.
class TickWait {
 public:
  // From this long before a warning or an action, every second is ticked.
  static constexpr int kAlertSeconds = 120;

  // Nothing coming: at most `max_idle` seconds (at least one).
  TickWait(std::int64_t now, int max_idle) : now_(now), wait_(max_idle < 1 ? 1 : max_idle) {}

  // A warning or an action at `at`.
  void Alert(std::optional<std::int64_t> at) {
    if (at && *at > now_) Take(*at - now_ - kAlertSeconds);
  }
  // A notice at `at`.
  void Exactly(std::optional<std::int64_t> at) {
    if (at && *at > now_) Take(*at - now_);
  }
  int seconds() const { return static_cast<int>(wait_); }

 private:
  void Take(std::int64_t wait) {
    if (wait < 1) wait = 1;
    if (wait < wait_) wait_ = wait;
  }
  std::int64_t now_, wait_;
};

}  // namespace dadado
