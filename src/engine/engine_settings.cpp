#include "engine/engine_settings.h"

namespace dadado {

EngineSettings EngineSettingsOf(const LiveSettings& live) {
  EngineSettings s;
  s.schedule.frequency = live.frequency();
  s.schedule.scheduled_time = live.scheduled_time();
  s.schedule.weekday_index = live.combo1().index;
  s.schedule.interval_index = live.combo2().index;
  s.action = live.combo3().index;
  s.prompt = live.check(9).value;
  const RuleBook book = live.Rules();
  s.time_control = book.enabled;
  s.rules = book.rules;
  s.account_rules = book.accounts;
  s.administrators_exempt = book.administrators_exempt;
  s.record_usage = live.record_usage().value == 1;
  s.keep_days = live.keep_days();
  s.postpone_minutes = live.PostponeMinutes();
  s.catch_up = live.catch_up().value == 1;
  s.plans = live.plans();
  s.calendar.SetHolidays(live.holidays());
  s.calendar.SetExtraWorkdays(live.extra_workdays());
  return s;
}

}  // namespace dadado
