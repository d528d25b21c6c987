// The allowed-hours string of time control.
#pragma once

#include <string>

namespace dadado {

// The allowed hours of a day on which the computer may not be used at all;
// also what a day without allowed hours of its own reads as.
inline constexpr char kAllHoursForbidden[] = "24:00";

// Whether a time of day lies within the allowed hours:
//  - a text containing "24:00" anywhere allows nothing that day;
//  - otherwise each "+"-separated entry h:mm allows from itself up to the
//    next whole hour (23:xx up to midnight);
//  - an entry that is no valid time of day allows nothing; a text with no
//    entries allows nothing.
bool IsTimeAllowed(const std::string& allowed_hours, int second_of_day);

}  // namespace dadado
