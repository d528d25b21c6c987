#include "base/time_zone.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace dadado {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr int kMaxBiasMinutes = 1440;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0); }

// UTC = local + offset, in seconds, for each season.
std::int64_t StandardOffset(const TimeZoneRule& r) { return (r.bias_minutes + r.standard_bias_minutes) * std::int64_t{60}; }
std::int64_t DaylightOffset(const TimeZoneRule& r) { return (r.bias_minutes + r.daylight_bias_minutes) * std::int64_t{60}; }

// The day a recurring date falls on in `year`: the week'th weekday of the
// month, or its last one when the month has fewer.
std::int64_t RecurringDay(const ZoneDate& d, int year) {
  const std::int64_t first = DayNumber({year, d.month, 1});
  const std::int64_t next_month = DayNumber(d.month == 12 ? Date{year + 1, 1, 1} : Date{year, d.month + 1, 1});
  std::int64_t day = first + (d.day_of_week - WeekdayOf(first) + 7) % 7 + 7 * (d.week - 1);
  while (day >= next_month) day -= 7;
  return day;
}

// The season in force at a UTC second, and since when: the season set by the
// latest change at or before it. Before a rule's first change (only possible
// when its dates happen once), the season the first change ends.
struct Season {
  bool daylight = false;
  std::optional<std::int64_t> since;
};

// A change of season: the UTC second it happens, and to which season.
struct Change {
  std::int64_t utc;
  bool to_daylight;
};

// Calls `f` with each change of the rule in the `years` years either side of
// the one `utc` falls in (a rule whose dates happen once: with those).
template <typename F>
void ForEachChange(const TimeZoneRule& r, std::int64_t utc, int years, F f) {
  const int year = DateOfDayNumber(FloorDiv(utc, kSecondsPerDay)).year;
  for (const bool to_daylight : {true, false}) {
    const ZoneDate& date = to_daylight ? r.daylight_date : r.standard_date;
    // The time of the change is on the clock of the season it ends.
    const std::int64_t offset = to_daylight ? StandardOffset(r) : DaylightOffset(r);
    auto on = [&](std::int64_t day) { f(Change{day * kSecondsPerDay + date.second + offset, to_daylight}); };
    if (date.year != 0) {
      on(DayNumber({date.year, date.month, date.day}));
      continue;
    }
    for (int y = year - years; y <= year + years; ++y) on(RecurringDay(date, y));
  }
}

Season SeasonAt(const TimeZoneRule& r, std::int64_t utc) {
  std::optional<Change> latest, earliest_after;
  // Offsets reach two days at most, so a year's changes fall within two
  // days of it in UTC; two years either side hold the ones around `utc`.
  ForEachChange(r, utc, 2, [&](const Change& c) {
    // Two changes at the same second leave standard time in force.
    if (c.utc <= utc) {
      if (!latest || c.utc > latest->utc || (c.utc == latest->utc && !c.to_daylight)) latest = c;
    } else if (!earliest_after || c.utc < earliest_after->utc || (c.utc == earliest_after->utc && c.to_daylight)) {
      earliest_after = c;
    }
  });
  if (latest) return {latest->to_daylight, latest->utc};
  return {earliest_after && !earliest_after->to_daylight, std::nullopt};
}

std::int64_t OffsetAt(const TimeZoneRule& r, std::int64_t utc) {
  if (!HasDaylightTime(r)) return r.bias_minutes * std::int64_t{60};
  return SeasonAt(r, utc).daylight ? DaylightOffset(r) : StandardOffset(r);
}

// Text reading: a whole field must be the number, nothing around it.
std::optional<int> ReadInt(std::string_view s, bool may_be_negative) {
  bool negative = false;
  if (may_be_negative && !s.empty() && s.front() == '-') {
    negative = true;
    s.remove_prefix(1);
  }
  if (s.empty() || s.size() > 5) return std::nullopt;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return negative ? -v : v;
}

