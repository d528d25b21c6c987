#include "scheduler/plan_runner.h"

#include <algorithm>

namespace dadado {

namespace {

bool Acts(const Plan& p) { return p.enabled && p.repeat != PlanRepeat::kIdle && p.action != PlanAction::kWake; }

// Whether an instant is met for the first time; marks it when it is. An
// instant never counts twice, even when the clock is turned back over it.
bool FirstTime(std::map<std::pair<int, std::string>, std::int64_t>& memory, const std::pair<int, std::string>& key,
               std::int64_t instant) {
  auto it = memory.find(key);
  if (it != memory.end() && it->second == instant) return false;
  memory[key] = instant;
  return true;
}

// The notice is given in the first minute after it is due, never later.
bool InNoticeMinute(std::int64_t due, std::int64_t now) {
  return now >= due - PlanRunner::kNoticeLeadSeconds && now < due - PlanRunner::kNoticeLeadSeconds + 60;
}

}  // namespace

PlanRunner::Key PlanRunner::KeyOf(const std::vector<Plan>& plans, int plan) {
  return {plan, FormatPlanLine(plans[plan - 1])};
}

PlanStep PlanRunner::Tick(const std::vector<Plan>& plans, const WorkCalendar& calendar) {
  PlanStep step;
  const std::int64_t now = LocalSeconds(clock_.Now());
  const std::vector<std::int64_t> seconds = seconds_.Advance(now);
  if (seconds.empty()) return step;
  const std::int64_t first = seconds.front(), last = seconds.back();
  for (int i = 1; i <= static_cast<int>(plans.size()); ++i) {
    const Plan& plan = plans[i - 1];
    if (!Acts(plan)) continue;
    const Key key = KeyOf(plans, i);
    // The plan's own instants in the seconds this tick stands for.
    if (auto due = NextPlanDueAfter(plan, calendar, first - 1); due && *due <= last &&
                                                               FirstTime(last_due_, key, *due)) {
      step.due.push_back({i, *due});
      step.caught_up.push_back(false);
    }
    if (plan.warning) {
      if (auto due = NextPlanDueAfter(plan, calendar, first - 1 + kPlanWarningLeadSeconds)) {
        const auto warn = PlanWarningAt(plan, *due);
        if (warn && *warn >= first && *warn <= last && FirstTime(last_warning_, key, *due)) {
          step.warnings.push_back({i, *due});
          step.warned_due.push_back(*due);
        }
      }
      if (auto due = NextPlanDueAfter(plan, calendar, now + kPlanWarningLeadSeconds);
          due && InNoticeMinute(*due, now) && FirstTime(last_notice_, key, *due))
        step.notices.push_back({{i, *due}, *due});
    }
  }
  // Postponed and caught-up occurrences.
  for (auto it = moved_.begin(); it != moved_.end();) {
    const int i = it->occurrence.plan;
    const bool same_plan = i >= 1 && i <= static_cast<int>(plans.size()) && FormatPlanLine(plans[i - 1]) == it->line &&
                           plans[i - 1].enabled;
    if (!same_plan) {  // the plan was changed or removed: its moved occurrence goes with it
      it = moved_.erase(it);
      continue;
    }
    const bool warns = plans[i - 1].warning || it->caught_up;
    if (warns && !it->warned && last >= it->due - kPlanWarningLeadSeconds) {
      it->warned = true;
      step.warnings.push_back(it->occurrence);
      step.warned_due.push_back(it->due);
    }
    if (warns && !it->noticed && InNoticeMinute(it->due, now)) {
      it->noticed = true;
      step.notices.push_back({it->occurrence, it->due});
    }
    if (it->due >= first && it->due <= last) {
      step.due.push_back(it->occurrence);
      step.caught_up.push_back(it->caught_up);
      it = moved_.erase(it);
      continue;
    }
    if (it->due < first) {  // passed while the clock jumped: gone
      it = moved_.erase(it);
      continue;
    }
    ++it;
  }
  return step;
}

int PlanRunner::SecondsToNextTick(const std::vector<Plan>& plans, const WorkCalendar& calendar, int max_idle) {
  const std::int64_t now = LocalSeconds(clock_.Now());
  TickWait wait(now, max_idle);
  for (const Plan& plan : plans) {
    if (!Acts(plan)) continue;
    wait.Alert(NextPlanEventAfter(plan, calendar, now));
    if (plan.warning)
      if (auto due = NextPlanDueAfter(plan, calendar, now + kPlanWarningLeadSeconds))
        wait.Exactly(*due - kNoticeLeadSeconds);
  }
  for (const Moved& m : moved_) {
    if (!m.warned) wait.Alert(m.due - kPlanWarningLeadSeconds);
    wait.Alert(m.due);
    if (!m.noticed) wait.Exactly(m.due - kNoticeLeadSeconds);
  }
  return wait.seconds();
}

std::optional<PlanOccurrence> PlanRunner::NextDue(const std::vector<Plan>& plans, const WorkCalendar& calendar) {
  const std::int64_t now = LocalSeconds(clock_.Now());
  std::optional<PlanOccurrence> next;
  auto consider = [&](PlanOccurrence o, std::int64_t at) {
    if (at < now) return;
    if (!next || at < next->instant) next = PlanOccurrence{o.plan, at};
  };
  for (int i = 1; i <= static_cast<int>(plans.size()); ++i) {
    if (!Acts(plans[i - 1])) continue;
    auto due = NextPlanDueAfter(plans[i - 1], calendar, now - 1);
    // The plan's own instant that was postponed or dropped counts as done.
    const Key key = KeyOf(plans, i);
    if (due && last_due_.count(key) && last_due_[key] == *due) due = NextPlanDueAfter(plans[i - 1], calendar, *due);
    if (due) consider({i, *due}, *due);
  }
  for (const Moved& m : moved_) consider(m.occurrence, m.due);
  return next;
}

std::optional<std::int64_t> PlanRunner::NextWake(const std::vector<Plan>& plans, const WorkCalendar& calendar) {
  const std::int64_t now = LocalSeconds(clock_.Now());
  std::optional<std::int64_t> next;
  for (const Plan& plan : plans) {
    if (!plan.enabled || plan.action != PlanAction::kWake) continue;
    if (auto due = NextPlanDueAfter(plan, calendar, now); due && (!next || *due < *next)) next = due;
  }
  return next;
}

std::vector<std::pair<PlanOccurrence, std::int64_t>> PlanRunner::SkippedForward(const std::vector<Plan>& plans,
                                                                                 const WorkCalendar& calendar,
                                                                                 std::int64_t from, std::int64_t to) {
  std::vector<std::pair<PlanOccurrence, std::int64_t>> warn_now;
  for (int i = 1; i <= static_cast<int>(plans.size()); ++i) {
    const Plan& plan = plans[i - 1];
    if (!Acts(plan)) continue;
    const auto due = NextPlanDueAfter(plan, calendar, from);
    if (!due) continue;
    const Key key = KeyOf(plans, i);
    if (*due < to) {
      if (FirstTime(last_due_, key, *due))
        moved_.push_back({{i, *due}, key.second, plan.warning ? to + kPlanWarningLeadSeconds : to, false, false, false});
      continue;
    }
    // Its warning fell into the skipped time: the countdown opens now and
    // the action keeps its second.
    const auto warn = PlanWarningAt(plan, *due);
    if (!warn || *warn <= from || *warn >= to || !FirstTime(last_due_, key, *due)) continue;
    moved_.push_back({{i, *due}, key.second, *due, false, true, true});
    warn_now.push_back({{i, *due}, *due});
  }
  return warn_now;
}

std::int64_t PlanRunner::Postpone(const std::vector<Plan>& plans, const PlanOccurrence& occurrence, int seconds) {
  const int i = occurrence.plan;
  if (i < 1 || i > static_cast<int>(plans.size())) return occurrence.instant + seconds;
  const Key key = KeyOf(plans, i);
  for (Moved& m : moved_)
    if (m.occurrence == occurrence && m.line == key.second) {
      m.due += seconds;
      m.warned = m.noticed = false;
      return m.due;
    }
  // The plan's own instant passes without acting.
  last_due_[key] = std::max(last_due_.count(key) ? last_due_[key] : occurrence.instant, occurrence.instant);
  moved_.push_back({occurrence, key.second, occurrence.instant + seconds, false, false, false});
  return occurrence.instant + seconds;
}

void PlanRunner::Drop(const std::vector<Plan>& plans, const PlanOccurrence& occurrence) {
  const int i = occurrence.plan;
  moved_.erase(std::remove_if(moved_.begin(), moved_.end(),
                              [&](const Moved& m) { return m.occurrence == occurrence; }),
               moved_.end());
  if (i < 1 || i > static_cast<int>(plans.size())) return;
  const Key key = KeyOf(plans, i);
  if (!last_due_.count(key) || last_due_[key] < occurrence.instant) last_due_[key] = occurrence.instant;
}

std::optional<PlanOccurrence> PlanRunner::StartCatchUp(const std::vector<Plan>& plans, const WorkCalendar& calendar,
                                                       std::optional<std::int64_t> last_done) {
  constexpr std::int64_t kWindow = 2 * 60 * 60;
  const std::int64_t now = LocalSeconds(clock_.Now());
  std::optional<PlanOccurrence> latest;
  for (int i = 1; i <= static_cast<int>(plans.size()); ++i) {
    const Plan& plan = plans[i - 1];
    if (!Acts(plan) || !CanCatchUp(plan.action)) continue;
    const auto missed = LatestPlanDueWithin(plan, calendar, now, kWindow);
    if (!missed || *missed >= now) continue;  // due this very second: the tick does it
    if (last_done && *missed <= *last_done) continue;
    if (last_caught_up_ && *missed <= *last_caught_up_) continue;
    if (!latest || *missed > latest->instant) latest = PlanOccurrence{i, *missed};
  }
  if (!latest) return std::nullopt;
  last_caught_up_ = latest->instant;
  // The countdown opens at once (the caller opens it), as it would 121
  // seconds before.
  moved_.push_back({*latest, FormatPlanLine(plans[latest->plan - 1]), now + kPlanWarningLeadSeconds, true, true, true});
  return latest;
}

}  // namespace dadado
