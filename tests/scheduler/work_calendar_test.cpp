#include "scheduler/work_calendar.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/date_time_text.h"

namespace dadado {
namespace {

std::int64_t Day(int y, int m, int d) { return DayNumber({y, m, d}); }
std::string DayText(std::int64_t day) { return FormatShortDate(DateOfDayNumber(day)); }

TEST(ParseCalendarDate, ReadsWholeRealDatesOnly) {
  struct Case {
    const char* text;
    std::optional<Date> date;
  };
  const Case cases[] = {
      {"2026/10/1", Date{2026, 10, 1}},
      {"2026/01/08", Date{2026, 1, 8}},
      {"2026-10-01", Date{2026, 10, 1}},
      {"2026.10.1", Date{2026, 10, 1}},
      {"2026年10月1日", Date{2026, 10, 1}},
      {"2026年10月1", Date{2026, 10, 1}},
      {" 2026/10/1\t", Date{2026, 10, 1}},
      {"2028/2/29", Date{2028, 2, 29}},
      {"2000/2/29", Date{2000, 2, 29}},
      {"2026/12/31", Date{2026, 12, 31}},
      {"2026/2/29", std::nullopt},  // not a leap year
      {"2100/2/29", std::nullopt},
      {"2026/2/30", std::nullopt},
      {"2026/4/31", std::nullopt},
      {"2026/13/1", std::nullopt},
      {"2026/0/1", std::nullopt},
      {"2026/1/0", std::nullopt},
      {"26/10/1", std::nullopt},    // a two-digit year could be any century
      {"12026/1/1", std::nullopt},
      {"0999/1/1", std::nullopt},
      {"2026/001/1", std::nullopt},
      {"2026/10-1", std::nullopt},  // mixed separators
      {"2026/10/1x", std::nullopt},
      {"2026/10/1 2026/10/2", std::nullopt},
      {"10/1/2026", std::nullopt},
      {"2026/10", std::nullopt},
      {"", std::nullopt},
      {"国庆节", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseCalendarDate(c.text), c.date) << c.text;
}

TEST(DateList, ReadsPastedTextWithAnySeparator) {
  struct Case {
    const char* text;
    const char* canonical;
  };
  const Case cases[] = {
      {"2026/10/1-2026/10/8,2027/1/1", "2026/10/1-2026/10/8,2027/1/1"},
      {"2026/10/1 ~ 2026/10/8，2027/1/1", "2026/10/1-2026/10/8,2027/1/1"},
      {"2026/10/1至2026/10/8、2027/1/1", "2026/10/1-2026/10/8,2027/1/1"},
      {"2026年10月1日 至 2026年10月8日\r\n2027年1月1日\n", "2026/10/1-2026/10/8,2027/1/1"},
      {"2026-10-01-2026-10-08, 2027-01-01", "2026/10/1-2026/10/8,2027/1/1"},
      {"2026/10/1 2027/1/1", "2026/10/1,2027/1/1"},
      {"  ,,，、 \n", ""},
      {"", ""},
      {"2026/10/1－2026/10/3；2026/10/5～2026/10/6;2026/10/8到2026/10/8", "2026/10/1-2026/10/3,2026/10/5-2026/10/6,2026/10/8"},
      {"2026/10/1　2026/10/3", "2026/10/1,2026/10/3"},  // the ideographic space
  };
  for (const Case& c : cases) {
    DateList list;
    const DateListReport report = list.Read(c.text);
    EXPECT_TRUE(report.ok()) << c.text;
    EXPECT_EQ(list.Text(), c.canonical) << c.text;
    DateList again;
    EXPECT_TRUE(again.Read(list.Text()).ok());
    EXPECT_EQ(again, list) << c.text;
  }
}

TEST(DateList, JoinsOverlappingAndAdjoiningRangesInOrder) {
  struct Case {
    const char* text;
    const char* canonical;
  };
  const Case cases[] = {
      {"2026/10/1-2026/10/5,2026/10/3-2026/10/8", "2026/10/1-2026/10/8"},
      {"2026/10/1-2026/10/8,2026/10/3-2026/10/4", "2026/10/1-2026/10/8"},
      {"2026/10/1-2026/10/3,2026/10/4-2026/10/8", "2026/10/1-2026/10/8"},
      {"2026/10/1,2026/10/2,2026/10/3", "2026/10/1-2026/10/3"},
      {"2026/10/1,2026/10/3", "2026/10/1,2026/10/3"},
      {"2027/1/1,2026/10/1,2027/1/1", "2026/10/1,2027/1/1"},
      {"2026/10/5-2026/10/8,2026/10/1-2026/10/4,2026/9/1", "2026/9/1,2026/10/1-2026/10/8"},
      {"2026/12/31,2027/1/1", "2026/12/31-2027/1/1"},
  };
  for (const Case& c : cases) {
    DateList list;
    list.Read(c.text);
    EXPECT_EQ(list.Text(), c.canonical) << c.text;
  }
}

TEST(DateList, ContainsEachDayOfARangeAndNoneBesideIt) {
  DateList list;
  list.Read("2026/12/30-2027/1/2,2027/2/10");
  const struct {
    std::int64_t day;
    bool in;
  } cases[] = {
      {Day(2026, 12, 29), false}, {Day(2026, 12, 30), true}, {Day(2026, 12, 31), true}, {Day(2027, 1, 1), true},
      {Day(2027, 1, 2), true},    {Day(2027, 1, 3), false},  {Day(2027, 2, 9), false},  {Day(2027, 2, 10), true},
      {Day(2027, 2, 11), false},  {Day(1970, 1, 1), false},
  };
  for (const auto& c : cases) EXPECT_EQ(list.Contains(c.day), c.in) << DayText(c.day);
}

TEST(DateList, KeepsTheGoodEntriesAndNamesTheBadOnes) {
  DateList list;
  const DateListReport report =
      list.Read("2026/10/1, 2026/2/30 ,国庆节,2026/10/8-2026/10/3,2026/10/9,2026/10/1 至 10/8,2026/10/12-,2027/1/1,"
                "2026/10/10号,2026/10/11-2026/10/13起");
  EXPECT_EQ(list.Text(), "2026/10/1,2026/10/9,2027/1/1");
  EXPECT_EQ(report.bad_entries, (std::vector<std::string>{"2026/2/30", "国庆节", "2026/10/8-2026/10/3", "2026/10/1 至 10/8",
                                                          "2026/10/12-", "2026/10/10号", "2026/10/11-2026/10/13起"}));
  EXPECT_EQ(report.bad_count, 7u);
  EXPECT_EQ(report.over_limit, 0u);
  EXPECT_FALSE(report.ok());
}

TEST(DateList, ANewTextReplacesTheOldList) {
  DateList list;
  list.Read("2026/10/1");
  list.Read("2027/1/1");
  EXPECT_FALSE(list.Contains(Day(2026, 10, 1)));
  EXPECT_TRUE(list.Contains(Day(2027, 1, 1)));
  list.Read("");
  EXPECT_TRUE(list.empty());
}

TEST(DateList, KeepsAtMostTheLimitOfEntries) {
  // Every other day, so that no two entries join.
  std::string text;
  const std::int64_t first = Day(2026, 1, 1);
  for (std::size_t i = 0; i < DateList::kMaxEntries + 5; ++i) text += DayText(first + 2 * i) + ",";
  DateList list;
  const DateListReport report = list.Read(text);
  EXPECT_EQ(list.ranges().size(), DateList::kMaxEntries);
  EXPECT_EQ(report.over_limit, 5u);
  EXPECT_EQ(report.bad_count, 0u);
  EXPECT_FALSE(report.ok());
  EXPECT_TRUE(list.Contains(first + 2 * (DateList::kMaxEntries - 1)));
  EXPECT_FALSE(list.Contains(first + 2 * DateList::kMaxEntries));
}

TEST(DateList, AHostileTextCostsABoundedReport) {
  std::string text;
  for (int i = 0; i < 100000; ++i) text += "x,";
  text += std::string(10000, 'y') + "," + "放假" + std::string(3000, 'z');
  text += ",";
  for (int i = 0; i < 40; ++i) text += "节";  // three bytes each: the cut must not split one
  DateList list;
  const DateListReport report = list.Read(text);
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(report.bad_count, 100003u);
  ASSERT_EQ(report.bad_entries.size(), DateList::kMaxReportedBadEntries);
  for (const std::string& bad : report.bad_entries) EXPECT_LE(bad.size(), DateList::kMaxBadEntryBytes + 3);

  DateList few;
  const DateListReport shortened = few.Read(std::string(10000, 'y') + ",放假" + std::string(3000, 'z') + ",a节节节节节节节节节节节节节节节节节节节节节节节节");
  ASSERT_EQ(shortened.bad_entries.size(), 3u);
  EXPECT_EQ(shortened.bad_entries[0], std::string(DateList::kMaxBadEntryBytes, 'y') + "…");
  EXPECT_EQ(shortened.bad_entries[1], "放假" + std::string(DateList::kMaxBadEntryBytes - 6, 'z') + "…");
  // The 60th byte falls inside the twentieth character: the cut keeps nineteen.
  EXPECT_EQ(shortened.bad_entries[2], "a节节节节节节节节节节节节节节节节节节节…");
}

TEST(DateList, ARangeOfCenturiesIsOneEntry) {
  DateList list;
  EXPECT_TRUE(list.Read("1000/1/1-9999/12/31").ok());
  EXPECT_EQ(list.ranges().size(), 1u);
  EXPECT_TRUE(list.Contains(Day(5000, 6, 15)));
  EXPECT_TRUE(list.Touches(1000));
  EXPECT_TRUE(list.Touches(9999));
  EXPECT_FALSE(list.Touches(999));
}

TEST(DateList, TouchesTheYearsItsDaysFallIn) {
  DateList list;
  list.Read("2026/12/31-2027/1/1,2029/6/1");
  const struct {
    int year;
    bool touched;
  } cases[] = {{2025, false}, {2026, true}, {2027, true}, {2028, false}, {2029, true}, {2030, false}, {0, false}, {10000, false}};
  for (const auto& c : cases) EXPECT_EQ(list.Touches(c.year), c.touched) << c.year;
  EXPECT_FALSE(DateList().Touches(2026));
}

struct CalendarTest : ::testing::Test {
  // Holidays from Thursday 10/1 to Thursday 10/8; Sunday 9/27 and Saturday
  // 10/10 are worked in their place.
  CalendarTest() {
    EXPECT_TRUE(calendar.SetHolidays("2026/10/1-2026/10/8").ok());
    EXPECT_TRUE(calendar.SetExtraWorkdays("2026/9/27,2026/10/10").ok());
  }
  WorkCalendar calendar;
};

TEST_F(CalendarTest, WeekdaysWorkUnlessAHolidayAndExtraWorkdaysWork) {
  const struct {
    std::int64_t day;
    bool working;
  } cases[] = {
      {Day(2026, 9, 25), true},   // Friday
      {Day(2026, 9, 26), false},  // Saturday
      {Day(2026, 9, 27), true},   // Sunday made a working day
      {Day(2026, 9, 30), true},   // Wednesday
      {Day(2026, 10, 1), false},  // Thursday, holiday
      {Day(2026, 10, 5), false},  // Monday, holiday
      {Day(2026, 10, 8), false},  // Thursday, last holiday
      {Day(2026, 10, 9), true},   // Friday
      {Day(2026, 10, 10), true},  // Saturday made a working day
      {Day(2026, 10, 11), false}, // Sunday
      {Day(2026, 10, 12), true},  // Monday
  };
  for (const auto& c : cases) {
    EXPECT_EQ(calendar.IsWorkingDay(c.day), c.working) << DayText(c.day);
    EXPECT_EQ(calendar.IsRestDay(c.day), !c.working) << DayText(c.day);
  }
}

TEST_F(CalendarTest, ADateOnBothListsIsWorked) {
  calendar.SetExtraWorkdays("2026/10/5");
  EXPECT_TRUE(calendar.IsWorkingDay(Day(2026, 10, 5)));
  EXPECT_FALSE(calendar.IsWorkingDay(Day(2026, 10, 10)));  // no longer on the list
}

TEST(WorkCalendar, WithoutListsMondayToFridayWork) {
  WorkCalendar calendar;
  // 2026/12/6 is a Sunday.
  const bool expected[] = {false, true, true, true, true, true, false};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(calendar.IsWorkingDay(Day(2026, 12, 6) + i), expected[i]) << i;
  EXPECT_FALSE(calendar.HasDateIn(2026));
  EXPECT_EQ(calendar.HolidaysText(), "");
}

TEST(WorkCalendar, HasDateInLooksAtBothLists) {
  WorkCalendar calendar;
  calendar.SetHolidays("2026/12/31-2027/1/2");
  calendar.SetExtraWorkdays("2028/10/14");
  EXPECT_TRUE(calendar.HasDateIn(2026));
  EXPECT_TRUE(calendar.HasDateIn(2027));
  EXPECT_TRUE(calendar.HasDateIn(2028));
  EXPECT_FALSE(calendar.HasDateIn(2029));
  EXPECT_FALSE(calendar.HasDateIn(2025));
  EXPECT_EQ(calendar.HolidaysText(), "2026/12/31-2027/1/2");
  EXPECT_EQ(calendar.ExtraWorkdaysText(), "2028/10/14");
}

}  // namespace
}  // namespace dadado
