#include "system/win32/win_time_zone.h"

#include <iterator>

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

namespace {

// A zone's rule as the registry keeps it (REG_TZI_FORMAT).
struct RegistryZoneRule {
  LONG bias, standard_bias, daylight_bias;
  SYSTEMTIME standard_date, daylight_date;
};

// A zone's standard-time name: the text Windows shows in the user's
// language (MUI_Std) where it can give it, else the plain one (Std).
std::wstring StandardNameOf(HKEY zone) {
  wchar_t name[128] = {};
  DWORD bytes = 0;
  if (RegLoadMUIStringW(zone, L"MUI_Std", name, sizeof name - sizeof(wchar_t), &bytes, 0, nullptr) == ERROR_SUCCESS)
    return name;
  bytes = sizeof name - sizeof(wchar_t);
  if (RegGetValueW(zone, nullptr, L"Std", RRF_RT_REG_SZ, nullptr, name, &bytes) == ERROR_SUCCESS) return name;
  return {};
}

}  // namespace

std::wstring TimeZoneNameOf(const TimeZoneRule& rule) {
  TIME_ZONE_INFORMATION info{};
  if (GetTimeZoneInformation(&info) != TIME_ZONE_ID_INVALID && TimeZoneRuleOf(info) == rule && info.StandardName[0])
    return info.StandardName;
  HKEY zones = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Time Zones", 0,
                    KEY_READ | KEY_WOW64_64KEY, &zones) != ERROR_SUCCESS)
    return {};
  std::wstring found;
  wchar_t key[128];
  for (DWORD i = 0; found.empty(); ++i) {
    DWORD length = static_cast<DWORD>(std::size(key));
    if (RegEnumKeyExW(zones, i, key, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    HKEY zone = nullptr;
    if (RegOpenKeyExW(zones, key, 0, KEY_READ | KEY_WOW64_64KEY, &zone) != ERROR_SUCCESS) continue;
    RegistryZoneRule tzi{};
    DWORD bytes = sizeof tzi;
    if (RegGetValueW(zone, nullptr, L"TZI", RRF_RT_REG_BINARY, nullptr, &tzi, &bytes) == ERROR_SUCCESS &&
        bytes == sizeof tzi) {
      TIME_ZONE_INFORMATION as_info{};
      as_info.Bias = tzi.bias;
      as_info.StandardBias = tzi.standard_bias;
      as_info.DaylightBias = tzi.daylight_bias;
      as_info.StandardDate = tzi.standard_date;
      as_info.DaylightDate = tzi.daylight_date;
      if (TimeZoneRuleOf(as_info) == rule) found = StandardNameOf(zone);
    }
    RegCloseKey(zone);
  }
  RegCloseKey(zones);
  return found;
}

std::int64_t SystemUtcClock::UtcNow() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  const std::int64_t ticks = static_cast<std::int64_t>(ULARGE_INTEGER{{ft.dwLowDateTime, ft.dwHighDateTime}}.QuadPart);
  return ticks / kTicksPerSecond - kSecondsFrom1601To1970;
}

}  // namespace dadado::win32
