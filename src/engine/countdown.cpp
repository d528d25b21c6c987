#include "engine/countdown.h"

namespace dadado {

std::string RemainingText(int seconds) { return "时间剩余" + std::to_string(seconds) + "秒"; }

void Countdown::Open(bool time_control, const std::string& action_text, const std::string& version_text, bool show) {
  if (!screen_.exists) {
    Close();
    screen_.exists = true;
    screen_.generation = ++generations_;
    screen_.seconds_left = time_control ? kTimeControlCountdownSeconds : kScheduleCountdownSeconds;
    screen_.remaining = RemainingText(screen_.seconds_left);
    screen_.action_line = "操作: " + action_text;
    screen_.title = version_text + " 警告";
    purpose_ = time_control ? CountdownPurpose::kTimeControl : CountdownPurpose::kSchedule;
  }
  if (show) screen_.visible = true;
}

CountdownTick Countdown::Tick(bool time_control_in_force) {
  if (!screen_.exists) return CountdownTick::kCounting;
  --screen_.seconds_left;
  screen_.remaining = RemainingText(screen_.seconds_left);
  if (screen_.seconds_left > 0) return CountdownTick::kCounting;
  Close();
  return time_control_in_force ? CountdownTick::kShutDown : CountdownTick::kClosed;
}

CountdownAnswer Countdown::Enter(const std::function<bool(const std::string&)>& password_matches) {
  if (!screen_.exists) return CountdownAnswer::kNoWindow;
  if (!password_matches(screen_.password)) return CountdownAnswer::kWrongPassword;
  Close();  // the typed text goes with it
  return CountdownAnswer::kCancelled;
}

bool Countdown::EmptyBoxAfterWrongPassword(std::uint64_t generation) {
  if (!screen_.exists || screen_.generation != generation) return false;
  WipeString(screen_.password);
  return true;
}

}  // namespace dadado
