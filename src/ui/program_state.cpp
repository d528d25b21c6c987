#include "ui/program_state.h"

#include <algorithm>

#include "base/date_time_text.h"
#include "settings/keys.h"

namespace dadado {

namespace {

std::optional<std::int64_t> InstantOf(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  const auto date = ParseDate(*text);
  const auto time = ParseTimeOfDay(*text);
  if (!date || !time) return std::nullopt;
  return LocalSeconds({*date, *time});
}

std::optional<std::int64_t> Later(std::optional<std::int64_t> a, std::optional<std::int64_t> b) {
  if (a && b) return std::max(*a, *b);
  return a ? a : b;
}

}  // namespace

std::optional<std::int64_t> ProgramState::LastOccurrence() {
  // What the guard performed while the program was away counts as done too.
  auto last = InstantOf(settings_.Peek(keys::kGeneral, keys::kLastScheduled));
  last = Later(last, InstantOf(os_.ReadUserValue(user_values::kLastScheduled)));
  return Later(last, InstantOf(guard_.PerformedLast()));
}

bool ProgramState::RememberOccurrence(std::int64_t instant) {
  const LocalDateTime t = FromLocalSeconds(instant);
  const std::string text = FormatDateTimeText(t.date, t.second_of_day);
  if (settings_.WriteIniString(keys::kGeneral, keys::kLastScheduled, text)) return true;
  return os_.WriteUserValue(user_values::kLastScheduled, text);
}

ProgramState::Use ProgramState::LoadUse() {
  Use file;
  if (auto day = settings_.Peek(keys::kUsage, keys::kUsageDate)) file.day = ParseDate(*day);
  if (auto used = settings_.Peek(keys::kUsage, keys::kUsedMinutes)) file.minutes = ParseIniInt(*used);
  Use user;
  if (auto text = os_.ReadUserValue(user_values::kUsage)) {
    const auto comma = text->find(',');
    if (comma != std::string::npos) {
      user.day = ParseDate(text->substr(0, comma));
      user.minutes = ParseIniInt(text->substr(comma + 1));
    }
  }
  if (!user.day) return file;
  if (!file.day) return user;
  const auto a = DayNumber(*file.day), b = DayNumber(*user.day);
  if (a != b) return a > b ? file : user;
  return file.minutes >= user.minutes ? file : user;
}

bool ProgramState::StoreUse(const Date& day, int minutes) {
  // Day and minutes in one replacement of the file.
  settings_.BeginBatch();
  settings_.WriteIniString(keys::kUsage, keys::kUsageDate, FormatShortDate(day));
  settings_.WriteIniString(keys::kUsage, keys::kUsedMinutes, std::to_string(minutes));
  if (settings_.EndBatch()) return true;
  return os_.WriteUserValue(user_values::kUsage, FormatShortDate(day) + "," + std::to_string(minutes));
}

UsageDay ProgramState::LoadUsage() {
  UsageDay file = ParseAccountDay(settings_.Peek(keys::kUsage, keys::kAccountsUsed).value_or(""));
  const UsageDay user = ParseAccountDay(os_.ReadUserValue(keys::kUserAccountsUsed).value_or(""));
  // The later of the two; the user's key holds what the file could not.
  if (user.day && (!file.day || DayNumber(*user.day) > DayNumber(*file.day))) file = user;
  const Use machine = LoadUse();
  return CombineKept(machine.day, machine.minutes, file);
}

bool ProgramState::StoreUsage(const UsageDay& day, bool machine, bool accounts) {
  if (!day.day || (!machine && !accounts)) return true;
  settings_.BeginBatch();
  if (machine) {
    settings_.WriteIniString(keys::kUsage, keys::kUsageDate, FormatShortDate(*day.day));
    settings_.WriteIniString(keys::kUsage, keys::kUsedMinutes, std::to_string(day.minutes));
  }
  if (accounts) settings_.WriteIniString(keys::kUsage, keys::kAccountsUsed, FormatAccountDay(day));
  if (settings_.EndBatch()) return true;
  bool ok = true;
  if (machine)
    ok = os_.WriteUserValue(user_values::kUsage, FormatShortDate(*day.day) + "," + std::to_string(day.minutes)) && ok;
  if (accounts) ok = os_.WriteUserValue(keys::kUserAccountsUsed, FormatAccountDay(day)) && ok;
  return ok;
}

std::string ProgramState::IntervalStart(const std::string& read_from_file) {
  // Start-up wrote the day it read into the file when the key was missing;
  // when that write did not take, the day would move on with every start.
  if (settings_.Peek(keys::kGeneral, keys::kIntervalStart) || settings_.read_failed()) return read_from_file;
  if (auto kept = os_.ReadUserValue(user_values::kIntervalStart); kept && ParseDate(*kept)) return *kept;
  os_.WriteUserValue(user_values::kIntervalStart, read_from_file);
  return read_from_file;
}

}  // namespace dadado
