// The guard service as the host of the engine: with the guard installed it
// alone decides and acts, and the program in the user's session is only its
// face. It reads the settings file (which only SYSTEM and administrators may
// open) once per change, keeps the last settings it read well, keeps its own
// state apart from that file (see guard_state.h), judges every instant in the
// time zone pinned at the last Apply with the password, counts today's use
// from the sessions the system reports, checks every password itself, and
// keeps the face running in the console session.
//
// The Windows side wakes it when something arrives (a message from the face,
// a session change, a change of the settings file or the policy, the face
// started or ended) or when its one timer runs out, and then sets the timer
// to NextWakeUtc().
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/time_zone.h"
#include "engine/engine.h"
#include "engine/usage_recorder.h"
#include "guard/guard_settings.h"
#include "guard/guard_state.h"
#include "guard/protocol.h"
#include "settings/file_store.h"
#include "settings/settings_file.h"
#include "system/os.h"

namespace dadado {

// A session of Windows; the console's, when someone is logged on in it.
using SessionId = std::uint32_t;

// What only the service can do on Windows.
class GuardPlatform {
 public:
  virtual ~GuardPlatform() = default;
  // The console session, when a user is logged on in it.
  virtual std::optional<SessionId> ConsoleUserSession() = 0;
  // Whether that session's workstation is locked, as the system says.
  virtual bool SessionLocked(SessionId session) = 0;
  // Asks for the program to be started in the session as its user, with its
  // ends of the pipe. It never waits for the start (the user decides how
  // long a start takes): the outcome comes to GuardHost::FaceStarted.
  virtual void StartFace(SessionId session) = 0;
  // Whether a face started so is running now.
  virtual bool FaceRunning() = 0;
  // Ends the face, which then counts as ended (FaceEnded): the service
  // starts a new one.
  virtual void ReplaceFace() = 0;
  // Queues a message for the face; never waits (a face that reads nothing
  // loses what does not fit).
  virtual void SendToFace(const protocol::Message& message) = 0;
  // A forced action with the program's exit flags; a log-off is of `session`.
  virtual bool Perform(unsigned exit_flags, std::optional<SessionId> session) = 0;
  // The time zone the system is set to now; nullopt when it cannot be read.
  virtual std::optional<TimeZoneRule> CurrentTimeZone() = 0;
  // Sleep or hibernate, with wake timers left on.
  virtual bool Suspend(bool hibernate) = 0;
  // The timer that wakes the machine at a UTC second (none: no wake).
  virtual void ArmWake(std::optional<std::int64_t> utc) = 0;
  virtual void KeepAwake(bool keep) = 0;
  // The account logged on in the session, from the session itself (never
  // from its program); nullopt when it cannot be read, and the rules for
  // everyone then hold.
  virtual std::optional<Account> SessionAccount(SessionId) { return std::nullopt; }
};

// The tooltip's line while the system's time zone is another than the
// service's.
inline constexpr char kZoneDiffersTip[] = "系统时区与守护服务使用的时区不同";

class GuardHost : private EngineHost {
 public:
  // A settings file larger than this is not read: it is not one of ours.
  static constexpr std::size_t kMaxSettingsBytes = 1024 * 1024;
  // Wrong passwords in a row after which passwords are refused for a while.
  static constexpr int kWrongPasswordsAllowed = 5;
  static constexpr int kLockOutSeconds = 60;
  // Refusals logged in one lock-out; the rest are refused unlogged.
  static constexpr int kRefusalsLoggedPerLockOut = 10;
  // The longest request id the face sends (a number).
  static constexpr std::size_t kMaxRequestId = 20;
  // A face that ends is started again after a pause that doubles with each
  // face that ends at once, up to a minute, and is a second again once a
  // face stayed up a minute.
  static constexpr int kBackOffSeconds = 60;
  // What the face's idle reports may be off by, against the service's clock:
  // the face looks every ten seconds, and both count whole seconds.
  static constexpr int kIdleReportSlack = 15;
  // How long the face has to confirm that it locked or darkened the desktop.
  static constexpr int kDoConfirmSeconds = 5;
  // What could not be stored (the settings file read, the state written) is
  // tried again this long after.
  static constexpr int kRetrySeconds = 60;
  // The usage history goes to the face in parts of this size, and at most
  // so many requests a second are answered.
  static constexpr std::size_t kHistoryBytesPerReply = 128 * 1024;
  static constexpr int kHistoryRequestsPerSecond = 5;
  // The longest sleep, whatever is due: the clock is looked at once an hour.
  static constexpr int kLongestSleepSeconds = 3600;
  // The clock is looked at this long before the pinned zone's clock changes,
  // and again as it changes: two looks that close together tell summer time
  // beginning from the machine sleeping across it.
  static constexpr int kLookBeforeClockChange = 60;

  GuardHost(GuardPlatform& platform, OperatingSystem& os, FileStore& files, std::string settings_path, UtcClock& clock,
            GuardStateStore& state);
  // With its state in memory only, forgotten when it ends.
  GuardHost(GuardPlatform& platform, OperatingSystem& os, FileStore& files, std::string settings_path, UtcClock& clock);

