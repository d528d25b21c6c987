// Action kinds and the exit-flag table.
#pragma once

#include <optional>
#include <string>

namespace dadado {

enum class ActionKind : int { kRestart = 0, kShutDown = 1, kLogOff = 2, kNoAction = 3 };

// The system's own flag values.
inline constexpr unsigned kEwxLogoff = 0, kEwxShutdown = 1, kEwxReboot = 2, kEwxForce = 4, kEwxPoweroff = 8;

// The first argument of the exit call for a kind; nullopt for "no action" and
// for any index that is not one of the three actions.
std::optional<unsigned> ExitFlagsFor(int action_index, bool forced);

// The text the action list shows for an action index; "不进行任何操作" for
// none and anything that is not an action.
std::string ActionText(int action_index);

// What the user is told when the system refused an action.
std::string ActionRefusedText(int action_index);

// The tray submenu numbers its items in its own order:
// 0 shut down, 1 restart, 2 log off.
std::optional<ActionKind> ActionOfRunNowItem(int index);

}  // namespace dadado
