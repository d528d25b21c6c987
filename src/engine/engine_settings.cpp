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
  s.time_control = live.IsSet(4);
  for (int n = 0; n < kWeekdays; ++n) {
    s.rules.allowed_hours[n] = live.text3(n).text;
    s.rules.daily_limits[n] = live.DailyLimitMinutes(n);
  }
  s.postpone_minutes = live.PostponeMinutes();
  s.catch_up = live.catch_up().value == 1;
  s.plans = live.plans();
  s.calendar.SetHolidays(live.holidays());
  s.calendar.SetExtraWorkdays(live.extra_workdays());
  return s;
}

}  // namespace dadado
