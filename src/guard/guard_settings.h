// What the guard service reads from the settings file: the settings it
// enforces, taken through the same table and in the same order as the
// program's start-up takes them, so that both come to the same values from
// the same file however damaged it is; the stored password; the state an
// earlier version of the service kept in the file (now kept apart, see
// guard_state.h, and read from the file only to carry it over); and what the
// program is shown of it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/calendar.h"
#include "base/time_zone.h"
#include "engine/engine_settings.h"
#include "settings/policy.h"

namespace dadado {

// The service's own keys, in a section of their own. Only 时区 is still
// read for what it says: an administrator who writes a zone there pins it.
namespace guard_keys {
inline constexpr char kSection[] = "守护服务";
inline constexpr char kTimeZone[] = "时区";            // the pinned time zone's rule
inline constexpr char kPostponed[] = "推迟定时";       // "occurrence,due": a scheduled occurrence moved later
inline constexpr char kHeldOff[] = "推迟时间控制";     // time control held off until this instant
}  // namespace guard_keys

struct GuardSettingsRead {
  EngineSettings settings;
  std::string interval_start;
  // The stored form of the password (the default's when the file has none).
  std::string stored_password;
  // The settings as the program shows them: every key of the table as the
  // file holds it, and nothing else (no password).
  std::string face_ini;
  std::optional<TimeZoneRule> pinned_zone;
  std::optional<std::int64_t> last_scheduled;
  std::optional<Date> use_day;
  int used_minutes = 0;
  std::optional<std::pair<std::int64_t, std::int64_t>> postponed;  // occurrence, due
  std::optional<std::int64_t> held_off_until;
};

// Reads the settings from the bytes of the file (GBK). Nothing is written:
// a key that is missing gives its default, as the program's start-up reads
// it at `now`.
GuardSettingsRead ReadGuardSettings(const std::string& file_bytes, const PolicyValues& policy,
                                    const LocalDateTime& now);

// An instant as the settings file writes instants; and back.
std::string InstantText(std::int64_t local_seconds);
std::optional<std::int64_t> InstantOf(const std::string& text);

// A postponed occurrence as "occurrence,due"; and back (nullopt for
// anything else, or for a due that is not after its occurrence).
std::string PostponedText(std::int64_t occurrence, std::int64_t due);
std::optional<std::pair<std::int64_t, std::int64_t>> PostponedOf(const std::string& text);
// A day's use as "day,minutes"; and back.
std::string UseText(const Date& day, int minutes);
std::optional<std::pair<Date, int>> UseOf(const std::string& text);

}  // namespace dadado
