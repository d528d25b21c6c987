// The date and time texts of the settings file. The program writes one fixed
// numeric form, so that a file stays readable after the regional settings
// change; it reads its own form, the plain numeric ones and the forms a
// Chinese or English Windows writes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/calendar.h"

namespace dadado {

// "2026/12/7 15:04:05"
std::string FormatDateTimeText(const Date& date, int second_of_day);
// "2026/12/7"
std::string FormatShortDate(const Date& date);
// "15:04:05", "9:04:05"
std::string FormatTimeOfDay(int second_of_day);
// For people to read: "09:04" or, with seconds, "09:04:05".
std::string FormatClock(int second_of_day, bool with_seconds);

// The time of day in a date/time text, to the second: the first h:mm or
// h:mm:ss in it, with an optional AM/PM or 上午/下午 marker.
std::optional<int> ParseTimeOfDay(std::string_view text);
// The date in a date text: y/m/d, y-m-d, y.m.d, y年m月d日, or m/d/y with a
// four-digit year at the end.
std::optional<Date> ParseDate(std::string_view text);
// Exactly "yyyy-mm-dd" and a real date, nothing else.
std::optional<Date> ParseIsoDate(std::string_view t);

// A whole allowed-hours entry as a time of day: h:mm or h:mm:ss and nothing
// else; nullopt for anything that is not a valid time.
std::optional<int> ParseClockEntry(std::string_view entry);

}  // namespace dadado
