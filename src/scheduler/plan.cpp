#include "scheduler/plan.h"

#include <algorithm>
#include <array>

#include "base/date_time_text.h"

namespace dadado {

namespace {

constexpr std::size_t kFieldCount = 6;

std::string_view Trimmed(std::string_view s) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

// A small count written in digits only: no sign, at most four digits, so a
// field of a thousand digits is refused rather than overflowing.
std::optional<int> ReadCount(std::string_view s) {
  if (s.empty() || s.size() > 4) return std::nullopt;
  int value = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::optional<bool> ReadSwitch(std::string_view s) {
  if (s == "1") return true;
  if (s == "0") return false;
  return std::nullopt;
}

bool IsPlanAction(int n) { return (n >= 0 && n <= 2) || (n >= 4 && n <= 8); }
bool IsPlanRepeat(int n) { return n >= 0 && n <= 6; }

// Dates are written with a four-digit year, so only those can be stored.
bool IsStorableDate(const Date& d) { return d.year >= 1000 && IsValidDate(d.year, d.month, d.day); }

// h:mm:ss or hh:mm:ss, seconds included.
std::optional<int> ReadTime(std::string_view s) {
  if (std::count(s.begin(), s.end(), ':') != 2) return std::nullopt;
  return ParseClockEntry(s);
}

std::optional<unsigned> ReadWeekdays(std::string_view s) {
  if (s.empty()) return std::nullopt;
  unsigned mask = 0;
  for (char c : s) {
    if (c < '0' || c > '6') return std::nullopt;
    const unsigned bit = 1u << (c - '0');
    if (mask & bit) return std::nullopt;
    mask |= bit;
  }
  return mask;
}

// Reads the parameter the repetition needs into `plan`.
bool ReadParameter(std::string_view s, Plan& plan) {
  switch (plan.repeat) {
    case PlanRepeat::kOnce: {
      auto date = ParseCalendarDate(s);
      if (!date) return false;
      plan.date = *date;
      return true;
    }
    case PlanRepeat::kWeekly: {
      auto mask = ReadWeekdays(s);
      if (!mask) return false;
      plan.weekdays = *mask;
      return true;
    }
    case PlanRepeat::kEveryNDays: {
      const std::size_t at = s.find('@');
      if (at == std::string_view::npos) return false;
      auto n = ReadCount(Trimmed(s.substr(0, at)));
      auto date = ParseCalendarDate(s.substr(at + 1));
      if (!n || !date) return false;
      plan.every_days = *n;
      plan.date = *date;
      return true;
    }
    case PlanRepeat::kIdle: {
      auto minutes = ReadCount(s);
      if (!minutes) return false;
      plan.idle_minutes = *minutes;
      return true;
    }
    default:
      return s.empty();
  }
}

std::int64_t DayOfSecond(std::int64_t local_second) {
  return local_second >= 0 ? local_second / 86400 : -((-local_second + 86399) / 86400);
}

// The parts of a plan that decide its due seconds, checked once.
bool HasDueSeconds(const Plan& plan) {
  return plan.enabled && plan.repeat != PlanRepeat::kIdle && IsValidPlan(plan);
}

std::string WeekdaysText(unsigned mask) {
  static constexpr std::array<const char*, 7> kNames = {"一", "二", "三", "四", "五", "六", "日"};
  // Monday first, as a Chinese week is counted; position i is weekday (i + 1) % 7.
  auto marked = [&](int i) { return i < 7 && (mask & (1u << ((i + 1) % 7))) != 0; };
  std::string text;
  for (int i = 0; i < 7;) {
    if (!marked(i)) {
      ++i;
      continue;
    }
    int end = i;
    while (marked(end + 1)) ++end;
    if (!text.empty()) text += "、";
    text += kNames[i];
    if (end - i >= 2) text += std::string("至") + kNames[end];
    else if (end == i + 1) text += std::string("、") + kNames[end];
    i = end + 1;
  }
  return text;
}

}  // namespace

bool IsValidPlan(const Plan& plan) {
  if (!IsPlanAction(static_cast<int>(plan.action)) || !IsPlanRepeat(static_cast<int>(plan.repeat))) return false;
  if (plan.repeat != PlanRepeat::kIdle && (plan.time_of_day < 0 || plan.time_of_day >= 86400)) return false;
  switch (plan.repeat) {
    case PlanRepeat::kOnce:
      return IsStorableDate(plan.date);
    case PlanRepeat::kWeekly:
      return plan.weekdays != 0 && plan.weekdays < (1u << 7);
    case PlanRepeat::kEveryNDays:
      return plan.every_days >= Plan::kMinEveryDays && plan.every_days <= Plan::kMaxEveryDays && IsStorableDate(plan.date);
    case PlanRepeat::kIdle:
      return plan.idle_minutes >= Plan::kMinIdleMinutes && plan.idle_minutes <= Plan::kMaxIdleMinutes;
    default:
      return true;
  }
}

std::optional<Plan> ParsePlanLine(std::string_view line) {
  std::array<std::string_view, kFieldCount> fields;
  std::size_t pos = 0;
  for (std::size_t i = 0; i < kFieldCount; ++i) {
    if (pos > line.size()) return std::nullopt;  // fewer than six fields
    std::size_t comma = line.find(',', pos);
    if (comma == std::string_view::npos) comma = line.size();
    fields[i] = Trimmed(line.substr(pos, comma - pos));
    pos = comma + 1;
  }

  Plan plan;
  auto enabled = ReadSwitch(fields[0]);
  auto action = ReadCount(fields[1]);
  auto repeat = ReadCount(fields[2]);
  auto warning = ReadSwitch(fields[5]);
  if (!enabled || !action || !IsPlanAction(*action) || !repeat || !IsPlanRepeat(*repeat) || !warning) return std::nullopt;
  plan.enabled = *enabled;
  plan.action = static_cast<PlanAction>(*action);
  plan.repeat = static_cast<PlanRepeat>(*repeat);
  plan.warning = *warning;
  if (!ReadParameter(fields[3], plan)) return std::nullopt;

  if (plan.repeat == PlanRepeat::kIdle) {
    // An idle plan has no time of day; whatever valid time an editor left
    // there means nothing and is not kept.
    if (!fields[4].empty() && !ReadTime(fields[4])) return std::nullopt;
  } else {
    auto time = ReadTime(fields[4]);
    if (!time) return std::nullopt;
    plan.time_of_day = *time;
  }
  if (!IsValidPlan(plan)) return std::nullopt;
  return plan;
}

std::string FormatPlanLine(const Plan& plan) {
  std::string parameter;
  switch (plan.repeat) {
    case PlanRepeat::kOnce:
      parameter = FormatShortDate(plan.date);
      break;
    case PlanRepeat::kWeekly:
      for (int d = 0; d < 7; ++d)
        if (plan.weekdays & (1u << d)) parameter += static_cast<char>('0' + d);
      break;
    case PlanRepeat::kEveryNDays:
      parameter = std::to_string(plan.every_days) + "@" + FormatShortDate(plan.date);
      break;
    case PlanRepeat::kIdle:
      parameter = std::to_string(plan.idle_minutes);
      break;
    default:
      break;
  }
  const std::string time = plan.repeat == PlanRepeat::kIdle ? "" : FormatTimeOfDay(plan.time_of_day);
  return std::string(plan.enabled ? "1" : "0") + "," + std::to_string(static_cast<int>(plan.action)) + "," +
         std::to_string(static_cast<int>(plan.repeat)) + "," + parameter + "," + time + "," + (plan.warning ? "1" : "0");
}

std::string PlanActionText(PlanAction action) {
  switch (action) {
    case PlanAction::kRestart: return "重新启动计算机";
    case PlanAction::kShutDown: return "关闭计算机";
    case PlanAction::kLogOff: return "注销用户";
    case PlanAction::kSleep: return "睡眠";
    case PlanAction::kHibernate: return "休眠";
    case PlanAction::kLock: return "锁定计算机";
    case PlanAction::kScreenOff: return "关闭显示器";
    case PlanAction::kWake: return "唤醒计算机";
  }
  return "";
}

int ActionStrength(PlanAction action) {
  switch (action) {
    case PlanAction::kShutDown: return 7;
    case PlanAction::kRestart: return 6;
    case PlanAction::kLogOff: return 5;
    case PlanAction::kHibernate: return 4;
    case PlanAction::kSleep: return 3;
    case PlanAction::kLock: return 2;
    case PlanAction::kScreenOff: return 1;
    case PlanAction::kWake: return 0;
  }
  return 0;
}

bool NeedsUserSession(PlanAction action) { return action == PlanAction::kLock || action == PlanAction::kScreenOff; }

bool CanCatchUp(PlanAction action) {
  return action == PlanAction::kRestart || action == PlanAction::kShutDown || action == PlanAction::kLogOff;
}

std::string PlanRepeatText(const Plan& plan) {
  switch (plan.repeat) {
    case PlanRepeat::kOnce:
      return "仅一次（" + std::to_string(plan.date.year) + "年" + std::to_string(plan.date.month) + "月" +
             std::to_string(plan.date.day) + "日）";
    case PlanRepeat::kDaily:
      return "每天";
    case PlanRepeat::kWeekly:
      if ((plan.weekdays & 0x7F) == 0x7F) return "每天";
      return "每周" + WeekdaysText(plan.weekdays);
    case PlanRepeat::kEveryNDays:
      // The days between two, as the single schedule counts: 间隔一天 is
      // every second day.
      return "每隔" + std::to_string(plan.every_days - 1) + "天";
    case PlanRepeat::kWorkingDays:
      return "工作日";
    case PlanRepeat::kRestDays:
      return "休息日";
    case PlanRepeat::kIdle:
      return "空闲" + std::to_string(plan.idle_minutes) + "分钟";
  }
  return "";
}

bool PlanDayMatches(const Plan& plan, const WorkCalendar& calendar, std::int64_t day) {
  if (!HasDueSeconds(plan)) return false;
  switch (plan.repeat) {
    case PlanRepeat::kOnce:
      return day == DayNumber(plan.date);
    case PlanRepeat::kDaily:
      return true;
    case PlanRepeat::kWeekly:
      return (plan.weekdays & (1u << WeekdayOf(day))) != 0;
    case PlanRepeat::kEveryNDays:
      // Whole multiples before the start day count too, as with the single
      // schedule: the start day fixes the rhythm, not the beginning.
      return (day - DayNumber(plan.date)) % plan.every_days == 0;
    case PlanRepeat::kWorkingDays:
      return calendar.IsWorkingDay(day);
    case PlanRepeat::kRestDays:
      return calendar.IsRestDay(day);
    case PlanRepeat::kIdle:
      return false;
  }
  return false;
}

std::optional<std::int64_t> NextPlanDueAfter(const Plan& plan, const WorkCalendar& calendar, std::int64_t local_second) {
  if (!HasDueSeconds(plan)) return std::nullopt;
  if (plan.repeat == PlanRepeat::kOnce) {
    const std::int64_t due = DayNumber(plan.date) * 86400 + plan.time_of_day;
    return due > local_second ? std::optional<std::int64_t>(due) : std::nullopt;
  }
  const std::int64_t today = DayOfSecond(local_second);
  for (std::int64_t day = today; day <= today + kPlanLookAheadDays; ++day) {
    const std::int64_t due = day * 86400 + plan.time_of_day;
    if (due > local_second && PlanDayMatches(plan, calendar, day)) return due;
  }
  return std::nullopt;
}

std::optional<std::int64_t> LatestPlanDueWithin(const Plan& plan, const WorkCalendar& calendar, std::int64_t local_second,
                                                std::int64_t window) {
  if (!HasDueSeconds(plan) || window < 0) return std::nullopt;
  const std::int64_t earliest = local_second - std::min<std::int64_t>(window, std::int64_t{kPlanLookAheadDays} * 86400);
  if (plan.repeat == PlanRepeat::kOnce) {
    const std::int64_t due = DayNumber(plan.date) * 86400 + plan.time_of_day;
    return due >= earliest && due <= local_second ? std::optional<std::int64_t>(due) : std::nullopt;
  }
  for (std::int64_t day = DayOfSecond(local_second);; --day) {
    const std::int64_t due = day * 86400 + plan.time_of_day;
    if (due < earliest) return std::nullopt;
    if (due <= local_second && PlanDayMatches(plan, calendar, day)) return due;
  }
}

std::optional<std::int64_t> PlanWarningAt(const Plan& plan, std::int64_t due_second) {
  if (!plan.warning || plan.action == PlanAction::kWake) return std::nullopt;
  return due_second - kPlanWarningLeadSeconds;
}

std::optional<std::int64_t> NextPlanEventAfter(const Plan& plan, const WorkCalendar& calendar, std::int64_t local_second) {
  // Two due seconds lie at least a day apart, so no later warning can come
  // before the next due second: the next event is its warning or itself.
  auto due = NextPlanDueAfter(plan, calendar, local_second);
  if (!due) return std::nullopt;
  auto warning = PlanWarningAt(plan, *due);
  return warning && *warning > local_second ? *warning : *due;
}

}  // namespace dadado
