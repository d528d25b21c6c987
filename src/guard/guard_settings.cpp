#include "guard/guard_settings.h"

#include "base/date_time_text.h"
#include "protection/password.h"
#include "settings/ini_text.h"
#include "settings/keys.h"
#include "settings/memory_store.h"
#include "settings/settings_file.h"
#include "settings/settings_table.h"
#include "settings/text.h"

namespace dadado {

namespace {

constexpr char kPath[] = "dadado.ini";

}  // namespace

std::string InstantText(std::int64_t local_seconds) {
  const LocalDateTime t = FromLocalSeconds(local_seconds);
  return FormatDateTimeText(t.date, t.second_of_day);
}

std::optional<std::int64_t> InstantOf(const std::string& text) {
  const auto date = ParseDate(text);
  const auto time = ParseTimeOfDay(text);
  if (!date || !time) return std::nullopt;
  return LocalSeconds({*date, *time});
}

std::string PostponedText(std::int64_t occurrence, std::int64_t due) {
  return InstantText(occurrence) + "," + InstantText(due);
}

std::optional<std::pair<std::int64_t, std::int64_t>> PostponedOf(const std::string& text) {
  const auto comma = text.find(',');
  if (comma == std::string::npos) return std::nullopt;
  const auto occurrence = InstantOf(text.substr(0, comma));
  const auto due = InstantOf(text.substr(comma + 1));
  if (!occurrence || !due || *due <= *occurrence) return std::nullopt;
  return std::pair{*occurrence, *due};
}

std::string UseText(const Date& day, int minutes) { return FormatShortDate(day) + "," + std::to_string(minutes); }

std::optional<std::pair<Date, int>> UseOf(const std::string& text) {
  const auto comma = text.find(',');
  if (comma == std::string::npos) return std::nullopt;
  const auto day = ParseDate(text.substr(0, comma));
  if (!day) return std::nullopt;
  return std::pair{*day, ParseIniInt(text.substr(comma + 1))};
}

GuardSettingsRead ReadGuardSettings(const std::string& file_bytes, const PolicyValues& policy,
                                    const LocalDateTime& now) {
  GuardSettingsRead r;
  // What the program is shown: the table's keys as the file holds them, and
  // the accounts' own rules.
  {
    const IniText original(file_bytes);
    IniText shown;
    for (const SettingEntry& e : SettingsTable())
      if (auto v = original.Get(Utf8ToGbk(e.section), Utf8ToGbk(e.key))) shown.Set(Utf8ToGbk(e.section), Utf8ToGbk(e.key), *v);
    MemoryStore bytes(file_bytes);
    SettingsFile sections(bytes, kPath);
    for (const AccountSection& a : ReadAccountSections(sections))
      for (const auto& [key, value] : AccountSectionKeys(a))
        shown.Set(Utf8ToGbk(keys::AccountSection(a.name)), Utf8ToGbk(key), Utf8ToGbk(value));
    r.face_ini = GbkToUtf8(shown.bytes());
  }

  // The very reads of start-up, through the table, in its steps and order:
  // a key's rule may change another control, so the order decides the values.
  // The file's bytes as a store of their own: the defaults a read writes
  // back stay here and never reach the disk.
  MemoryStore store(file_bytes);
  SettingsFile file(store, kPath);
  LiveSettings live;
  LoadedExtras extras;
  live.SetScheduledTime(now.second_of_day);
  LoadSettings(LoadStep::kOptions, file, live, extras, now, policy);
  // Start-up cancels the schedule when time control is on and the window
  // stays visible; the steps after it read the rest.
  if (!live.IsSet(7) && live.IsSet(4)) live.SelectOption1(kFrequencyNone);
  LoadSettings(LoadStep::kSchedule, file, live, extras, now, policy);
  LoadSettings(LoadStep::kHours, file, live, extras, now, policy);
  r.settings = EngineSettingsOf(live);
  r.interval_start = extras.interval_start;
  r.stored_password = ReadStoredPassword(file);

  auto peek = [&](const char* section, const char* key) { return file.Peek(section, key); };
  if (auto z = peek(guard_keys::kSection, guard_keys::kTimeZone)) r.pinned_zone = ParseTimeZoneRule(*z);
  if (auto t = peek(keys::kGeneral, keys::kLastScheduled)) r.last_scheduled = InstantOf(*t);
  if (auto d = peek(keys::kUsage, keys::kUsageDate)) r.use_day = ParseDate(*d);
  if (auto m = peek(keys::kUsage, keys::kUsedMinutes)) r.used_minutes = ParseIniInt(*m);
  if (auto p = peek(guard_keys::kSection, guard_keys::kPostponed)) r.postponed = PostponedOf(*p);
  if (auto h = peek(guard_keys::kSection, guard_keys::kHeldOff)) r.held_off_until = InstantOf(*h);
  return r;
}

}  // namespace dadado
