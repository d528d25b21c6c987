// The running state of the plans: which seconds the ticks have stood for,
// each plan's occurrences already acted on, warned and told of, and the
// occurrences moved off their own instants (postponed, or caught up after
// they were missed). Plans are read afresh on every tick, so a change counts
// from the next second; a plan is known by its place in the list and its
// line, so that memory never passes to another plan when the list changes.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/calendar.h"
#include "scheduler/plan.h"
#include "scheduler/schedule_tick.h"
#include "scheduler/work_calendar.h"

namespace dadado {

// One occurrence of a plan: its place in the list (1 for 计划1) and the
// instant it stands for.
struct PlanOccurrence {
  int plan = 0;
  std::int64_t instant = 0;
  bool operator==(const PlanOccurrence&) const = default;
};

// What one tick found.
struct PlanStep {
  std::vector<PlanOccurrence> warnings;  // countdowns that open now
  std::vector<std::int64_t> warned_due;  // for each of `warnings`: the second it falls due, moved or not
  std::vector<PlanOccurrence> due;       // occurrences that fall due now
  std::vector<std::pair<PlanOccurrence, std::int64_t>> notices;  // ten minutes before: the occurrence, when
  std::vector<bool> caught_up;           // for each of `due`: a missed one done late
};

class PlanRunner {
 public:
  static constexpr int kNoticeLeadSeconds = 10 * 60;

  explicit PlanRunner(Clock& clock) : clock_(clock) {}

  // The clock jumped or the machine resumed: the next tick stands for its
  // own second only.
  void Restart() { seconds_.Reset(); }

  PlanStep Tick(const std::vector<Plan>& plans, const WorkCalendar& calendar);

  // Whole seconds from the start of the current second to the next tick
  // that may find something (1 while a warning or an action is two minutes
  // away or less; a notice is woken for exactly), at most `max_idle`.
  int SecondsToNextTick(const std::vector<Plan>& plans, const WorkCalendar& calendar, int max_idle);

  // The next occurrence that acts (of any plan but 唤醒计算机), moved or not.
  std::optional<PlanOccurrence> NextDue(const std::vector<Plan>& plans, const WorkCalendar& calendar);
  // The next instant a 唤醒计算机 plan wakes the machine.
  std::optional<std::int64_t> NextWake(const std::vector<Plan>& plans, const WorkCalendar& calendar);

  // The wall clock skipped from `from` to `to` while time ran on (summer
  // time began): an occurrence in between was never shown, and is done at
  // `to`, after its warning when it has one. One in the first 121 seconds
  // from `to` whose warning was skipped keeps its own second; it is
  // returned with that second, as its countdown is to open now (the caller
  // opens it).
  std::vector<std::pair<PlanOccurrence, std::int64_t>> SkippedForward(const std::vector<Plan>& plans,
                                                                       const WorkCalendar& calendar,
                                                                       std::int64_t from, std::int64_t to);

  // Moves an occurrence `seconds` later than it is due now; its countdown
  // opens again 121 seconds before the new time. Returns the new time.
  std::int64_t Postpone(const std::vector<Plan>& plans, const PlanOccurrence& occurrence, int seconds);
  // The occurrence will not act: cancelled with the password, or merged into
  // a stronger one.
  void Drop(const std::vector<Plan>& plans, const PlanOccurrence& occurrence);

  // At start-up and on resume: the latest occurrence of the last two hours
  // after `last_done`, of a plan whose action may be caught up, is done 121
  // seconds from now. Returns it.
  std::optional<PlanOccurrence> StartCatchUp(const std::vector<Plan>& plans, const WorkCalendar& calendar,
                                             std::optional<std::int64_t> last_done);

 private:
  using Key = std::pair<int, std::string>;  // place and line
  static Key KeyOf(const std::vector<Plan>& plans, int plan);
  struct Moved {
    PlanOccurrence occurrence;
    std::string line;
    std::int64_t due = 0;
    bool caught_up = false;
    bool warned = false;
    bool noticed = false;
  };

  Clock& clock_;
  TickSeconds seconds_;
  std::map<Key, std::int64_t> last_due_, last_warning_, last_notice_;
  std::vector<Moved> moved_;
  std::optional<std::int64_t> last_caught_up_;
};

}  // namespace dadado
