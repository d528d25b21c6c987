// The settings window's procedures, under the names of their events: start-up,
// the schedule tick, the time-control guard, the countdown screen, the
// settings gate and password dialogs, the tray menu and the four buttons.
// What enforces (the schedule, time control, the daily limit, the countdown)
// is the Engine, which the program hosts with the controls as its settings;
// the keys of the settings file and what the machine policy replaces are one
// table; the program's own state is a ProgramState. This class ties them to
// the screen and the operating system and writes what happened to the event
// log. The Win32 windows forward events and mirror the state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/calendar.h"
#include "base/wipe.h"
#include "engine/engine.h"
#include "engine/usage_recorder.h"
#include "engine/program_name.h"
#include "base/time_zone.h"
#include "settings/live_settings.h"
#include "settings/settings_file.h"
#include "system/os.h"
#include "system/power.h"
#include "engine/countdown.h"
#include "guard/guard_management.h"
#include "settings/memory_store.h"
#include "ui/guard_link.h"
#include "ui/program_state.h"
#include "ui/screen.h"
#include "settings/settings_table.h"

namespace dadado {

inline constexpr char kContactAddress[] = "dadado@example.com";
// The first entry of the account lists: the default rules, or all accounts' use added up.
inline constexpr char kAllAccounts[] = "所有账户";
// Asked when the guard may not run the program where it lies.
inline constexpr char kGuardCopyQuestion[] =
    "守护服务以系统权限运行本程序，程序必须放在只有管理员才能修改的文件夹中。\n"
    "是否把程序和它的设置复制到 Program Files 下的 dadado 文件夹，并从那里安装守护服务？";
// Said when the guard has been installed and takes over.
inline constexpr char kGuardTookOver[] =
    "守护服务已安装并开始运行，以后由它执行定时操作和时间控制。\n本程序将退出，守护服务会立即重新启动它。";


struct PasswordDialog {
  bool open = false;
  std::string text;        // checkpassword: Textpassword; setpassword: txtypassword
  std::string new_text;    // setpassword: txtPassword
  // Closed: what was typed is wiped, not left in memory given back.
  void Close() {
    WipeString(text);
    WipeString(new_text);
    open = false;
  }
};

class Program : private EngineHost {
 public:
  Program(SettingsFile& settings, OperatingSystem& os, GuardManagement& guard, Screen& screen, Clock& clock);

  // Creates Form1 and runs its load handler. A host that puts the window on
  // screen before the rest of start-up passes `finish_later` and calls
  // FinishStart once the window is up; until then the window takes no input.
  void Start(bool finish_later = false);
  // What start-up does that the window need not wait for: whether the guard
  // is installed (the service manager is slow to ask; only 高级设置 shows
  // it), the event log's entry, a missed action caught up, the tooltip.
  void FinishStart();

  LiveSettings& live() { return live_; }
  const LiveSettings& live() const { return live_; }
  const CountdownScreen& countdown() const { return link_ ? face_countdown_ : engine_.countdown().screen(); }
  const PasswordDialog& check_password() const { return check_password_; }
  const PasswordDialog& set_password() const { return set_password_; }
  bool settings_shown() const { return settings_shown_; }
  const std::string& interval_start() const { return engine_.interval_start(); }
  bool timer_running(FormTimer t) const { return engine_.timer_running(t); }
  bool ended() const { return ended_; }
  // Ended by 退出 and its confirmation: the one end the guard lets be.
  bool exited_by_user() const { return exited_by_user_; }
  bool label7_pressed() const { return label7_pressed_; }
  bool image1_pressed() const { return image1_pressed_; }
  bool form_visible() const { return form_visible_; }
  // The controls that the machine policy holds, as read last.
  const PolicyLocks& policy_locks() const { return locks_; }
  // Whether the settings window takes input for a control of logical tab
  // `tab` (-1 for its buttons): only while the program shows it, and only on
  // the tabs that the settings gate has opened. What reaches the window
  // otherwise (a click another program sends to the hidden window) changes
  // nothing.
  bool AcceptsInput(int tab) const;
  // Start-up could not read the settings file: the controls hold defaults
  // that must never be saved over it.
  bool settings_unread() const { return settings_unread_; }

