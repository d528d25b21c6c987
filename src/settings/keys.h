// Sections and keys of the settings file.
#pragma once

#include <string>

namespace dadado::keys {

inline constexpr char kGeneral[] = "常规设置";
inline constexpr char kAdvanced[] = "高级设置";
inline constexpr char kTimeControl[] = "时间控制";
inline constexpr char kUsage[] = "使用记录";
inline constexpr char kPlans[] = "计划";
inline constexpr char kCalendar[] = "节假日";

// 常规设置
inline constexpr char kFrequency[] = "频率";
inline constexpr char kScheduledTime[] = "定时时间";
inline constexpr char kWeeklyDay[] = "定时每周";
inline constexpr char kInterval[] = "定时间隔";
inline constexpr char kIntervalStart[] = "间隔起始时间";
inline constexpr char kAction[] = "操作方式";
inline constexpr char kRemoveTrayIcon[] = "移除系统图标";
inline constexpr char kHideAfterStart[] = "启动后隐藏界面";
inline constexpr char kLockAfterStart[] = "启动后锁定计算机";
inline constexpr char kForced[] = "强制操作";
inline constexpr char kShutdownScreen[] = "关机画面";
inline constexpr char kPasswordProtection[] = "密码保护";
inline constexpr char kCatchUp[] = "错过补做";        // 1: catch up an action missed within two hours
inline constexpr char kLastScheduled[] = "上次定时";  // the last due instant performed, cancelled or postponed
// 高级设置
inline constexpr char kAutoLogon[] = "自动登录";
inline constexpr char kPostponeMinutes[] = "推迟分钟数";
inline constexpr char kRecordUsage[] = "记录使用时间";  // 1: each account's minutes go into the history file
inline constexpr char kKeepDays[] = "保留天数";         // days the history keeps, 7 to 3650
// 时间控制
inline constexpr char kEnabled[] = "启用";
inline constexpr char kPassword[] = "密码";
inline constexpr char kAdministratorsExempt[] = "管理员不受限";  // 1: administrators have no time control
// [时间控制:<account>]: an account's own rules, with 启用, the week and limit
// keys of [时间控制], and the account's SID.
inline constexpr char kAccountSectionPrefix[] = "时间控制:";
inline constexpr char kSid[] = "SID";
inline std::string AccountSection(const std::string& account) { return kAccountSectionPrefix + account; }
// 0week .. 6week: the allowed hours of weekday n, 0 = Sunday.
inline std::string WeekKey(int weekday) { return std::to_string(weekday) + "week"; }
// 0limit .. 6limit: the daily limit of weekday n in minutes, 0 for none.
inline std::string LimitKey(int weekday) { return std::to_string(weekday) + "limit"; }
// 使用记录
inline constexpr char kUsageDate[] = "日期";        // the day counted, yyyy/m/d
inline constexpr char kUsedMinutes[] = "已用分钟";  // minutes of use on that day
inline constexpr char kAccountsUsed[] = "账户";      // today's use and extra time of each account
// The same under HKEY_CURRENT_USER\Software\dadado, where the file cannot take it.
inline constexpr char kUserAccountsUsed[] = "账户使用";

// 计划
// 计划1 .. 计划16: plan n of the list, one line 启用,操作,重复,参数,时间,提示.
inline std::string PlanKey(int n) { return "计划" + std::to_string(n); }
// 节假日: the working-day calendar, each a list of dates and ranges.
inline constexpr char kHolidays[] = "假日";
inline constexpr char kExtraWorkdays[] = "调休";

}  // namespace dadado::keys
