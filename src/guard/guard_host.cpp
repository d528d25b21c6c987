#include "guard/guard_host.h"

#include <algorithm>
#include <cstdint>

#include "base/date_time_text.h"
#include "base/wipe.h"
#include "engine/program_name.h"
#include "protection/password.h"
#include "settings/ini_text.h"
#include "settings/keys.h"
#include "settings/settings_table.h"
#include "settings/text.h"
#include "system/power.h"
#include "system/windows_integration.h"

namespace dadado {

namespace p = protocol;

namespace {

// Why a zone is not taken, as the event log says it.
constexpr char kZoneOutOfRange[] = "与UTC相差超过14小时，或夏令时调整超过两小时";

// Where a password was typed, as the event log names it.
constexpr char kAtCountdown[] = "倒计时窗口";
constexpr char kAtGate[] = "权限密码对话框";
constexpr char kAtChangePassword[] = "更改密码对话框";
constexpr char kAtSettings[] = "设置窗口";
constexpr char kAtExit[] = "退出";

std::optional<std::int64_t> Later(std::optional<std::int64_t> a, std::optional<std::int64_t> b) {
  if (a && b) return std::max(*a, *b);
  return a ? a : b;
}

// The idle plans that act: the minutes of each.
std::vector<int> IdleMinutesOf(const EngineSettings& s) {
  std::vector<int> minutes;
  for (const Plan& p : s.plans)
    if (p.enabled && p.repeat == PlanRepeat::kIdle && p.action != PlanAction::kWake) minutes.push_back(p.idle_minutes);
  return minutes;
}

}  // namespace

GuardHost::GuardHost(GuardPlatform& platform, OperatingSystem& os, FileStore& files, std::string settings_path,
                     UtcClock& clock, GuardStateStore& state)
    : platform_(platform),
      os_(os),
      files_(files),
      settings_path_(settings_path),
      file_(files, std::move(settings_path)),
      utc_(clock),
      state_(state),
      clock_(clock, TimeZoneRule{}),
      engine_(*this, clock_, VersionText()),
      history_(files, UsageFilePath(settings_path_)) {}

GuardHost::GuardHost(GuardPlatform& platform, OperatingSystem& os, FileStore& files, std::string settings_path,
                     UtcClock& clock)
    : own_state_(std::make_unique<MemoryStateStore>()),
      platform_(platform),
      os_(os),
      files_(files),
      settings_path_(settings_path),
      file_(files, std::move(settings_path)),
      utc_(clock),
      state_(*own_state_),
      clock_(clock, TimeZoneRule{}),
      engine_(*this, clock_, VersionText()),
      history_(files, UsageFilePath(settings_path_)) {}

// ---- the settings, the state and the time zone --------------------------------------------

bool GuardHost::ReadSettings() {
  const FileContent content = files_.Read(settings_path_);
  // A file that was there and is gone is no file of defaults either: only an
  // administrator could have removed it, or it is being replaced.
  const bool vanished = content.status == ReadStatus::kMissing && read_ever_;
  if (content.status == ReadStatus::kError || vanished || content.bytes.size() > kMaxSettingsBytes) {
    // Never the defaults: a file held open, denied or swollen keeps what
    // was read last in force. Nothing need change for it to be read again:
    // a file held open at boot reads once its holder lets go.
    if (!unreadable_logged_) Log(EventType::kWarning, events::kSettingsUnreadable, {settings_path_});
    unreadable_logged_ = true;
    read_again_at_ = NowSeconds() + kRetrySeconds;
    return false;
  }
  unreadable_logged_ = false;
  read_again_at_.reset();
  read_ = ReadGuardSettings(content.status == ReadStatus::kOk ? content.bytes : std::string(), policy_, clock_.Now());
  read_ever_ = true;
  settings_ = read_.settings;
  // The wake timer follows the plans as soon as they change.
  engine_.ArmWake(settings_);
  return true;
}

void GuardHost::PinTimeZone(const TimeZoneRule& rule) {
  clock_.SetRule(rule);
  zone_change_logged_ = false;
  StoreState(state_names::kTimeZone, FormatTimeZoneRule(rule));
}

void GuardHost::TakeFileTimeZone() {
  const std::optional<TimeZoneRule>& written = read_.pinned_zone;
  if (written == file_zone_) return;
  file_zone_ = written;
  StoreState(state_names::kFileTimeZone, written ? FormatTimeZoneRule(*written) : "");
  if (!written) return;
  // An administrator's edit of the zone, unless it names a zone no place
  // has; that is said once, as each edit is looked at once.
  if (MayBePinned(*written))
    PinTimeZone(*written);
  else
    Log(EventType::kWarning, events::kTimeZoneNotPinned,
        {FormatTimeZoneRule(*written), FormatTimeZoneRule(clock_.Rule()), kZoneOutOfRange});
}

TimeZoneRule GuardHost::ZoneAtFirstStart() {
  const auto current = platform_.CurrentTimeZone();
  if (current && MayBePinned(*current)) return *current;
  // Nothing better to be had: the least surprise, and said once.
  const TimeZoneRule fallback = FallbackZone(current);
  Log(EventType::kWarning, events::kTimeZoneNotPinned,
      {current ? FormatTimeZoneRule(*current) : "无法读取", FormatTimeZoneRule(fallback),
       current ? kZoneOutOfRange : "系统没有提供时区"});
  return fallback;
}

void GuardHost::CheckTimeZone() {
  const auto current = platform_.CurrentTimeZone();
  zone_differs_ = current && !(*current == clock_.Rule());
  SendZone();
  if (!zone_differs_) {
    zone_change_logged_ = false;
    return;
  }
  // Anyone may move the time zone; nothing is decided by it until the
  // password pins it (使用当前时区).
  if (!zone_change_logged_)
    Log(EventType::kWarning, events::kTimeZoneChanged, {FormatTimeZoneRule(clock_.Rule()), FormatTimeZoneRule(*current)});
  zone_change_logged_ = true;
}

void GuardHost::SendZone() {
  const std::string zone = FormatTimeZoneRule(clock_.Rule()) + (zone_differs_ ? "+" : "");
  if (zone == zone_sent_) return;
  zone_sent_ = zone;
  platform_.SendToFace(
      p::Message(p::kZone).Set("pinned", FormatTimeZoneRule(clock_.Rule())).Set("differs", zone_differs_ ? 1 : 0));
}

void GuardHost::Start() {
  policy_ = os_.ReadPolicyValues();
  // The time zone first: every reading of the clock depends on it. An
  // earlier version kept it and the rest of the state in the settings file,
  // which is read here for what it still says.
  const FileContent content = files_.Read(settings_path_);
  GuardSettingsRead file;
  if (content.status == ReadStatus::kOk && content.bytes.size() <= kMaxSettingsBytes)
    file = ReadGuardSettings(content.bytes, policy_, LocalTimeOf(TimeZoneRule{}, utc_.UtcNow()));
  if (const auto seen = state_.Get(state_names::kFileTimeZone)) file_zone_ = ParseTimeZoneRule(*seen);
  const auto stored_zone = ParseTimeZoneRule(state_.Get(state_names::kTimeZone).value_or(""));
  bool pinned = false;
  if (file.pinned_zone && file.pinned_zone != file_zone_) {
    // Written by an administrator (or by the earlier version) since the
    // service last looked: pinned, unless it names a zone no place has.
    read_.pinned_zone = file.pinned_zone;
    TakeFileTimeZone();
    pinned = MayBePinned(*file.pinned_zone);
  }
  if (!pinned) {
    // A zone no place has is never taken, not even from the store.
    if (stored_zone && MayBePinned(*stored_zone)) clock_.SetRule(*stored_zone);
    // Installed, or a file from before the guard: the zone of this moment.
    else PinTimeZone(ZoneAtFirstStart());
  }
  ReadSettings();
  if (read_ever_) TakeFileTimeZone();
  engine_.set_interval_start(read_.interval_start);
  RestoreState(file);
  SecureLogonPassword();
  engine_.StartChosenTimer(settings_);
  UpdateSession();
  engine_.SessionChanged(active_);
  next_time_control_check_ = NowSeconds();
  engine_.CatchUpMissed(settings_, last_scheduled_);
  engine_.CatchUpMissedPlan(settings_, last_scheduled_);
  engine_.IdleRestarts();
  idle_floor_ = utc_.UtcNow();
  Wake();
}

void GuardHost::RestoreState(const GuardSettingsRead& file) {
  namespace n = state_names;
  // What the store lacks and the file has was the earlier version's: taken
  // over, and stored, so that the file's copy (which stays as it is) is
  // never taken again.
  const auto stored_last = InstantOf(state_.Get(n::kLastScheduled).value_or(""));
  last_scheduled_ = Later(stored_last, file.last_scheduled);
  if (last_scheduled_ != stored_last) StoreState(n::kLastScheduled, InstantText(*last_scheduled_));

  // Today's use: the later day, and of the same day the larger count.
  std::optional<std::pair<Date, int>> use = UseOf(state_.Get(n::kTodaysUse).value_or(""));
  if (file.use_day) {
    const std::pair<Date, int> carried{*file.use_day, file.used_minutes};
    const auto day = [](const Date& d) { return DayNumber(d); };
    if (!use || day(use->first) < day(carried.first) ||
        (use->first == carried.first && use->second < carried.second)) {
      use = carried;
      StoreState(n::kTodaysUse, UseText(use->first, use->second));
    }
  }
  if (use) stored_use_ = *use;
  // Each account's count and extra time, of the same day or a later one.
  engine_.use().Load(CombineKept(use ? std::optional<Date>(use->first) : std::nullopt, use ? use->second : 0,
                                 ParseAccountDay(state_.Get(n::kAccountsUse).value_or(""))),
                     clock_.Now());

  // The postponements as the store holds them, none included; the file's
  // only while the store has never held any.
  auto postponed = file.postponed;
  if (const auto stored = state_.Get(n::kPostponed)) postponed = PostponedOf(*stored);
  else StoreState(n::kPostponed, postponed ? PostponedText(postponed->first, postponed->second) : "");
  auto held_off = file.held_off_until;
  if (const auto stored = state_.Get(n::kHeldOff)) held_off = InstantOf(*stored);
  else StoreState(n::kHeldOff, held_off ? InstantText(*held_off) : "");
  RestorePostponements(postponed, held_off);
}

void GuardHost::Stop() {
  // Today's use up to now, stored when it moved, and the history's rows.
  engine_.CountUse(settings_);
  if (settings_.TimeControlForAnyone() &&
      (!(engine_.use().day() == stored_use_.first) || engine_.use().minutes() != stored_use_.second))
    StoreUse(engine_.use().Snapshot(), true, false);
  engine_.FlushHistory(settings_);
  StorePostponements();
  if (!unstored_.empty()) RetryState();
}

void GuardHost::SettingsChanged() {
  const EngineSettings before = settings_;
  const std::string interval_before = read_.interval_start;
  const bool read_before = read_ever_;
  if (!ReadSettings()) return;
  TakeFileTimeZone();
  engine_.set_interval_start(read_.interval_start);
  // A change of the settings themselves (an administrator's edit) counts as
  // an Apply.
  if (!(settings_ == before) || read_.interval_start != interval_before) engine_.StartChosenTimer(settings_);
  if (!read_before) {
    // Read for the first time since the service started: what the start
    // would have caught up, had it been able to read the file, is caught up.
    engine_.CatchUpMissed(settings_, last_scheduled_);
    engine_.CatchUpMissedPlan(settings_, last_scheduled_);
  }
  if (read_.face_ini != face_ini_sent_) SendSettings();
  SendTip();
}

void GuardHost::PolicyChanged() {
  const PolicyValues before = policy_;
  policy_ = os_.ReadPolicyValues();
  if (policy_ == before) return;  // a refresh that changed nothing
  const EngineSettings settings_before = settings_;
  if (!ReadSettings()) return;
  if (!(settings_ == settings_before)) engine_.StartChosenTimer(settings_);
  SendSettings();
  SendTip();
}

namespace {

// A value of the state as the event log names it.
std::string StateLabel(const std::string& name) {
  namespace n = state_names;
  if (name == n::kLastScheduled) return "上次定时";
  if (name == n::kTodaysUse || name == n::kAccountsUse) return "使用记录";
  if (name == n::kPostponed) return "推迟定时";
  if (name == n::kHeldOff) return "推迟时间控制";
  if (name == n::kTimeZone || name == n::kFileTimeZone) return "时区";
  return name;
}

}  // namespace

bool GuardHost::StoreState(const std::string& name, const std::string& value) {
  // While the store fails, values wait for the next try (the latest of each
  // name: an earlier one must never overwrite it), at most once a minute.
  if (store_again_at_) {
    unstored_[name] = value;
    return false;
  }
  if (state_.Set(name, value)) return true;
  unstored_[name] = value;
  store_again_at_ = NowSeconds() + kRetrySeconds;
  if (!store_failure_logged_) {
    Log(EventType::kWarning, events::kSettingsNotSaved, {StateLabel(name), "无法写入 " + state_.Where()});
    store_failure_logged_ = true;
  }
  return false;
}

void GuardHost::RetryState() {
  store_again_at_.reset();
  std::map<std::string, std::string> waiting;
  waiting.swap(unstored_);
  // One that fails again makes the rest wait with it.
  for (const auto& [name, value] : waiting) StoreState(name, value);
  if (unstored_.empty()) store_failure_logged_ = false;
}

bool GuardHost::RememberOccurrence(std::int64_t instant) {
  last_scheduled_ = Later(last_scheduled_, instant);
  // Not stored is not done: a missed occurrence that cannot be noted is not
  // caught up, or each start of the service would catch it up again.
  return StoreState(state_names::kLastScheduled, InstantText(instant));
}

void GuardHost::StoreUse(const UsageDay& today, bool machine, bool accounts) {
  if (!today.day) return;
  // Noted as given either way: one the store refused is tried again with
  // the rest.
  if (machine) {
    stored_use_ = {*today.day, today.minutes};
    StoreState(state_names::kTodaysUse, UseText(*today.day, today.minutes));
  }
  if (accounts) StoreState(state_names::kAccountsUse, FormatAccountDay(today));
}

void GuardHost::RecordHistory(const UsageDay& day) {
  // Only the service writes the file, with the settings file's protection.
  history_.Record(day, settings_.keep_days);
  if (auto why = history_.TakeFailure()) Log(EventType::kWarning, events::kHistoryNotWritten, {history_.path(), *why});
}

void GuardHost::StorePostponements() {
  std::string postponed, held_off;
  if (const auto& moved = engine_.moved(); moved && !moved->caught_up)
    postponed = PostponedText(moved->occurrence, moved->due);
  if (const auto& until = engine_.held_off_until(); until && *until > NowSeconds()) held_off = InstantText(*until);
  if (postponed != postponed_stored_) {
    postponed_stored_ = postponed;
    StoreState(state_names::kPostponed, postponed);
  }
  if (held_off != held_off_stored_) {
    held_off_stored_ = held_off;
    StoreState(state_names::kHeldOff, held_off);
  }
}

void GuardHost::RestorePostponements(const std::optional<std::pair<std::int64_t, std::int64_t>>& postponed,
                                     const std::optional<std::int64_t>& held_off_until) {
  const std::int64_t now = NowSeconds();
  if (postponed) {
    auto [occurrence, due] = *postponed;
    postponed_stored_ = PostponedText(occurrence, due);
    // Postponed before a restart of the service or the machine: still due,
    // and one that fell due while they were down comes after its countdown,
    // so that a restart is no way out of a postponed shutdown.
    if (due <= now && now - due <= ScheduleRunner::kCatchUpWindowSeconds) due = now + kWarningLeadSeconds;
    if (due > now) engine_.RestorePostponed(occurrence, due);
  }
  if (held_off_until) {
    held_off_stored_ = InstantText(*held_off_until);
    if (*held_off_until > now) engine_.HoldOff(*held_off_until);
  }
}

// ---- sessions and the face ----------------------------------------------------------------

void GuardHost::UpdateSession() {
  session_ = platform_.ConsoleUserSession();
  const bool active = session_ && !platform_.SessionLocked(*session_);
  if (active != active_) engine_.SessionChanged(active);
  const std::int64_t utc = utc_.UtcNow();
  // A locked session is idle from the lock on; whoever unlocks it is there.
  if (session_ && !active && !locked_since_) locked_since_ = utc;
  if (active || !session_) locked_since_.reset();
  if (active && !active_) {
    idle_floor_ = utc;
    engine_.IdleObserved(settings_, 0);
  }
  active_ = active;
  // The account is the session's own word, asked again when the console's
  // session changes or a session event came.
  if (account_stale_ || session_ != account_session_) {
    account_ = session_ ? platform_.SessionAccount(*session_) : std::nullopt;
    account_session_ = session_;
    account_stale_ = false;
  }
  engine_.SetAccount(settings_, session_ ? account_ : std::nullopt);
  // Another user's session came to the console (switching users gives no
  // logon of its own): for the control, that user's program starts.
  if (session_ && console_session_ && *session_ != *console_session_) NewLogon();
  if (session_) console_session_ = session_;
}

void GuardHost::SessionChanged() {
  account_stale_ = true;
  UpdateSession();
  Wake();
}

void GuardHost::SessionLogon() {
  NewLogon();
  SessionChanged();
}

void GuardHost::NewLogon() {
  engine_.IdleRestarts();
  idle_floor_ = utc_.UtcNow();
  last_input_.reset();
  // 退出 lets the program go for the session it was given in.
  released_ = false;
  pause_ = 1;
  exit_code_.reset();
  restart_at_.reset();
  // Without the guard a cancel with the password lasts until the program
  // next starts, which under the guard is the next logon: the chosen timer
  // runs again. A resume is no start of the program and leaves it stopped.
  engine_.StartChosenTimer(settings_);
}

bool GuardHost::StartAllowed(std::int64_t now) const {
  if (!session_ || released_ || starting_) return false;
  return !restart_at_ || now >= *restart_at_;
}

void GuardHost::KeepFaceRunning(std::int64_t now) {
  // A face in a session that is no longer at the console (another user
  // switched in) shows nothing to anyone: the console gets its own.
  if (session_ && platform_.FaceRunning() && face_session_ == session_) {
    // A face that stays a minute ends the back-off.
    if (face_since_ && now - *face_since_ >= kBackOffSeconds) pause_ = 1;
    return;
  }
  if (!StartAllowed(now)) return;
  // Asked for, never waited for: the start runs beside the loop, and the
  // loop goes on counting the seconds.
  starting_ = true;
  starting_in_ = session_;
  platform_.StartFace(*session_);
}

void GuardHost::FaceStarted(bool started) {
  if (!starting_) return;
  starting_ = false;
  const std::int64_t now = NowSeconds();
  if (!started) {
    restart_at_ = now + pause_;
    pause_ = std::min(2 * pause_, kBackOffSeconds);
    return;
  }
  face_session_ = starting_in_;
  face_since_ = now;
  replacing_face_ = false;
  restart_at_.reset();
  // A face that ended without 退出 was brought back: worth a warning.
  if (exit_code_) Log(EventType::kWarning, events::kGuardRestarted, {std::to_string(*exit_code_)});
  exit_code_.reset();
  // The new face learns what there is to show, a countdown in progress too.
  SendSettings();
  zone_sent_.clear();
  SendZone();
  tip_sent_.reset();
  SendTip();
  SendCountdown();
}

void GuardHost::ReplaceFace(const std::string& why) {
  if (replacing_face_) return;
  replacing_face_ = true;
  Log(EventType::kWarning, events::kFaceReplaced, {why});
  platform_.ReplaceFace();
}

void GuardHost::IdleReported(const p::Message& m) {
  const long long seconds = m.Number("seconds", -1);
  if (seconds < 0 || seconds > 366LL * 86400) return ReplaceFace("空闲时间无法读取：" + m.Get("seconds").substr(0, 20));
  // Locked, the session is idle by the service's own count.
  if (!active_) return;
  const std::int64_t now = utc_.UtcNow();
  const std::int64_t claimed = now - seconds;
  // Idle grows no faster than the clock: the last input cannot lie before
  // the one an earlier report made believable.
  if (last_input_ && claimed < *last_input_ - kIdleReportSlack)
    return ReplaceFace("报告空闲" + std::to_string(seconds) + "秒，上次报告之后最多" +
                       std::to_string(now - *last_input_) + "秒");
  last_input_ = std::max(last_input_.value_or(claimed), claimed);
  // Nobody is idle for longer than since the logon, the unlock or the resume.
  engine_.IdleObserved(settings_, static_cast<int>(now - std::max(*last_input_, idle_floor_)));
}

std::optional<std::int64_t> GuardHost::LockedIdleSince() const {
  if (!session_ || !locked_since_) return std::nullopt;
  return std::max(idle_floor_, std::min(*locked_since_, last_input_.value_or(*locked_since_)));
}

void GuardHost::FaceEnded(std::uint32_t exit_code) {
  exit_code_ = exit_code;
  const std::int64_t now = NowSeconds();
  // A face that stayed up a minute is started again a second later; one
  // that ends at once waits twice as long as the one before it, up to a
  // minute, so that a user who ends it over and over costs the service little.
  if (face_since_ && now - *face_since_ >= kBackOffSeconds) pause_ = 1;
  face_since_.reset();
  restart_at_ = now + pause_;
  pause_ = std::min(2 * pause_, kBackOffSeconds);
  Wake();
}

void GuardHost::SendCountdown() {
  const CountdownScreen& c = engine_.countdown().screen();
  p::Message m(p::kCountdown);
  m.Set("open", c.exists ? 1 : 0).Set("visible", c.visible ? 1 : 0).Set("seconds", c.seconds_left);
  m.Set("title", c.title).Set("action", c.action_line).Set("remaining", c.remaining).Set("generation", c.generation);
  platform_.SendToFace(m);
}

void GuardHost::SendTip() {
  std::string text = engine_.NextEventText(settings_);
  if (zone_differs_) text += (text.empty() ? "" : "\n") + std::string(kZoneDiffersTip);
  if (tip_sent_ && *tip_sent_ == text) return;
  tip_sent_ = text;
  platform_.SendToFace(p::Message(p::kTip).Set("text", text));
}

void GuardHost::SendSettings() {
  if (!read_ever_) return;
  face_ini_sent_ = read_.face_ini;
  // Whether the automatic logon holds a password: the face cannot read the
  // secret, and must not read a password anywhere.
  platform_.SendToFace(
      p::Message(p::kSettings).Set("ini", read_.face_ini).Set("logon", LogonPasswordStored(os_) ? 1 : 0));
}

void GuardHost::SecureLogonPassword() {
  if (MoveLogonPasswordToSecret(os_) == LogonPasswordMove::kFailed)
    Log(EventType::kWarning, events::kSettingsNotSaved,
        {"NT系统自动登录设置", "密码无法移入系统的安全存储，仍在注册表中，任何用户都能读取"});
}

void GuardHost::Balloon(const std::string& text) { platform_.SendToFace(p::Message(p::kBalloon).Set("text", text)); }

bool GuardHost::Perform(unsigned exit_flags) {
  const bool done = platform_.Perform(exit_flags, session_);
  if (done) {
    std::string what = "关闭计算机";
    if (exit_flags & kEwxReboot) what = "重新启动计算机";
    else if (!(exit_flags & (kEwxShutdown | kEwxPoweroff))) what = "注销用户";
    last_performed_ = Performed{NowSeconds(), what};
  }
  return done;
}

PlanOutcome GuardHost::PerformPlan(PlanAction action, int plan, std::int64_t instant) {
  auto outcome = [](bool done) { return done ? PlanOutcome::kDone : PlanOutcome::kRefused; };
  switch (action) {
    case PlanAction::kRestart:
    case PlanAction::kShutDown:
    case PlanAction::kLogOff:
      return outcome(Perform(*ExitFlagsFor(static_cast<int>(action), true)));
    case PlanAction::kSleep:
    case PlanAction::kHibernate:
      return outcome(platform_.Suspend(action == PlanAction::kHibernate));
    case PlanAction::kLock:
    case PlanAction::kScreenOff: {
      // The user's desktop is the face's to lock or darken.
      if (!platform_.FaceRunning()) {
        Log(EventType::kWarning, events::kPlanNotDone,
            {std::to_string(plan), PlanActionText(action), "用户会话中没有运行本程序"});
        return PlanOutcome::kNotDone;
      }
      // Done only when the face says so: a face suspended or ended meanwhile
      // locks nothing.
      const std::string id = std::to_string(++next_do_id_);
      asked_of_face_.push_back({id, plan, action, instant, utc_.UtcNow() + kDoConfirmSeconds});
      platform_.SendToFace(
          p::Message(p::kDo).Set("id", id).Set("what", action == PlanAction::kLock ? "lock" : "screen_off"));
      return PlanOutcome::kAsked;
    }
    case PlanAction::kWake:
      return PlanOutcome::kDone;
  }
  return PlanOutcome::kRefused;
}

void GuardHost::DoneReported(const p::Message& m) {
  const auto it = std::find_if(asked_of_face_.begin(), asked_of_face_.end(),
                               [&](const AskedOfFace& a) { return a.id == m.Get("id"); });
  if (it == asked_of_face_.end()) return;  // nothing of ours, or too late
  const AskedOfFace asked = *it;
  asked_of_face_.erase(it);
  const std::string number = std::to_string(asked.plan);
  if (m.Get("result") == p::kOk) {
    const LocalDateTime due = FromLocalSeconds(asked.instant);
    Log(EventType::kInformation, events::kPlanPerformed,
        {number, PlanActionText(asked.action), FormatDateTimeText(due.date, due.second_of_day)});
  } else {
    Log(EventType::kWarning, events::kPlanNotDone, {number, PlanActionText(asked.action), "用户会话中的程序未能执行"});
  }
}

void GuardHost::ForgetUnconfirmed() {
  const std::int64_t now = utc_.UtcNow();
  for (auto it = asked_of_face_.begin(); it != asked_of_face_.end();) {
    if (now < it->deadline && now >= it->deadline - 2 * kDoConfirmSeconds) {
      ++it;
      continue;
    }
    Log(EventType::kWarning, events::kPlanNotDone,
        {std::to_string(it->plan), PlanActionText(it->action), "用户会话中的程序没有确认已经执行"});
    it = asked_of_face_.erase(it);
  }
}

void GuardHost::ArmWake(std::optional<std::int64_t> instant) {
  platform_.ArmWake(instant ? std::optional<std::int64_t>(UtcOf(clock_.Rule(), *instant)) : std::nullopt);
}

void GuardHost::Notice(const std::string& text) { platform_.SendToFace(p::Message(p::kNotice).Set("text", text)); }

void GuardHost::WokeForPlan() {
  engine_.WokeForPlan();
  Wake();
}

void GuardHost::ActionRefused(int action_index) {
  const SystemError error = os_.LastSystemError();
  Log(EventType::kError, events::kActionFailed, {ActionText(action_index), std::to_string(error.code), error.text});
  platform_.SendToFace(p::Message(p::kNotice).Set("text", ActionRefusedText(action_index)));
}

// ---- the heartbeat -----------------------------------------------------------------------

void GuardHost::Wake() {
  CheckTimeZone();
  UpdateSession();
  const std::int64_t now = NowSeconds();
  if (read_again_at_ && now >= *read_again_at_) SettingsChanged();
  if (store_again_at_ && now >= *store_again_at_) RetryState();
  if (auto from = wall_clock_.Observe(now, utc_.UtcNow())) engine_.WallClockSkipped(settings_, *from);
  if (engine_.timer_running(FormTimer::kSchedule)) engine_.ScheduleTick(settings_);
  // Time control, once a minute as the program checks it, and only with
  // someone logged on: an administrator must be able to log on at any hour.
  const bool checking = engine_.timer_running(FormTimer::kTimeControl) && session_;
  if (checking && now >= next_time_control_check_) {
    next_time_control_check_ = now + 60;
    engine_.TimeControlCheck(settings_);
  }
  if (!session_ || !settings_.Book().AnyEnabled()) next_time_control_check_ = now;
  // Today's use is counted whatever was cancelled or postponed: once a
  // minute while someone is at the console, and not at all otherwise.
  if (!checking && CountingNow() && now >= next_count_) {
    next_count_ = now + 60;
    engine_.CountUse(settings_);
  }
  if (!CountingNow()) next_count_ = now;
  if (const auto since = LockedIdleSince(); since && !IdleMinutesOf(settings_).empty())
    engine_.IdleObserved(settings_, static_cast<int>(utc_.UtcNow() - *since));
  engine_.PlanTick(settings_);
  // The countdown counts the seconds of the clock when the service is woken
  // a little late; after a longer gap (the machine slept) it goes on from
  // where it stood, as the program's own countdown does, so that nobody
  // comes back to an action already under way.
  if (engine_.countdown().is_open()) {
    if (!last_countdown_tick_ || now < *last_countdown_tick_) last_countdown_tick_ = now;
    for (int i = 0; i < 5 && *last_countdown_tick_ < now && engine_.countdown().is_open(); ++i) {
      ++*last_countdown_tick_;
      engine_.CountdownTick(settings_);
    }
    last_countdown_tick_ = now;
  } else {
    last_countdown_tick_.reset();
  }
  ForgetUnconfirmed();
  StorePostponements();
  KeepFaceRunning(now);
  SendTip();
}

std::int64_t GuardHost::NextWakeUtc() {
  const std::int64_t now = NowSeconds();
  std::int64_t next = now + kLongestSleepSeconds;
  if (engine_.timer_running(FormTimer::kSchedule))
    next = std::min<std::int64_t>(next, now + engine_.SecondsToNextScheduleTick(settings_, kLongestSleepSeconds));
  if (engine_.timer_running(FormTimer::kTimeControl) && settings_.Book().AnyEnabled() && session_)
    next = std::min(next, std::max(next_time_control_check_, now + 1));
  else if (CountingNow())
    next = std::min(next, std::max(next_count_, now + 1));
  if (engine_.countdown().is_open()) next = std::min(next, now + 1);
  if (!settings_.plans.empty())
    next = std::min<std::int64_t>(next, now + engine_.SecondsToNextPlanTick(settings_, kLongestSleepSeconds));
  if (session_ && !released_ && !starting_ && !(platform_.FaceRunning() && face_session_ == session_))
    next = std::min(next, std::max(restart_at_.value_or(now + 1), now + 1));
  if (read_again_at_) next = std::min(next, std::max(*read_again_at_, now + 1));
  if (store_again_at_) next = std::min(next, std::max(*store_again_at_, now + 1));
  if (locked_out_until_ && *locked_out_until_ > now) next = std::min(next, *locked_out_until_);
  std::int64_t wake = UtcOf(clock_.Rule(), next);
  for (const AskedOfFace& a : asked_of_face_) wake = std::min(wake, a.deadline);
  // Locked: when the idle time the service counts reaches an idle plan's.
  if (const auto since = LockedIdleSince()) {
    const std::int64_t utc_now = utc_.UtcNow();
    for (int minutes : IdleMinutesOf(settings_))
      if (*since + minutes * 60 > utc_now) wake = std::min<std::int64_t>(wake, *since + minutes * 60);
  }
  // Looked at just before the clock changes and as it does.
  const std::int64_t utc = utc_.UtcNow();
  if (const auto change = NextClockChange(clock_.Rule(), utc); change && *change <= wake) {
    const std::int64_t before = *change - kLookBeforeClockChange;
    wake = std::min(wake, utc < before ? before : *change);
  }
  return wake;
}

void GuardHost::Resumed() {
  // What the machine slept through was no skip of summer time.
  wall_clock_.Reset();
  engine_.ClockDiscontinuity();
  engine_.IdleRestarts();
  idle_floor_ = utc_.UtcNow();
  UpdateSession();
  engine_.CatchUpMissed(settings_, last_scheduled_);
  engine_.CatchUpMissedPlan(settings_, last_scheduled_);
  Wake();
}

void GuardHost::ClockChanged() {
  engine_.ClockDiscontinuity();
  // What the face said before was said against the clock before.
  last_input_.reset();
  idle_floor_ = std::min(idle_floor_, utc_.UtcNow());
  if (locked_since_) locked_since_ = std::min(*locked_since_, utc_.UtcNow());
  Wake();
}

// ---- what the face asks --------------------------------------------------------------------

void GuardHost::Reply(const p::Message& request, const std::string& result, const std::string& text) {
  p::Message m(p::kReply);
  m.Set("id", request.Get("id")).Set("result", result);
  if (!text.empty()) m.Set("text", text);
  platform_.SendToFace(m);
}

GuardHost::PasswordVerdict GuardHost::CheckPassword(const std::string& typed, const char* where) {
  const std::int64_t now = NowSeconds();
  if (locked_out_until_ && now < *locked_out_until_ && now >= *locked_out_until_ - kLockOutSeconds) {
    // Logged, but not without end: a program that sends guesses by the
    // thousand must not wash older entries out of the log.
    if (refusals_logged_ < kRefusalsLoggedPerLockOut) {
      ++refusals_logged_;
      Log(EventType::kWarning, events::kPasswordsRefused, {where});
    }
    return PasswordVerdict::kLockedOut;
  }
  locked_out_until_.reset();
  refusals_logged_ = 0;
  // The policy's password when it sets one, else the file's as last read
  // well; a file never read lets nothing in.
  std::optional<std::string> stored = PolicyPassword(policy_);
  if (!stored && read_ever_) stored = read_.stored_password;
  if (stored && EncodePassword(typed) == *stored) {
    wrong_passwords_ = 0;
    return PasswordVerdict::kRight;
  }
  Log(EventType::kWarning, events::kWrongPassword, {where});
  if (++wrong_passwords_ >= kWrongPasswordsAllowed) {
    wrong_passwords_ = 0;
    locked_out_until_ = now + kLockOutSeconds;
  }
  return PasswordVerdict::kWrong;
}

void GuardHost::FaceMessage(const p::Message& m) {
  // A face being replaced for what it said is nobody's word any more.
  if (replacing_face_) return;
  // Our face numbers its requests; an id that is no such number would only
  // be copied back into the reply.
  if (m.Get("id").size() > kMaxRequestId) return;
  auto answered = [&](PasswordVerdict v) {
    if (v == PasswordVerdict::kRight) return false;
    Reply(m, v == PasswordVerdict::kLockedOut ? p::kLockedOut : p::kWrongPassword);
    return true;
  };
  if (m.type == p::kCancel) {
    if (!engine_.countdown().is_open()) return Reply(m, p::kOk);  // nothing left to cancel
    if (answered(CheckPassword(m.Get("password"), kAtCountdown))) return;
    engine_.Enter(settings_, m.Get("password"), [](const std::string&) { return true; });
    StorePostponements();
    Reply(m, p::kOk);
  } else if (m.type == p::kPostpone) {
    if (!engine_.countdown().is_open()) return Reply(m, p::kOk);
    if (answered(CheckPassword(m.Get("password"), kAtCountdown))) return;
    engine_.Postpone(settings_);
    StorePostponements();
    Reply(m, p::kOk);
  } else if (m.type == p::kCheck) {
    if (answered(CheckPassword(m.Get("password"), kAtGate))) return;
    Reply(m, p::kOk);
  } else if (m.type == p::kApply) {
    Apply(m);
  } else if (m.type == p::kChangePassword) {
    ChangePassword(m);
  } else if (m.type == p::kIdle) {
    // Measured in the user's session; with nobody there nothing counts.
    if (session_) IdleReported(m);
    engine_.PlanTick(settings_);
  } else if (m.type == p::kDone) {
    DoneReported(m);
  } else if (m.type == p::kClockChanged) {
    // Only a cue: what the zone is, the service asks the system.
    CheckTimeZone();
  } else if (m.type == p::kHistory) {
    if (answered(CheckPassword(m.Get("password"), kAtSettings))) return;
    SendHistory(m);
  } else if (m.type == p::kExtraTime) {
    if (answered(CheckPassword(m.Get("password"), kAtSettings))) return;
    const std::string name = m.Get("name"), sid = m.Get("sid");
    const long long minutes = m.Number("minutes", 0);
    const bool granted = IsAccountSectionName(name) && (sid.empty() || IsSidText(sid)) &&
                         minutes >= kMinExtraMinutes && minutes <= kMaxExtraMinutes &&
                         engine_.GrantExtraTime(settings_, name, sid, static_cast<int>(minutes));
    Reply(m, granted ? p::kOk : p::kRefused, granted ? "" : "无法加时：账户或分钟数不正确。");
  } else if (m.type == p::kExit) {
    if (answered(CheckPassword(m.Get("password"), kAtExit))) return;
    // Only the program ends, until the next logon; the control stays.
    released_ = true;
    Reply(m, p::kOk);
  } else {
    return;  // nothing of ours
  }
  SendTip();
}

void GuardHost::SendHistory(const p::Message& m) {
  // Each request reads the file: a face that asks without end is answered
  // a few times a second only.
  const std::int64_t utc = utc_.UtcNow();
  if (utc != history_second_) history_second_ = utc, history_asked_ = 0;
  if (++history_asked_ > kHistoryRequestsPerSecond) return Reply(m, p::kFailed, "请稍后再试。");
  auto history = history_.Read();
  if (!history) return Reply(m, p::kFailed, "无法读取使用记录：" + history_.path());
  const UsageDay today = engine_.use().Snapshot();
  AddDay(*history, today);
  std::optional<Date> from;
  if (const auto date = ParseDate(m.Get("from"))) from = *date;
  std::optional<Date> next;
  p::Message r(p::kReply);
  r.Set("id", m.Get("id")).Set("result", p::kOk).Set("accounts", FormatAccountDay(today));
  r.Set("csv", history->CsvFrom(from, kHistoryBytesPerReply, next));
  if (next) r.Set("next", IsoDate(*next));
  platform_.SendToFace(r);
}

void GuardHost::Apply(const p::Message& m) {
  const PasswordVerdict verdict = CheckPassword(m.Get("password"), kAtSettings);
  if (verdict != PasswordVerdict::kRight)
    return Reply(m, verdict == PasswordVerdict::kLockedOut ? p::kLockedOut : p::kWrongPassword);
  if (LocksOf(policy_).read_only) return Reply(m, p::kRefused, "设置由管理员通过组策略设为只读");
  if (!read_ever_) return Reply(m, p::kFailed, "设置文件无法读取：" + settings_path_);

  // Only the keys of the settings window, each checked as the window would
  // have written it; what the policy holds is the administrator's.
  const IniText sent(Utf8ToGbk(m.Get("ini")));
  std::vector<std::string> refused, changed;
  const LocalDateTime now = clock_.Now();
  file_.BeginBatch();
  for (const SettingEntry& e : SettingsTable()) {
    if (e.control == SettingControl::kIntervalStart) continue;  // the service's own day, below
    const auto raw = sent.Get(Utf8ToGbk(e.section), Utf8ToGbk(e.key));
    if (!raw) continue;
    if (PolicyOverride(e, policy_)) {
      refused.push_back(e.key);
      continue;
    }
    const auto before = file_.Peek(e.section, e.key);
    const auto value = AcceptedValue(e, GbkToUtf8(*raw), before);
    if (!value) {
      refused.push_back(e.key);
      continue;
    }
    if (before && *before == *value) continue;  // left as the file holds it
    changed.push_back(e.key);
    file_.WriteIniString(e.section, e.key, *value);
  }
  // The count of days starts again on the day every-N-days is applied, by
  // the service's own calendar.
  const auto frequency = sent.Get(Utf8ToGbk(keys::kGeneral), Utf8ToGbk(keys::kFrequency));
  if (frequency && ParseIniInt(*frequency) == 2 && !PolicyOverride(EntryOf(SettingControl::kIntervalStart), policy_))
    file_.WriteIniString(keys::kGeneral, keys::kIntervalStart, FormatShortDate(now.date));
  // The accounts' own rules, when the window changed them: the sections sent
  // are the whole list, each taken only as the window writes it; one that is
  // refused stays as the file holds it.
  if (m.Get("accounts") == "1") {
    std::vector<std::string> refused_sections;
    std::vector<AccountSection> sections = AcceptedAccountSections(Utf8ToGbk(m.Get("ini")), refused_sections);
    for (const AccountSection& held : ReadAccountSections(file_))
      for (const std::string& name : refused_sections)
        if (SameAccountName(keys::AccountSection(held.name), name)) sections.push_back(held);
    SaveAccountSections(file_, sections, &changed);
    refused.insert(refused.end(), refused_sections.begin(), refused_sections.end());
  }
  if (!file_.EndBatch()) {
    Log(EventType::kWarning, events::kSettingsNotSaved, {"设置文件", "无法写入 " + settings_path_});
    return Reply(m, p::kFailed, "设置文件无法写入：" + settings_path_);
  }
  // The zone stays the one pinned: whoever changed the system's since must
  // not have it taken over by an Apply made for something else. 使用当前时区
  // asks for it; the zone is the one the service reads now, never one the
  // face names.
  bool zone_refused = false;
  if (m.Get("zone") == "current") {
    const auto zone = platform_.CurrentTimeZone();
    if (zone && MayBePinned(*zone)) {
      if (!(*zone == clock_.Rule())) changed.push_back(guard_keys::kTimeZone);
      PinTimeZone(*zone);
    } else {
      zone_refused = true;
      Log(EventType::kWarning, events::kTimeZoneNotPinned,
          {zone ? FormatTimeZoneRule(*zone) : "无法读取", FormatTimeZoneRule(clock_.Rule()),
           zone ? kZoneOutOfRange : "系统没有提供时区"});
    }
  }

  // The stored automatic logon; the Run value is left alone, since the
  // service itself starts the program at logon.
  RegistryChoices choices;
  choices.stored_logon = m.Get("logon") == "1";
  choices.logon_user = m.Get("logon_user");
  choices.logon_password = m.Get("logon_password");
  choices.start_with_windows_by_policy = true;
  choices.password_as_secret = true;
  const RegistryWriteResult reg = WriteRegistry(os_, choices, "", "");
  WipeString(choices.logon_password);
  std::string problems;
  for (const std::string& key : refused) problems += (problems.empty() ? "" : "、") + key;
  if (!problems.empty()) Log(EventType::kWarning, events::kSettingsNotSaved, {problems, "不允许的值或由组策略管理"});
  if (zone_refused) problems += (problems.empty() ? "" : "、") + std::string(guard_keys::kTimeZone);
  if (!reg.automatic_logon_ok) {
    Log(EventType::kWarning, events::kSettingsNotSaved, {"NT系统自动登录设置", "注册表或系统的安全存储无法写入"});
    problems += (problems.empty() ? "" : "、") + std::string("NT系统自动登录设置");
  }
  std::string keys_text;
  for (const std::string& k : changed) keys_text += (keys_text.empty() ? "" : "、") + k;
  Log(EventType::kInformation, events::kSettingsApplied, {keys_text.empty() ? "无" : keys_text});

  // As the program's Apply: the settings in force and the timer they choose.
  ReadSettings();
  engine_.set_interval_start(read_.interval_start);
  engine_.StartChosenTimer(settings_);
  if (settings_.Book().AnyEnabled()) next_time_control_check_ = NowSeconds() + 60;
  Reply(m, problems.empty() ? p::kOk : p::kRefused, problems);
  SendSettings();
  CheckTimeZone();
}

void GuardHost::ChangePassword(const p::Message& m) {
  const PasswordVerdict verdict = CheckPassword(m.Get("old"), kAtChangePassword);
  if (verdict != PasswordVerdict::kRight)
    return Reply(m, verdict == PasswordVerdict::kLockedOut ? p::kLockedOut : p::kWrongPassword);
  if (PolicyPassword(policy_) || LocksOf(policy_).read_only) return Reply(m, p::kRefused, "密码由管理员通过组策略管理");
  if (!file_.WriteIniString(keys::kTimeControl, keys::kPassword, EncodePassword(m.Get("new"))))
    return Reply(m, p::kFailed, "设置文件无法写入：" + settings_path_);
  ReadSettings();
  Reply(m, p::kOk);
}

}  // namespace dadado
