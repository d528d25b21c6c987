// What the program keeps of its own, besides the settings: the last
// scheduled instant performed, cancelled or postponed (上次定时), the day the
// every-N-days count starts from (间隔起始时间) and today's use (使用记录).
// They live in the settings file; where that cannot be written (a standard
// user's program under Program Files) they go under the user's own registry
// key and are read back from there, so that a restart that was caught up is
// never caught up again after the boot it caused.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/calendar.h"
#include "scheduler/daily_use.h"
#include "guard/guard_management.h"
#include "settings/keys.h"
#include "settings/settings_file.h"
#include "system/os.h"

namespace dadado {

class ProgramState {
 public:
  ProgramState(SettingsFile& settings, OperatingSystem& os, GuardManagement& guard)
      : settings_(settings), os_(os), guard_(guard) {}

  // The latest of what the file, the user's key and the guard recorded.
  std::optional<std::int64_t> LastOccurrence();
  // False when the instant could be stored nowhere.
  bool RememberOccurrence(std::int64_t instant);

  struct Use {
    std::optional<Date> day;
    int minutes = 0;
  };
  // The count of the latest day found; of two counts of one day, the larger.
  Use LoadUse();
  bool StoreUse(const Date& day, int minutes);
  // The accounts' counts and extra time of the latest day kept, with the
  // machine's count of that day.
  UsageDay LoadUsage();
  // Today's use in one replacement of the file: the machine's count, the
  // accounts' part, or both.
  bool StoreUsage(const UsageDay& day, bool machine, bool accounts);

  // The start day of the every-N-days count as start-up read it: when the
  // file could not keep it, the one kept under the user's key (stored there
  // the first time).
  std::string IntervalStart(const std::string& read_from_file);

 private:
  SettingsFile& settings_;
  OperatingSystem& os_;
  GuardManagement& guard_;
};

// The names under HKEY_CURRENT_USER\Software\dadado.
namespace user_values {
inline constexpr char kLastScheduled[] = "上次定时";
inline constexpr char kIntervalStart[] = "间隔起始时间";
using keys::kUsage;  // "yyyy/m/d,minutes", named as the file's section
}  // namespace user_values

}  // namespace dadado
