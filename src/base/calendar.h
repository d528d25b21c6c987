// Local calendar dates and times, and the clock the program reads them from.
#pragma once

#include <cstdint>

namespace dadado {

struct Date {
  int year = 1970, month = 1, day = 1;
  bool operator==(const Date&) const = default;
};

struct LocalDateTime {
  Date date;
  int second_of_day = 0;  // 0 .. 86399
};

// Days since 1970-01-01 (proleptic Gregorian), negative before it.
std::int64_t DayNumber(const Date& d);
Date DateOfDayNumber(std::int64_t day);
// 0 = Sunday .. 6 = Saturday.
int WeekdayOf(std::int64_t day);
bool IsValidDate(int year, int month, int day);

// A local date and time as one running count of seconds; it moves with the
// wall clock, so a change of the clock shows as a jump.
inline std::int64_t LocalSeconds(const LocalDateTime& t) { return DayNumber(t.date) * 86400 + t.second_of_day; }
LocalDateTime FromLocalSeconds(std::int64_t seconds);

class Clock {
 public:
  virtual ~Clock() = default;
  // The local wall-clock time, to the whole second.
  virtual LocalDateTime Now() = 0;
};

}  // namespace dadado
