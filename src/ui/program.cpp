#include "ui/program.h"

#include <algorithm>

#include "base/wipe.h"
#include "protection/password.h"
#include "scheduler/time_control.h"
#include "base/date_time_text.h"
#include "settings/keys.h"
#include "system/power.h"
#include "system/windows_integration.h"
#include "settings/settings_table.h"
#include "ui/start_trace.h"
#include "version.h"

namespace dadado {

namespace {

constexpr char kNotice[] = "提示";
constexpr int kRightButton = 2;

RegistryChoices RegistryChoicesOf(const LiveSettings& live) {
  return {live.IsSet(2), live.IsSet(3), live.text1().text, live.text2().text};
}

// Whether loading `step` writes back a value the file lacks, as a first
// start does: the time, the interval's start and the allowed hours are
// written when missing (unless the policy sets them, when the file is not
// read for them).
bool WritesDefaults(SettingsFile& file, LoadStep step, const PolicyValues& policy) {
  for (const SettingEntry& e : SettingsTable()) {
    if (e.step != step || PolicyOverride(e, policy)) continue;
    if (e.control != SettingControl::kScheduledTime && e.control != SettingControl::kIntervalStart &&
        e.control != SettingControl::kAllowedHours)
      continue;
    const auto value = file.Peek(e.section, e.key);
    if (!value || value->empty()) return true;
  }
  return false;
}

}  // namespace

Program::Program(SettingsFile& settings, OperatingSystem& os, GuardManagement& guard, Screen& screen, Clock& clock)
    : settings_(settings),
      os_(os),
      guard_(guard),
      screen_(screen),
      clock_(clock),
      state_(settings, os, guard),
      engine_(*this, clock, VersionText()),
      recorder_(settings.store(), UsageFilePath(settings.path())) {
  live_.open_accounts_panel = [this] { os_.StartCommand(AccountsPanelCommand(os_.SystemFolder())); };
}

void Program::Start(bool finish_later) {
  finishing_later_ = finish_later;
  if (link_) {
    // The service enforces; the program's own engine never runs.
    engine_.SetTimer(FormTimer::kSchedule, false);
    engine_.SetTimer(FormTimer::kTimeControl, false);
    engine_.Stop();
  }
  screen_.SetTimerRunning(FormTimer::kSchedule, engine_.timer_running(FormTimer::kSchedule));
  screen_.SetTimerRunning(FormTimer::kTimeControl, engine_.timer_running(FormTimer::kTimeControl));
  // Today's use so far, across restarts of the program and the computer,
  // before the first time-control check counts on; the account is the one
  // this program runs as (the face only names it: the service counts).
  engine_.use().Load(state_.LoadUsage(), clock_.Now());
  engine_.SetAccount(EngineSettingsOf(live_), os_.CurrentAccount());
  engine_.IdleRestarts();
  Form_Load();
  TraceMark("form loaded");
  if (!finish_later) FinishStart();
  else screen_.Refresh();
}

void Program::FinishStart() {
  const bool deferred = finishing_later_;
  finishing_later_ = false;
  if (ended_) return;
  if (deferred) {
    // As Form_Load left it: nothing the user changed.
    const bool pending = live_.apply_enabled();
    ReadGuardState();
    live_.SetApplyEnabled(pending);
  }
  if (!link_) {
    Log(EventType::kInformation, events::kStarted, {DADADO_VERSION_TEXT, os_.ExecutableFolder()});
    CatchUpMissed();
  }
  UpdateTrayTip();
  screen_.Refresh();
}

void Program::SessionChanged() {
  if (!link_) engine_.SessionChanged(!os_.SessionLocked().value_or(false));
  UpdateUsageTimer();
}

void Program::UpdateUsageTimer() {
  const bool wanted = !link_ && !ended_ && !engine_.timer_running(FormTimer::kTimeControl) && engine_.use().active() &&
                      EngineSettingsOf(live_).CountingWanted();
  if (wanted == usage_timer_) return;
  usage_timer_ = wanted;
  screen_.SetTimerRunning(FormTimer::kUsage, wanted);
}

void Program::UsageTimer_Timer() {
  if (ended_ || link_ || !usage_timer_) return;
  EveryMinute();
  if (ended_) return;
  engine_.CountUse(EngineSettingsOf(live_));
  UpdateTrayTip();
}

void Program::GuardMayHaveStarted() {
  if (!ended_ && !link_ && guard_.Running()) End();
}

void Program::ClockDiscontinuity() {
  // The service looks at the zone for itself, and the tooltip says at once
  // when it is not the one the service judges in.
  if (link_) link_->Tell(protocol::Message(protocol::kClockChanged));
  engine_.ClockDiscontinuity();
  if (!link_ && !ended_) engine_.ArmWake(EngineSettingsOf(live_));
}

void Program::Resumed() {
  wall_clock_.Reset();
  ClockDiscontinuity();
  engine_.IdleRestarts();
  CatchUpMissed();
  screen_.Refresh();
}

void Program::CatchUpMissed() {
  if (ended_ || link_) return;
  const EngineSettings s = EngineSettingsOf(live_);
  engine_.CatchUpMissedPlan(s, state_.LastOccurrence());
  if (!engine_.timer_running(FormTimer::kSchedule) || !s.catch_up) return;
  engine_.CatchUpMissed(s, state_.LastOccurrence());
}

// ---- what the engine asks of the program ----------------------------------------------

void Program::TimerChanged(FormTimer t, bool running) {
  if (t == FormTimer::kSchedule) {
    if (running && !schedule_timer_ && !plan_timer_) wall_clock_.Reset();
    schedule_timer_ = running;
  }
  screen_.SetTimerRunning(t, running);
  if (t == FormTimer::kTimeControl) UpdateUsageTimer();
}
void Program::CountdownOpened(bool visible) { screen_.OpenCountdown(visible); }
void Program::CountdownChanged() { screen_.Refresh(); }
void Program::CountdownClosed() { screen_.CloseCountdown(); }
bool Program::Perform(unsigned exit_flags) { return PerformAction(exit_flags); }
void Program::ActionRefused(int action_index) { ReportRefused(action_index); }
bool Program::RememberOccurrence(std::int64_t instant) { return state_.RememberOccurrence(instant); }
// At most once a minute.
void Program::StoreUse(const UsageDay& day, bool machine, bool accounts) {
  if (!link_) state_.StoreUsage(day, machine, accounts);
}

void Program::RecordHistory(const UsageDay& day) {
  if (link_) return;
  recorder_.Record(day, EngineSettingsOf(live_).keep_days);
  if (auto why = recorder_.TakeFailure()) Log(EventType::kWarning, events::kHistoryNotWritten, {recorder_.path(), *why});
}

PlanOutcome Program::PerformPlan(PlanAction action, int, std::int64_t) {
  bool done = false;
  switch (action) {
    case PlanAction::kRestart:
    case PlanAction::kShutDown:
    case PlanAction::kLogOff:
      done = PerformAction(*ExitFlagsFor(static_cast<int>(action), true));
      break;
    case PlanAction::kSleep: done = os_.Suspend(false); break;
    case PlanAction::kHibernate: done = os_.Suspend(true); break;
    case PlanAction::kLock: done = os_.LockSession(); break;
    case PlanAction::kScreenOff: done = os_.TurnScreenOff(); break;
    case PlanAction::kWake: done = true; break;  // the timer woke the machine already
  }
  return done ? PlanOutcome::kDone : PlanOutcome::kRefused;
}

namespace {

bool HasIdlePlans(const EngineSettings& s) {
  for (const Plan& p : s.plans)
    if (p.enabled && p.repeat == PlanRepeat::kIdle) return true;
  return false;
}

}  // namespace

void Program::UpdatePlanTimer() {
  // The face asks its service; it only measures the idle time for it.
  const EngineSettings s = EngineSettingsOf(live_);
  const bool wanted = link_ ? HasIdlePlans(s) : !s.plans.empty();
  if (wanted != plan_timer_) {
    if (wanted && !schedule_timer_) wall_clock_.Reset();
    plan_timer_ = wanted;
    screen_.SetTimerRunning(FormTimer::kPlans, wanted);
  }
  if (!link_) engine_.ArmWake(s);
  UpdateUsageTimer();
}

int Program::IdleTickSeconds() {
  if (settings_unread_) return ScheduleRunner::kIdleTickSeconds;
  const auto utc = os_.UtcSeconds();
  const auto zone = os_.TimeZone();
  if (!utc || !zone) return ScheduleRunner::kIdleTickSeconds;
  std::int64_t wait = std::min(kLongestTickSeconds, 24 * 3600 - clock_.Now().second_of_day);
  if (const auto change = NextClockChange(*zone, *utc)) {
    const std::int64_t before = *change - kLookBeforeClockChange;
    wait = std::min(wait, (*utc < before ? before : *change) - *utc);
  }
  return static_cast<int>(std::max<std::int64_t>(wait, 1));
}

int Program::SecondsToNextScheduleTick() {
  return engine_.SecondsToNextScheduleTick(EngineSettingsOf(live_), IdleTickSeconds());
}

int Program::SecondsToNextPlanTick() {
  const EngineSettings s = EngineSettingsOf(live_);
  // Idle is looked at every ten seconds, so that a countdown for an idle
  // machine goes as soon as someone is back.
  const int most = HasIdlePlans(s) ? 10 : IdleTickSeconds();
  if (link_) return most;
  return engine_.SecondsToNextPlanTick(s, most);
}

void Program::WatchWallClock() {
  if (link_) return;
  const auto utc = os_.UtcSeconds();
  if (!utc) return;
  const auto from = wall_clock_.Observe(LocalSeconds(clock_.Now()), *utc);
  if (!from) return;
  const EngineSettings s = EngineSettingsOf(live_);
  engine_.WallClockSkipped(s, *from);
  // What the skip brought forward may be due this very second, or before the
  // timer that did not see it would run again: both tick now (the tick that
  // follows finds nothing more in this second), and both are set again for
  // what is due next.
  if (engine_.timer_running(FormTimer::kSchedule)) engine_.ScheduleTick(s);
  if (engine_.timer_running(FormTimer::kSchedule)) screen_.SetTimerRunning(FormTimer::kSchedule, true);
  if (plan_timer_) {
    engine_.PlanTick(s);
    screen_.SetTimerRunning(FormTimer::kPlans, true);
  }
}

void Program::PlanTimer_Timer() {
  if (ended_ || !plan_timer_) return;
  EveryMinute();
  if (ended_) return;
  WatchWallClock();
  const EngineSettings s = EngineSettingsOf(live_);
  if (link_) {
    // Told to the service when it changes by a minute, and at once when
    // someone is back.
    const int idle = os_.IdleSeconds();
    if (idle / 60 != idle_told_ / 60 || (idle < idle_told_ && idle_told_ >= 60)) {
      idle_told_ = idle;
      link_->Tell(protocol::Message(protocol::kIdle).Set("seconds", idle));
    }
    return;
  }
  if (HasIdlePlans(s)) engine_.IdleObserved(s, os_.IdleSeconds());
  engine_.PlanTick(s);
  if (ended_) return;
  UpdateTrayTip();
}

void Program::AllowWakeTimers() {
  if (!AcceptsInput(kPlansTab)) return;
  if (!os_.AllowWakeTimers())
    screen_.ShowMessage("无法更改电源计划：需要管理员权限。", kNotice, MessageIcon::kWarning, MessageButtons::kOk);
  screen_.Refresh();
}

void Program::WokeForPlan() {
  if (!link_) engine_.WokeForPlan();
}

void Program::ShowForm(bool visible) {
  form_visible_ = visible;
  // What the settings gate let in lasts while the window is open.
  if (!visible && face_password_) {
    WipeString(*face_password_);
    face_password_.reset();
  }
  screen_.ShowSettingsWindow(visible);
}

void Program::End() {
  // What was counted since the history was last written goes in now.
  if (!link_ && !ended_) engine_.FlushHistory(EngineSettingsOf(live_));
  ended_ = true;
  engine_.Stop();
  screen_.EndProgram();
}

// ---- start-up -------------------------------------------------------------

void Program::Form_Load() {
  // 1. Only one copy runs. The service starts its face only when there is
  // none: it is the one. While the service runs, the program is its face,
  // which only the service starts: a copy started any other way is a
  // second copy.
  if (!link_ && (guard_.Running() || os_.AnotherCopyRunning())) {
    screen_.ShowMessage("程序已运行，请检查窗口是否被最小化！", kProgramCaption, MessageIcon::kCritical,
                        MessageButtons::kOk);
    End();
    return;
  }
  // A running guard has its face running, another copy: this minute's look
  // for it has just been taken.
  if (!link_) last_minute_ = LocalSeconds(clock_.Now());
  // The machine policy replaces what it sets, from the first read on.
  ReadPolicy();
  const bool was_unread = settings_unread_;
  const int blind_reads = settings_.blind_reads();
  settings_.Refresh();
  settings_unread_ = settings_.blind_reads() != blind_reads;
  // 2 to 4. The version text labels the tray icon and the About tab; the
  // time picker starts at the current time of day.
  const LocalDateTime now = clock_.Now();
  live_.SetScheduledTime(now.second_of_day);

  // 5 to 7. The registry.
  const std::string base = os_.ExecutableBaseName();
  RegistryReading reg = ReadRegistry(os_, base);
  if (!reg.run_key_opened) {
    screen_.ShowMessage("注册表读取错误", "错误号：1", MessageIcon::kCritical, MessageButtons::kOk);
    ShowForm(true);
    return;
  }
  // The guard starts its face at every logon: start with Windows is its.
  live_.SetCheck(2, link_ || PolicyStartWithWindows(policy_).value_or(reg.start_with_windows) ? 1 : 0);
  if (!finishing_later_) ReadGuardState();
  if (!reg.winlogon_opened) {
    live_.SetCheckEnabled(3, false);
    live_.SetCheckEnabled(11, false);
  } else if (link_) {
    // The service keeps the password where only it can read it; the face
    // shows that there is one, never what it is.
    if (reg.logon_password) WipeString(*reg.logon_password);
    if (face_logon_stored_) live_.SetCheck(3, 1);
    live_.SetText1(reg.logon_user);
    live_.SetCheckEnabled(11, true);
  } else {
    if (reg.logon_password) {
      live_.SetText2(*reg.logon_password);
      live_.SetCheck(3, 1);
    }
    live_.SetText1(reg.logon_user);
    live_.SetCheckEnabled(11, true);
  }

  // 8, 9. Frequency and the checkboxes; their rules run as each is set.
  LoadedExtras extras;
  LoadSettings(LoadStep::kOptions, settings_, live_, extras, now, policy_);

  // 10. What the user sees.
  ShowForm(false);
  settings_shown_ = false;
  if (!live_.IsSet(7)) {
    // The face opens nothing without the password: the service has it.
    // An account's own time control keeps the window behind the password
    // as the rules for everyone do; its section is read with the hours.
    const auto sections = ReadAccountSections(settings_);
    const bool own_rules_on =
        std::any_of(sections.begin(), sections.end(), [](const AccountSection& a) { return a.rules.enabled == 1; });
    if (live_.IsSet(4) || own_rules_on || settings_unread_ || link_) {
      if (live_.IsSet(4)) live_.SelectOption1(kFrequencyNone);
      check_password_.Close();
      check_password_.open = true;
      screen_.OpenCheckPassword();
    } else {
      ShowForm(true);
      settings_shown_ = true;
    }
  }

  // 11. Exactly one timer.
  StartChosenTimer();

  // 12 to 18. The rest of the settings. What a first start writes goes in
  // one replacement of the file for each of the two steps rather than one
  // for each key; the interval's start is checked in the file as written.
  const bool schedule_batch = WritesDefaults(settings_, LoadStep::kSchedule, policy_);
  if (schedule_batch) settings_.BeginBatch();
  LoadSettings(LoadStep::kSchedule, settings_, live_, extras, now, policy_);
  if (schedule_batch) settings_.EndBatch();
  if (!PolicyOverride(EntryOf(SettingControl::kIntervalStart), policy_)) extras.interval_start = state_.IntervalStart(extras.interval_start);
  engine_.set_interval_start(extras.interval_start);
  const auto password = settings_.Peek(keys::kTimeControl, keys::kPassword);
  const bool hours_batch = !password || password->empty() || WritesDefaults(settings_, LoadStep::kHours, policy_);
  if (hours_batch) settings_.BeginBatch();
  ReadStoredPassword(settings_);  // makes sure the file holds a password
  LoadSettings(LoadStep::kHours, settings_, live_, extras, now, policy_);
  if (hours_batch) settings_.EndBatch();
  // The hours list shows the selected weekday from the start, so that a
  // first click on an hour edits that weekday's hours rather than replacing
  // them.
  live_.ShowWeekdayInList(live_.option3_selected());

  // 19. The tray icon.
  ShowTrayIconByCheck1();

  // 20. Lock the workstation when asked.
  LoadSettings(LoadStep::kLock, settings_, live_, extras, now, policy_);
  if (live_.IsSet(5)) os_.StartCommand(LockWorkStationCommand(os_.SystemFolder()));

  settings_unread_ = settings_.blind_reads() != blind_reads;
  if (settings_unread_ && !was_unread)
    screen_.ShowNotice("无法读取设置文件：" + settings_.path() +
                           "\n文件可能正被其他程序占用。在能够读取之前，程序不保存任何设置，也不接受任何密码。",
                       kNotice, MessageIcon::kWarning);

  UpdatePlanTimer();

  // 21, 22. Nothing is pending; the first time-control check.
  live_.SetApplyEnabled(false);
  CheckTimeControl();
}

void Program::ReadPolicy() {
  policy_ = os_.ReadPolicyValues();
  locks_ = LocksOf(policy_);
  if (link_) locks_.check[2] = true;  // started by the guard, not by the Run value
}

void Program::ReadGuardState() {
  live_.SetGuard(link_ || PolicyGuard(policy_).value_or(guard_.Installed()) ? 1 : 0);
}

void Program::PolicyChanged() {
  if (ended_) return;
  const PolicyValues before = policy_;
  ReadPolicy();
  // A refresh that changed nothing leaves everything alone: a countdown
  // cancelled with the password keeps the timers stopped.
  if (policy_ == before) return;
  const bool pending = live_.apply_enabled();
  const LocalDateTime now = clock_.Now();
  LoadedExtras extras{engine_.interval_start()};
  for (const SettingEntry& e : SettingsTable()) {
    if (e.step == LoadStep::kCancel) continue;
    if (PolicyOverride(e, policy_) || PolicyOverride(e, before)) LoadSetting(e, settings_, live_, extras, now, policy_);
  }
  engine_.set_interval_start(extras.interval_start);
  if (auto start = PolicyStartWithWindows(policy_)) {
    live_.SetCheck(2, *start ? 1 : 0);
  } else if (PolicyStartWithWindows(before)) {
    live_.SetCheck(2, ReadRegistry(os_, os_.ExecutableBaseName()).start_with_windows ? 1 : 0);
  }
  live_.SetApplyEnabled(pending);
  // As Apply does: the timer that the settings choose, the tray icon.
  ShowTrayIconByCheck1();
  StartChosenTimer();
  if (engine_.timer_running(FormTimer::kTimeControl)) CheckTimeControl();
  screen_.Refresh();
}

bool Program::PasswordAccepted(const std::string& typed) {
  if (auto stored = PolicyPassword(policy_)) return EncodePassword(typed) == *stored;
  return PasswordMatches(settings_, typed);
}

bool Program::AcceptsInput(int tab) const {
  if (ended_ || !form_visible_ || finishing_later_) return false;
  return tab < 0 || tab >= kTabCount || live_.tab_enabled(tab);
}

void Program::EveryMinute() {
  if (ended_ || link_) return;
  const std::int64_t now = LocalSeconds(clock_.Now());
  if (last_minute_ && now >= *last_minute_ && now - *last_minute_ < 60) return;
  last_minute_ = now;
  // Installed by a script while this copy ran: the service enforces now and
  // starts its own face; two would act on every countdown.
  if (guard_.Running()) {
    End();
    return;
  }
  if (!settings_unread_ || !settings_.Refresh()) return;
  LoadedExtras unused;
  LoadSettings(LoadStep::kCancel, settings_, live_, unused, clock_.Now());
  Form_Load();
}

void Program::StartChosenTimer() {
  if (!link_) engine_.StartChosenTimer(EngineSettingsOf(live_));
  UpdatePlanTimer();
}

void Program::ShowTrayIconByCheck1() {
  tray_shown_ = !live_.IsSet(1);
  tray_tip_ = TrayTip();
  screen_.SetTrayIcon(tray_shown_, tray_tip_);
}

// ---- the schedule tick and the time-control guard -------------------------------------

void Program::Timer1_Timer() {
  if (ended_ || link_ || !engine_.timer_running(FormTimer::kSchedule)) return;
  EveryMinute();
  if (ended_) return;
  WatchWallClock();
  engine_.ScheduleTick(EngineSettingsOf(live_));
  if (ended_) return;
  UpdateTrayTip();
}

void Program::ReportRefused(int action_index) {
  const SystemError error = os_.LastSystemError();
  Log(EventType::kError, events::kActionFailed, {ActionText(action_index), std::to_string(error.code), error.text});
  screen_.ShowNotice(ActionRefusedText(action_index), kNotice, MessageIcon::kWarning);
}

bool Program::PerformAction(unsigned flags) {
  bool privileged = os_.EnableShutdownPrivilege();
  bool done = os_.ExitSession(flags);
  return privileged && done;
}

void Program::CheckTimeControl() {
  if (ended_ || link_) return;
  EveryMinute();
  if (ended_) return;
  engine_.TimeControlCheck(EngineSettingsOf(live_));
  UpdateTrayTip();
}

std::string Program::TrayTip() {
  const std::string next = link_ ? face_tip_ : engine_.NextEventText(EngineSettingsOf(live_));
  return next.empty() ? VersionText() : VersionText() + "\n" + next;
}

void Program::UpdateTrayTip() {
  if (ended_) return;
  std::string tip = TrayTip();
  if (tip == tray_tip_) return;
  tray_tip_ = std::move(tip);
  screen_.SetTrayIcon(tray_shown_, tray_tip_);
}

// ---- the countdown screen ---------------------------------------------------------

void Program::OpenShutdownScreen(int mode) {
  if (!link_) engine_.OpenCountdown(EngineSettingsOf(live_), mode);
}

void Program::Countdown_Timer1_Timer() {
  if (ended_ || link_) return;  // the service counts the face's countdown
  engine_.CountdownTick(EngineSettingsOf(live_));
}

void Program::Countdown_Enter() {
  if (link_) return FaceCountdownAnswer(protocol::kCancel);
  const std::uint64_t generation = countdown().generation;
  switch (engine_.Enter(EngineSettingsOf(live_), countdown().password, [this](const std::string& text) { return PasswordAccepted(text); })) {
    case CountdownAnswer::kNoWindow:
    case CountdownAnswer::kCancelled:
      return;
    case CountdownAnswer::kWrongPassword:
      Log(EventType::kWarning, events::kWrongPassword, {"倒计时窗口"});
      screen_.ShowMessage("密码不正确", kNotice, MessageIcon::kCritical, MessageButtons::kOk);
      // The countdown may have reached zero while the message was open; the
      // window it belonged to is gone then and must not be touched.
      if (engine_.EmptyBoxAfterWrongPassword(generation)) screen_.Refresh();
      return;
  }
}

bool Program::CountdownPasswordAccepted() {
  if (!engine_.countdown().is_open()) return false;
  if (PasswordAccepted(countdown().password)) return true;
  const std::uint64_t generation = countdown().generation;
  Log(EventType::kWarning, events::kWrongPassword, {"倒计时窗口"});
  screen_.ShowMessage("密码不正确", kNotice, MessageIcon::kCritical, MessageButtons::kOk);
  if (engine_.EmptyBoxAfterWrongPassword(generation)) screen_.Refresh();
  return false;
}

void Program::Countdown_Postpone() {
  if (link_) return FaceCountdownAnswer(protocol::kPostpone);
  if (!CountdownPasswordAccepted()) return;
  engine_.Postpone(EngineSettingsOf(live_));
  UpdateTrayTip();
}

// ---- the settings gate and the password dialogs --------------------------------------

void Program::ShowSettings(int settings_requested, int start_tab) {
  // Settings that could not be read may have had the password on: the
  // window stays behind it, which nothing can open then.
  const bool guarded = live_.IsSet(10) || live_.AnyTimeControl() || settings_unread_ || link_;
  const bool open = !guarded || settings_requested == 1;
  // Every tab but 关于 holds settings.
  for (int t = 0; t < kTabCount; ++t)
    if (t != kAboutTab) live_.SetTabEnabled(t, open);
  live_.SelectTab(start_tab);
  if (guarded && settings_requested == 1) {
    gate_for_exit_ = false;
    if (!check_password_.open) {
      check_password_.Close();
      check_password_.open = true;
    }
    screen_.OpenCheckPassword();
  } else {
    ShowForm(true);
    settings_shown_ = true;
  }
  screen_.Refresh();
}

void Program::CheckPassword_cmdOK_Click() {
  if (!check_password_.open) return;
  if (link_) return FaceGateAnswer();
  if (PasswordAccepted(check_password_.text)) {
    CheckPassword_cmdCancel_Click();
    ShowForm(true);
    settings_shown_ = true;
    screen_.Refresh();
    return;
  }
  Log(EventType::kWarning, events::kWrongPassword, {"权限密码对话框"});
  screen_.ShowMessage("密码不正确！", kNotice, MessageIcon::kInformation, MessageButtons::kOk);
  if (check_password_.open) {
    WipeString(check_password_.text);
    screen_.Refresh();
    screen_.FocusCheckPassword();
  }
}

void Program::CheckPassword_cmdCancel_Click() {
  check_password_.Close();
  screen_.CloseCheckPassword();
}

void Program::Label7_MouseUp() {
  if (!label7_pressed_) return;
  // A password set by policy, or settings that are read only, are not changed here.
  if (!set_password_.open && !locks_.read_only && !locks_.password) {
    set_password_.Close();
    set_password_.open = true;
    screen_.Refresh();
    screen_.RunSetPassword();
  }
  label7_pressed_ = false;
  screen_.Refresh();
}

void Program::SetPassword_cmdOK_Click() {
  if (!set_password_.open) return;
  const SecretCopy old_copy(set_password_.text), new_copy(set_password_.new_text);
  const std::string& old_password = old_copy.get();
  const std::string& new_password = new_copy.get();
  if (old_password == new_password) {
    screen_.ShowMessage("对不起，原密码与新密码一样，无需更改密码！", kNotice, MessageIcon::kInformation,
                        MessageButtons::kOk);
    WipeString(set_password_.new_text);
    screen_.Refresh();
    return;
  }
  if (link_) return FaceChangePassword();
  if (!PasswordMatches(settings_, old_password)) {
    Log(EventType::kWarning, events::kWrongPassword, {"更改密码对话框"});
    screen_.ShowMessage("对不起，原密码输入不正确！", kNotice, MessageIcon::kInformation, MessageButtons::kOk);
    WipeString(set_password_.text);
    screen_.Refresh();
    screen_.FocusOldPassword();
    return;
  }
  if (!settings_.WriteIniString(keys::kTimeControl, keys::kPassword, EncodePassword(new_password))) {
    screen_.ShowMessage("密码没有修改：设置文件无法写入，原密码仍然有效。\n请确认文件及其所在文件夹不是只读的：\n" +
                            settings_.path(),
                        kNotice, MessageIcon::kWarning, MessageButtons::kOk);
    return;
  }
  screen_.ShowMessage("恭喜，密码修改成功！", kNotice, MessageIcon::kInformation, MessageButtons::kOk);
  SetPassword_cmdCancel_Click();
}

void Program::SetPassword_cmdCancel_Click() {
  set_password_.Close();
  screen_.CloseSetPassword();
}

// ---- tray, window surface, closing -------------------------------------------------

void Program::TrayIcon_MouseDown(int button) {
  if (button == kRightButton) screen_.PopUpTrayMenu();
}

void Program::clock_menu61_Click(int index) {
  settings_shown_ = false;
  if (auto kind = ActionOfRunNowItem(index)) RunNow(static_cast<int>(*kind), live_.IsSet(8));
}

void Program::RunNow(int action_index, bool forced) {
  auto flags = ExitFlagsFor(action_index, forced);
  if (!flags) return;
  if (PerformAction(*flags)) {
    Log(EventType::kInformation, events::kImmediateAction, {ActionText(action_index), std::to_string(*flags)});
    End();
    return;
  }
  const SystemError error = os_.LastSystemError();
  Log(EventType::kError, events::kActionFailed, {ActionText(action_index), std::to_string(error.code), error.text});
  screen_.ShowMessage(ActionRefusedText(action_index), kNotice, MessageIcon::kWarning, MessageButtons::kOk);
}

void Program::Form_QueryUnload(bool session_ending) {
  // The session's end ends the program without another word.
  if (session_ending && !link_ && !ended_) engine_.FlushHistory(EngineSettingsOf(live_));
  if (settings_shown_) {
    // Closing only hides the window while the program shows it; the user's
    // own shutdown or log-off is never held up by it.
    ShowForm(false);
    settings_shown_ = false;
    return;
  }
  if (!session_ending) End();
}

void Program::Label6_Click() { os_.OpenMailLink(kContactAddress); }

// ---- OK, Cancel, Apply, Exit -----------------------------------------------------------

void Program::Command1_Click() {
  ShowForm(false);
  settings_shown_ = false;
  const int action = live_.combo3().index;
  if (live_.IsSet(6) && action >= 0 && action < kActionNone) {
    RunNow(action, live_.IsSet(8));
    if (ended_) return;
    screen_.Refresh();
    return;
  }
  Command3_Click();
}

void Program::Command2_Click() {
  if (live_.apply_enabled()) {
    LoadedExtras unused;
    LoadSettings(LoadStep::kCancel, settings_, live_, unused, clock_.Now());
    Form_Load();
    if (ended_) return;
  }
  live_.SetCheck(8, 1);
  live_.SetCheck(6, 0);
  ShowForm(false);
  settings_shown_ = false;
  screen_.Refresh();
}

void Program::Command3_Click() {
  if (locks_.read_only) return;  // the window shows the settings and saves nothing
  if (link_) return FaceApply();
  if (settings_unread_) {
    screen_.ShowMessage("设置没有保存：设置文件无法读取，保存会覆盖其中原有的设置。\n" + settings_.path(), kNotice,
                        MessageIcon::kWarning, MessageButtons::kOk);
    return;
  }
  ShowTrayIconByCheck1();
  live_.SetApplyEnabled(false);

  // Every key in one replacement of the file.
  std::vector<std::string> changed;
  const bool file_ok = SaveSettings(settings_, live_, clock_.Now(), policy_, &changed);

  RegistryChoices choices = RegistryChoicesOf(live_);
  choices.start_with_windows_by_policy = locks_.check[2];
  RegistryWriteResult reg = WriteRegistry(os_, choices, os_.ExecutableFolder(), os_.ExecutableBaseName());
  StartChosenTimer();

  // What could not be saved is said, in one message; the button stays
  // available while the settings file does not hold the settings.
  std::string problems;
  auto not_saved = [&](const std::string& which, const std::string& why) {
    Log(EventType::kWarning, events::kSettingsNotSaved, {which, why});
  };
  if (!file_ok) {
    live_.SetApplyEnabled(true);
    problems += "\n・设置文件无法写入：" + settings_.path() + "\n  请确认文件及其所在文件夹不是只读的，然后再按“应用”。";
    not_saved("设置文件", "无法写入 " + settings_.path());
  } else {
    std::string keys_text;
    for (const std::string& k : changed) keys_text += (keys_text.empty() ? "" : "、") + k;
    Log(EventType::kInformation, events::kSettingsApplied, {keys_text.empty() ? "无" : keys_text});
  }
  if (!reg.start_with_windows_ok) {
    problems += "\n・“随系统自动启动”无法更改：需要管理员权限。";
    not_saved("随系统自动启动", "需要管理员权限");
  }
  if (!reg.automatic_logon_ok) {
    problems += "\n・NT系统自动登录设置无法更改：需要管理员权限。";
    not_saved("NT系统自动登录设置", "需要管理员权限");
  }
  // The guard service, installed or removed as the box says (the system asks
  // for an administrator when needed).
  bool guard_took_over = false;
  if (!locks_.guard && live_.guard().value != 2 && (live_.guard().value == 1) != guard_.Installed()) {
    const bool install = live_.guard().value == 1;
    GuardChange change = install ? guard_.Install() : guard_.Uninstall();
    // The guard runs only a program that users cannot replace; from
    // anywhere else it is offered a home where they cannot.
    if (!change.ok && change.unprotected_location && install &&
        screen_.ShowMessage(kGuardCopyQuestion, kNotice, MessageIcon::kQuestion, MessageButtons::kOkCancel) ==
            MessageAnswer::kOk)
      change = guard_.InstallFromProgramFiles();
    if (!change.ok) {
      problems += "\n・“防止被结束(守护服务)”无法更改：" + change.why;
      not_saved("防止被结束(守护服务)", change.why);
      live_.SetGuard(guard_.Installed() ? 1 : 0);
      live_.SetApplyEnabled(!file_ok);
    } else {
      guard_took_over = install;
    }
  }
  // An administrator's Apply keeps the event log's texts pointing at this copy.
  os_.UpdateEventSource();
  screen_.Refresh();
  if (!problems.empty())
    screen_.ShowMessage("以下设置没有保存：" + problems, kNotice, MessageIcon::kWarning, MessageButtons::kOk);
  if (guard_took_over) {
    // From now on the service decides and acts, and starts the program it
    // shows itself through; this copy would only be a second one.
    screen_.ShowMessage(kGuardTookOver, kNotice, MessageIcon::kInformation, MessageButtons::kOk);
    End();
  }
}

void Program::Command4_Click() {
  if (screen_.ShowMessage("你确实要退出本系统吗？", kNotice, MessageIcon::kQuestion, MessageButtons::kOkCancel) !=
      MessageAnswer::kOk)
    return;
  if (link_) return FaceExit();
  exited_by_user_ = true;
  End();
}

}  // namespace dadado
