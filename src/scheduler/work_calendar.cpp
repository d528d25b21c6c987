#include "scheduler/work_calendar.h"

#include <algorithm>
#include <iterator>

#include "base/date_time_text.h"

namespace dadado {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool TakePrefix(std::string_view text, std::size_t& pos, std::string_view what) {
  if (text.substr(pos).starts_with(what)) {
    pos += what.size();
    return true;
  }
  return false;
}

// Between `min_digits` and `max_digits` digits at `pos`, and no more digits
// after them.
std::optional<int> ReadNumber(std::string_view text, std::size_t& pos, std::size_t min_digits, std::size_t max_digits) {
  std::size_t end = pos;
  while (end < text.size() && IsDigit(text[end])) ++end;
  if (end - pos < min_digits || end - pos > max_digits) return std::nullopt;
  int value = 0;
  for (; pos < end; ++pos) value = value * 10 + (text[pos] - '0');
  return value;
}

// The date written at `pos`, moving `pos` past it; on failure `pos` may have
// moved anywhere.
std::optional<Date> ReadDateAt(std::string_view text, std::size_t& pos) {
  auto year = ReadNumber(text, pos, 4, 4);
  if (!year) return std::nullopt;
  bool chinese = false;
  char separator = 0;
  if (TakePrefix(text, pos, "年")) {
    chinese = true;
  } else if (pos < text.size() && (text[pos] == '/' || text[pos] == '-' || text[pos] == '.')) {
    separator = text[pos++];
  } else {
    return std::nullopt;
  }
  auto month = ReadNumber(text, pos, 1, 2);
  if (!month) return std::nullopt;
  // The same separator twice: "2026/10-1" is more likely a slip than a date.
  if (chinese ? !TakePrefix(text, pos, "月") : !(pos < text.size() && text[pos++] == separator)) return std::nullopt;
  auto day = ReadNumber(text, pos, 1, 2);
  if (!day) return std::nullopt;
  if (chinese) TakePrefix(text, pos, "日");
  // A year before 1000 is written with fewer digits and would not read back.
  if (*year < 1000 || !IsValidDate(*year, *month, *day)) return std::nullopt;
  return Date{*year, *month, *day};
}

// Bytes of the separator at `pos` that ends an entry, or 0.
std::size_t EntrySeparatorAt(std::string_view text, std::size_t pos) {
  if (pos >= text.size()) return 0;
  const char c = text[pos];
  if (c == ',' || c == ';' || c == '\r' || c == '\n') return 1;
  for (std::string_view wide : {"，", "、", "；"})
    if (text.substr(pos).starts_with(wide)) return wide.size();
  return 0;
}

// Bytes of the blank at `pos`, or 0. The ideographic space comes with
// Chinese input methods.
std::size_t BlankAt(std::string_view text, std::size_t pos) {
  if (pos >= text.size()) return 0;
  if (text[pos] == ' ' || text[pos] == '\t') return 1;
  if (text.substr(pos).starts_with("　")) return std::string_view("　").size();
  return 0;
}

void SkipBlanks(std::string_view text, std::size_t& pos) {
  while (std::size_t n = BlankAt(text, pos)) pos += n;
}

bool TakeRangeMark(std::string_view text, std::size_t& pos) {
  for (std::string_view mark : {"-", "~", "至", "到", "－", "～"})
    if (TakePrefix(text, pos, mark)) return true;
  return false;
}

// One entry at `pos`: a date, or two dates joined by a range mark, ending at
// a separator, a blank or the end. Moves `pos` past it on success.
std::optional<DayRange> ReadEntryAt(std::string_view text, std::size_t& pos) {
  auto first = ReadDateAt(text, pos);
  if (!first) return std::nullopt;
  Date last = *first;
  std::size_t after_first = pos;
  SkipBlanks(text, pos);
  if (TakeRangeMark(text, pos)) {
    SkipBlanks(text, pos);
    auto end = ReadDateAt(text, pos);
    if (!end) return std::nullopt;
    last = *end;
  } else {
    pos = after_first;
  }
  if (pos < text.size() && !EntrySeparatorAt(text, pos) && !BlankAt(text, pos)) return std::nullopt;
  DayRange range{DayNumber(*first), DayNumber(last)};
  if (range.last < range.first) return std::nullopt;
  return range;
}

// At most `max_bytes` of `text`, cut at a character boundary, marked when cut.
std::string Shortened(std::string_view text, std::size_t max_bytes) {
  if (text.size() <= max_bytes) return std::string(text);
  std::size_t cut = max_bytes;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return std::string(text.substr(0, cut)) + "…";
}

}  // namespace