  // ---- Form1 ---------------------------------------------------------
  void Form_Load();
  void Timer1_Timer();           // schedule tick
  void Timer2_Timer() { CheckTimeControl(); }
  // The plans' timer: it runs while there are plans.
  void PlanTimer_Timer();
  // When the plans' timer next needs to run (as the schedule timer's).
  int SecondsToNextPlanTick();
  // The 计划 tab's offer: lets the power plan's wake timers wake the machine.
  void AllowWakeTimers();
  // The machine woke at a plan's 唤醒计算机 instant.
  void WokeForPlan();
  // The plans' timer runs while there are plans (in the face: while there
  // are idle plans, whose idle time it measures for the service); the wake
  // timer follows the plans. After every event, as the controls may have
  // changed.
  void UpdatePlanTimer();
  void CheckTimeControl();
  void OpenShutdownScreen(int mode);
  // The machine policy may have changed: the controls it holds follow it at
  // once, and those it no longer holds get the user's own values back.
  void PolicyChanged();
  // The clock or the time zone changed, or the machine resumed: the next
  // tick starts afresh, and the wake timer is set again in the zone now in
  // force.
  void ClockDiscontinuity();
  // The machine woke from sleep: as a clock change, and a missed action may
  // be caught up. What it slept through was no skip of summer time.
  void Resumed();
  // The session's state may have changed (a lock, an unlock, a logon): the
  // system is asked, and today's use counts only while nobody has locked it.
  // Where the system cannot say, the time counts as use: the message that
  // told of the change could have been sent by any program.
  void SessionChanged();
  // The guard service's face says, as it starts, that the service runs
  // (anyone could say so: the system is asked). Installed by a script while
  // this copy ran, the service enforces now; two would act on every
  // countdown, so this copy goes.
  void GuardMayHaveStarted();
  // The tray tooltip follows the live settings: the version and what comes
  // next.
  void UpdateTrayTip();
  const DailyUse& daily_use() const { return engine_.use(); }
  // The minute count of today's use, while Timer2 does not run and the use
  // is counted all the same; and whether it is to run.
  void UsageTimer_Timer();
  void UpdateUsageTimer();

  // ---- accounts and the usage history, for the windows ----------------------
  // An entry of the 时间控制 tab's 适用于 list.
  struct RulesChoice {
    std::string label;      // "所有账户", or the account's name
    std::string name, sid;  // empty for 所有账户
    bool own_rules = false; // the account has a section of its own
  };
  // "所有账户" (the [时间控制] rules), then the machine's local accounts, then
  // the accounts with rules of their own that are not among them (a deleted
  // account, a domain account). Choosing one: live().ShowDefaultRules() or
  // live().ShowAccountRules(name, sid).
  std::vector<RulesChoice> RulesChoices();
  // The account at the console, as the program counts it.
  const std::optional<Account>& console_account() const { return engine_.account(); }

  // One day of the 使用记录 chart.
  struct UsageBar {
    Date day;
    int minutes = 0;
    int limit = 0;  // the account's daily limit that day, extra time included; 0: none
    bool today = false;
  };
  struct UsageView {
    bool available = false;  // false: `problem` says why nothing can be shown
    std::string problem;
    std::vector<UsageBar> bars;  // the last 14 days, oldest first
    UsageSummary summary;        // today, this week, the average of 30 days
    ChartScale scale;            // fits the bars and the limits
  };
  static constexpr int kChartDays = 14;
  // The face takes the history from the service in at most so many parts.
  static constexpr int kMostHistoryParts = 100;
  // The accounts of the 使用记录 tab's list after "所有账户": those of the
  // history, and the one at the console.
  std::vector<std::string> UsageAccounts();
  // The chart and the figures of an account ("" for 所有账户, which adds them
  // up), today counted up to the last minute.
  UsageView UsageOf(const std::string& account);
  // The history as a CSV file of its own: all of it ("") or the account's;
  // nullopt when it cannot be read.
  std::optional<std::string> UsageCsv(const std::string& account);
  // 导出: writes that CSV to `path` in `files`; false (the user told why)
  // when it could not.
  bool ExportUsage(const std::string& account, FileStore& files, const std::string& path);
  // 今日加时: extra time for an account and today, 5 to 600 minutes; the
  // window has been opened with the password. False (the user told why)
  // when it was not granted.
  bool GrantExtraTime(const std::string& name, const std::string& sid, int minutes);
  // When the schedule timer next needs to run, in whole seconds counted from
  // the start of the current second: 1 for the next second, at most
  // kLongestTickSeconds. While the next warning or action is more than two
  // minutes away there is nothing to do every second, and while nothing is
  // due at all the timers sleep (see IdleTickSeconds).
  int SecondsToNextScheduleTick();
  static constexpr int kLongestTickSeconds = 3600;
  // Summer time's beginning is told from a look this long before the clock
  // changes and one as it does.
  static constexpr int kLookBeforeClockChange = 60;

