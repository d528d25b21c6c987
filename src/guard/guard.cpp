#include "guard/guard.h"

#include "scheduler/time_control.h"
#include "system/power.h"

namespace dadado {

std::optional<GuardAction> GuardActionFor(int action_index) {
  // A scheduled action is always forced, whoever performs it.
  const auto flags = ExitFlagsFor(action_index, true);
  if (!flags) return std::nullopt;
  GuardAction a;
  a.exit_flags = *flags;
  if (*flags & kEwxReboot) a.kind = GuardActionKind::kRestart;
  else if (*flags & (kEwxShutdown | kEwxPoweroff)) a.kind = GuardActionKind::kPowerOff;
  else a.kind = GuardActionKind::kLogOff;
  return a;
}

GuardService::GuardService(GuardSystem& system, FileStore& files, std::string settings_path, Clock& clock)
    : system_(system),
      files_(files),
      settings_path_(std::move(settings_path)),
      clock_(clock),
      started_(clock.Now()),
      runner_(clock) {}

void GuardService::Tick() {
  const std::int64_t now = Now();
  // Read afresh every second: an Apply in the program counts at once, and a
  // file that cannot be read gives the defaults, as it does the program.
  settings_ = ReadGuardSettings(files_, settings_path_, system_.ReadPolicy(), started_);
  const std::optional<SessionId> session = system_.ConsoleUserSession();
  if (session != last_session_) {
    // Another user at the console: what was known of the program was of
    // the other session.
    running_now_ = false;
    forbidden_since_.reset();
    time_control_done_at_.reset();
  }
  last_session_ = session;
  running_before_ = running_now_;
  running_now_ = session && system_.ProgramRunning(*session);
  if (running_now_) {
    starting_until_.reset();
    released_ = false;  // started again by hand: guarded again
  }
  // Acting first: a program started in this very second could not see it.
  EnforceSchedule(now, session);
  EnforceTimeControl(now, session);
  KeepProgramRunning(now, session);
}

void GuardService::EnforceSchedule(std::int64_t now, std::optional<SessionId> session) {
  // The runner sees every second, also while the program acts, so that the
  // guard takes over without missing or repeating one.
  runner_.set_interval_start(settings_.interval_start);
  const ScheduleStep step = runner_.Tick(settings_.schedule);
  if (!step.action_due || !step.occurrence || step.caught_up) return;
  // Before the guard started nobody watched for it; catching up a missed
  // action is the program's, at its start.
  if (*step.occurrence <= LocalSeconds(started_)) return;
  if (ProgramHolds() || released_) return;
  const auto action = GuardActionFor(settings_.action);
  if (!action) return;
  if (action->kind == GuardActionKind::kLogOff && !session) return;  // nobody to log off
  system_.RecordPerformed(*step.occurrence);
  if (system_.Perform(*action, session))
    system_.WriteEvent(EventType::kInformation, events::kGuardActed, {ActionText(settings_.action)});
}

void GuardService::EnforceTimeControl(std::int64_t now, std::optional<SessionId> session) {
  // With nobody logged on there is nobody to keep off the computer, and an
  // administrator must be able to log on to change the hours.
  if (!settings_.time_control || !session || released_) {
    forbidden_since_.reset();
    time_control_done_at_.reset();
    return;
  }
  const LocalDateTime t = FromLocalSeconds(now);
  if (IsTimeAllowed(settings_.allowed_hours[WeekdayOf(DayNumber(t.date))], t.second_of_day)) {
    forbidden_since_.reset();
    time_control_done_at_.reset();
    return;
  }
  // The program counts its own thirty seconds while it is there. Its
  // coming back does not start the guard's count afresh: ending it again
  // and again must not keep the hour open.
  if (ProgramHolds()) return;
  if (!forbidden_since_) forbidden_since_ = now;
  if (now - *forbidden_since_ < kTimeControlGraceSeconds) return;
  if (time_control_done_at_ && (time_control_done_ok_ || now - *time_control_done_at_ < kRetrySeconds)) return;
  time_control_done_ok_ = system_.Perform(*GuardActionFor(static_cast<int>(ActionKind::kShutDown)), session);
  if (time_control_done_ok_)
    system_.WriteEvent(EventType::kInformation, events::kGuardActed,
                       {ActionText(static_cast<int>(ActionKind::kShutDown)) + "[定时]"});
  time_control_done_at_ = now;
}

bool GuardService::StartAllowed(std::int64_t now) {
  if (!backing_off_ && starts_.size() >= static_cast<std::size_t>(kMaxStartsInWindow) &&
      now - starts_[starts_.size() - kMaxStartsInWindow] < kStartWindowSeconds)
    backing_off_ = true;
  if (backing_off_) return starts_.empty() || now - starts_.back() >= kBackOffSeconds;
  return true;
}

void GuardService::KeepProgramRunning(std::int64_t now, std::optional<SessionId> session) {
  if (!session || released_) {
    starting_until_.reset();
    stable_since_.reset();
    return;
  }
  if (running_now_) {
    if (!stable_since_) stable_since_ = now;
    // A program that stays a minute ends the back-off.
    if (now - *stable_since_ >= kBackOffSeconds) backing_off_ = false;
    return;
  }
  stable_since_.reset();
  if (starting_until_ && now < *starting_until_) return;  // still starting up
  starting_until_.reset();
  if (!StartAllowed(now)) return;
  starts_.push_back(now);
  while (starts_.size() > static_cast<std::size_t>(kMaxStartsInWindow)) starts_.pop_front();
  if (!system_.StartProgram(*session)) return;
  starting_until_ = now + kStartGraceSeconds;
  // A program that ended without Exit was brought back: worth a warning.
  if (exit_code_) system_.WriteEvent(EventType::kWarning, events::kGuardRestarted, {std::to_string(*exit_code_)});
  exit_code_.reset();
}

void GuardService::SessionLogon(SessionId) {
  released_ = false;
  exit_code_.reset();
  backing_off_ = false;
  starts_.clear();
  starting_until_.reset();
  exit_requested_at_.reset();
}

void GuardService::SessionLogoff(SessionId) {
  // An Exit lets the program go for the session it was given in.
  released_ = false;
  starting_until_.reset();
  exit_requested_at_.reset();
}

void GuardService::ExitRequested() { exit_requested_at_ = Now(); }

void GuardService::ProgramExited(std::uint32_t exit_code) {
  starting_until_.reset();
  exit_code_ = exit_code;
  // Only the program itself ends with its clean code; a kill ends it with
  // another one. An asking that no clean end follows soon counts for nothing.
  if (exit_requested_at_ && Now() - *exit_requested_at_ <= kExitRequestSeconds && exit_code == kCleanExitCode)
    released_ = true;
  exit_requested_at_.reset();
}

}  // namespace dadado
