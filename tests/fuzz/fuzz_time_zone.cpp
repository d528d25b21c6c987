// The pinned time zone as the settings file holds it: any text parses or is
// refused, never more; what is accepted is written back as one short line
// that reads the same; and by whatever rule was accepted, every UTC second
// shows a local second that maps back to the earliest UTC second showing it,
// no further away than the rule's two seasons lie apart.
//
// Input: the rule's text up to the first line break; after it, five bytes
// for each further UTC second to look at.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/calendar.h"
#include "base/time_zone.h"

namespace {

using dadado::TimeZoneRule;

// UTC seconds of 1601-01-01 and 9999-12-31, the years Windows and the
// program's calendar know.
constexpr std::int64_t kEarliest = -11644473600;
constexpr std::int64_t kLatest = 253402214400;

std::int64_t Offset(int minutes) { return minutes * std::int64_t{60}; }

void CheckAt(const TimeZoneRule& rule, std::int64_t utc) {
  if (utc < kEarliest || utc > kLatest) return;
  const std::int64_t local = dadado::LocalSeconds(dadado::LocalTimeOf(rule, utc));
  const std::int64_t back = dadado::UtcOf(rule, local);
  if (dadado::LocalSeconds(dadado::LocalTimeOf(rule, back)) != local) std::abort();
  std::int64_t spread = 0;
  if (dadado::HasDaylightTime(rule)) spread = Offset(rule.standard_bias_minutes - rule.daylight_bias_minutes);
  if (spread < 0) spread = -spread;
  if (back > utc || utc - back > spread) std::abort();
}

// The seconds around where each change of the rule can fall: on every day
// of its month at its time, on either season's clock.
void CheckAroundChanges(const TimeZoneRule& rule, const dadado::ZoneDate& date, int year) {
  if (date.month == 0) return;
  if (date.year != 0) year = date.year;
  for (int day = 1; day <= 31; ++day) {
    if (!dadado::IsValidDate(year, date.month, day)) continue;
    const std::int64_t local = dadado::DayNumber({year, date.month, day}) * 86400 + date.second;
    for (int season_bias : {rule.standard_bias_minutes, rule.daylight_bias_minutes})
      for (int step : {-1, 0, 1}) CheckAt(rule, local + Offset(rule.bias_minutes + season_bias) + step);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t line_end = input.find('\n');
  const std::string_view text = input.substr(0, line_end);
  const auto rule = dadado::ParseTimeZoneRule(text);
  if (!rule) return 0;

  const std::string written = dadado::FormatTimeZoneRule(*rule);
  if (written.size() > 140 || written.find_first_of("=\r\n") != std::string::npos) std::abort();
  if (dadado::ParseTimeZoneRule(written) != rule) std::abort();

  for (int year : {1601, 2024, 2100, 9999}) {
    CheckAroundChanges(*rule, rule->standard_date, year);
    CheckAroundChanges(*rule, rule->daylight_date, year);
  }
  if (line_end == std::string_view::npos) return 0;
  const std::string_view instants = input.substr(line_end + 1);
  for (std::size_t at = 0; at + 5 <= instants.size(); at += 5) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < 5; ++i) v = v << 8 | static_cast<std::uint8_t>(instants[at + i]);
    CheckAt(*rule, kEarliest + static_cast<std::int64_t>(v % static_cast<std::uint64_t>(kLatest - kEarliest)));
  }
  return 0;
}