  void Command1_Click();  // OK
  void Command2_Click();  // Cancel
  void Command3_Click();  // Apply
  void Command4_Click();  // Exit

  // The window's close box (hides it while shown, else ends the program),
  // or the session ending (only hides it: the session's end ends us).
  void Form_QueryUnload(bool session_ending);
  void Form_MouseDown(int button) { TrayIcon_MouseDown(button); }
  void TrayIcon_MouseDown(int button);
  void TrayIcon_DblClick() { clock_menu1_Click(); }
  void clock_menu1_Click() { ShowSettings(1, 0); }
  void clock_menu2_Click() { ShowSettings(1, 0); }
  void clock_menu3_Click() { ShowSettings(1, 1); }
  void clock_menu4_Click() { ShowSettings(1, 2); }
  void clock_menu5_Click() { ShowSettings(0, kAboutTab); }
  void clock_menu61_Click(int index);
  void Image1_MouseDown() { image1_pressed_ = true; }
  void Image1_MouseUp() { image1_pressed_ = false; }
  void Label6_Click();
  void Label7_MouseDown() { label7_pressed_ = true; }
  void Label7_MouseUp();

  void ShowSettings(int settings_requested, int start_tab);

  // ---- frmSplash -----------------------------------------------------
  void Countdown_Timer1_Timer();
  void Countdown_SetText(const std::string& text) {
    if (link_) ReplaceSecret(face_countdown_.password, text);
    else engine_.SetCountdownPassword(text);
  }
  void Countdown_Enter();
  void Countdown_Postpone();  // 推迟(&D), with the password typed

  // ---- as the guard service's face ---------------------------------------
  // Before Start: with the guard installed the service decides and acts; the
  // program shows what it sends (the settings in `store`, the countdown, the
  // tooltip, balloons) and asks it for everything the user does (every
  // password, Apply, 更改密码, 退出). Nothing here enforces anything.
  // `logon_stored`: the service's word on whether the automatic logon holds
  // a password (in the system's secret, which the face cannot read).
  void BecomeFace(GuardLink& link, MemoryStore& store, bool logon_stored = false) {
    link_ = &link;
    face_store_ = &store;
    face_logon_stored_ = logon_stored;
  }
  bool is_face() const { return link_ != nullptr; }
  // A message from the service.
  void FaceMessage(const protocol::Message& message);
  // The time zone the service judges every instant in, as it last said, and
  // whether the system's is another; none without the guard.
  struct GuardZone {
    TimeZoneRule pinned;
    bool differs = false;
  };
  const std::optional<GuardZone>& guard_zone() const { return guard_zone_; }
  // 使用当前时区: an Apply that asks the service to pin the zone the system
  // is set to now.
  void UseCurrentTimeZone_Click();

  // ---- checkpassword / setpassword -----------------------------------
  void CheckPassword_SetText(const std::string& text) { ReplaceSecret(check_password_.text, text); }
  void CheckPassword_cmdOK_Click();
  void CheckPassword_cmdCancel_Click();
  void SetPassword_SetOld(const std::string& text) { ReplaceSecret(set_password_.text, text); }
  void SetPassword_SetNew(const std::string& text) { ReplaceSecret(set_password_.new_text, text); }
  void SetPassword_cmdOK_Click();
  void SetPassword_cmdCancel_Click();

 private:
  // As the face (program_face.cpp): the service's answers to what the user did.
  void FaceCountdownAnswer(const char* request);
  void FaceGateAnswer();
  void FaceApply(bool pin_current_zone = false);
  void FaceChangePassword();
  void FaceExit();
  void FaceExitWith(const std::string& password);
  // Says what a reply that is no success means; true when it was one.
  bool FaceReplyOk(const std::optional<protocol::Message>& reply, const std::string& wrong_password_text);
  void ReloadFromFaceStore();

  // EngineHost
  void TimerChanged(FormTimer timer, bool running) override;
  void CountdownOpened(bool visible) override;
  void CountdownChanged() override;
  void CountdownClosed() override;
  bool Perform(unsigned exit_flags) override;
  void ActionRefused(int action_index) override;
  void Log(EventType type, int id, const std::vector<std::string>& strings) override { os_.WriteEvent(type, id, strings); }
  void Balloon(const std::string& text) override { ShowBalloon(text); }
  bool RememberOccurrence(std::int64_t instant) override;
  void StoreUse(const UsageDay& day, bool machine, bool accounts) override;
  void RecordHistory(const UsageDay& day) override;
  PlanOutcome PerformPlan(PlanAction action, int plan, std::int64_t instant) override;
  void ArmWake(std::optional<std::int64_t> instant) override { os_.ArmWakeTimer(instant); }
  void KeepAwake(bool keep) override { os_.KeepAwake(keep); }
  SystemError LastSystemError() override { return os_.LastSystemError(); }
  void Notice(const std::string& text) override { screen_.ShowNotice(text, "提示", MessageIcon::kWarning); }

