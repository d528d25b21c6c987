// The engine's timers: the settings window's two under their names, the
// plans' own and the minute count's.
#pragma once

namespace dadado {

// Form1.Timer1, Form1.Timer2, the plans, and the minute count of today's use
// while Timer2 does not run (a schedule is selected, or a countdown was
// cancelled) and the use is counted all the same.
enum class FormTimer { kSchedule, kTimeControl, kPlans, kUsage };

}  // namespace dadado
