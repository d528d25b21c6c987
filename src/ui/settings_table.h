// The settings window's keys in one table: which section and key each
// control is stored under, its default, and when start-up reads it. Start-up
// and Cancel read from this table and Apply writes from it, so that no key
// is read and never written, or written under another name.
#pragma once

#include <string>
#include <vector>

#include "base/calendar.h"
#include "settings/live_settings.h"
#include "settings/settings_file.h"

namespace dadado {

// What a key is stored from.
enum class SettingControl {
  kCheck,          // Check<n>: its value 0, 1 or 2
  kFrequency,      // Option1: the selected button, not written when none is
  kWeekday,        // Combo1
  kInterval,       // Combo2
  kAction,         // Combo3
  kScheduledTime,  // the time picker, stored as today's date with its time
  kIntervalStart,  // IntervalStart: written, as today, only for every-N-days
  kAllowedHours,   // Text3(n)
};

// Start-up reads the keys in steps, because setting a control runs its rule
// and the rules depend on what is already set.
enum class LoadStep {
  kOptions,   // frequency and the checkboxes that shape the window
  kSchedule,  // the schedule, the action, the tray icon
  kHours,     // the allowed hours, after the password has been seeded
  kLock,      // the lock at start, read just before it is acted on
  kCancel,    // only Cancel reads it again (start-up takes it from the registry)
};

struct SettingEntry {
  const char* section;
  std::string key;
  SettingControl control;
  int index;         // Check<n>, or the weekday of Text3(n)
  int default_value; // for the numeric controls
  LoadStep step;
};

// Every key of the settings window, in the order Apply writes them.
const std::vector<SettingEntry>& SettingsTable();

// The running state that settings feed besides the controls.
struct LoadedExtras {
  std::string interval_start;  // IntervalStart
};

// Reads the keys of one step into the controls, in table order. Text keys
// that are missing are written with their default, as every text read does.
void LoadSettings(LoadStep step, SettingsFile& file, LiveSettings& live, LoadedExtras& extras,
                  const LocalDateTime& now);

// Writes every key in one replacement of the file; true when the file holds
// them all afterwards.
bool SaveSettings(SettingsFile& file, const LiveSettings& live, const LocalDateTime& now);

}  // namespace dadado
