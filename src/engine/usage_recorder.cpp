#include "engine/usage_recorder.h"

namespace dadado {

std::string UsageFilePath(const std::string& settings_path) {
  const std::string ini = ".ini";
  const bool named = settings_path.size() > ini.size() &&
                     settings_path.compare(settings_path.size() - ini.size(), ini.size(), ini) == 0;
  return (named ? settings_path.substr(0, settings_path.size() - ini.size()) : settings_path) + "-usage.csv";
}

std::vector<UsageRow> RowsOf(const UsageDay& day) {
  std::vector<UsageRow> rows;
  if (!day.day) return rows;
  for (const AccountUse& a : day.accounts)
    if (a.minutes > 0 && !a.name.empty()) rows.push_back({*day.day, a.name, a.minutes});
  return rows;
}

void AddDay(UsageHistory& history, const UsageDay& day) {
  for (const UsageRow& r : RowsOf(day)) history.Record(r.day, r.account, r.minutes);
}

bool UsageRecorder::Record(const UsageDay& day, int keep_days) {
  for (const UsageRow& r : RowsOf(day)) waiting_.push_back(r);
  if (waiting_.empty() || !day.day) return true;
  const FileContent file = files_.Read(path_);
  std::string why;
  if (file.status == ReadStatus::kError) {
    why = "无法读取，新的记录暂时保留在内存中";
  } else {
    UsageHistory history = UsageHistory::Parse(file.status == ReadStatus::kOk ? file.bytes : std::string());
    for (const UsageRow& r : waiting_) history.Record(r.day, r.account, r.minutes);
    history.DropBefore(DateOfDayNumber(DayNumber(*day.day) - keep_days));
    if (files_.WriteAtomically(path_, history.Text())) {
      waiting_.clear();
      failure_.reset();
      failure_told_ = false;
      return true;
    }
    why = "无法写入，新的记录暂时保留在内存中";
  }
  // Told once for each stretch; the rows go in with the next write that works.
  if (!failure_) failure_ = why;
  // A day's rows waiting many times over come to one each.
  UsageHistory merged;
  for (const UsageRow& r : waiting_) merged.Record(r.day, r.account, r.minutes);
  waiting_ = merged.Rows();
  return false;
}

std::optional<std::string> UsageRecorder::TakeFailure() {
  if (!failure_ || failure_told_) return std::nullopt;
  failure_told_ = true;
  return failure_;
}

std::optional<UsageHistory> UsageRecorder::Read() {
  const FileContent file = files_.Read(path_);
  if (file.status == ReadStatus::kError) return std::nullopt;
  UsageHistory history = UsageHistory::Parse(file.status == ReadStatus::kOk ? file.bytes : std::string());
  for (const UsageRow& r : waiting_) history.Record(r.day, r.account, r.minutes);
  return history;
}

}  // namespace dadado
