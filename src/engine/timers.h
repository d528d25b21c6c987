// The engine's timers: the settings window's two under their names, and the
// plans' own.
#pragma once

namespace dadado {

enum class FormTimer { kSchedule, kTimeControl, kPlans };  // Form1.Timer1, Form1.Timer2, the plans

}  // namespace dadado
