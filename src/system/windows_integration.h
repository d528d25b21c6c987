// What the program keeps in the registry: start with Windows, the stored
// automatic logon and the power-off value. The operations run through the OS
// interface; the choices and their order are made here.
#pragma once

#include <optional>
#include <string>

#include "system/os.h"

namespace dadado {

inline constexpr char kRunKey[] = "software\\microsoft\\windows\\currentVersion\\run";
inline constexpr char kWinlogonKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
inline constexpr char kDefaultUserNameValue[] = "DefaultUserName";
inline constexpr char kDefaultPasswordValue[] = "DefaultPassword";
inline constexpr char kAutoAdminLogon[] = "AutoAdminLogon";
inline constexpr char kForceAutoLogon[] = "ForceAutoLogon";
inline constexpr char kPowerdownAfterShutdown[] = "PowerdownAfterShutdown";

// The registry state read at start-up.
struct RegistryReading {
  bool run_key_opened = false;       // false: the one error the user is told of
  bool start_with_windows = false;   // the start-up value exists and is not empty
  bool winlogon_opened = false;
  std::optional<std::string> logon_password;  // present and not empty
  std::string logon_user = "Administrator";
};

RegistryReading ReadRegistry(OperatingSystem& os, const std::string& base_name);

struct RegistryWriteResult {
  bool start_with_windows_ok = true;
  bool automatic_logon_ok = true;
};

// folder & "\" & base name & ".exe", in quotes.
std::string ExecutablePathForRunKey(const std::string& folder, const std::string& base_name);

// The workstation lock and the user-accounts panel, started through
// rundll32 of the system folder by its full path: a bare "rundll32" is
// looked for in the current folder and on the PATH first.
std::string LockWorkStationCommand(const std::string& system_folder);
std::string AccountsPanelCommand(const std::string& system_folder);

// What Apply asks of the registry, taken from the settings window.
struct RegistryChoices {
  bool start_with_windows = false;  // Check2
  bool stored_logon = false;        // Check3, with the user name and password below
  std::string logon_user;           // Text1
  std::string logon_password;       // Text2
  // The machine policy decides start with Windows: Apply leaves it alone.
  bool start_with_windows_by_policy = false;
  // Under the guard: the password goes into the system's secret, never into
  // the readable registry value, which any user can read. An empty password
  // then keeps the one stored (the window cannot show it).
  bool password_as_secret = false;
};

// Apply's three registry steps, in their order. The power-off value is best
// effort: every Apply writes it whatever the user chose.
RegistryWriteResult WriteRegistry(OperatingSystem& os, const RegistryChoices& choices, const std::string& folder,
                                  const std::string& base_name);

// Whether the stored automatic logon holds a password: in the system's
// secret or in the readable value.
bool LogonPasswordStored(OperatingSystem& os);

// A readable automatic-logon password found in the registry goes into the
// system's secret, and the readable value goes once the secret holds it.
enum class LogonPasswordMove { kNone, kMoved, kFailed };
LogonPasswordMove MoveLogonPasswordToSecret(OperatingSystem& os);

}  // namespace dadado