std::vector<std::string_view> Split(std::string_view s, char separator) {
  std::vector<std::string_view> parts;
  for (std::size_t at = 0;;) {
    const std::size_t next = s.find(separator, at);
    parts.push_back(s.substr(at, next == std::string_view::npos ? std::string_view::npos : next - at));
    if (next == std::string_view::npos) return parts;
    at = next + 1;
  }
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::optional<int> ReadBias(std::string_view s) {
  auto v = ReadInt(s, true);
  if (!v || *v < -kMaxBiasMinutes || *v > kMaxBiasMinutes) return std::nullopt;
  return v;
}

// "0", "month/week/weekday/second" or "year-month-day/second".
std::optional<ZoneDate> ReadZoneDate(std::string_view s) {
  if (s == "0") return ZoneDate{};
  const auto halves = Split(s, '/');
  ZoneDate d;
  std::optional<int> second;
  if (halves.size() == 2) {
    const auto ymd = Split(halves[0], '-');
    if (ymd.size() != 3) return std::nullopt;
    auto y = ReadInt(ymd[0], false), m = ReadInt(ymd[1], false), day = ReadInt(ymd[2], false);
    if (!y || !m || !day || !IsValidDate(*y, *m, *day)) return std::nullopt;
    d.year = *y;
    d.month = *m;
    d.day = *day;
    second = ReadInt(halves[1], false);
  } else if (halves.size() == 4) {
    auto m = ReadInt(halves[0], false), w = ReadInt(halves[1], false), wd = ReadInt(halves[2], false);
    if (!m || !w || !wd || *m < 1 || *m > 12 || *w < 1 || *w > 5 || *wd > 6) return std::nullopt;
    d.month = *m;
    d.week = *w;
    d.day_of_week = *wd;
    second = ReadInt(halves[3], false);
  } else {
    return std::nullopt;
  }
  if (!second || *second >= kSecondsPerDay) return std::nullopt;
  d.second = *second;
  return d;
}

std::string FormatZoneDate(const ZoneDate& d) {
  char buf[64];
  if (d.month == 0) return "0";
  if (d.year != 0) std::snprintf(buf, sizeof buf, "%d-%d-%d/%d", d.year, d.month, d.day, d.second);
  else std::snprintf(buf, sizeof buf, "%d/%d/%d/%d", d.month, d.week, d.day_of_week, d.second);
  return buf;
}

}  // namespace

bool HasDaylightTime(const TimeZoneRule& r) { return r.standard_date.month != 0 && r.daylight_date.month != 0; }

LocalDateTime LocalTimeOf(const TimeZoneRule& r, std::int64_t utc_seconds) {
  return FromLocalSeconds(utc_seconds - OffsetAt(r, utc_seconds));
}

std::int64_t UtcOf(const TimeZoneRule& r, std::int64_t local_seconds) {
  if (!HasDaylightTime(r)) return local_seconds + r.bias_minutes * std::int64_t{60};
  // The wall clock shows this second at most twice: once on each season's clock.
  const std::int64_t as_standard = local_seconds + StandardOffset(r);
  const std::int64_t as_daylight = local_seconds + DaylightOffset(r);
  const bool standard_shows_it = !SeasonAt(r, as_standard).daylight;
  const bool daylight_shows_it = SeasonAt(r, as_daylight).daylight;
  if (standard_shows_it && daylight_shows_it) return std::min(as_standard, as_daylight);
  if (standard_shows_it) return as_standard;
  if (daylight_shows_it) return as_daylight;
  // Neither: the clock jumped over it. The season differs between the two
  // candidates, so the jump lies between them; the first second after it is
  // the change itself.
  const std::int64_t later = std::max(as_standard, as_daylight);
  return SeasonAt(r, later).since.value_or(later);
}

std::optional<std::int64_t> NextClockChange(const TimeZoneRule& r, std::int64_t utc) {
  if (!HasDaylightTime(r)) return std::nullopt;
  std::optional<std::int64_t> next;
  ForEachChange(r, utc, 1, [&](const Change& c) {
    // A change to the season already in force moves nothing.
    if (c.utc > utc && (!next || c.utc < *next) && OffsetAt(r, c.utc) != OffsetAt(r, c.utc - 1)) next = c.utc;
  });
  return next;
}

