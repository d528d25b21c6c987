#include "guard/win32/usage_command.h"

#include <windows.h>

#include "engine/usage_recorder.h"
#include "guard/usage_report.h"
#include "guard/win32/guard_commands.h"
#include "guard/win32/guard_win.h"
#include "guard/win32/registry_state_store.h"
#include "guard/win32/status_command.h"
#include "settings/ini_text.h"
#include "settings/keys.h"
#include "settings/settings_file.h"
#include "settings/text.h"
#include "system/win32/wide.h"
#include "system/win32/win_file_store.h"
#include "system/win32/win_os.h"

namespace dadado::win32 {

namespace {

constexpr char kUsage[] = "用法：dadado.exe /usage（后面不接其他参数）\r\n";

}  // namespace

int RunUsageCommand(const std::vector<std::wstring>& args) {
  if (args.size() != 1) {
    EmitText(true, kUsage);
    return 2;
  }
  const std::string settings_path = Narrow(SettingsPathOf(WinOperatingSystem::ModulePath()));
  WinFileStore files;
  WinOperatingSystem os;
  // 记录使用时间 and today's counts as the program keeps them: in the
  // settings file, or under the user's key where the file could not take them.
  std::optional<bool> recording;
  std::vector<UsageDay> kept;
  const FileContent settings = files.Read(settings_path);
  if (settings.status != ReadStatus::kError) {
    const IniText ini(settings.bytes);
    const auto value = ini.Get(Utf8ToGbk(keys::kAdvanced), Utf8ToGbk(keys::kRecordUsage));
    recording = value && ParseIniInt(*value) == 1;
    if (auto line = ini.Get(Utf8ToGbk(keys::kUsage), Utf8ToGbk(keys::kAccountsUsed)))
      kept.push_back(ParseAccountDay(GbkToUtf8(*line)));
  }
  if (auto line = os.ReadUserValue(keys::kUserAccountsUsed)) kept.push_back(ParseAccountDay(*line));
  // Under the guard today's counts are the service's, in its state, which
  // every user may read (the history file only administrators).
  if (GuardServiceInstalled()) {
    RegistryStateStore state;
    if (auto line = state.Get(state_names::kAccountsUse)) kept.push_back(ParseAccountDay(*line));
  }
  const std::string path = UsageFilePath(settings_path);
  const UsageReport report = MakeUsageReport(files.Read(path), path, kept, recording);
  if (!report.err.empty()) EmitText(true, report.err);
  if (!report.out.empty()) EmitText(false, report.out);
  return report.exit_code;
}

}  // namespace dadado::win32