  // The service has started: reads the settings, pins the time zone when
  // none is pinned yet, restores its state (carrying over what an earlier
  // version kept in the settings file) and catches up what was missed.
  void Start();
  // The service stops: today's use and what could not be stored yet are
  // stored.
  void Stop();

  // Something may be due: everything that is due is done.
  void Wake();
  // The settings file (or its folder) changed, or the machine policy did.
  void SettingsChanged();
  void PolicyChanged();
  // Each account's use today with its extra time, as counted now.
  UsageDay UsageToday() const { return engine_.use().Snapshot(); }
  // A session changed (logon, logoff, lock, unlock, connect, disconnect):
  // the state is asked of the system afresh, never taken from the event.
  void SessionChanged();
  void SessionLogon();
  // The machine resumed from sleep, or the clock was set.
  void Resumed();
  void ClockChanged();
  // The start StartFace asked for is over: whether a face now runs.
  void FaceStarted(bool started);
  // The face started so ended, with its exit code.
  void FaceEnded(std::uint32_t exit_code);
  // A message from the face.
  void FaceMessage(const protocol::Message& message);
  // The wake timer fired: the machine woke for a 唤醒计算机 plan.
  void WokeForPlan();

  // When Wake is next needed, in UTC seconds.
  std::int64_t NextWakeUtc();

  const EngineSettings& settings() const { return settings_; }
  const Engine& engine() const { return engine_; }
  Engine& engine() { return engine_; }
  // The settings file as last read well, and the machine policy.
  const GuardSettingsRead& read() const { return read_; }
  const PolicyValues& policy() const { return policy_; }
  // Whether the settings file could not be read the last time it was
  // tried; and whether it was ever read since the service started.
  bool settings_unreadable() const { return unreadable_logged_; }
  bool settings_read_ever() const { return read_ever_; }
  // The last scheduled instant performed, cancelled or postponed.
  const std::optional<std::int64_t>& last_scheduled() const { return last_scheduled_; }
  // The last action the service performed: when (local seconds) and what.
  struct Performed {
    std::int64_t at = 0;
    std::string action;
  };
  const std::optional<Performed>& last_performed() const { return last_performed_; }
  // Local time in the pinned zone.
  LocalDateTime Now() { return clock_.Now(); }
  const TimeZoneRule& pinned_zone() const { return clock_.Rule(); }
  // Whether the system's time zone is another than the pinned one.
  bool zone_differs() const { return zone_differs_; }
  // Today's use, as counted now.
  const DailyUse& use() const { return engine_.use(); }
  bool released() const { return released_; }

 private:
  // EngineHost
  void TimerChanged(FormTimer, bool) override {}
  void CountdownOpened(bool) override { SendCountdown(); }
  void CountdownChanged() override { SendCountdown(); }
  void CountdownClosed() override { SendCountdown(); }
  bool Perform(unsigned exit_flags) override;
  void ActionRefused(int action_index) override;
  void Log(EventType type, int id, const std::vector<std::string>& strings) override { os_.WriteEvent(type, id, strings); }
  void Balloon(const std::string& text) override;
  bool RememberOccurrence(std::int64_t instant) override;
  void StoreUse(const UsageDay& day, bool machine, bool accounts) override;
  void RecordHistory(const UsageDay& day) override;
  PlanOutcome PerformPlan(PlanAction action, int plan, std::int64_t instant) override;
  // The face's answer to a `do`; one that never comes is logged as not done.
  void DoneReported(const protocol::Message& message);
  void ForgetUnconfirmed();
  void ArmWake(std::optional<std::int64_t> instant) override;
  void KeepAwake(bool keep) override { platform_.KeepAwake(keep); }
  SystemError LastSystemError() override { return os_.LastSystemError(); }
  void Notice(const std::string& text) override;

