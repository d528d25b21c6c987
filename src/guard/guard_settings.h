// What the guard needs of the settings file: the schedule and time control,
// read as start-up reads them, so that the guard and the program come to the
// same values from the same file, however damaged it is. The guard runs as
// LocalSystem beside a file that the user's program owns: it never writes it.
#pragma once

#include <array>
#include <string>

#include "base/calendar.h"
#include "scheduler/schedule_tick.h"
#include "settings/file_store.h"
#include "settings/live_settings.h"
#include "settings/policy.h"

namespace dadado {

// A store that hands reads through and refuses every write, so that no read
// path of the settings file, however it treats a missing key, can change it.
class ReadOnlyFileStore : public FileStore {
 public:
  explicit ReadOnlyFileStore(FileStore& inner) : inner_(inner) {}
  FileContent Read(const std::string& path) override { return inner_.Read(path); }
  bool WriteAtomically(const std::string&, const std::string&) override { return false; }

 private:
  FileStore& inner_;
};

struct GuardSettings {
  // Frequency, time of day, weekday and interval as the controls hold them;
  // the start day comes from interval_start, as the schedule runner takes it.
  ScheduleInputs schedule;
  bool SameSchedule(const GuardSettings& o) const {
    return schedule.frequency == o.schedule.frequency && schedule.scheduled_time == o.schedule.scheduled_time &&
           schedule.weekday_index == o.schedule.weekday_index && schedule.interval_index == o.schedule.interval_index;
  }
  std::string interval_start;
  int action = kActionNone;  // Combo3
  bool time_control = false;  // Check4 set
  std::array<std::string, kWeekdays> allowed_hours;

  bool operator==(const GuardSettings& o) const {
    return SameSchedule(o) && interval_start == o.interval_start && action == o.action &&
           time_control == o.time_control && allowed_hours == o.allowed_hours;
  }
};

// The settings as a program started at `started` would hold them after its
// start-up, with the machine policy replacing what it sets. `started` gives
// the values a missing key falls back to (the time picker starts at the
// current time, IntervalStart at today).
GuardSettings ReadGuardSettings(FileStore& store, const std::string& path, const PolicyValues& policy,
                                const LocalDateTime& started);

// The same values taken from a program's controls.
GuardSettings GuardSettingsOf(const LiveSettings& live, const std::string& interval_start);

}  // namespace dadado
