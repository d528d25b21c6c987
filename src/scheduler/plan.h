// Plans: several scheduled actions instead of one schedule. A school lab
// restarts at noon and shuts down at 17:30 on working days; an office turns
// the screens off in the evening and puts machines nobody uses to sleep; a
// family locks the computer at nine and shuts it down at half past ten.
//
// A plan is stored as one line of six fields, 启用,操作,重复,参数,时间,提示:
//   1,1,4,,17:30:00,1     shut down at 17:30 on working days, after the warning
//   1,6,2,12345,21:00:00,0  lock at 21:00 from Monday to Friday, no warning
//   1,4,6,60,,0           sleep after an hour without input
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/calendar.h"
#include "scheduler/work_calendar.h"

namespace dadado {

// 0 to 2 are the numbers of the single schedule's actions; 3 there is "no
// action", which a plan never is.
enum class PlanAction : int {
  kRestart = 0,    // 重新启动计算机
  kShutDown = 1,   // 关闭计算机
  kLogOff = 2,     // 注销用户
  kSleep = 4,      // 睡眠
  kHibernate = 5,  // 休眠
  kLock = 6,       // 锁定计算机
  kScreenOff = 7,  // 关闭显示器
  kWake = 8,       // 唤醒计算机
};

enum class PlanRepeat : int {
  kOnce = 0,
  kDaily = 1,
  kWeekly = 2,
  kEveryNDays = 3,
  kWorkingDays = 4,
  kRestDays = 5,
  kIdle = 6,  // after so many minutes without input, at no time of day
};

inline constexpr int kPlanWarningLeadSeconds = 121;
// How far ahead a plan's next day is looked for: more than a year, so that
// a working-day plan still finds its day behind a month of holidays, and
// bounded, so that a calendar with no working day left costs little.
inline constexpr int kPlanLookAheadDays = 400;

struct Plan {
  static constexpr int kMinEveryDays = 2, kMaxEveryDays = 16;
  static constexpr int kMinIdleMinutes = 1, kMaxIdleMinutes = 1440;

  bool enabled = true;
  PlanAction action = PlanAction::kShutDown;
  PlanRepeat repeat = PlanRepeat::kDaily;
  // Only the fields the repetition uses mean anything; reading a line leaves
  // the others at their defaults, so that equal lines give equal plans.
  Date date;                  // once: the day; every N days: the day counting starts
  unsigned weekdays = 0;      // weekly: bit d for weekday d, 0 Sunday .. 6 Saturday
  int every_days = 2;         // every N days: N
  int idle_minutes = 60;      // idle: minutes without input
  int time_of_day = 0;        // seconds of the day; not used by idle
  bool warning = true;        // the 120-second countdown before acting

  bool operator==(const Plan&) const = default;
};

// Whether every field the plan's repetition uses holds a value a line can
// carry; a plan built in a window is checked with it before it is written.
bool IsValidPlan(const Plan& plan);

// One stored line; nullopt when it does not read as a whole. Blanks around
// fields are allowed; fields after the sixth (a later version's) are ignored.
std::optional<Plan> ParsePlanLine(std::string_view line);
// The canonical line: reading it back gives the same plan.
std::string FormatPlanLine(const Plan& plan);

// The action's name on screen, "" for a number that is no plan action.
std::string PlanActionText(PlanAction action);
// Plans due together merge into one countdown, and the strongest action
// wins: 关闭计算机 7, 重新启动计算机 6, 注销用户 5, 休眠 4, 睡眠 3, 锁定计算机 2,
// 关闭显示器 1. 唤醒计算机 is 0: it acts while the machine sleeps and never
// merges.
int ActionStrength(PlanAction action);
// Lock and screen off act on the user's desktop; the others the machine
// performs by itself, also from a service.
bool NeedsUserSession(PlanAction action);
// Whether a plan missed while the machine was off or asleep is done late.
// Only restart, shutdown and log-off: sleeping or locking a machine someone
// has just started to use is no use to anyone.
bool CanCatchUp(PlanAction action);

// The repetition in words for a list row: 仅一次（2026年12月8日）, 每天,
// 每周一、三、五, 每周一至五, 每周日, 每隔2天 (every third day, as the single
// schedule's 间隔一天 is every second), 工作日, 休息日, 空闲30分钟.
std::string PlanRepeatText(const Plan& plan);

// Whether the plan acts on `day` (a day number). Never for a disabled plan,
// an idle plan (it has no day) or one that is not valid.
bool PlanDayMatches(const Plan& plan, const WorkCalendar& calendar, std::int64_t day);

// The first local second strictly after `local_second` on which the plan is
// due; nullopt when disabled, idle, once and past, or nothing within
// kPlanLookAheadDays.
std::optional<std::int64_t> NextPlanDueAfter(const Plan& plan, const WorkCalendar& calendar, std::int64_t local_second);

// The latest second at or before `local_second`, and no more than `window`
// seconds before it, on which the plan was due: the one to catch up. The
// window reaches back kPlanLookAheadDays at most.
std::optional<std::int64_t> LatestPlanDueWithin(const Plan& plan, const WorkCalendar& calendar, std::int64_t local_second,
                                                std::int64_t window);

// The second the warning countdown opens for a plan due at `due_second`:
// 121 seconds before, on the previous day when the plan is just after
// midnight. nullopt with the warning off, and for waking (nobody is there
// to warn).
std::optional<std::int64_t> PlanWarningAt(const Plan& plan, std::int64_t due_second);

// The first second strictly after `local_second` on which the plan warns or
// is due: the next moment the engine has to look at it.
std::optional<std::int64_t> NextPlanEventAfter(const Plan& plan, const WorkCalendar& calendar, std::int64_t local_second);

}  // namespace dadado
