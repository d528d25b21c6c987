// The usage history file, <exe base name>-usage.csv beside the settings
// file, as the host that counts writes it: replaced whole, as the settings
// file is, with the day's rows merged into what the file holds. A file that
// exists but cannot be read is never overwritten: the rows wait in memory
// and go in once it can be read again.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "scheduler/daily_use.h"
#include "scheduler/usage_history.h"
#include "settings/file_store.h"

namespace dadado {

// "<folder>\dadado-usage.csv" for the settings file "<folder>\dadado.ini".
std::string UsageFilePath(const std::string& settings_path);

// The rows of a day: each account that used the machine a minute or more.
std::vector<UsageRow> RowsOf(const UsageDay& day);
// The history with a day's counts as the host keeps them, the larger of the
// file's and the host's for each account: today up to the last minute
// counted, also between two writes of the file.
void AddDay(UsageHistory& history, const UsageDay& day);

class UsageRecorder {
 public:
  UsageRecorder(FileStore& files, std::string path) : files_(files), path_(std::move(path)) {}
  const std::string& path() const { return path_; }

  // The day's rows go into the file with whatever waits; rows more than
  // `keep_days` days before the day are dropped. True when the file holds
  // them all.
  bool Record(const UsageDay& day, int keep_days);
  // Why writing failed, once for each stretch of failures.
  std::optional<std::string> TakeFailure();
  // The history as the file holds it, with the rows that wait; nullopt when
  // the file exists and cannot be read.
  std::optional<UsageHistory> Read();

 private:
  FileStore& files_;
  std::string path_;
  std::vector<UsageRow> waiting_;
  std::optional<std::string> failure_;
  bool failure_told_ = false;
};

}  // namespace dadado
