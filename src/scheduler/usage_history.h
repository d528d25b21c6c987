// The usage history: how many minutes each account used the machine on each
// day, as the history file holds it (UTF-8 with a byte-order mark so that
// Excel opens it, the header 日期,账户,分钟, one row per account and day,
// oldest first), with what the 使用记录 tab and /usage make of it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/calendar.h"

namespace dadado {

inline constexpr char kUsageHeader[] = "日期,账户,分钟";
inline constexpr int kDefaultKeepDays = 400;
inline constexpr int kMinKeepDays = 7, kMaxKeepDays = 3650;

struct UsageRow {
  Date day;
  std::string account;
  int minutes = 0;
  bool operator==(const UsageRow&) const = default;
};

// Today's use, this week's (from Monday) and the average of the last 30
// days (of those since the history began).
struct UsageSummary {
  int today = 0;
  int week = 0;
  int average = 0;
  bool operator==(const UsageSummary&) const = default;
};

class UsageHistory {
 public:
  // The file's text. Lines that do not read as a row are kept as they stand
  // and written back where they were: nothing in the file is lost.
  static UsageHistory Parse(std::string_view text);
  // The file's text: the byte-order mark, the header, the lines.
  std::string Text() const;

  // The account's minutes of the day become at least `minutes` (a row is
  // added, oldest first, when there is none). A count never shrinks here:
  // whatever wrote the larger figure saw those minutes used.
  void Record(const Date& day, const std::string& account, int minutes);
  // Rows of days before `first` go; lines that do not read stay.
  void DropBefore(const Date& first);

  std::vector<UsageRow> Rows() const;
  // The accounts the rows name, each once, in the order they first appear.
  std::vector<std::string> Accounts() const;
  // Minutes of a day: the account's, or all accounts' for "".
  int MinutesOn(const Date& day, const std::string& account) const;
  UsageSummary Summarize(const Date& today, const std::string& account) const;
  // The history as a file of its own: all of it, or the account's rows.
  std::string Csv(const std::string& account) const;
  // The rows of the days from `from` on (all when none), as a file of its
  // own, whole days only and no more than about `most` bytes; `next` is the
  // first day left out, or none when nothing was.
  std::string CsvFrom(const std::optional<Date>& from, std::size_t most, std::optional<Date>& next) const;

 private:
  struct Line {
    std::optional<UsageRow> row;
    std::string text;  // a line that does not read, as it stands
  };
  std::vector<Line> lines_;
};

// "yyyy-mm-dd"
std::string IsoDate(const Date& day);
// A field of a CSV line, quoted when it needs to be.
std::string CsvField(const std::string& text);

// The chart's vertical scale: from 0 to `top` in steps of `step` minutes,
// with a label for each step ("0", "30分钟", "1小时", "1小时30分钟").
struct ChartScale {
  int top = 60;
  int step = 15;
  std::vector<std::string> labels;
  bool operator==(const ChartScale&) const = default;
};
// The scale for bars and limit lines up to `largest` minutes: at most four
// steps of 15 or 30 minutes or 1, 2, 3, 4 or 6 hours, an hour at least.
ChartScale ScaleFor(int largest);

}  // namespace dadado