  void ShowForm(bool visible);
  void StartChosenTimer();
  void ShowTrayIconByCheck1();
  // Enables the privilege and makes the exit call; false when either failed.
  bool PerformAction(unsigned flags);
  // The entry and the notice for an action the system refused.
  void ReportRefused(int action_index);
  // At start-up and on resume, with 错过补做 on.
  void CatchUpMissed();
  // The password typed into the countdown: true when it is right; a wrong
  // one is told and the box emptied.
  bool CountdownPasswordAccepted();
  std::string TrayTip();
  void ShowBalloon(const std::string& text) {
    if (tray_shown_) screen_.ShowBalloon(text);
  }
  // Whether a typed text is the settings password: the policy's, when it
  // sets one, else the settings file's.
  bool PasswordAccepted(const std::string& typed);
  // Reads the machine policy into policy_ and locks_.
  void ReadPolicy();
  // The 防止被结束 box as the policy, the guard's face or the system says.
  void ReadGuardState();
  // At most once a minute, from whichever timer runs: whether the guard has
  // taken over (this copy then goes), and while the settings file could not
  // be read at start-up, whether it can be now (the settings are then loaded
  // as Cancel loads them).
  void EveryMinute();
  // The longest the timers wait while nothing is due: an hour, but no later
  // than a new day (the tooltip's 今天), the look just before the clock
  // changes season and the look as it does; a minute while the settings file
  // is unreadable (it is tried again each time) or when the zone's rule
  // cannot be said.
  int IdleTickSeconds();
  // The immediate paths: on success the program ends; on failure the user is
  // told and the program keeps running.
  void RunNow(int action_index, bool forced);
  void End();

  SettingsFile& settings_;
  OperatingSystem& os_;
  GuardManagement& guard_;
  Screen& screen_;
  Clock& clock_;
  ProgramState state_;

  LiveSettings live_;
  PolicyValues policy_;
  PolicyLocks locks_;
  Engine engine_;
  bool tray_shown_ = false;
  std::string tray_tip_;
  PasswordDialog check_password_;
  PasswordDialog set_password_;
  bool settings_shown_ = false;     // SettingsShown
  bool form_visible_ = false;
  bool ended_ = false;
  bool exited_by_user_ = false;
  bool label7_pressed_ = false;
  bool image1_pressed_ = false;
  bool settings_unread_ = false;
  bool finishing_later_ = false;  // between Start and FinishStart, for a host that shows the window first
  bool plan_timer_ = false;
  bool schedule_timer_ = false;
  WallClockWatch wall_clock_;
  // Summer time beginning is told to the engine from either timer. While
  // neither runs nobody looks: the watch starts again with the first.
  void WatchWallClock();
  int idle_told_ = 0;
  GuardLink* link_ = nullptr;
  MemoryStore* face_store_ = nullptr;
  CountdownScreen face_countdown_;
  std::uint64_t face_generations_ = 0;
  std::string face_service_generation_;
  std::string face_tip_;
  std::optional<GuardZone> guard_zone_;
  bool face_logon_stored_ = false;
  // The password the settings gate let the window open with, for Apply and
  // 退出; kept only while the window is open, and wiped when it closes.
  std::optional<std::string> face_password_;
  // Asks the service; the request's passwords are wiped once it is sent.
  std::optional<protocol::Message> AskService(protocol::Message& request);
  // The face's countdown closes, with what was typed into it.
  void CloseFaceCountdown();
  bool gate_for_exit_ = false;
  std::optional<std::int64_t> last_minute_;
  UsageRecorder recorder_;
  bool usage_timer_ = false;
  // The history as the file holds it, with today's counts: all of it, or
  // (`recent`) at least the last 30 days. The face asks the service.
  std::optional<UsageHistory> History(bool recent);
  std::optional<UsageHistory> FaceHistory(std::optional<Date> from);
  // Extra time granted to an account today.
  int ExtraMinutesToday(const Account& account) const;
  std::string history_problem_;  // why the history could not be had
  UsageDay face_today_;          // today's counts as the service last sent them
};

}  // namespace dadado
