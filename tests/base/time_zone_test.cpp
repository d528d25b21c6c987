#include "base/time_zone.h"

#include <gtest/gtest.h>

#include <string>

#include "base/date_time_text.h"

namespace dadado {
namespace {

// Seconds for a date and time, read as UTC or as the wall clock alike.
std::int64_t At(int y, int mo, int d, int h, int mi, int s) {
  return DayNumber({y, mo, d}) * 86400 + h * 3600 + mi * 60 + s;
}

std::string Text(std::int64_t seconds) {
  const LocalDateTime t = FromLocalSeconds(seconds);
  return FormatDateTimeText(t.date, t.second_of_day);
}

// The rules Windows gives for these zones.
const TimeZoneRule kChina{-480, 0, 0, {}, {}};
const TimeZoneRule kLondon{0, 0, -60, {0, 10, 5, 0, 0, 2 * 3600}, {0, 3, 5, 0, 0, 1 * 3600}};
const TimeZoneRule kNewYork{300, 0, -60, {0, 11, 1, 0, 0, 2 * 3600}, {0, 3, 2, 0, 0, 2 * 3600}};
const TimeZoneRule kSydney{-600, 0, -60, {0, 4, 1, 0, 0, 3 * 3600}, {0, 10, 1, 0, 0, 2 * 3600}};
// London's changes of 2024 only, and Sydney's of 2024 only.
const TimeZoneRule kLondon2024{0, 0, -60, {2024, 10, 0, 0, 27, 2 * 3600}, {2024, 3, 0, 0, 31, 1 * 3600}};
const TimeZoneRule kSydney2024{-600, 0, -60, {2024, 4, 0, 0, 7, 3 * 3600}, {2024, 10, 0, 0, 6, 2 * 3600}};

struct Instant {
  const char* what;
  const TimeZoneRule* rule;
  std::int64_t utc;
  std::int64_t local;
};

TEST(TimeZone, LocalTimeAcrossEachChange) {
  const Instant cases[] = {
      // London 2024: forward at 01:00 UTC on 31 March (five Sundays in the
      // month), back at 01:00 UTC on 27 October (four Sundays).
      {"London winter", &kLondon, At(2024, 1, 15, 12, 0, 0), At(2024, 1, 15, 12, 0, 0)},
      {"London before spring", &kLondon, At(2024, 3, 31, 0, 59, 59), At(2024, 3, 31, 0, 59, 59)},
      {"London at spring", &kLondon, At(2024, 3, 31, 1, 0, 0), At(2024, 3, 31, 2, 0, 0)},
      {"London after spring", &kLondon, At(2024, 3, 31, 1, 0, 1), At(2024, 3, 31, 2, 0, 1)},
      {"London summer", &kLondon, At(2024, 7, 1, 23, 30, 0), At(2024, 7, 2, 0, 30, 0)},
      {"London before autumn", &kLondon, At(2024, 10, 27, 0, 59, 59), At(2024, 10, 27, 1, 59, 59)},
      {"London at autumn", &kLondon, At(2024, 10, 27, 1, 0, 0), At(2024, 10, 27, 1, 0, 0)},
      {"London after autumn", &kLondon, At(2024, 10, 27, 1, 0, 1), At(2024, 10, 27, 1, 0, 1)},
      {"London new year", &kLondon, At(2024, 12, 31, 23, 59, 59), At(2024, 12, 31, 23, 59, 59)},
      // 2025: the last Sunday of March is the 30th (five Sundays would need the 31st).
      {"London 2025 before spring", &kLondon, At(2025, 3, 30, 0, 59, 59), At(2025, 3, 30, 0, 59, 59)},
      {"London 2025 at spring", &kLondon, At(2025, 3, 30, 1, 0, 0), At(2025, 3, 30, 2, 0, 0)},
      // New York 2024: the second Sunday of March at 02:00 EST, the first of
      // November at 02:00 EDT.
      {"New York before spring", &kNewYork, At(2024, 3, 10, 6, 59, 59), At(2024, 3, 10, 1, 59, 59)},
      {"New York at spring", &kNewYork, At(2024, 3, 10, 7, 0, 0), At(2024, 3, 10, 3, 0, 0)},
      {"New York before autumn", &kNewYork, At(2024, 11, 3, 5, 59, 59), At(2024, 11, 3, 1, 59, 59)},
      {"New York at autumn", &kNewYork, At(2024, 11, 3, 6, 0, 0), At(2024, 11, 3, 1, 0, 0)},
      {"New York local midnight", &kNewYork, At(2025, 1, 1, 5, 0, 0), At(2025, 1, 1, 0, 0, 0)},
      // Sydney: daylight time over the new year, back on the first Sunday of
      // April at 03:00 AEDT, forward on the first Sunday of October at 02:00 AEST.
      {"Sydney new year", &kSydney, At(2023, 12, 31, 12, 59, 59), At(2023, 12, 31, 23, 59, 59)},
      {"Sydney new year at", &kSydney, At(2023, 12, 31, 13, 0, 0), At(2024, 1, 1, 0, 0, 0)},
      {"Sydney before autumn", &kSydney, At(2024, 4, 6, 15, 59, 59), At(2024, 4, 7, 2, 59, 59)},
      {"Sydney at autumn", &kSydney, At(2024, 4, 6, 16, 0, 0), At(2024, 4, 7, 2, 0, 0)},
      {"Sydney winter", &kSydney, At(2024, 7, 1, 0, 0, 0), At(2024, 7, 1, 10, 0, 0)},
      {"Sydney before spring", &kSydney, At(2024, 10, 5, 15, 59, 59), At(2024, 10, 6, 1, 59, 59)},
      {"Sydney at spring", &kSydney, At(2024, 10, 5, 16, 0, 0), At(2024, 10, 6, 3, 0, 0)},
      {"Sydney after spring", &kSydney, At(2024, 10, 5, 16, 0, 1), At(2024, 10, 6, 3, 0, 1)},
      // China: eight hours ahead all year, over leap days and the year's end.
      {"China leap day begins", &kChina, At(2024, 2, 28, 16, 0, 0), At(2024, 2, 29, 0, 0, 0)},
      {"China leap day ends", &kChina, At(2024, 2, 29, 15, 59, 59), At(2024, 2, 29, 23, 59, 59)},
      {"China after leap day", &kChina, At(2024, 2, 29, 16, 0, 0), At(2024, 3, 1, 0, 0, 0)},
      {"China no leap day", &kChina, At(2023, 2, 28, 16, 0, 0), At(2023, 3, 1, 0, 0, 0)},
      {"China no leap day 2100", &kChina, At(2100, 2, 28, 16, 0, 0), At(2100, 3, 1, 0, 0, 0)},
      {"China leap day 2000", &kChina, At(2000, 2, 28, 16, 0, 0), At(2000, 2, 29, 0, 0, 0)},
      {"China summer", &kChina, At(2024, 7, 1, 0, 0, 0), At(2024, 7, 1, 8, 0, 0)},
      {"China new year", &kChina, At(2024, 12, 31, 16, 0, 0), At(2025, 1, 1, 0, 0, 0)},
      {"China before 1970", &kChina, At(1969, 12, 31, 15, 59, 59), At(1969, 12, 31, 23, 59, 59)},
      // Changes that happen once: in their year as the recurring rule, in
      // other years the season the changes leave.
      {"London 2024 only, spring", &kLondon2024, At(2024, 3, 31, 1, 0, 0), At(2024, 3, 31, 2, 0, 0)},
      {"London 2024 only, autumn", &kLondon2024, At(2024, 10, 27, 0, 59, 59), At(2024, 10, 27, 1, 59, 59)},
      {"London 2024 only, after", &kLondon2024, At(2024, 10, 27, 1, 0, 0), At(2024, 10, 27, 1, 0, 0)},
      {"London 2024 only, 2023 summer", &kLondon2024, At(2023, 7, 1, 12, 0, 0), At(2023, 7, 1, 12, 0, 0)},
      {"London 2024 only, 2025 summer", &kLondon2024, At(2025, 7, 1, 12, 0, 0), At(2025, 7, 1, 12, 0, 0)},
      {"Sydney 2024 only, before autumn", &kSydney2024, At(2024, 4, 6, 15, 59, 59), At(2024, 4, 7, 2, 59, 59)},
      {"Sydney 2024 only, winter", &kSydney2024, At(2024, 7, 1, 0, 0, 0), At(2024, 7, 1, 10, 0, 0)},
      {"Sydney 2024 only, at spring", &kSydney2024, At(2024, 10, 5, 16, 0, 0), At(2024, 10, 6, 3, 0, 0)},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Text(LocalSeconds(LocalTimeOf(*c.rule, c.utc))), Text(c.local)) << c.what;
}

TEST(TimeZone, UtcOfSkippedAndRepeatedSeconds) {
  const Instant cases[] = {
      // London, 31 March 2024: 01:00:00 .. 01:59:59 never show; the first
      // second after the jump is 01:00:00 UTC.
      {"London before the gap", &kLondon, At(2024, 3, 31, 0, 59, 59), At(2024, 3, 31, 0, 59, 59)},
      {"London gap start", &kLondon, At(2024, 3, 31, 1, 0, 0), At(2024, 3, 31, 1, 0, 0)},
      {"London in the gap", &kLondon, At(2024, 3, 31, 1, 0, 0), At(2024, 3, 31, 1, 30, 0)},
      {"London gap end", &kLondon, At(2024, 3, 31, 1, 0, 0), At(2024, 3, 31, 1, 59, 59)},
      {"London after the gap", &kLondon, At(2024, 3, 31, 1, 0, 0), At(2024, 3, 31, 2, 0, 0)},
      {"London after the gap + 1", &kLondon, At(2024, 3, 31, 1, 0, 1), At(2024, 3, 31, 2, 0, 1)},
      // London, 27 October 2024: 01:00:00 .. 01:59:59 show twice; the first time counts.
      {"London before the repeat", &kLondon, At(2024, 10, 26, 23, 59, 59), At(2024, 10, 27, 0, 59, 59)},
      {"London repeat start", &kLondon, At(2024, 10, 27, 0, 0, 0), At(2024, 10, 27, 1, 0, 0)},
      {"London repeat end", &kLondon, At(2024, 10, 27, 0, 59, 59), At(2024, 10, 27, 1, 59, 59)},
      {"London after the repeat", &kLondon, At(2024, 10, 27, 2, 0, 0), At(2024, 10, 27, 2, 0, 0)},
      // Sydney, 7 April 2024: 02:00:00 .. 02:59:59 show twice.
      {"Sydney before the repeat", &kSydney, At(2024, 4, 6, 14, 59, 59), At(2024, 4, 7, 1, 59, 59)},
      {"Sydney repeat start", &kSydney, At(2024, 4, 6, 15, 0, 0), At(2024, 4, 7, 2, 0, 0)},
      {"Sydney repeat end", &kSydney, At(2024, 4, 6, 15, 59, 59), At(2024, 4, 7, 2, 59, 59)},
      {"Sydney after the repeat", &kSydney, At(2024, 4, 6, 17, 0, 0), At(2024, 4, 7, 3, 0, 0)},
      // Sydney, 6 October 2024: 02:00:00 .. 02:59:59 never show.
      {"Sydney before the gap", &kSydney, At(2024, 10, 5, 15, 59, 59), At(2024, 10, 6, 1, 59, 59)},
      {"Sydney gap start", &kSydney, At(2024, 10, 5, 16, 0, 0), At(2024, 10, 6, 2, 0, 0)},
      {"Sydney gap end", &kSydney, At(2024, 10, 5, 16, 0, 0), At(2024, 10, 6, 2, 59, 59)},
      {"Sydney after the gap", &kSydney, At(2024, 10, 5, 16, 0, 0), At(2024, 10, 6, 3, 0, 0)},
      {"Sydney after the gap + 1", &kSydney, At(2024, 10, 5, 16, 0, 1), At(2024, 10, 6, 3, 0, 1)},
      // New York's gap and repeat.
      {"New York in the gap", &kNewYork, At(2024, 3, 10, 7, 0, 0), At(2024, 3, 10, 2, 30, 0)},
      {"New York in the repeat", &kNewYork, At(2024, 11, 3, 5, 30, 0), At(2024, 11, 3, 1, 30, 0)},
      // Once-only changes behave alike in their year.
      {"London 2024 only, in the gap", &kLondon2024, At(2024, 3, 31, 1, 0, 0), At(2024, 3, 31, 1, 30, 0)},
      {"London 2024 only, in the repeat", &kLondon2024, At(2024, 10, 27, 0, 30, 0), At(2024, 10, 27, 1, 30, 0)},
      {"London 2024 only, 2025", &kLondon2024, At(2025, 7, 1, 12, 0, 0), At(2025, 7, 1, 12, 0, 0)},
      // China has neither.
      {"China", &kChina, At(2024, 2, 29, 15, 59, 59), At(2024, 2, 29, 23, 59, 59)},
  };
  for (const auto& c : cases) EXPECT_EQ(Text(UtcOf(*c.rule, c.local)), Text(c.utc)) << c.what;
}

TEST(TimeZone, LastWeekdayOfMonthWithFourOrFiveOfThem) {
  struct Case {
    int year, month, week, day_of_week, expected_day;
  } cases[] = {
      {2024, 3, 5, 0, 31},  // five Sundays
      {2024, 3, 4, 0, 24},
      {2024, 10, 5, 0, 27},  // four Sundays: the fourth is the last
      {2024, 10, 4, 0, 27},
      {2024, 2, 5, 4, 29},  // leap February with five Thursdays
      {2023, 2, 5, 4, 23},  // four Thursdays
      {2025, 2, 5, 6, 22},  // February of exactly four weeks
      {2024, 11, 1, 5, 1},  // first Friday on the first
      {2024, 11, 1, 0, 3},
      {2024, 12, 5, 2, 31},  // last Tuesday on the year's last day
  };
  for (const auto& c : cases) {
    // Daylight time starts on the date at 02:00 and ends half a year away.
    TimeZoneRule rule{0, 0, -60, {0, c.month <= 6 ? 11 : 2, 1, 0, 0, 0}, {0, c.month, c.week, c.day_of_week, 0, 7200}};
    const std::int64_t change = At(c.year, c.month, c.expected_day, 2, 0, 0);
    EXPECT_EQ(LocalSeconds(LocalTimeOf(rule, change - 1)), change - 1) << c.year << "/" << c.month << " week " << c.week;
    EXPECT_EQ(LocalSeconds(LocalTimeOf(rule, change)), change + 3600) << c.year << "/" << c.month << " week " << c.week;
  }
}

TEST(TimeZone, EveryLocalSecondMapsBackToItsEarliestUtc) {
  // Every hour of two years, and the seconds around each change.
  for (const TimeZoneRule* rule : {&kChina, &kLondon, &kNewYork, &kSydney, &kLondon2024, &kSydney2024}) {
    for (std::int64_t utc = At(2023, 12, 1, 0, 0, 0); utc < At(2025, 12, 31, 0, 0, 0); utc += 3600) {
      for (std::int64_t u : {utc - 1, utc, utc + 1}) {
        const std::int64_t local = LocalSeconds(LocalTimeOf(*rule, u));
        const std::int64_t back = UtcOf(*rule, local);
        ASSERT_EQ(LocalSeconds(LocalTimeOf(*rule, back)), local) << FormatTimeZoneRule(*rule) << " " << Text(u);
        // Only the second pass of a repeated hour maps to an earlier second.
        ASSERT_TRUE(back == u || back == u - 3600) << FormatTimeZoneRule(*rule) << " " << Text(u);
      }
    }
  }
}

TEST(TimeZone, NextClockChangeIsTheFirstSecondOnTheOtherSeasonsClock) {
  const struct {
    const char* what;
    const TimeZoneRule* rule;
    std::int64_t utc;
    std::optional<std::int64_t> change;
  } cases[] = {
      {"London in winter", &kLondon, At(2024, 1, 15, 12, 0, 0), At(2024, 3, 31, 1, 0, 0)},
      {"London a second before spring", &kLondon, At(2024, 3, 31, 0, 59, 59), At(2024, 3, 31, 1, 0, 0)},
      {"London at spring", &kLondon, At(2024, 3, 31, 1, 0, 0), At(2024, 10, 27, 1, 0, 0)},
      {"London late in the year", &kLondon, At(2024, 12, 31, 23, 0, 0), At(2025, 3, 30, 1, 0, 0)},
      {"Sydney over the new year", &kSydney, At(2023, 12, 31, 13, 0, 0), At(2024, 4, 6, 16, 0, 0)},
      {"Sydney in winter", &kSydney, At(2024, 7, 1, 0, 0, 0), At(2024, 10, 5, 16, 0, 0)},
      {"London 2024 only, before its autumn", &kLondon2024, At(2024, 7, 1, 0, 0, 0), At(2024, 10, 27, 1, 0, 0)},
      {"London 2024 only, after it", &kLondon2024, At(2024, 11, 1, 0, 0, 0), std::nullopt},
      {"China", &kChina, At(2024, 3, 31, 0, 59, 59), std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(NextClockChange(*c.rule, c.utc), c.change) << c.what;
  // Whenever the clock's offset differs an hour later, the change lies within that hour.
  for (const TimeZoneRule* rule : {&kLondon, &kNewYork, &kSydney, &kSydney2024}) {
    auto offset = [&](std::int64_t u) { return u - LocalSeconds(LocalTimeOf(*rule, u)); };
    for (std::int64_t utc = At(2023, 12, 1, 0, 0, 0); utc < At(2025, 12, 31, 0, 0, 0); utc += 3600) {
      const auto change = NextClockChange(*rule, utc);
      if (offset(utc + 3600) == offset(utc)) {
        ASSERT_TRUE(!change || *change > utc + 3600) << FormatTimeZoneRule(*rule) << " " << Text(utc);
        continue;
      }
      ASSERT_TRUE(change && *change > utc && *change <= utc + 3600) << FormatTimeZoneRule(*rule) << " " << Text(utc);
      ASSERT_NE(offset(*change), offset(*change - 1)) << FormatTimeZoneRule(*rule) << " " << Text(utc);
    }
  }
}

TEST(TimeZone, WithoutBothDatesThereIsNoDaylightTime) {
  // Windows gives many such zones a daylight bias all the same; it must not count.
  const TimeZoneRule no_dates{-180, 0, -60, {}, {}};
  const TimeZoneRule one_date{-180, 0, -60, {}, {0, 3, 5, 0, 0, 7200}};
  for (const TimeZoneRule* rule : {&no_dates, &one_date}) {
    EXPECT_FALSE(HasDaylightTime(*rule));
    EXPECT_EQ(LocalSeconds(LocalTimeOf(*rule, At(2024, 7, 1, 0, 0, 0))), At(2024, 7, 1, 3, 0, 0));
    EXPECT_EQ(UtcOf(*rule, At(2024, 3, 31, 2, 30, 0)), At(2024, 3, 30, 23, 30, 0));
  }
}

TEST(TimeZone, FormatWritesOneReadableLine) {
  EXPECT_EQ(FormatTimeZoneRule(kChina), "-480");
  EXPECT_EQ(FormatTimeZoneRule(kLondon), "0,0,-60,10/5/0/7200,3/5/0/3600");
  EXPECT_EQ(FormatTimeZoneRule(kSydney), "-600,0,-60,4/1/0/10800,10/1/0/7200");
  EXPECT_EQ(FormatTimeZoneRule(kLondon2024), "0,0,-60,2024-10-27/7200,2024-3-31/3600");
  EXPECT_EQ(FormatTimeZoneRule(TimeZoneRule{-180, 0, -60, {}, {}}), "-180,0,-60,0,0");
}

TEST(TimeZone, FormatAndParseRoundTrip) {
  const TimeZoneRule rules[] = {
      kChina,
      kLondon,
      kNewYork,
      kSydney,
      kLondon2024,
      kSydney2024,
      {},
      {-180, 0, -60, {}, {}},
      {1440, -1440, 1440, {9999, 12, 0, 0, 31, 86399}, {1, 1, 0, 0, 1, 0}},
      {-1440, 1440, -1440, {0, 12, 5, 6, 0, 86399}, {0, 1, 1, 0, 0, 0}},
      {570, 30, -30, {2024, 2, 0, 0, 29, 1}, {}},
  };
  for (const auto& rule : rules) {
    const std::string text = FormatTimeZoneRule(rule);
    EXPECT_LE(text.size(), 140u) << text;
    EXPECT_EQ(text.find_first_not_of("0123456789-,/"), std::string::npos) << text;
    EXPECT_EQ(ParseTimeZoneRule(text), rule) << text;
  }
  // Blanks an administrator puts around the fields are read past.
  EXPECT_EQ(ParseTimeZoneRule(" 0, 0, -60, 10/5/0/7200, 3/5/0/3600 "), kLondon);
}

TEST(TimeZone, ParseRefusesWhatIsNotARule) {
  const std::string bad[] = {
      "",
      " ",
      "abc",
      "-",
      "+480",
      "480x",
      "0x10",
      "1e3",
      "4 80",
      "1441",
      "-1441",
      "999999999999999999999",
      "-480,",
      "-480\n",
      "-480=0",
      std::string("-480\0", 5),
      "0,0,-60",
      "0,0,-60,10/5/0/7200",
      "0,0,-60,10/5/0/7200,3/5/0/3600,",
      "0,0,-60,10/5/0/7200,3/5/0/3600,0",
      "0,1441,-60,10/5/0/7200,3/5/0/3600",
      "0,0,-1441,10/5/0/7200,3/5/0/3600",
      "0,0,-60,13/5/0/7200,3/5/0/3600",      // month
      "0,0,-60,0/5/0/7200,3/5/0/3600",       // month 0 is written 0
      "0,0,-60,10/0/0/7200,3/5/0/3600",      // week
      "0,0,-60,10/6/0/7200,3/5/0/3600",      // week
      "0,0,-60,10/5/7/7200,3/5/0/3600",      // weekday
      "0,0,-60,10/5/-1/7200,3/5/0/3600",     // weekday
      "0,0,-60,10/5/0/86400,3/5/0/3600",     // a whole day
      "0,0,-60,10/5/0/-1,3/5/0/3600",        // time
      "0,0,-60,10/5/0,3/5/0/3600",           // no time
      "0,0,-60,10/5/0/7200/1,3/5/0/3600",    // too much
      "0,0,-60,10//0/7200,3/5/0/3600",       // empty part
      "0,0,-60,10/5/0/7200,3/5/0/3600x",     // trailing text
      "0,0,-60,2023-2-29/0,3/5/0/3600",      // no such day
      "0,0,-60,2024-13-1/0,3/5/0/3600",      // no such month
      "0,0,-60,2024-4-31/0,3/5/0/3600",      // no such day
      "0,0,-60,0-1-1/0,3/5/0/3600",          // no year 0
      "0,0,-60,2024-3-10,3/5/0/3600",        // no time
      "0,0,-60,2024-3/7200,3/5/0/3600",      // no day
      "0,0,-60,2024-3-10-1/7200,3/5/0/3600",
      "0,0,-60,2024-3-10/86400,3/5/0/3600",
      "0,0,-60,00,0",
      "0,0,-60,,0",
      "0,0,-60,0,0" + std::string(130, ' '),  // longer than a value may be
      "０",                                     // full-width digit
  };
  for (const auto& text : bad) EXPECT_EQ(ParseTimeZoneRule(text), std::nullopt) << "[" << text << "]";
}

class SettableUtcClock : public UtcClock {
 public:
  std::int64_t now = 0;
  std::int64_t UtcNow() override { return now; }
};

// What the guard pins: every zone some place has, and nothing beyond; when
// the system's is beyond, its standard time where that is near enough.
TEST(TimeZone, OnlyAZoneSomePlaceHasMayBePinned) {
  struct Case {
    const char* rule;
    bool may;
    const char* fallback;
    const char* offset;
  } cases[] = {
      {"-841", false, "-480", "(UTC+14:01)"},
      {"210,0,-60,11/1/0/7200,3/2/0/7200", true, "210", "(UTC-03:30)"},
      {"-60,0,-180,10/5/0/7200,3/5/0/3600", false, "-60", "(UTC+01:00)"},
      {"-780,0,-120,4/1/0/10800,9/5/0/7200", false, "-780", "(UTC+13:00)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rule);
    const TimeZoneRule rule = *ParseTimeZoneRule(c.rule);
    EXPECT_EQ(MayBePinned(rule), c.may);
    EXPECT_EQ(FormatTimeZoneRule(FallbackZone(rule)), c.fallback);
    EXPECT_EQ(UtcOffsetText(rule), c.offset);
  }
  EXPECT_EQ(FormatTimeZoneRule(FallbackZone(std::nullopt)), "-480");
}

TEST(TimeZone, PinnedClockKeepsItsRuleWhateverTheSystemZone) {
  SettableUtcClock utc;
  PinnedClock clock(utc, kChina);
  utc.now = At(2024, 3, 31, 0, 59, 59);
  EXPECT_EQ(Text(LocalSeconds(clock.Now())), "2024/3/31 8:59:59");

  // Pinned to London, it follows London's jump as UTC goes on.
  clock.SetRule(kLondon);
  EXPECT_EQ(clock.Rule(), kLondon);
  EXPECT_EQ(Text(LocalSeconds(clock.Now())), "2024/3/31 0:59:59");
  utc.now += 1;
  EXPECT_EQ(Text(LocalSeconds(clock.Now())), "2024/3/31 2:00:00");
}

}  // namespace
}  // namespace dadado
