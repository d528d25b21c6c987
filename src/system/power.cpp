#include "system/power.h"

namespace dadado {

std::optional<unsigned> ExitFlagsFor(int action_index, bool forced) {
  const unsigned force = forced ? kEwxForce : 0;
  switch (action_index) {
    case static_cast<int>(ActionKind::kRestart): return kEwxReboot | force;
    case static_cast<int>(ActionKind::kShutDown): return kEwxShutdown | kEwxPoweroff | force;
    case static_cast<int>(ActionKind::kLogOff): return kEwxLogoff | force;
    default: return std::nullopt;
  }
}

std::optional<ActionKind> ActionOfRunNowItem(int index) {
  switch (index) {
    case 0: return ActionKind::kShutDown;
    case 1: return ActionKind::kRestart;
    case 2: return ActionKind::kLogOff;
    default: return std::nullopt;
  }
}

}  // namespace dadado
