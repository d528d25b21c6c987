// The entries the program writes to the system's event log: fixed numbers,
// each with its insertion strings in a fixed order. The texts themselves are
// the message table compiled into the executable, in Chinese and English.
// No entry ever holds a password or its stored form.
#pragma once

namespace dadado {

enum class EventType { kInformation, kWarning, kError };

namespace events {
inline constexpr char kSource[] = "dadado";

inline constexpr int kStarted = 1000;            // version, folder
inline constexpr int kSettingsApplied = 1001;    // the keys that changed
inline constexpr int kSettingsNotSaved = 1002;   // which, why
inline constexpr int kActionPerformed = 1100;    // action, flags, due time
inline constexpr int kActionFailed = 1101;       // action, error code, its text
inline constexpr int kMissedCaughtUp = 1102;     // action, the missed due time
inline constexpr int kImmediateAction = 1103;    // action, flags
inline constexpr int kPlanPerformed = 1104;      // plan number, action, due time
inline constexpr int kPlanFailed = 1105;         // plan number, action, error code, its text
inline constexpr int kPlanCaughtUp = 1106;       // plan number, action, the missed due time
inline constexpr int kPlanNotDone = 1107;        // plan number, action, why
inline constexpr int kPlanIgnored = 1003;        // the key, its line: a plan that does not read
inline constexpr int kCountdownCancelled = 1200; // what it counted down to
inline constexpr int kWrongPassword = 1201;      // where
inline constexpr int kPostponed = 1202;          // minutes, the new time
inline constexpr int kPasswordsRefused = 1203;   // where: too many wrong passwords, refused for a minute
inline constexpr int kTimeControlShutdown = 1300;  // the hour
inline constexpr int kDailyLimitReached = 1301;  // the limit in minutes
// The same two naming the account at the console; new numbers, so that
// entries written before render as they were written.
inline constexpr int kAccountTimeControlShutdown = 1302;  // the hour, the account
inline constexpr int kAccountDailyLimitReached = 1303;    // the limit in minutes, the account
inline constexpr int kExtraTimeGranted = 1304;   // the account, the minutes
inline constexpr int kClockSetBack = 1305;       // the clock now, the last minute counted, the day counted
inline constexpr int kHistoryNotWritten = 1306;  // the history file, why
inline constexpr int kGuardRestarted = 1400;     // the program's exit code
inline constexpr int kGuardActed = 1401;         // action
inline constexpr int kGuardInstalled = 1402;     // "installed" or "removed"
inline constexpr int kSettingsUnreadable = 1403; // the path: the guard goes on with the settings it read last
inline constexpr int kTimeZoneChanged = 1404;    // the pinned zone, the system's new zone
inline constexpr int kFaceReplaced = 1410;       // why: the program in the session said what cannot be true
inline constexpr int kTimeZoneNotPinned = 1411;  // the system's zone, the zone kept, why
}  // namespace events

}  // namespace dadado