  // Reads the settings file; a file that cannot be read leaves the last
  // settings read well in force. True when the settings were read.
  bool ReadSettings();
  void PinTimeZone(const TimeZoneRule& rule);
  // The zone pinned when none is: the system's, or what comes nearest.
  TimeZoneRule ZoneAtFirstStart();
  // Whether the system's zone is another than the pinned one: logged once,
  // and told to the face.
  void CheckTimeZone();
  void SendZone();
  // A 时区 written into the file since the service last read one there is
  // an administrator's: it is pinned.
  void TakeFileTimeZone();
  // The state, from the store and what an earlier version left in the file.
  void RestoreState(const GuardSettingsRead& file);
  // Stores a value of the state; one that cannot be stored is kept, tried
  // again a minute later and logged once a stretch of failure.
  bool StoreState(const std::string& name, const std::string& value);
  void RetryState();
  void UpdateSession();
  // The face's report of the seconds without input, bounded by what the
  // service can check; a report that cannot be true replaces the face.
  void IdleReported(const protocol::Message& message);
  // While the session is locked, idle is the service's to count: since when.
  std::optional<std::int64_t> LockedIdleSince() const;
  void ReplaceFace(const std::string& why);
  // Someone logged on, or another user's session came to the console.
  void NewLogon();
  void KeepFaceRunning(std::int64_t now);
  bool StartAllowed(std::int64_t now) const;
  void SendCountdown();
  void SendTip();
  void SendSettings();
  // A readable automatic-logon password goes into the system's secret.
  void SecureLogonPassword();
  void Reply(const protocol::Message& request, const std::string& result, const std::string& text = "");
  // Checks a password from the face: the policy's, or the file's as last
  // read well; refuses all for a while after too many wrong ones.
  enum class PasswordVerdict { kRight, kWrong, kLockedOut };
  PasswordVerdict CheckPassword(const std::string& typed, const char* where);
  void Apply(const protocol::Message& request);
  // The usage history for the face, with today's counts, a part at a time.
  void SendHistory(const protocol::Message& request);
  void ChangePassword(const protocol::Message& request);
  void StorePostponements();
  void RestorePostponements(const std::optional<std::pair<std::int64_t, std::int64_t>>& postponed,
                            const std::optional<std::int64_t>& held_off_until);
  std::int64_t NowSeconds() { return LocalSeconds(clock_.Now()); }
  // Someone is at the console, unlocked, and the use is to be counted.
  bool CountingNow() const { return session_ && active_ && settings_.CountingWanted(); }

  std::unique_ptr<MemoryStateStore> own_state_;  // with no store given
  GuardPlatform& platform_;
  OperatingSystem& os_;
  FileStore& files_;
  std::string settings_path_;
  SettingsFile file_;
  UtcClock& utc_;
  GuardStateStore& state_;
  PinnedClock clock_;
  Engine engine_;

  GuardSettingsRead read_;       // the settings as last read well
  bool read_ever_ = false;
  bool unreadable_logged_ = false;
  std::optional<std::int64_t> read_again_at_;  // the file could not be read: tried again then
  std::optional<TimeZoneRule> file_zone_;      // the 时区 last read in the file
  PolicyValues policy_;
  EngineSettings settings_;
  bool zone_change_logged_ = false;
  bool zone_differs_ = false;
  std::string zone_sent_;        // what the face was last told of the zone

  std::optional<SessionId> session_;
  std::optional<SessionId> console_session_;  // the last with a user at the console
  bool active_ = false;
  bool released_ = false;              // 退出 with the password: no face until the next logon
  bool starting_ = false;              // a start asked for and not yet over
  std::optional<SessionId> starting_in_;
  int pause_ = 1;                      // before the next start of a face that ended
  std::optional<std::int64_t> face_since_;   // the face running without a break since
  std::optional<std::int64_t> restart_at_;   // when the face is to be started again
  std::optional<std::uint32_t> exit_code_;   // of the face that ended last
  std::optional<SessionId> face_session_;    // where the face runs
  bool replacing_face_ = false;              // its word counts for nothing until a new one runs

  // Idle time, in UTC seconds: the last input the face's reports make
  // believable, and the logon, unlock or resume before which nothing
  // counts as idle; the lock, while the session is locked.
  std::optional<std::int64_t> last_input_;
  std::int64_t idle_floor_ = 0;
  std::optional<std::int64_t> locked_since_;

  int wrong_passwords_ = 0;
  int refusals_logged_ = 0;
  std::optional<std::int64_t> locked_out_until_;
  std::optional<std::string> tip_sent_;
  std::string face_ini_sent_;
  std::optional<Performed> last_performed_;
  // What the face was asked to do to the desktop and has not confirmed.
  struct AskedOfFace {
    std::string id;
    int plan = 0;
    PlanAction action = PlanAction::kLock;
    std::int64_t instant = 0;   // the occurrence, local
    std::int64_t deadline = 0;  // UTC
  };
  std::vector<AskedOfFace> asked_of_face_;
  std::uint64_t next_do_id_ = 0;
  std::optional<std::int64_t> last_scheduled_;
  std::pair<Date, int> stored_use_{Date{0, 0, 0}, -1};  // what the store was last given of today's use
  std::map<std::string, std::string> unstored_;          // state the store refused, by name
  std::optional<std::int64_t> store_again_at_;
  bool store_failure_logged_ = false;
  WallClockWatch wall_clock_{3 * kLookBeforeClockChange};
  std::int64_t next_time_control_check_ = 0;
  // The minute count while the time-control check does not run.
  std::int64_t next_count_ = 0;
  // The account at the console, read from its session when the session
  // changes (or a session event came).
  std::optional<Account> account_;
  std::optional<SessionId> account_session_;
  bool account_stale_ = true;
  // The usage history beside the settings file, written by the service only.
  UsageRecorder history_;
  std::int64_t history_second_ = 0;
  int history_asked_ = 0;
  std::optional<std::int64_t> last_countdown_tick_;
  std::string postponed_stored_, held_off_stored_;
};

}  // namespace dadado
