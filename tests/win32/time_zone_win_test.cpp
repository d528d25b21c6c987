// The pinned time zone against Windows' own conversions.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <vector>

#include "base/date_time_text.h"
#include "system/win32/win_time_zone.h"

namespace dadado::win32 {
namespace {

std::int64_t At(int y, int mo, int d, int h, int mi, int s) {
  return DayNumber({y, mo, d}) * 86400 + h * 3600 + mi * 60 + s;
}

SYSTEMTIME SystemTimeOf(std::int64_t seconds) {
  const std::uint64_t ticks = static_cast<std::uint64_t>(seconds + 11'644'473'600) * 10'000'000;
  const FILETIME ft{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME st{};
  EXPECT_TRUE(FileTimeToSystemTime(&ft, &st));
  return st;
}

std::int64_t SecondsOf(const SYSTEMTIME& st) {
  return At(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
}

std::string Text(std::int64_t seconds) {
  const LocalDateTime t = FromLocalSeconds(seconds);
  return FormatDateTimeText(t.date, t.second_of_day);
}

// Zones as the Windows registry holds them.
TIME_ZONE_INFORMATION Zone(LONG bias, LONG daylight_bias, SYSTEMTIME standard, SYSTEMTIME daylight) {
  TIME_ZONE_INFORMATION info{};
  info.Bias = bias;
  info.DaylightBias = daylight_bias;
  info.StandardDate = standard;
  info.DaylightDate = daylight;
  return info;
}
// SYSTEMTIME: year, month, weekday, day (the week), hour, minute, second, ms.
const TIME_ZONE_INFORMATION kLondon = Zone(0, -60, {0, 10, 0, 5, 2, 0, 0, 0}, {0, 3, 0, 5, 1, 0, 0, 0});
const TIME_ZONE_INFORMATION kSydney = Zone(-600, -60, {0, 4, 0, 1, 3, 0, 0, 0}, {0, 10, 0, 1, 2, 0, 0, 0});
const TIME_ZONE_INFORMATION kNewYork = Zone(300, -60, {0, 11, 0, 1, 2, 0, 0, 0}, {0, 3, 0, 2, 2, 0, 0, 0});
const TIME_ZONE_INFORMATION kChina = Zone(-480, 0, {}, {});

TEST(TimeZoneWin, CurrentZoneGivesTheSystemsLocalTime) {
  const auto rule = CurrentTimeZoneRule();
  ASSERT_TRUE(rule);
  SystemUtcClock utc;
  SYSTEMTIME now{};
  GetLocalTime(&now);
  const std::int64_t ours = LocalSeconds(LocalTimeOf(*rule, utc.UtcNow()));
  EXPECT_LE(std::abs(ours - SecondsOf(now)), 1) << FormatTimeZoneRule(*rule) << ": " << Text(ours);
}

TEST(TimeZoneWin, SystemUtcClockIsTheSystemTime) {
  SystemUtcClock utc;
  SYSTEMTIME now{};
  GetSystemTime(&now);
  EXPECT_LE(std::abs(utc.UtcNow() - SecondsOf(now)), 1);
}

TEST(TimeZoneWin, RulesReadFromTheRegistryForm) {
  EXPECT_EQ(TimeZoneRuleOf(kLondon), ParseTimeZoneRule("0,0,-60,10/5/0/7200,3/5/0/3600"));
  EXPECT_EQ(TimeZoneRuleOf(kSydney), ParseTimeZoneRule("-600,0,-60,4/1/0/10800,10/1/0/7200"));
  EXPECT_EQ(TimeZoneRuleOf(kChina), ParseTimeZoneRule("-480"));
  // Without daylight time the zone is its bias alone, whatever else is there.
  EXPECT_EQ(TimeZoneRuleOf(Zone(-480, -60, {}, {})), ParseTimeZoneRule("-480"));
  EXPECT_EQ(TimeZoneRuleOf(Zone(-180, -60, {}, {0, 3, 0, 5, 1, 0, 0, 0})), ParseTimeZoneRule("-180"));
  // Changes that happen once, and a change at the last moment of a day.
  EXPECT_EQ(TimeZoneRuleOf(Zone(0, -60, {2024, 10, 0, 27, 2, 0, 0, 0}, {2024, 3, 0, 31, 1, 0, 0, 0})),
            ParseTimeZoneRule("0,0,-60,2024-10-27/7200,2024-3-31/3600"));
  EXPECT_EQ(TimeZoneRuleOf(Zone(120, -60, {0, 10, 6, 5, 23, 59, 59, 999}, {0, 3, 4, 5, 23, 59, 59, 999})),
            ParseTimeZoneRule("120,0,-60,10/5/6/86399,3/5/4/86399"));

  // What describes no rule is not taken.
  const TIME_ZONE_INFORMATION broken[] = {
      Zone(0, -60, {0, 10, 0, 6, 2, 0, 0, 0}, {0, 3, 0, 5, 1, 0, 0, 0}),   // week 6
      Zone(0, -60, {0, 10, 0, 0, 2, 0, 0, 0}, {0, 3, 0, 5, 1, 0, 0, 0}),   // week 0
      Zone(0, -60, {0, 10, 7, 5, 2, 0, 0, 0}, {0, 3, 0, 5, 1, 0, 0, 0}),   // weekday 7
      Zone(0, -60, {0, 13, 0, 5, 2, 0, 0, 0}, {0, 3, 0, 5, 1, 0, 0, 0}),   // month 13
      Zone(0, -60, {0, 10, 0, 5, 24, 0, 0, 0}, {0, 3, 0, 5, 1, 0, 0, 0}),  // hour 24
      Zone(0, -60, {2023, 2, 0, 29, 2, 0, 0, 0}, {0, 3, 0, 5, 1, 0, 0, 0}),  // no such day
      Zone(2000, 0, {}, {}),                                               // bias beyond a day
  };
  for (const auto& info : broken) EXPECT_EQ(TimeZoneRuleOf(info), std::nullopt) << info.Bias;
}

TEST(TimeZoneWin, LocalTimeAsWindowsComputesIt) {
  struct Case {
    const char* zone;
    const TIME_ZONE_INFORMATION* info;
    std::vector<std::int64_t> changes;  // UTC
  } cases[] = {
      {"London", &kLondon, {At(2024, 3, 31, 1, 0, 0), At(2024, 10, 27, 1, 0, 0), At(2025, 3, 30, 1, 0, 0)}},
      {"Sydney", &kSydney, {At(2024, 4, 6, 16, 0, 0), At(2024, 10, 5, 16, 0, 0), At(2024, 12, 31, 13, 0, 0)}},
      {"New York", &kNewYork, {At(2024, 3, 10, 7, 0, 0), At(2024, 11, 3, 6, 0, 0)}},
      {"China", &kChina, {At(2024, 2, 28, 16, 0, 0), At(2024, 12, 31, 16, 0, 0)}},
  };
  for (const auto& c : cases) {
    const auto rule = TimeZoneRuleOf(*c.info);
    ASSERT_TRUE(rule) << c.zone;
    std::vector<std::int64_t> instants;
    for (int month = 1; month <= 12; ++month) instants.push_back(At(2024, month, 15, 12, 0, 0));
    for (std::int64_t change : c.changes)
      for (int step : {-1, 0, 1}) instants.push_back(change + step);
    for (std::int64_t utc : instants) {
      const SYSTEMTIME utc_time = SystemTimeOf(utc);
      SYSTEMTIME local{};
      ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(c.info, &utc_time, &local)) << c.zone;
      EXPECT_EQ(Text(LocalSeconds(LocalTimeOf(*rule, utc))), Text(SecondsOf(local))) << c.zone << " at UTC " << Text(utc);

      // The way back, where the wall clock shows the second only once (the
      // seasons of these zones lie an hour apart).
      const std::int64_t local_seconds = SecondsOf(local);
      if (LocalSeconds(LocalTimeOf(*rule, utc - 3600)) == local_seconds ||
          LocalSeconds(LocalTimeOf(*rule, utc + 3600)) == local_seconds)
        continue;
      SYSTEMTIME back{};
      ASSERT_TRUE(TzSpecificLocalTimeToSystemTime(c.info, &local, &back)) << c.zone;
      EXPECT_EQ(Text(UtcOf(*rule, local_seconds)), Text(SecondsOf(back))) << c.zone << " at local " << Text(local_seconds);
    }
  }
}

}  // namespace
}  // namespace dadado::win32

// The 高级设置 tab names a zone as Windows does: the system's own, one the
// registry knows (China's), and a made-up one by nothing.
TEST(TimeZoneNameWin, ZonesAreNamedAsWindowsNamesThem) {
  EXPECT_FALSE(dadado::win32::TimeZoneNameOf(*dadado::win32::CurrentTimeZoneRule()).empty());
  EXPECT_FALSE(dadado::win32::TimeZoneNameOf(dadado::TimeZoneRule{-480, 0, 0, {}, {}}).empty());
  EXPECT_TRUE(dadado::win32::TimeZoneNameOf(dadado::TimeZoneRule{-473, 0, 0, {}, {}}).empty());
}
