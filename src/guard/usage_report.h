// What `dadado.exe /usage` prints: the usage history as CSV, as the history
// file holds it, with today's minutes up to the last minute counted (the
// host keeps today's counts in its state once a minute while they change,
// and the larger of that and the file's row is given).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "scheduler/daily_use.h"
#include "settings/file_store.h"

namespace dadado {

struct UsageReport {
  int exit_code = 0;  // 0: printed; 1: no history is kept; 3: it cannot be read
  std::string out;    // the CSV: UTF-8 with a byte-order mark, as the file
  std::string err;    // for the person who ran it
};

// `history` is the history file at `path` as read; `kept` the days the hosts
// keep (the program's state, the guard's); `recording` is 记录使用时间, or
// nullopt when the settings cannot be read (under the guard, by a user).
UsageReport MakeUsageReport(const FileContent& history, const std::string& path, const std::vector<UsageDay>& kept,
                            std::optional<bool> recording);

}  // namespace dadado
