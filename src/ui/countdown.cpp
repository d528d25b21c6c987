#include "ui/countdown.h"

namespace dadado {

std::string RemainingText(int seconds) { return "时间剩余" + std::to_string(seconds) + "秒"; }

void CountdownScreen::Load(bool time_control, const std::string& action_text, const std::string& version_text) {
  static std::uint64_t next_generation = 0;
  exists = true;
  visible = false;
  generation = ++next_generation;
  seconds_left = time_control ? kTimeControlCountdownSeconds : kScheduleCountdownSeconds;
  remaining = RemainingText(seconds_left);
  action_line = "操作: " + action_text;
  title = version_text + " 警告";
  password.clear();
}

bool CountdownScreen::Tick() {
  if (!exists) return false;
  --seconds_left;
  remaining = RemainingText(seconds_left);
  return seconds_left <= 0;
}

}  // namespace dadado
