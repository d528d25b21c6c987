#include "settings/policy.h"

namespace dadado {

const char* policy::AllowedHoursName(int weekday) {
  static const char* const kNames[] = {kAllowedHoursSunday,   kAllowedHoursMonday, kAllowedHoursTuesday,
                                       kAllowedHoursWednesday, kAllowedHoursThursday, kAllowedHoursFriday,
                                       kAllowedHoursSaturday};
  return weekday >= 0 && weekday < 7 ? kNames[weekday] : "";
}

const char* policy::DailyLimitName(int weekday) {
  static const char* const kNames[] = {kDailyLimitSunday,   kDailyLimitMonday, kDailyLimitTuesday,
                                       kDailyLimitWednesday, kDailyLimitThursday, kDailyLimitFriday,
                                       kDailyLimitSaturday};
  return weekday >= 0 && weekday < 7 ? kNames[weekday] : "";
}

std::string policy::PlanValueName(const std::string& name) { return std::string(kPlans) + '\\' + name; }

const std::vector<std::string>& PolicyValueNames() {
  using namespace policy;
  static const std::vector<std::string> names = {
      kScheduleFrequency, kScheduleTime, kScheduleWeekday, kScheduleIntervalDays, kIntervalStart,
      kAction, kShowWarning, kForceImmediate, kHideWindowAtStart, kHideTrayIcon, kLockAtStart,
      kPasswordProtection, kTimeControl, kAllowedHoursSunday, kAllowedHoursMonday, kAllowedHoursTuesday,
      kAllowedHoursWednesday, kAllowedHoursThursday, kAllowedHoursFriday, kAllowedHoursSaturday,
      kPassword, kStartWithWindows, kSettingsReadOnly, kCatchUpMissed, kPostponeMinutes, kGuardService,
      kDailyLimitSunday, kDailyLimitMonday, kDailyLimitTuesday, kDailyLimitWednesday, kDailyLimitThursday,
      kDailyLimitFriday, kDailyLimitSaturday, kPlans, kHolidayDates, kExtraWorkdays, kAdministratorsExempt};
  return names;
}

}  // namespace dadado
