#include "system/win32/win_time_zone.h"

namespace dadado::win32 {

namespace {

// FILETIME counts 100-nanosecond steps from 1601-01-01 00:00:00 UTC.
constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;

ZoneDate ZoneDateOf(const SYSTEMTIME& t) {
  if (t.wMonth == 0) return {};
  ZoneDate d;
  d.year = t.wYear;
  d.month = t.wMonth;
  if (t.wYear == 0) {
    d.week = t.wDay;
    d.day_of_week = t.wDayOfWeek;
  } else {
    d.day = t.wDay;
  }
  // Milliseconds are dropped: a zone that changes at 23:59:59.999 changes
  // by this rule at 23:59:59, a second early.
  d.second = t.wHour * 3600 + t.wMinute * 60 + t.wSecond;
  return d;
}

}  // namespace

std::optional<TimeZoneRule> TimeZoneRuleOf(const TIME_ZONE_INFORMATION& info) {
  TimeZoneRule rule;
  rule.bias_minutes = info.Bias;
  rule.standard_bias_minutes = info.StandardBias;
  rule.daylight_bias_minutes = info.DaylightBias;
  rule.standard_date = ZoneDateOf(info.StandardDate);
  rule.daylight_date = ZoneDateOf(info.DaylightDate);
  // Without daylight time only the bias counts; Windows often leaves a
  // daylight bias there all the same, and the settings file shows the zone
  // plainer without it.
  if (!HasDaylightTime(rule)) rule = TimeZoneRule{rule.bias_minutes, 0, 0, {}, {}};
  // The text of the settings file checks every range; a rule that does not
  // come back from it unchanged is not one.
  if (ParseTimeZoneRule(FormatTimeZoneRule(rule)) != rule) return std::nullopt;
  return rule;
}

std::optional<TimeZoneRule> CurrentTimeZoneRule() {
  TIME_ZONE_INFORMATION info{};
  if (GetTimeZoneInformation(&info) == TIME_ZONE_ID_INVALID) return std::nullopt;
  return TimeZoneRuleOf(info);
}

std::int64_t SystemUtcClock::UtcNow() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  const std::int64_t ticks = static_cast<std::int64_t>(ULARGE_INTEGER{{ft.dwLowDateTime, ft.dwHighDateTime}}.QuadPart);
  return ticks / kTicksPerSecond - kSecondsFrom1601To1970;
}

}  // namespace dadado::win32
