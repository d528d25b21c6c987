#include "base/calendar.h"

namespace dadado {

// Howard Hinnant's days-from-civil and civil-from-days.
std::int64_t DayNumber(const Date& d) {
  std::int64_t y = d.year - (d.month <= 2 ? 1 : 0);
  std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  std::int64_t yoe = y - era * 400;
  std::int64_t mp = (d.month + 9) % 12;
  std::int64_t doy = (153 * mp + 2) / 5 + d.day - 1;
  std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

Date DateOfDayNumber(std::int64_t z) {
  z += 719468;
  std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  std::int64_t doe = z - era * 146097;
  std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  std::int64_t y = yoe + era * 400;
  std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  std::int64_t mp = (5 * doy + 2) / 153;
  int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return Date{static_cast<int>(y + (m <= 2 ? 1 : 0)), m, d};
}

int WeekdayOf(std::int64_t day) {
  // 1970-01-01 was a Thursday.
  std::int64_t w = (day + 4) % 7;
  return static_cast<int>(w < 0 ? w + 7 : w);
}

bool IsValidDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

LocalDateTime FromLocalSeconds(std::int64_t seconds) {
  std::int64_t day = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
  return LocalDateTime{DateOfDayNumber(day), static_cast<int>(seconds - day * 86400)};
}

}  // namespace dadado
