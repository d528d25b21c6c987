#include "ui/plan_editor.h"

#include <algorithm>

#include "base/date_time_text.h"
#include "scheduler/work_calendar.h"

namespace dadado {

namespace {

constexpr char kDash[] = "—";

bool UsesCalendar(const Plan& plan) {
  return plan.repeat == PlanRepeat::kWorkingDays || plan.repeat == PlanRepeat::kRestDays;
}


unsigned WeekdayBit(const Date& date) { return 1u << WeekdayOf(DayNumber(date)); }

}  // namespace

// ---- the list -----------------------------------------------------------------

PlanRow PlanRowOf(const Plan& plan) {
  PlanRow row;
  row.enabled = plan.enabled;
  const bool idle = plan.repeat == PlanRepeat::kIdle;
  row.time = idle ? kDash : FormatClock(plan.time_of_day, true);
  row.repeat = PlanRepeatText(plan);
  row.action = PlanActionText(plan.action);
  row.warning = plan.warning && plan.action != PlanAction::kWake ? "是" : "否";
  row.summary = idle ? row.repeat + "后" + row.action : row.repeat + " " + row.time + " " + row.action;
  if (plan.action != PlanAction::kWake) row.summary += plan.warning ? "，执行前提示" : "，不提示";
  if (!plan.enabled) row.summary += "（未启用）";
  return row;
}

std::vector<PlanRow> PlanRows(const std::vector<Plan>& plans) {
  std::vector<PlanRow> rows;
  rows.reserve(plans.size());
  for (const Plan& p : plans) rows.push_back(PlanRowOf(p));
  return rows;
}

std::string CalendarWarning(const std::vector<Plan>& plans, const std::string& holidays,
                            const std::string& extra_workdays, int year) {
  bool uses = false;
  for (const Plan& p : plans) uses = uses || (p.enabled && UsesCalendar(p));
  if (!uses) return "";
  WorkCalendar calendar;
  calendar.SetHolidays(holidays);
  calendar.SetExtraWorkdays(extra_workdays);
  return calendar.HasDateIn(year) ? "" : kCalendarOutdated;
}

WakeTimerNotice WakeTimerNoticeOf(const std::vector<Plan>& plans, std::optional<bool> wake_timers_allowed,
                                  bool administrator) {
  const bool wakes = std::any_of(plans.begin(), plans.end(),
                                 [](const Plan& p) { return p.enabled && p.action == PlanAction::kWake; });
  if (!wakes || wake_timers_allowed.value_or(true)) return {};
  return {kWakeTimersOff, administrator};
}

PlanTabView PlanTabViewOf(const LiveSettings& live, const PolicyLocks& locks, int selected, int year) {
  PlanTabView v;
  const bool list_locked = locks.read_only || locks.plans;
  const int count = static_cast<int>(live.plans().size());
  const bool chosen = selected >= 0 && selected < count;
  v.list_enabled = !list_locked;
  v.add_enabled = !list_locked && count < kMaxPlans;
  v.edit_enabled = v.remove_enabled = !list_locked && chosen;
  // The two lists are one calendar: the dialog edits them together.
  v.calendar_enabled = !(locks.read_only || locks.holidays || locks.extra_workdays);
  v.calendar_warning = CalendarWarning(live.plans(), live.holidays(), live.extra_workdays(), year);
  return v;
}

bool AddPlan(LiveSettings& live, const Plan& plan) {
  if (live.plans().size() >= static_cast<std::size_t>(kMaxPlans)) return false;
  std::vector<Plan> plans = live.plans();
  plans.push_back(plan);
  live.SetPlans(std::move(plans));
  return true;
}

bool ReplacePlan(LiveSettings& live, int index, const Plan& plan) {
  if (index < 0 || index >= static_cast<int>(live.plans().size())) return false;
  if (live.plans()[index] == plan) return false;
  std::vector<Plan> plans = live.plans();
  plans[index] = plan;
  live.SetPlans(std::move(plans));
  return true;
}

bool RemovePlan(LiveSettings& live, int index) {
  if (index < 0 || index >= static_cast<int>(live.plans().size())) return false;
  std::vector<Plan> plans = live.plans();
  plans.erase(plans.begin() + index);
  live.SetPlans(std::move(plans));
  return true;
}

bool SetPlanEnabled(LiveSettings& live, int index, bool enabled) {
  if (index < 0 || index >= static_cast<int>(live.plans().size())) return false;
  Plan plan = live.plans()[index];
  plan.enabled = enabled;
  return ReplacePlan(live, index, plan);
}

// ---- the plan dialog --------------------------------------------------------------

PlanForm::PlanForm(const Plan& plan, const LocalDateTime& now, PowerSupport power)
    : plan_(plan), now_(now), power_(power) {
  every_days_text_ = std::to_string(plan.every_days);
  idle_minutes_text_ = std::to_string(plan.idle_minutes);
  // The fields the repetition does not use hold nothing worth showing: they
  // start where a new plan's would, in case the repetition is changed.
  const bool dated = plan.repeat == PlanRepeat::kOnce || plan.repeat == PlanRepeat::kEveryNDays;
  if (!dated) plan_.date = now.date;
  if (plan.repeat != PlanRepeat::kWeekly || plan.weekdays == 0) plan_.weekdays = WeekdayBit(now.date);
  if (plan.repeat == PlanRepeat::kIdle) plan_.time_of_day = (now.second_of_day / 60 + 1) * 60 % kSecondsPerDay;
}

PlanForm PlanForm::ForNew(const LocalDateTime& now, PowerSupport power) {
  Plan plan;
  plan.enabled = true;
  plan.action = PlanAction::kShutDown;
  plan.repeat = PlanRepeat::kDaily;
  plan.warning = true;
  PlanForm form(plan, now, power);
  form.plan_.time_of_day = (now.second_of_day / 60 + 1) * 60 % kSecondsPerDay;
  return form;
}

PlanForm PlanForm::ForEdit(const Plan& plan, const LocalDateTime& now, PowerSupport power) {
  return PlanForm(plan, now, power);
}

const std::vector<PlanAction>& PlanForm::Actions() {
  static const std::vector<PlanAction> actions = {PlanAction::kRestart, PlanAction::kShutDown, PlanAction::kLogOff,
                                                  PlanAction::kSleep,   PlanAction::kHibernate, PlanAction::kLock,
                                                  PlanAction::kScreenOff, PlanAction::kWake};
  return actions;
}

const std::vector<PlanRepeat>& PlanForm::Repeats() {
  static const std::vector<PlanRepeat> repeats = {PlanRepeat::kOnce,        PlanRepeat::kDaily,
                                                  PlanRepeat::kWeekly,      PlanRepeat::kEveryNDays,
                                                  PlanRepeat::kWorkingDays, PlanRepeat::kRestDays,
                                                  PlanRepeat::kIdle};
  return repeats;
}

std::string PlanForm::RepeatChoiceText(PlanRepeat repeat) {
  switch (repeat) {
    case PlanRepeat::kOnce: return "仅一次";
    case PlanRepeat::kDaily: return "每天";
    case PlanRepeat::kWeekly: return "每周";
    case PlanRepeat::kEveryNDays: return "每隔几天";
    case PlanRepeat::kWorkingDays: return "工作日";
    case PlanRepeat::kRestDays: return "休息日";
    case PlanRepeat::kIdle: return "计算机空闲时";
  }
  return "";
}

bool PlanForm::ActionAvailable(PlanAction action) const {
  if (action == PlanAction::kSleep) return power_.can_sleep;
  if (action == PlanAction::kHibernate) return power_.can_hibernate;
  return true;
}

std::string PlanForm::ActionTip() const {
  if (!power_.can_sleep && !power_.can_hibernate) return "这台计算机不支持睡眠和休眠";
  if (!power_.can_sleep) return "这台计算机不支持睡眠";
  if (!power_.can_hibernate) return "这台计算机不支持休眠，或者休眠已被关闭";
  return "";
}

PlanForm::Fields PlanForm::Visible() const {
  Fields f;
  const PlanRepeat r = plan_.repeat;
  f.date = r == PlanRepeat::kOnce || r == PlanRepeat::kEveryNDays;
  f.date_label = r == PlanRepeat::kEveryNDays ? "开始日期" : "日期";
  f.weekdays = r == PlanRepeat::kWeekly;
  f.every_days = r == PlanRepeat::kEveryNDays;
  f.idle_minutes = r == PlanRepeat::kIdle;
  f.time = r != PlanRepeat::kIdle;
  f.warning_enabled = plan_.action != PlanAction::kWake;
  return f;
}

bool PlanForm::SetAction(PlanAction action) {
  if (!ActionAvailable(action)) return false;
  plan_.action = action;
  return true;
}

void PlanForm::SetRepeat(PlanRepeat repeat) { plan_.repeat = repeat; }

void PlanForm::SetWeekday(int weekday, bool on) {
  if (weekday < 0 || weekday >= kWeekdays) return;
  const unsigned bit = 1u << weekday;
  plan_.weekdays = on ? (plan_.weekdays | bit) : (plan_.weekdays & ~bit);
}

void PlanForm::SetTime(int second_of_day) {
  if (second_of_day >= 0 && second_of_day < kSecondsPerDay) plan_.time_of_day = second_of_day;
}

Plan PlanForm::Assembled() const {
  Plan p = plan_;
  // A number that does not read is 0, which no plan takes.
  p.every_days = TypedWholeNumber(every_days_text_).value_or(0);
  p.idle_minutes = TypedWholeNumber(idle_minutes_text_).value_or(0);
  return p;
}

std::optional<std::string> PlanForm::Problem() const {
  const Plan p = Assembled();
  if (!ActionAvailable(p.action))
    return p.action == PlanAction::kSleep ? "这台计算机不支持睡眠，请选择其他操作！"
                                          : "这台计算机不支持休眠（或者休眠已被关闭），请选择其他操作！";
  switch (p.repeat) {
    case PlanRepeat::kWeekly:
      if ((p.weekdays & 0x7F) == 0) return "请至少选择星期中的一天！";
      break;
    case PlanRepeat::kEveryNDays:
      if (p.every_days < Plan::kMinEveryDays || p.every_days > Plan::kMaxEveryDays)
        return "间隔天数必须是 2 到 16 之间的整数！";
      break;
    case PlanRepeat::kIdle:
      if (p.idle_minutes < Plan::kMinIdleMinutes || p.idle_minutes > Plan::kMaxIdleMinutes)
        return "空闲分钟数必须是 1 到 1440 之间的整数！";
      // An idle machine is awake already.
      if (p.action == PlanAction::kWake) return "唤醒计算机不能按空闲时间执行，请选择其他重复方式！";
      break;
    default:
      break;
  }
  if (!IsValidPlan(p)) return "计划的日期或时间无效，请检查后再确定！";
  if (p.enabled && p.repeat == PlanRepeat::kOnce &&
      LocalSeconds({p.date, p.time_of_day}) <= LocalSeconds(now_))
    return "这个时间已经过去，只执行一次的计划不会再执行！请选择以后的时间。";
  return std::nullopt;
}

std::optional<Plan> PlanForm::Result() const {
  if (Problem()) return std::nullopt;
  // As the file will hold it: the fields the repetition does not use are
  // left at their defaults, so an unchanged plan compares equal.
  return ParsePlanLine(FormatPlanLine(Assembled()));
}

std::string PlanForm::Summary() const {
  const Plan p = Assembled();
  if (!IsValidPlan(p)) return "";
  return PlanRowOf(p).summary;
}

// ---- the holiday dialog -------------------------------------------------------

std::string DateListForEditing(const std::string& canonical) {
  std::string text = canonical;
  for (char& c : text)
    if (c == ',') c = '\n';
  return text;
}

HolidayForm::HolidayForm(const std::string& holidays, const std::string& extra_workdays)
    : holidays_text(DateListForEditing(holidays)), extra_workdays_text(DateListForEditing(extra_workdays)) {}

HolidayForm::Outcome HolidayForm::Check() const {
  Outcome out;
  DateList holidays, extra;
  const DateListReport h = holidays.Read(holidays_text);
  const DateListReport x = extra.Read(extra_workdays_text);
  std::string unread, too_many;
  auto name = [&](const char* list, const DateListReport& r) {
    if (r.bad_count > 0) {
      std::string entries;
      for (const std::string& e : r.bad_entries) entries += (entries.empty() ? "" : "、") + e;
      if (r.bad_count > r.bad_entries.size()) entries += " 等" + std::to_string(r.bad_count) + "项";
      unread += std::string("\n") + list + "：" + entries;
    }
    if (r.over_limit > 0)
      too_many += std::string("\n“") + list + "”中的日期太多，最多 " + std::to_string(DateList::kMaxEntries) +
                  " 项，多出 " + std::to_string(r.over_limit) + " 项。";
  };
  name("假日", h);
  name("调休", x);
  if (!unread.empty() || !too_many.empty()) {
    if (!unread.empty()) out.message = "以下内容不是日期，请改正后再按“确定”：" + unread;
    if (!too_many.empty()) {
      if (!out.message.empty()) out.message += '\n';
      out.message += too_many.substr(1);
    }
    return out;
  }
  out.ok = true;
  out.holidays = holidays.Text();
  out.extra_workdays = extra.Text();
  return out;
}

}  // namespace dadado
