#include "ui/settings_table.h"

#include <cstdint>

#include "base/date_time_text.h"
#include "settings/keys.h"

namespace dadado {

const std::vector<SettingEntry>& SettingsTable() {
  static const std::vector<SettingEntry> table = [] {
    using C = SettingControl;
    using S = LoadStep;
    std::vector<SettingEntry> t = {
        {keys::kGeneral, keys::kFrequency, C::kFrequency, 0, kFrequencyNone, S::kOptions},
        {keys::kGeneral, keys::kScheduledTime, C::kScheduledTime, 0, 0, S::kSchedule},
        {keys::kGeneral, keys::kWeeklyDay, C::kWeekday, 0, 0, S::kSchedule},
        {keys::kGeneral, keys::kInterval, C::kInterval, 0, 0, S::kSchedule},
        {keys::kGeneral, keys::kIntervalStart, C::kIntervalStart, 0, 0, S::kSchedule},
        {keys::kGeneral, keys::kAction, C::kAction, 0, kActionNone, S::kSchedule},
        {keys::kGeneral, keys::kRemoveTrayIcon, C::kCheck, 1, 0, S::kSchedule},
        {keys::kGeneral, keys::kHideAfterStart, C::kCheck, 7, 0, S::kOptions},
        {keys::kGeneral, keys::kLockAfterStart, C::kCheck, 5, 0, S::kLock},
        {keys::kGeneral, keys::kForced, C::kCheck, 8, 1, S::kOptions},
        {keys::kGeneral, keys::kShutdownScreen, C::kCheck, 9, 1, S::kOptions},
        {keys::kGeneral, keys::kPasswordProtection, C::kCheck, 10, 0, S::kOptions},
        {keys::kAdvanced, keys::kAutoLogon, C::kCheck, 3, 0, S::kCancel},
        {keys::kTimeControl, keys::kEnabled, C::kCheck, 4, 0, S::kOptions},
    };
    for (int n = 0; n < kWeekdays; ++n)
      t.push_back({keys::kTimeControl, keys::WeekKey(n), C::kAllowedHours, n, 0, S::kHours});
    return t;
  }();
  return table;
}

void LoadSettings(LoadStep step, SettingsFile& file, LiveSettings& live, LoadedExtras& extras,
                  const LocalDateTime& now) {
  for (const SettingEntry& e : SettingsTable()) {
    if (e.step != step) continue;
    auto read_int = [&] { return file.ReadIniInt(e.section, e.key, static_cast<std::int16_t>(e.default_value)); };
    switch (e.control) {
      case SettingControl::kCheck: live.SetCheck(e.index, read_int()); break;
      case SettingControl::kFrequency: live.SelectOption1(read_int()); break;
      case SettingControl::kWeekday: live.SetCombo1(read_int()); break;
      case SettingControl::kInterval: live.SetCombo2(read_int()); break;
      case SettingControl::kAction: live.SetCombo3(read_int()); break;
      case SettingControl::kScheduledTime:
        // Only the time of day counts; a text that holds none leaves the
        // picker where it is.
        if (auto t = ParseTimeOfDay(file.ReadIniString(e.section, e.key, FormatDateTimeText(now.date, now.second_of_day))))
          live.SetScheduledTime(*t);
        break;
      case SettingControl::kIntervalStart:
        extras.interval_start = file.ReadIniString(e.section, e.key, FormatShortDate(now.date));
        break;
      case SettingControl::kAllowedHours:
        live.SetText3(e.index, file.ReadIniString(e.section, e.key, keys::kAllHoursForbidden));
        break;
    }
  }
}

bool SaveSettings(SettingsFile& file, const LiveSettings& live, const LocalDateTime& now) {
  file.BeginBatch();
  bool ok = true;
  auto write_int = [&](const SettingEntry& e, int value) {
    ok = file.WriteIniInt(e.section, e.key, static_cast<std::int16_t>(value)) && ok;
  };
  auto write_text = [&](const SettingEntry& e, const std::string& value) {
    ok = file.WriteIniString(e.section, e.key, value) && ok;
  };
  for (const SettingEntry& e : SettingsTable()) {
    switch (e.control) {
      case SettingControl::kCheck: write_int(e, live.check(e.index).value); break;
      case SettingControl::kFrequency:
        if (live.frequency() >= 0) write_int(e, live.frequency());
        break;
      case SettingControl::kWeekday: write_int(e, live.combo1().index); break;
      case SettingControl::kInterval: write_int(e, live.combo2().index); break;
      case SettingControl::kAction: write_int(e, live.combo3().index); break;
      case SettingControl::kScheduledTime: write_text(e, FormatDateTimeText(now.date, live.scheduled_time())); break;
      case SettingControl::kIntervalStart:
        // The count of days starts again on the day every-N-days is applied.
        if (live.frequency() == 2) write_text(e, FormatShortDate(now.date));
        break;
      case SettingControl::kAllowedHours: write_text(e, live.text3(e.index).text); break;
    }
  }
  return file.EndBatch() && ok;
}

}  // namespace dadado
