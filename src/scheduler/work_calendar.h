// The working-day calendar: Monday to Friday are working days, less the
// public holidays, plus the Saturdays and Sundays made working days in their
// place (调休). Schools and offices in China keep the State Council's list,
// on which a plain "Monday to Friday" is wrong several times a year.
//
// The two lists are texts the user pastes or types: dates and ranges of
// dates, e.g. "2026/10/1-2026/10/8,2027/1/1". They are kept as ranges, so a
// range of years costs no more than a single day.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/calendar.h"

namespace dadado {

// One date written as a whole: yyyy/m/d, yyyy-m-d, yyyy.m.d or yyyy年m月d日
// (the 日 may be left out), with a four-digit year from 1000; a real date only.
// Blanks around it are allowed; nothing else.
std::optional<Date> ParseCalendarDate(std::string_view text);

// The days `first` to `last`, both included, as day numbers.
struct DayRange {
  std::int64_t first = 0, last = 0;
  bool operator==(const DayRange&) const = default;
};

// What reading a list left out, so that a dialog can name the bad entries
// while the good ones are kept.
struct DateListReport {
  // The first few entries that are not a date or a range of dates (an end
  // before its start, a day that does not exist), shortened, as written.
  std::vector<std::string> bad_entries;
  // Every such entry, also those beyond the first few.
  std::size_t bad_count = 0;
  // Good entries left out because the list was already full.
  std::size_t over_limit = 0;
  bool ok() const { return bad_count == 0 && over_limit == 0; }
};

// A list of dates and ranges of dates.
class DateList {
 public:
  // A list this long is a year of holidays, day by day, almost three times
  // over; the limit keeps a hostile text from filling memory.
  static constexpr std::size_t kMaxEntries = 1000;
  static constexpr std::size_t kMaxReportedBadEntries = 20;
  static constexpr std::size_t kMaxBadEntryBytes = 60;

  // Replaces the list with what `text` holds. Entries are separated by
  // commas (also "，"), "、", line breaks or blanks; a range is two dates
  // joined by "-", "~" or "至" (also "－", "～", "到").
  DateListReport Read(std::string_view text);

  bool Contains(std::int64_t day) const;
  // Whether any day of the list falls in `year`.
  bool Touches(int year) const;
  // The canonical text: ascending, overlapping and adjoining ranges joined,
  // "2026/10/1-2026/10/8,2027/1/1". Reading it gives the same list.
  std::string Text() const;

  // Ascending, neither overlapping nor adjoining.
  const std::vector<DayRange>& ranges() const { return ranges_; }
  bool empty() const { return ranges_.empty(); }
  bool operator==(const DateList&) const = default;

 private:
  std::vector<DayRange> ranges_;
};

class WorkCalendar {
 public:
  DateListReport SetHolidays(std::string_view text) { return holidays_.Read(text); }
  DateListReport SetExtraWorkdays(std::string_view text) { return extra_workdays_.Read(text); }

  // Monday to Friday unless a holiday; any day on the extra-workday list.
  // A date on both lists is a working day: the extra list is the later,
  // more particular word.
  bool IsWorkingDay(std::int64_t day) const;
  bool IsRestDay(std::int64_t day) const { return !IsWorkingDay(day); }

  // Whether either list holds a day of `year`; a calendar that holds nothing
  // of the current year is most likely one nobody has updated.
  bool HasDateIn(int year) const { return holidays_.Touches(year) || extra_workdays_.Touches(year); }

  std::string HolidaysText() const { return holidays_.Text(); }
  std::string ExtraWorkdaysText() const { return extra_workdays_.Text(); }
  const DateList& holidays() const { return holidays_; }
  const DateList& extra_workdays() const { return extra_workdays_; }
  bool operator==(const WorkCalendar&) const = default;

 private:
  DateList holidays_, extra_workdays_;
};

}  // namespace dadado
