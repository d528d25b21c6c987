#include "base/date_time_text.h"

#include <gtest/gtest.h>

namespace dadado {
namespace {

TEST(DateTimeText, ReadsWhatItWrites) {
  Date d{2026, 12, 7};
  EXPECT_EQ(FormatDateTimeText(d, 15 * 3600 + 4 * 60 + 5), "2026/12/7 15:04:05");
  EXPECT_EQ(ParseTimeOfDay(FormatDateTimeText(d, 0)), 0);
  EXPECT_EQ(ParseTimeOfDay(FormatDateTimeText(d, 86399)), 86399);
  EXPECT_EQ(ParseDate(FormatShortDate(d)), d);
}

TEST(DateTimeText, TimeForms) {
  EXPECT_EQ(ParseTimeOfDay("15:04:05"), 15 * 3600 + 245);
  EXPECT_EQ(ParseTimeOfDay("2026-12-07 7:08"), 7 * 3600 + 480);
  EXPECT_EQ(ParseTimeOfDay("2026/12/7 下午 3:04:05"), 15 * 3600 + 245);
  EXPECT_EQ(ParseTimeOfDay("上午 12:00:01"), 1);
  EXPECT_EQ(ParseTimeOfDay("12/7/2026 3:04:05 PM"), 15 * 3600 + 245);
  EXPECT_EQ(ParseTimeOfDay("12:00:00 PM"), 12 * 3600);
  for (const char* bad : {"", "abc", "25:00:00", "12:60", "12:5", "08:61", "2026/12/7", "123:00"})
    EXPECT_EQ(ParseTimeOfDay(bad), std::nullopt) << bad;
}

TEST(DateTimeText, DateForms) {
  EXPECT_EQ(ParseDate("2026/12/7"), (Date{2026, 12, 7}));
  EXPECT_EQ(ParseDate("2026-12-07"), (Date{2026, 12, 7}));
  EXPECT_EQ(ParseDate("2026.1.2"), (Date{2026, 1, 2}));
  EXPECT_EQ(ParseDate("2026年12月7日"), (Date{2026, 12, 7}));
  EXPECT_EQ(ParseDate("12/7/2026"), (Date{2026, 12, 7}));
  EXPECT_EQ(ParseDate("2024/2/29 10:00:00"), (Date{2024, 2, 29}));
  for (const char* bad : {"", "tomorrow", "2026/13/1", "2025/2/29", "7/12/26", "2026/12", "99999/1/1"})
    EXPECT_EQ(ParseDate(bad), std::nullopt) << bad;
}

TEST(DateTimeText, AllowedHoursEntries) {
  EXPECT_EQ(ParseClockEntry("08:00"), 8 * 3600);
  EXPECT_EQ(ParseClockEntry("8:30"), 8 * 3600 + 1800);
  EXPECT_EQ(ParseClockEntry(" 23:00 "), 23 * 3600);
  for (const char* bad : {"", "ab", "25:00", "08:61", "0800", "08:00x", "08:00:00:00", "-1:00"})
    EXPECT_EQ(ParseClockEntry(bad), std::nullopt) << bad;
}

}  // namespace
}  // namespace dadado