std::string FormatTimeZoneRule(const TimeZoneRule& r) {
  if (r.standard_bias_minutes == 0 && r.daylight_bias_minutes == 0 && r.standard_date == ZoneDate{} &&
      r.daylight_date == ZoneDate{})
    return std::to_string(r.bias_minutes);
  return std::to_string(r.bias_minutes) + "," + std::to_string(r.standard_bias_minutes) + "," +
         std::to_string(r.daylight_bias_minutes) + "," + FormatZoneDate(r.standard_date) + "," +
         FormatZoneDate(r.daylight_date);
}

std::optional<TimeZoneRule> ParseTimeZoneRule(std::string_view text) {
  if (text.size() > 140) return std::nullopt;
  auto fields = Split(text, ',');
  for (auto& f : fields) f = TrimBlanks(f);
  TimeZoneRule r;
  auto bias = ReadBias(fields[0]);
  if (!bias) return std::nullopt;
  r.bias_minutes = *bias;
  if (fields.size() == 1) return r;
  if (fields.size() != 5) return std::nullopt;
  auto standard_bias = ReadBias(fields[1]), daylight_bias = ReadBias(fields[2]);
  auto standard_date = ReadZoneDate(fields[3]), daylight_date = ReadZoneDate(fields[4]);
  if (!standard_bias || !daylight_bias || !standard_date || !daylight_date) return std::nullopt;
  r.standard_bias_minutes = *standard_bias;
  r.daylight_bias_minutes = *daylight_bias;
  r.standard_date = *standard_date;
  r.daylight_date = *daylight_date;
  return r;
}

namespace {

constexpr int kFarthestFromUtcMinutes = 14 * 60;
constexpr int kLargestSummerShiftMinutes = 2 * 60;

int StandardMinutes(const TimeZoneRule& r) {
  return HasDaylightTime(r) ? r.bias_minutes + r.standard_bias_minutes : r.bias_minutes;
}

}  // namespace

bool MayBePinned(const TimeZoneRule& r) {
  auto near_utc = [](int minutes) { return minutes >= -kFarthestFromUtcMinutes && minutes <= kFarthestFromUtcMinutes; };
  if (!near_utc(StandardMinutes(r))) return false;
  if (!HasDaylightTime(r)) return true;
  const int shift = r.daylight_bias_minutes - r.standard_bias_minutes;
  return near_utc(r.bias_minutes + r.daylight_bias_minutes) && shift >= -kLargestSummerShiftMinutes &&
         shift <= kLargestSummerShiftMinutes;
}

TimeZoneRule FallbackZone(const std::optional<TimeZoneRule>& system) {
  if (system) {
    const TimeZoneRule standard_only{StandardMinutes(*system), 0, 0, {}, {}};
    if (MayBePinned(standard_only)) return standard_only;
  }
  return TimeZoneRule{-480, 0, 0, {}, {}};
}

std::string UtcOffsetText(const TimeZoneRule& r) {
  const int east = -StandardMinutes(r);
  const int minutes = east < 0 ? -east : east;
  char buf[32];
  std::snprintf(buf, sizeof buf, "(UTC%c%02d:%02d)", east < 0 ? '-' : '+', minutes / 60, minutes % 60);
  return buf;
}

std::optional<std::int64_t> WallClockWatch::Observe(std::int64_t local, std::int64_t utc) {
  std::optional<std::int64_t> skipped;
  if (local_ && utc_) {
    const std::int64_t local_ran = local - *local_, utc_ran = utc - *utc_;
    // No zone moves its clock by less than a quarter of an hour or more than
    // a few; UTC must have run on as it does.
    const std::int64_t jump = local_ran - utc_ran;
    if (utc_ran >= 0 && utc_ran <= longest_gap_ && jump >= 15 * 60 && jump <= 3 * 3600) skipped = *local_;
  }
  local_ = local;
  utc_ = utc;
  return skipped;
}

}  // namespace dadado
