// The date and time texts of the settings file: any text parses or is
// refused, never more; what is accepted is a real date or time; what the
// program writes it reads back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/calendar.h"
#include "base/date_time_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (auto t = dadado::ParseTimeOfDay(text); t && (*t < 0 || *t >= 86400)) std::abort();
  if (auto e = dadado::ParseClockEntry(text); e && (*e < 0 || *e >= 86400)) std::abort();
  if (auto d = dadado::ParseDate(text); d && !dadado::IsValidDate(d->year, d->month, d->day)) std::abort();

  if (size >= 6) {
    std::uint32_t a = data[0] | data[1] << 8 | data[2] << 16, b = data[3] | data[4] << 8 | data[5] << 16;
    dadado::Date date = dadado::DateOfDayNumber(static_cast<std::int64_t>(a % 2900000) - 700000);
    if (date.year < 1000 || date.year > 9999) return 0;  // the program writes four-digit years
    int second = static_cast<int>(b % 86400);
    std::string written = dadado::FormatDateTimeText(date, second);
    if (dadado::ParseTimeOfDay(written) != second) std::abort();
    if (dadado::ParseDate(written) != date) std::abort();
    if (dadado::DayNumber(date) != static_cast<std::int64_t>(a % 2900000) - 700000) std::abort();
  }
  return 0;
}
