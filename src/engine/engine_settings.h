// The settings the engine enforces, as plain values: taken from the settings
// window's controls when the program enforces (so that a change counts from
// the next second, applied or not), or from the settings file and the
// machine policy when the guard service does.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "scheduler/accounts.h"
#include "scheduler/plan.h"
#include "scheduler/usage_history.h"
#include "scheduler/schedule_tick.h"
#include "scheduler/work_calendar.h"
#include "scheduler/time_control_guard.h"
#include "settings/live_settings.h"

namespace dadado {

struct EngineSettings {
  // Frequency, time of day, weekday and interval; the start day is the
  // engine's own (IntervalStart).
  ScheduleInputs schedule;
  int action = kActionNone;   // Combo3
  int prompt = 1;             // Check9's value: 1 shows the countdown
  bool time_control = false;  // Check4 set: the [时间控制] rules
  TimeRules rules;            // the allowed hours and daily limits of [时间控制]
  // The accounts' own rules, and administrators exempt from the others.
  std::vector<AccountRules> account_rules;
  bool administrators_exempt = false;
  // 记录使用时间 and 保留天数: each account's minutes go into the history.
  bool record_usage = false;
  int keep_days = kDefaultKeepDays;
  int postpone_minutes = kDefaultPostponeMinutes;
  bool catch_up = false;
  // The plans beside the schedule, and the calendar of working days.
  std::vector<Plan> plans;
  WorkCalendar calendar;
  bool operator==(const EngineSettings&) const = default;

  // Time control is in force: on, and no schedule selected.
  bool TimeControlInForce() const { return time_control && schedule.frequency == kFrequencyNone; }

  RuleBook Book() const { return {time_control, rules, administrators_exempt, account_rules}; }
  // The rules in force for the account at the console.
  ChosenRules RulesFor(const std::optional<Account>& account) const { return ChooseRules(Book(), account); }
  // Time control holds for someone: some rule has it on, and no schedule is
  // selected (a schedule and time control exclude each other).
  bool TimeControlForAnyone() const { return schedule.frequency == kFrequencyNone && Book().AnyEnabled(); }
  // Today's use is counted: for time control, or for the history.
  bool CountingWanted() const { return record_usage || TimeControlForAnyone(); }
};

// The values as the settings window's controls hold them now.
EngineSettings EngineSettingsOf(const LiveSettings& live);

}  // namespace dadado
