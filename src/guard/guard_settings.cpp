#include "guard/guard_settings.h"

#include "settings/settings_file.h"
#include "settings/settings_table.h"

namespace dadado {

GuardSettings GuardSettingsOf(const LiveSettings& live, const std::string& interval_start) {
  GuardSettings s;
  s.schedule.frequency = live.frequency();
  s.schedule.scheduled_time = live.scheduled_time();
  s.schedule.weekday_index = live.combo1().index;
  s.schedule.interval_index = live.combo2().index;
  s.interval_start = interval_start;
  s.action = live.combo3().index;
  s.time_control = live.IsSet(4);
  for (int n = 0; n < kWeekdays; ++n) s.allowed_hours[n] = live.text3(n).text;
  return s;
}

GuardSettings ReadGuardSettings(FileStore& store, const std::string& path, const PolicyValues& policy,
                                const LocalDateTime& started) {
  // The very reads of start-up, through the table, in its steps and order:
  // a key's rule may change another control, so the order decides the
  // values. A missing text key would be written with its default; the store
  // refuses that and the default is what is read, as the program reads it.
  ReadOnlyFileStore read_only(store);
  SettingsFile file(read_only, path);
  LiveSettings live;
  LoadedExtras extras;
  live.SetScheduledTime(started.second_of_day);
  LoadSettings(LoadStep::kOptions, file, live, extras, started, policy);
  // Start-up cancels the schedule when time control is on and the window
  // stays visible; the steps after it read the rest.
  if (!live.IsSet(7) && live.IsSet(4)) live.SelectOption1(kFrequencyNone);
  LoadSettings(LoadStep::kSchedule, file, live, extras, started, policy);
  LoadSettings(LoadStep::kHours, file, live, extras, started, policy);
  return GuardSettingsOf(live, extras.interval_start);
}

}  // namespace dadado
