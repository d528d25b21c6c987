#include "system/windows_integration.h"

#include "base/wipe.h"


namespace dadado {

RegistryReading ReadRegistry(OperatingSystem& os, const std::string& base_name) {
  RegistryReading r;
  auto run = os.OpenKey(kRunKey, false);
  if (!run) return r;
  r.run_key_opened = true;
  auto value = os.QueryString(*run, base_name);
  r.start_with_windows = value && !value->empty();
  os.CloseKey(*run);

  auto winlogon = os.OpenKey(kWinlogonKey, false);
  if (!winlogon) return r;
  r.winlogon_opened = true;
  auto password = os.QueryString(*winlogon, kDefaultPasswordValue);
  if (password && !password->empty()) r.logon_password = *password;
  auto user = os.QueryString(*winlogon, kDefaultUserNameValue);
  if (user && !user->empty()) r.logon_user = *user;
  os.CloseKey(*winlogon);
  return r;
}

std::string ExecutablePathForRunKey(const std::string& folder, const std::string& base_name) {
  // Quoted: unquoted, a path with a blank in it (Program Files) lets Windows
  // try "C:\Program.exe" first, which anyone who may write C:\ could place.
  return "\"" + folder + "\\" + base_name + ".exe\"";
}

std::string LockWorkStationCommand(const std::string& system_folder) {
  return "\"" + system_folder + "\\rundll32.exe\" user32.dll, LockWorkStation";
}

std::string AccountsPanelCommand(const std::string& system_folder) {
  return "\"" + system_folder + "\\rundll32.exe\" netplwiz.dll, UsersRunDll";
}

namespace {

// Whether any of `names` still exists under `path` (used when a key could
// not be opened for deleting: nothing to delete is no failure).
bool AnyValuePresent(OperatingSystem& os, const char* path, std::initializer_list<const char*> names) {
  auto key = os.OpenKey(path, false);
  if (!key) return false;
  bool present = false;
  for (const char* name : names) present = present || os.QueryString(*key, name).has_value();
  os.CloseKey(*key);
  return present;
}

std::optional<std::string> ReadableLogonPassword(OperatingSystem& os) {
  auto winlogon = os.OpenKey(kWinlogonKey, false);
  if (!winlogon) return std::nullopt;
  std::optional<std::string> password = os.QueryString(*winlogon, kDefaultPasswordValue);
  os.CloseKey(*winlogon);
  if (!password || password->empty()) return std::nullopt;
  return password;
}

// The readable value goes; true when it is gone, or never was.
bool DeleteReadablePassword(OperatingSystem& os) {
  if (auto winlogon = os.OpenKey(kWinlogonKey, true)) {
    const bool ok = os.DeleteValue(*winlogon, kDefaultPasswordValue);
    os.CloseKey(*winlogon);
    return ok;
  }
  return !AnyValuePresent(os, kWinlogonKey, {kDefaultPasswordValue});
}

bool WriteLogonWithSecret(OperatingSystem& os, const RegistryChoices& c) {
  if (!c.stored_logon || c.logon_user.empty()) {
    // Off: no password is left anywhere.
    bool ok = os.StoreLogonSecret(std::nullopt);
    if (auto winlogon = os.OpenKey(kWinlogonKey, true)) {
      ok = os.DeleteValue(*winlogon, kDefaultPasswordValue) && ok;
      ok = os.DeleteValue(*winlogon, kForceAutoLogon) && ok;
      os.CloseKey(*winlogon);
      return ok;
    }
    return ok && !AnyValuePresent(os, kWinlogonKey, {kDefaultPasswordValue, kForceAutoLogon});
  }
  // The password first: a logon turned on without one would only fail.
  const bool password_ok = c.logon_password.empty() ? os.LogonSecretStored().value_or(false)
                                                    : os.StoreLogonSecret(c.logon_password);
  if (!password_ok) return false;
  auto winlogon = os.CreateKey(kWinlogonKey);
  if (!winlogon) return false;
  bool ok = os.SetString(*winlogon, kDefaultUserNameValue, c.logon_user);
  ok = os.SetString(*winlogon, kAutoAdminLogon, "1") && ok;
  ok = os.SetString(*winlogon, kForceAutoLogon, "1") && ok;
  ok = os.DeleteValue(*winlogon, kDefaultPasswordValue) && ok;
  os.CloseKey(*winlogon);
  return ok;
}

}  // namespace

bool LogonPasswordStored(OperatingSystem& os) {
  return os.LogonSecretStored().value_or(false) || ReadableLogonPassword(os).has_value();
}

LogonPasswordMove MoveLogonPasswordToSecret(OperatingSystem& os) {
  std::optional<std::string> password = ReadableLogonPassword(os);
  if (!password) return LogonPasswordMove::kNone;
  // Kept where it is when the secret cannot take it: the automatic logon
  // the administrator set up must go on working.
  const bool moved = os.StoreLogonSecret(*password) && DeleteReadablePassword(os);
  WipeString(*password);
  return moved ? LogonPasswordMove::kMoved : LogonPasswordMove::kFailed;
}

RegistryWriteResult WriteRegistry(OperatingSystem& os, const RegistryChoices& choices, const std::string& folder,
                                  const std::string& base_name) {
  RegistryWriteResult result;

  // 1. Start with Windows.
  if (choices.start_with_windows_by_policy) {
    // Left as the administrator has it.
  } else if (choices.start_with_windows) {
    auto run = os.CreateKey(kRunKey);
    result.start_with_windows_ok =
        run && os.SetString(*run, base_name, ExecutablePathForRunKey(folder, base_name));
    if (run) os.CloseKey(*run);
  } else {
    auto run = os.OpenKey(kRunKey, true);
    if (run) {
      result.start_with_windows_ok = os.DeleteValue(*run, base_name);
      os.CloseKey(*run);
    } else {
      result.start_with_windows_ok = !AnyValuePresent(os, kRunKey, {base_name.c_str()});
    }
  }

  // 2. Automatic logon, the stored way.
  if (choices.password_as_secret) {
    result.automatic_logon_ok = WriteLogonWithSecret(os, choices);
  } else if (choices.stored_logon && !choices.logon_user.empty() && !choices.logon_password.empty()) {
    auto winlogon = os.CreateKey(kWinlogonKey);
    bool ok = winlogon.has_value();
    if (winlogon) {
      ok = os.SetString(*winlogon, kDefaultUserNameValue, choices.logon_user) && ok;
      ok = os.SetString(*winlogon, kDefaultPasswordValue, choices.logon_password) && ok;
      ok = os.SetString(*winlogon, kAutoAdminLogon, "1") && ok;
      ok = os.SetString(*winlogon, kForceAutoLogon, "1") && ok;
      os.CloseKey(*winlogon);
    }
    result.automatic_logon_ok = ok;
  } else {
    auto winlogon = os.OpenKey(kWinlogonKey, true);
    if (winlogon) {
      bool ok = os.DeleteValue(*winlogon, kDefaultPasswordValue);
      ok = os.DeleteValue(*winlogon, kForceAutoLogon) && ok;
      os.CloseKey(*winlogon);
      result.automatic_logon_ok = ok;
    } else {
      result.automatic_logon_ok = !AnyValuePresent(os, kWinlogonKey, {kDefaultPasswordValue, kForceAutoLogon});
    }
  }

  // 3. Power-off after shutdown, on every Apply, silently.
  if (auto winlogon = os.OpenKey(kWinlogonKey, true)) {
    os.SetString(*winlogon, kPowerdownAfterShutdown, "1");
    os.CloseKey(*winlogon);
  }
  return result;
}

}  // namespace dadado
