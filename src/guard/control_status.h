// What `dadado.exe /status` tells administrators' scripts: whether the
// control is in force and by whom, the settings in force with what the
// machine policy holds, the next scheduled action, today's use and the last
// action. The same status comes from the guard service (which writes it into
// a file beside the executable whenever it changes) or, without the guard,
// from the settings file and the policy as the program would read them.
//
// The JSON holds ASCII only: every other character is written as a \u
// escape, so that the text survives whichever code page a script's shell
// decodes a program's output with (PowerShell uses the console's, GBK on a
// Chinese Windows), and ConvertFrom-Json still gives the Chinese texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/calendar.h"
#include "engine/engine_settings.h"
#include "scheduler/daily_use.h"
#include "settings/policy.h"
#include "system/os.h"

namespace dadado {

class GuardHost;
class GuardStateStore;

// One value as the status shows it: a number, a text, true or false, or
// null (no item chosen, or a setting that could not be read).
struct StatusValue {
  enum class Kind { kNull, kBool, kNumber, kText };
  Kind kind = Kind::kNull;
  bool flag = false;
  std::int64_t number = 0;
  std::string text;

  static StatusValue Null() { return {}; }
  static StatusValue Bool(bool b) { return {Kind::kBool, b, 0, {}}; }
  static StatusValue Number(std::int64_t n) { return {Kind::kNumber, false, n, {}}; }
  static StatusValue Text(std::string t) { return {Kind::kText, false, 0, std::move(t)}; }
  bool operator==(const StatusValue&) const = default;
};

// A setting under its Group Policy value name, with the value in force and
// whether the machine policy sets it.
struct StatusSetting {
  std::string name;
  StatusValue value;
  bool policy = false;
  bool operator==(const StatusSetting&) const = default;
};

// An action at a local instant, with the text the program gives it.
struct StatusAction {
  std::int64_t at = 0;  // local seconds
  std::string action;
  bool operator==(const StatusAction&) const = default;
};

// kUnknown: the guard service runs, but what it says cannot be read or
// believed; it may well be enforcing.
enum class Enforcer { kNone, kProgram, kGuard, kUnknown };

struct ControlStatus {
  std::string version;
  bool guard_installed = false;
  bool guard_running = false;
  Enforcer enforcing = Enforcer::kNone;
  // Whoever gave this status could not read the settings file the last time
  // it tried: the guard service (which then enforces what it read last
  // well, if anything), or /status itself.
  bool settings_unreadable = false;
  std::vector<StatusSetting> settings;
  std::optional<StatusAction> next;
  Date today;
  int used_minutes = 0;
  bool use_known = true;  // false: used_minutes is not known (null)
  int limit_minutes = 0;  // today's daily limit; 0 for none
  bool time_control = false;
  // Each account's use today with the extra time granted to it, and the
  // account at the console when the guard knows it.
  std::vector<AccountUse> accounts;
  std::optional<std::string> console_account;
  // Under the guard: the time zone it judges every instant in (its rule as
  // the settings file writes it), and whether the system's zone is another.
  std::optional<std::string> pinned_zone;
  bool zone_differs = false;
  std::optional<StatusAction> last_action;
};

// The guard service that wrote a status: its process and when that process
// started, so that a reader can tell a file left behind by a service that no
// longer runs (or whose process id now belongs to another process).
struct StatusWriter {
  std::uint32_t pid = 0;
  std::string started;  // the process's creation time, as the service words it
  bool operator==(const StatusWriter&) const = default;
};

// `text` as a JSON string, quotes included, in ASCII; a byte that is no part
// of valid UTF-8 comes out as U+FFFD.
std::string JsonString(std::string_view text);
// A local instant as ISO 8601 without a zone: "2026-12-08T22:00:00".
std::string IsoLocalTime(std::int64_t local_seconds);

// The status as one JSON object. With a writer, the object starts with a
// "service" member that WriterOfStatus reads back.
std::string StatusJson(const ControlStatus& status, const std::optional<StatusWriter>& writer = std::nullopt);
// The writer at the start of a status written with one; nullopt for any
// other text.
std::optional<StatusWriter> WriterOfStatus(std::string_view json);

// 0 when the control the status describes is in force: by the guard when it
// is installed, else by the program. 3 when the guard runs but its status is
// unknown. 1 otherwise.
int StatusExitCode(const ControlStatus& status);

// The settings members: one per entry of the settings table that has a
// policy value name, each as the program reads that key (the policy's value
// where it holds one, else the file's, else the default), then
// StartWithWindows and GuardService as the settings window shows them.
// `file_bytes` is the settings file (GBK; empty when there is none), nullopt
// when it could not be read: what the policy does not set is then null.
// `in_force` gives the time of day of a schedule whose file names none.
struct StatusSurroundings {
  // The guard's state, where it is installed: today's use and the last
  // scheduled instant are its, not the settings file's.
  GuardStateStore* guard_state = nullptr;
  bool run_value = false;        // the Run value of the program exists
  bool guard_installed = false;
  bool guard_running = false;    // the guard runs and its status is current
  bool program_running = false;  // a copy of the program runs in this session
};
std::vector<StatusSetting> StatusSettings(const std::optional<std::string>& file_bytes, const PolicyValues& policy,
                                          const LocalDateTime& now, const EngineSettings& in_force,
                                          const StatusSurroundings& around);

// Without the guard (or with a guard that does not run): from the settings
// file and the policy as the program reads them at `clock`'s now, the next
// action as the engine would compute it from them, 上次定时 as the last
// action and 使用记录 as today's use (or, with the guard installed, what
// its state holds of them).
ControlStatus StatusWithoutGuard(const std::optional<std::string>& file_bytes, const PolicyValues& policy, Clock& clock,
                                 const StatusSurroundings& around);

// The guard service runs, but its own status cannot be read or believed:
// what the file and the policy say as the caller can read them, and for what
// only the service knows (what it enforces, what comes next, today's use, the
// last action), "unknown" or null.
ControlStatus StatusWhileGuardUnknown(const std::optional<std::string>& file_bytes, const PolicyValues& policy,
                                      Clock& clock, const StatusSurroundings& around);

// The guard service's own status: the settings it read last, its engine's
// next action, the last action it performed (or, when it performed none
// since it started, 上次定时), today's use as it counts it.
ControlStatus StatusOfGuard(GuardHost& host, bool run_value);

// Whether the Run value of the program (named after its executable) exists
// and is not empty.
bool RunValuePresent(OperatingSystem& os, const std::string& base_name);

}  // namespace dadado
