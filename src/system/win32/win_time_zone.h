// The system's time zone and clock, from which the guard takes the zone it
// pins and the UTC it reads local time from.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "base/time_zone.h"

namespace dadado::win32 {

// The rule a TIME_ZONE_INFORMATION describes, a zone without daylight time
// as its bias alone; nullopt when it describes none (a date or bias out of
// range), so that a rule taken is always one the settings file can hold.
std::optional<TimeZoneRule> TimeZoneRuleOf(const TIME_ZONE_INFORMATION& info);

// The rule of the zone the system is set to now, as GetTimeZoneInformation
// gives it; nullopt when Windows cannot say.
std::optional<TimeZoneRule> CurrentTimeZoneRule();

// The name Windows gives a zone with this rule ("中国标准时间"): the current
// zone's when it is that rule, else the first zone Windows knows of with it;
// empty when none has it.
std::wstring TimeZoneNameOf(const TimeZoneRule& rule);

class SystemUtcClock : public UtcClock {
 public:
  std::int64_t UtcNow() override;
};

}  // namespace dadado::win32