std::optional<Date> ParseCalendarDate(std::string_view text) {
  std::size_t pos = 0;
  SkipBlanks(text, pos);
  auto date = ReadDateAt(text, pos);
  if (!date) return std::nullopt;
  SkipBlanks(text, pos);
  if (pos != text.size()) return std::nullopt;
  return date;
}

DateListReport DateList::Read(std::string_view text) {
  DateListReport report;
  std::vector<DayRange> read;
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (std::size_t n = EntrySeparatorAt(text, pos) + BlankAt(text, pos)) {
      pos += n;
      continue;
    }
    const std::size_t start = pos;
    if (auto range = ReadEntryAt(text, pos)) {
      if (read.size() < kMaxEntries) read.push_back(*range);
      else ++report.over_limit;
      continue;
    }
    // Whatever does not read is one bad entry up to the next separator (not
    // the next blank: "2026/10/1 至 10/8" is one entry to name, not three).
    pos = start;
    while (pos < text.size() && !EntrySeparatorAt(text, pos)) ++pos;
    std::string_view bad = text.substr(start, pos - start);
    while (!bad.empty() && (bad.back() == ' ' || bad.back() == '\t')) bad.remove_suffix(1);
    ++report.bad_count;
    if (report.bad_entries.size() < kMaxReportedBadEntries) report.bad_entries.push_back(Shortened(bad, kMaxBadEntryBytes));
  }

  std::sort(read.begin(), read.end(), [](const DayRange& a, const DayRange& b) { return a.first < b.first; });
  ranges_.clear();
  for (const DayRange& r : read) {
    if (!ranges_.empty() && r.first <= ranges_.back().last + 1) ranges_.back().last = std::max(ranges_.back().last, r.last);
    else ranges_.push_back(r);
  }
  return report;
}

bool DateList::Contains(std::int64_t day) const {
  auto after = std::upper_bound(ranges_.begin(), ranges_.end(), day,
                                [](std::int64_t d, const DayRange& r) { return d < r.first; });
  return after != ranges_.begin() && std::prev(after)->last >= day;
}

bool DateList::Touches(int year) const {
  if (!IsValidDate(year, 1, 1)) return false;
  const std::int64_t first = DayNumber({year, 1, 1}), last = DayNumber({year, 12, 31});
  // The ranges are disjoint and ascending, so their ends ascend too.
  auto it = std::partition_point(ranges_.begin(), ranges_.end(), [&](const DayRange& r) { return r.last < first; });
  return it != ranges_.end() && it->first <= last;
}

std::string DateList::Text() const {
  std::string text;
  for (const DayRange& r : ranges_) {
    if (!text.empty()) text += ',';
    text += FormatShortDate(DateOfDayNumber(r.first));
    if (r.last != r.first) {
      text += '-';
      text += FormatShortDate(DateOfDayNumber(r.last));
    }
  }
  return text;
}

bool WorkCalendar::IsWorkingDay(std::int64_t day) const {
  if (extra_workdays_.Contains(day)) return true;
  if (holidays_.Contains(day)) return false;
  const int weekday = WeekdayOf(day);
  return weekday >= 1 && weekday <= 5;
}

}  // namespace dadado
