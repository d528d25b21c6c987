// Plans as the tests build them.
#pragma once

#include "scheduler/plan.h"

namespace dadado::testing {

inline Plan MakePlan(PlanAction action, PlanRepeat repeat, int time_of_day, bool warning = true) {
  Plan p;
  p.action = action;
  p.repeat = repeat;
  p.time_of_day = time_of_day;
  p.warning = warning;
  return p;
}

// Every day at h:m:s.
inline Plan DailyPlan(PlanAction action, int h, int m, int s, bool warning) {
  return MakePlan(action, PlanRepeat::kDaily, h * 3600 + m * 60 + s, warning);
}

// After `minutes` without input, without the warning.
inline Plan IdlePlan(int minutes, PlanAction action = PlanAction::kLock) {
  Plan p = MakePlan(action, PlanRepeat::kIdle, 0, false);
  p.idle_minutes = minutes;
  return p;
}

}  // namespace dadado::testing
