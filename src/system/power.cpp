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

std::string ActionText(int action_index) {
  static const char* const kTexts[] = {"重新启动计算机", "关闭计算机", "注销用户", "不进行任何操作"};
  return (action_index >= 0 && action_index <= 3) ? kTexts[action_index] : kTexts[3];
}

std::string ActionRefusedText(int action_index) {
  return "无法" + ActionText(action_index) + "：系统拒绝了这个操作，可能是当前用户没有关机权限。\n程序将继续运行。";
}

}  // namespace dadado
