// Settings that an administrator sets for the whole machine by Group Policy
// (HKLM\SOFTWARE\Policies\dadado). A value that is present replaces the
// local setting and locks its control; an absent value, or one of the wrong
// type or out of range, leaves the local setting as it is.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace dadado {

namespace policy {
inline constexpr char kKey[] = "SOFTWARE\\Policies\\dadado";

inline constexpr char kScheduleFrequency[] = "ScheduleFrequency";
inline constexpr char kScheduleTime[] = "ScheduleTime";
inline constexpr char kScheduleWeekday[] = "ScheduleWeekday";
inline constexpr char kScheduleIntervalDays[] = "ScheduleIntervalDays";
inline constexpr char kIntervalStart[] = "IntervalStart";
inline constexpr char kAction[] = "Action";
inline constexpr char kShowWarning[] = "ShowWarning";
inline constexpr char kForceImmediate[] = "ForceImmediate";
inline constexpr char kHideWindowAtStart[] = "HideWindowAtStart";
inline constexpr char kHideTrayIcon[] = "HideTrayIcon";
inline constexpr char kLockAtStart[] = "LockAtStart";
inline constexpr char kPasswordProtection[] = "PasswordProtection";
inline constexpr char kTimeControl[] = "TimeControl";
inline constexpr char kAllowedHoursSunday[] = "AllowedHoursSunday";
inline constexpr char kAllowedHoursMonday[] = "AllowedHoursMonday";
inline constexpr char kAllowedHoursTuesday[] = "AllowedHoursTuesday";
inline constexpr char kAllowedHoursWednesday[] = "AllowedHoursWednesday";
inline constexpr char kAllowedHoursThursday[] = "AllowedHoursThursday";
inline constexpr char kAllowedHoursFriday[] = "AllowedHoursFriday";
inline constexpr char kAllowedHoursSaturday[] = "AllowedHoursSaturday";
inline constexpr char kPassword[] = "Password";
inline constexpr char kStartWithWindows[] = "StartWithWindows";
inline constexpr char kSettingsReadOnly[] = "SettingsReadOnly";
inline constexpr char kCatchUpMissed[] = "CatchUpMissed";
inline constexpr char kPostponeMinutes[] = "PostponeMinutes";
inline constexpr char kGuardService[] = "GuardService";
inline constexpr char kDailyLimitSunday[] = "DailyLimitSunday";
inline constexpr char kDailyLimitMonday[] = "DailyLimitMonday";
inline constexpr char kDailyLimitTuesday[] = "DailyLimitTuesday";
inline constexpr char kDailyLimitWednesday[] = "DailyLimitWednesday";
inline constexpr char kDailyLimitThursday[] = "DailyLimitThursday";
inline constexpr char kDailyLimitFriday[] = "DailyLimitFriday";
inline constexpr char kDailyLimitSaturday[] = "DailyLimitSaturday";
// The plans are a list: the values 1, 2, 3 ... of the key Plans under the
// policy key, each a plan line. They are read into PolicyValues under
// the names Plans\1, Plans\2 ... (PlanValueName).
inline constexpr char kPlans[] = "Plans";
inline constexpr char kHolidayDates[] = "HolidayDates";
inline constexpr char kExtraWorkdays[] = "ExtraWorkdays";
inline constexpr char kAdministratorsExempt[] = "AdministratorsExempt";

// Sunday .. Saturday.
const char* AllowedHoursName(int weekday);
const char* DailyLimitName(int weekday);
// The name under which value `name` of the Plans key is kept in PolicyValues.
std::string PlanValueName(const std::string& name);
}  // namespace policy

// One value as the registry holds it: a number (REG_DWORD) or a text
// (REG_SZ); anything else is neither.
struct PolicyData {
  std::optional<std::uint32_t> number;
  std::optional<std::string> text;
  bool operator==(const PolicyData&) const = default;
};
using PolicyValues = std::map<std::string, PolicyData>;

// Every value name the program reads; kPlans stands for the values of the
// Plans key.
const std::vector<std::string>& PolicyValueNames();

}  // namespace dadado
