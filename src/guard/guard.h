// The guard service's decisions: keeping the program running in the console
// session, and acting alone when the program is absent, so that at any
// second exactly one of the two acts. The service calls Tick() once a second
// and passes on what the service manager and the system tell it.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "base/calendar.h"
#include "guard/guard_settings.h"
#include "scheduler/schedule_runner.h"
#include "settings/file_store.h"
#include "settings/policy.h"
#include "system/event_log.h"

namespace dadado {

enum class GuardActionKind { kRestart, kPowerOff, kLogOff };

// What the guard does for an action: the exit call's flags as the program
// would pass them, and the kind they map to (restart and power-off through
// the system's shutdown, log-off of the console session).
struct GuardAction {
  GuardActionKind kind = GuardActionKind::kPowerOff;
  unsigned exit_flags = 0;
  bool operator==(const GuardAction&) const = default;
};

// The forced action of Combo3's index; nullopt for "no action" and anything
// that is not an action.
std::optional<GuardAction> GuardActionFor(int action_index);

// The session of the console with the user logged on in it.
using SessionId = std::uint32_t;

class GuardSystem {
 public:
  virtual ~GuardSystem() = default;
  // The console session, when a user is logged on in it.
  virtual std::optional<SessionId> ConsoleUserSession() = 0;
  // Whether the program announces itself in that session.
  virtual bool ProgramRunning(SessionId session) = 0;
  // Starts the program in that session as its user; false when it could not.
  virtual bool StartProgram(SessionId session) = 0;
  // Performs a forced action; a log-off is of `session`.
  virtual bool Perform(const GuardAction& action, std::optional<SessionId> session) = 0;
  // Remembers, before acting, the scheduled instant the guard performs, so
  // that the program's catch-up at its next start does not perform it again.
  virtual void RecordPerformed(std::int64_t occurrence) = 0;
  // The machine policy, read afresh.
  virtual PolicyValues ReadPolicy() = 0;
  // An entry in the Application log; a failure is ignored.
  virtual void WriteEvent(EventType type, int id, const std::vector<std::string>& strings) = 0;
};

class GuardService {
 public:
  // A program that ended is started again within this long.
  static constexpr int kRestartWithinSeconds = 5;
  // At most this many starts within kStartWindowSeconds; after that, one a
  // minute until the program stays.
  static constexpr int kMaxStartsInWindow = 10;
  static constexpr int kStartWindowSeconds = 60;
  static constexpr int kBackOffSeconds = 60;
  // A started program that has not announced itself within this long is
  // taken as gone.
  static constexpr int kStartGraceSeconds = 5;
  // Time control: a forbidden hour with no program for this long ends in a
  // shutdown, as the program's own countdown does.
  static constexpr int kTimeControlGraceSeconds = 30;
  // A shutdown the system refused is tried again after this long.
  static constexpr int kRetrySeconds = 60;
  // An Exit counts when the program ends this soon after asking.
  static constexpr int kExitRequestSeconds = 10;
  // The exit code of a program that ended by itself.
  static constexpr std::uint32_t kCleanExitCode = 0;

  GuardService(GuardSystem& system, FileStore& files, std::string settings_path, Clock& clock);

  // Once a second.
  void Tick();

  // ---- what the service is told ----------------------------------------
  void SessionLogon(SessionId session);
  void SessionLogoff(SessionId session);
  // The program asked to be let go (its Exit, behind the password).
  void ExitRequested();
  // The program's process in the console session ended with this code.
  void ProgramExited(std::uint32_t exit_code);

  // The program was let go by Exit: not started again until the next logon.
  bool released() const { return released_; }
  const GuardSettings& settings() const { return settings_; }

 private:
  // Whether the program counts as there for the guard's acting: announced
  // at the previous tick already. A program that only just appeared may
  // have started too late to see this second itself.
  bool ProgramHolds() const { return running_now_ && running_before_; }
  void EnforceSchedule(std::int64_t now, std::optional<SessionId> session);
  void EnforceTimeControl(std::int64_t now, std::optional<SessionId> session);
  void KeepProgramRunning(std::int64_t now, std::optional<SessionId> session);
  bool StartAllowed(std::int64_t now);
  std::int64_t Now() { return LocalSeconds(clock_.Now()); }

  GuardSystem& system_;
  FileStore& files_;
  std::string settings_path_;
  Clock& clock_;
  const LocalDateTime started_;
  ScheduleRunner runner_;
  GuardSettings settings_;

  std::optional<SessionId> last_session_;
  bool running_now_ = false, running_before_ = false;
  bool released_ = false;
  std::optional<std::int64_t> exit_requested_at_;
  std::optional<std::uint32_t> exit_code_;        // of the program that ended last
  std::optional<std::int64_t> missing_since_;     // the program found missing
  std::optional<std::int64_t> starting_until_;    // a start not yet announced
  std::deque<std::int64_t> starts_;               // the latest start attempts
  bool backing_off_ = false;
  std::optional<std::int64_t> stable_since_;      // the program there without a break

  std::optional<std::int64_t> forbidden_since_;   // a forbidden hour with no program
  std::optional<std::int64_t> time_control_done_at_;
  bool time_control_done_ok_ = false;
};

}  // namespace dadado
