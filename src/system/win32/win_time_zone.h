// The system's time zone and clock, from which the guard takes the zone it
// pins and the UTC it reads local time from.
#pragma once

#include <windows.h>

#include <optional>

#include "base/time_zone.h"

namespace dadado::win32 {

// The rule a TIME_ZONE_INFORMATION describes, a zone without daylight time
// as its bias alone; nullopt when it describes none (a date or bias out of
// range), so that a rule taken is always one the settings file can hold.
std::optional<TimeZoneRule> TimeZoneRuleOf(const TIME_ZONE_INFORMATION& info);

// The rule of the zone the system is set to now, as GetTimeZoneInformation
// gives it; nullopt when Windows cannot say.
std::optional<TimeZoneRule> CurrentTimeZoneRule();

class SystemUtcClock : public UtcClock {
 public:
  std::int64_t UtcNow() override;
};

}  // namespace dadado::win32
