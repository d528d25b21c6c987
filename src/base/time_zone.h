// A time zone as a rule the program keeps itself, and local time computed
// from UTC by it. The guard judges every instant in the zone an administrator
// pinned with the password; a standard user may switch the system's zone, and
// that must not move the hours of use.
//
// The rule has the meaning of Windows' TIME_ZONE_INFORMATION, so that the
// system's own rule can be taken over unchanged.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/calendar.h"

namespace dadado {

// When a season starts: either every year, on the `week`th `day_of_week` of
// `month` (year 0), or once, on year/month/day.
struct ZoneDate {
  int year = 0;         // 0: every year
  int month = 0;        // 1 .. 12; 0: no transition at all
  int week = 0;         // every year: 1 .. 5, where 5 is the last such weekday of the month
  int day_of_week = 0;  // every year: 0 = Sunday .. 6 = Saturday
  int day = 0;          // once: the day of the month
  int second = 0;       // time of day of the change, in the local time in force before it
  bool operator==(const ZoneDate&) const = default;
};

// UTC = local time + bias + the bias of the season in force, in minutes.
// There is no daylight time when either date has month 0; then only `bias`
// counts, as on Windows.
struct TimeZoneRule {
  int bias_minutes = 0;
  int standard_bias_minutes = 0;
  int daylight_bias_minutes = 0;
  ZoneDate standard_date;  // daylight time ends
  ZoneDate daylight_date;  // daylight time starts
  bool operator==(const TimeZoneRule&) const = default;
};

bool HasDaylightTime(const TimeZoneRule& rule);

// Local time at a UTC second (seconds since 1970-01-01 00:00:00 UTC).
LocalDateTime LocalTimeOf(const TimeZoneRule& rule, std::int64_t utc_seconds);

// The UTC second at which the wall clock shows `local_seconds` (as
// LocalSeconds counts them). A local second skipped when the clock jumps
// forward gives the first UTC second after the jump; one the clock shows
// twice gives the earlier.
std::int64_t UtcOf(const TimeZoneRule& rule, std::int64_t local_seconds);

// The first UTC second after `utc` from which the wall clock runs on another
// season's time (summer time begins or ends); nullopt for a zone without
// summer time, or when no change comes within the next year.
std::optional<std::int64_t> NextClockChange(const TimeZoneRule& rule, std::int64_t utc);

// One line of ASCII for the settings file: "-480" for a zone without
// daylight time, otherwise
// "bias,standard bias,daylight bias,standard date,daylight date" with a
// date as month/week/weekday/second ("10/5/0/7200": the last Sunday of
// October at 02:00), year-month-day/second when it happens once, or 0.
std::string FormatTimeZoneRule(const TimeZoneRule& rule);
// Reads what FormatTimeZoneRule writes; nullopt for anything else or out of range.
std::optional<TimeZoneRule> ParseTimeZoneRule(std::string_view text);

// Whether the guard may judge time by a rule: no zone on Earth is more than
// fourteen hours from UTC, in any season, and no summer time moves the clock
// by more than two hours. A zone made up to move the hours is none of these.
bool MayBePinned(const TimeZoneRule& rule);
// The zone the guard judges in when the system's may not be pinned (or
// cannot be read): the system's offset without its summer rule where that
// may be, else China's, where our users live.
TimeZoneRule FallbackZone(const std::optional<TimeZoneRule>& system);
// The offset of the rule's standard time as Windows names zones: "(UTC+08:00)".
std::string UtcOffsetText(const TimeZoneRule& rule);

class UtcClock {
 public:
  virtual ~UtcClock() = default;
  // Whole seconds since 1970-01-01 00:00:00 UTC.
  virtual std::int64_t UtcNow() = 0;
};

// Local time by a pinned rule rather than by the system's zone.
class PinnedClock : public Clock {
 public:
  PinnedClock(UtcClock& utc, const TimeZoneRule& rule) : utc_(utc), rule_(rule) {}
  LocalDateTime Now() override { return LocalTimeOf(rule_, utc_.UtcNow()); }
  void SetRule(const TimeZoneRule& rule) { rule_ = rule; }
  const TimeZoneRule& Rule() const { return rule_; }

 private:
  UtcClock& utc_;
  TimeZoneRule rule_;
};

// Tells a jump of the wall clock that is the time zone's own (summer time
// beginning: the local clock skips forward while UTC runs on) from one made
// by setting the clock, which moves both.
//
// Only two looks close together in UTC can tell: across a longer gap the
// machine may have slept, and a sleep across the change is no skip of the
// time it slept through. Whoever looks says how far apart its looks can be
// while it is running.
class WallClockWatch {
 public:
  // Looked at least once a minute, as the program's timers do while they run.
  static constexpr std::int64_t kDefaultLongestGap = 3 * 60;

  explicit WallClockWatch(std::int64_t longest_gap = kDefaultLongestGap) : longest_gap_(longest_gap) {}

  // The local second the wall clock skipped from, when it did so since the
  // last look and no more than the longest gap of UTC time ago; nullopt
  // otherwise.
  std::optional<std::int64_t> Observe(std::int64_t local, std::int64_t utc);
  // Nobody looked for a while (the machine slept, the timer stood still): the
  // next look only starts the watch again.
  void Reset() {
    local_.reset();
    utc_.reset();
  }

 private:
  std::int64_t longest_gap_;
  std::optional<std::int64_t> local_, utc_;
};

}  // namespace dadado
