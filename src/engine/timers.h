// The engine's two timers, under the names of the settings window's timers.
#pragma once

namespace dadado {

enum class FormTimer { kSchedule, kTimeControl };  // Form1.Timer1, Form1.Timer2

}  // namespace dadado
