// The 计划 tab and its two dialogs as data: what a row of the list shows,
// which buttons work, what the plan dialog shows for a repetition and what
// it refuses, and how the holiday dialog reads what was pasted into it. The
// Win32 windows draw these and forward the user's changes; they decide
// nothing themselves.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/calendar.h"
#include "scheduler/plan.h"
#include "settings/live_settings.h"
#include "settings/settings_table.h"
#include "system/os.h"

namespace dadado {

// ---- the list -----------------------------------------------------------------

struct PlanRow {
  bool enabled = true;   // 启用, a check box
  std::string time;      // 时间: "17:30:00"; a dash for an idle plan, which has none
  std::string repeat;    // 重复: PlanRepeatText
  std::string action;    // 操作: PlanActionText
  std::string warning;   // 提示: 是 or 否
  // The whole plan in one sentence, for the pointer resting on its row: the
  // list is narrow and a long repetition is cut short there.
  std::string summary;
  bool operator==(const PlanRow&) const = default;
};
PlanRow PlanRowOf(const Plan& plan);
std::vector<PlanRow> PlanRows(const std::vector<Plan>& plans);

inline constexpr char kCalendarOutdated[] =
    "节假日安排中没有今年的日期，按工作日或休息日执行的计划只按星期一至星期五计算。";

// The line under the list: kCalendarOutdated while an enabled plan goes by
// working or rest days and neither list of the calendar holds a date of
// `year`; empty otherwise.
std::string CalendarWarning(const std::vector<Plan>& plans, const std::string& holidays,
                            const std::string& extra_workdays, int year);

// While an enabled plan wakes the computer and the power plan does not let
// wake timers wake it: a line that says so, and whether to offer to allow
// them (an administrator may).
inline constexpr char kWakeTimersOff[] = "电源计划不允许唤醒定时器，唤醒计算机的计划不会执行。";
struct WakeTimerNotice {
  std::string text;
  bool offer_to_allow = false;
  bool operator==(const WakeTimerNotice&) const = default;
};
WakeTimerNotice WakeTimerNoticeOf(const std::vector<Plan>& plans, std::optional<bool> wake_timers_allowed,
                                  bool administrator);

// What the tab's controls can do, with row `selected` chosen (-1: none).
struct PlanTabView {
  bool list_enabled = true;
  bool add_enabled = true;     // 添加(&A)…: greyed at kMaxPlans
  bool edit_enabled = false;   // 修改(&E)… and 删除(&R): a row is chosen
  bool remove_enabled = false;
  bool calendar_enabled = true;  // 节假日安排…
  std::string calendar_warning;
};
PlanTabView PlanTabViewOf(const LiveSettings& live, const PolicyLocks& locks, int selected, int year);

// Changes of the list, each through LiveSettings::SetPlans, which enables
// Apply. False when nothing changed (a full list, a row that is not there).
bool AddPlan(LiveSettings& live, const Plan& plan);
bool ReplacePlan(LiveSettings& live, int index, const Plan& plan);
bool RemovePlan(LiveSettings& live, int index);
bool SetPlanEnabled(LiveSettings& live, int index, bool enabled);

// ---- the plan dialog --------------------------------------------------------------

// One plan being made or changed. The numbers typed into the dialog are kept
// as typed, so that the dialog can say what is wrong with them on OK.
class PlanForm {
 public:
  // A new plan: on, 关闭计算机 every day at the coming whole minute, with the
  // warning; today for the repetitions that take a date.
  static PlanForm ForNew(const LocalDateTime& now, PowerSupport power);
  static PlanForm ForEdit(const Plan& plan, const LocalDateTime& now, PowerSupport power);

  // The drop-downs' items, in their order: the actions and the repetitions
  // by their numbers.
  static const std::vector<PlanAction>& Actions();
  static const std::vector<PlanRepeat>& Repeats();
  static std::string RepeatChoiceText(PlanRepeat repeat);
  // Sleep and hibernation where the machine cannot are shown greyed, with
  // ActionTip saying why.
  bool ActionAvailable(PlanAction action) const;
  std::string ActionTip() const;

  // The controls that the repetition uses; the others are hidden.
  struct Fields {
    bool date = false;           // once: the day; every N days: the first day
    std::string date_label;      // 日期 or 开始日期
    bool weekdays = false;       // 日 一 二 三 四 五 六
    bool every_days = false;     // N, 2 to 16
    bool idle_minutes = false;   // 1 to 1440
    bool time = false;           // to the second; an idle plan has none
    bool warning_enabled = true; // waking has nobody to warn
  };
  Fields Visible() const;

  const Plan& plan() const { return plan_; }
  const std::string& every_days_text() const { return every_days_text_; }
  const std::string& idle_minutes_text() const { return idle_minutes_text_; }

  void SetEnabled(bool enabled) { plan_.enabled = enabled; }
  // Refused (false) for an action the machine cannot perform.
  bool SetAction(PlanAction action);
  void SetRepeat(PlanRepeat repeat);
  void SetDate(const Date& date) { plan_.date = date; }
  void SetWeekday(int weekday, bool on);
  void SetEveryDaysText(const std::string& text) { every_days_text_ = text; }
  void SetIdleMinutesText(const std::string& text) { idle_minutes_text_ = text; }
  void SetTime(int second_of_day);
  void SetWarning(bool on) { plan_.warning = on; }

  // What OK says is wrong, or nullopt when the plan can be kept.
  std::optional<std::string> Problem() const;
  // The plan as OK keeps it; nullopt while Problem() has something to say.
  std::optional<Plan> Result() const;
  // The plan in one sentence as it now stands, or "" while it is incomplete.
  std::string Summary() const;

 private:
  PlanForm(const Plan& plan, const LocalDateTime& now, PowerSupport power);
  // The plan with the typed numbers read in, as far as they read.
  Plan Assembled() const;

  Plan plan_;
  std::string every_days_text_, idle_minutes_text_;
  LocalDateTime now_;
  PowerSupport power_;
};

// ---- the holiday dialog -------------------------------------------------------

inline constexpr char kCalendarFormatLine[] = "日期之间用逗号或换行分隔，连续的日期写成 2026/10/1-2026/10/8";

// The two boxes of 节假日安排: the texts as shown and typed, one entry a
// line to begin with.
class HolidayForm {
 public:
  HolidayForm(const std::string& holidays, const std::string& extra_workdays);

  std::string holidays_text, extra_workdays_text;

  struct Outcome {
    bool ok = false;
    std::string message;                   // when not ok: what could not be read
    std::string holidays, extra_workdays;  // when ok: the lists' canonical texts
  };
  // What OK does: both lists read whole, or a message that names the
  // entries that are no date (the dialog stays open with it).
  Outcome Check() const;
};

// A list's canonical text as the holiday dialog shows it: an entry a line.
std::string DateListForEditing(const std::string& canonical);

}  // namespace dadado
