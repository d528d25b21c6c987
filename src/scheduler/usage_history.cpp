#include "scheduler/usage_history.h"

#include <algorithm>
#include <cstdio>

#include "base/date_time_text.h"
#include "scheduler/accounts.h"
#include "scheduler/time_control_guard.h"

namespace dadado {

namespace {

constexpr char kBom[] = "\xEF\xBB\xBF";

// The fields of one CSV line; nullopt when its quotes do not close.
std::optional<std::vector<std::string>> CsvFields(std::string_view line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c != '"') fields.back() += c;
      else if (i + 1 < line.size() && line[i + 1] == '"') fields.back() += line[++i];
      else quoted = false;
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  if (quoted) return std::nullopt;
  return fields;
}

std::optional<UsageRow> ReadRow(std::string_view line) {
  const auto f = CsvFields(line);
  if (!f || f->size() != 3 || (*f)[1].empty()) return std::nullopt;
  const auto day = ParseIsoDate((*f)[0]);
  const std::string& m = (*f)[2];
  if (!day || m.empty() || m.size() > 4 || !std::all_of(m.begin(), m.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  const int minutes = std::stoi(m);
  if (minutes > 24 * 60) return std::nullopt;
  return UsageRow{*day, (*f)[1], minutes};
}

std::string RowText(const UsageRow& r) { return IsoDate(r.day) + "," + CsvField(r.account) + "," + std::to_string(r.minutes); }

bool Wanted(const UsageRow& r, const std::string& account) { return account.empty() || SameAccountName(r.account, account); }

}  // namespace

std::string IsoDate(const Date& day) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", day.year, day.month, day.day);
  return text;
}

std::string CsvField(const std::string& text) {
  const bool needs = text.find_first_of(",\"\r\n") != std::string::npos || (!text.empty() && (text.front() == ' ' || text.back() == ' '));
  if (!needs) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

UsageHistory UsageHistory::Parse(std::string_view text) {
  UsageHistory h;
  if (text.substr(0, 3) == kBom) text.remove_prefix(3);
  bool first = true;
  while (!text.empty()) {
    // A line break inside quotes belongs to the field, as the rows are
    // written (an account's name is the only free text in them); a quote
    // that never closes takes no more than its own line.
    std::size_t end = 0;
    bool quoted = false;
    for (; end < text.size() && (quoted || (text[end] != '\r' && text[end] != '\n')); ++end) {
      if (text[end] != '"') continue;
      if (!quoted) quoted = end == 0 || text[end - 1] == ',';  // only a field's first character opens quotes
      else if (end + 1 < text.size() && text[end + 1] == '"') ++end;
      else quoted = false;
    }
    if (quoted) end = text.find_first_of("\r\n");
    if (end >= text.size()) end = std::string_view::npos;
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end);
    if (text.substr(0, 2) == "\r\n") text.remove_prefix(2);
    else if (!text.empty()) text.remove_prefix(1);
    if (first && line == kUsageHeader) {
      first = false;
      continue;
    }
    first = false;
    if (line.empty()) continue;
    Line l;
    l.row = ReadRow(line);
    if (!l.row) l.text = std::string(line);
    h.lines_.push_back(std::move(l));
  }
  return h;
}

std::string UsageHistory::Text() const {
  std::string text = std::string(kBom) + kUsageHeader + "\r\n";
  for (const Line& l : lines_) text += (l.row ? RowText(*l.row) : l.text) + "\r\n";
  return text;
}

void UsageHistory::Record(const Date& day, const std::string& account, int minutes) {
  if (account.empty()) return;
  minutes = std::clamp(minutes, 0, 24 * 60);
  const std::int64_t n = DayNumber(day);
  // Before the first row of a later day, else at the end.
  std::optional<std::size_t> insert_at;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (!lines_[i].row) continue;
    UsageRow& r = *lines_[i].row;
    if (r.day == day && SameAccountName(r.account, account)) {
      r.minutes = std::max(r.minutes, minutes);
      return;
    }
    if (!insert_at && DayNumber(r.day) > n) insert_at = i;
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insert_at.value_or(lines_.size())),
                Line{UsageRow{day, account, minutes}, ""});
}

void UsageHistory::DropBefore(const Date& first) {
  const std::int64_t n = DayNumber(first);
  std::erase_if(lines_, [&](const Line& l) { return l.row && DayNumber(l.row->day) < n; });
}

std::vector<UsageRow> UsageHistory::Rows() const {
  std::vector<UsageRow> rows;
  for (const Line& l : lines_)
    if (l.row) rows.push_back(*l.row);
  return rows;
}

std::vector<std::string> UsageHistory::Accounts() const {
  std::vector<std::string> names;
  for (const Line& l : lines_)
    if (l.row && std::none_of(names.begin(), names.end(), [&](const std::string& n) { return SameAccountName(n, l.row->account); }))
      names.push_back(l.row->account);
  return names;
}

int UsageHistory::MinutesOn(const Date& day, const std::string& account) const {
  int minutes = 0;
  for (const Line& l : lines_)
    if (l.row && l.row->day == day && Wanted(*l.row, account)) minutes += l.row->minutes;
  return minutes;
}

UsageSummary UsageHistory::Summarize(const Date& today, const std::string& account) const {
  const std::int64_t t = DayNumber(today);
  const std::int64_t monday = t - (WeekdayOf(t) + 6) % 7;
  std::optional<std::int64_t> first;
  UsageSummary s;
  int last30 = 0;
  for (const Line& l : lines_) {
    if (!l.row || !Wanted(*l.row, account)) continue;
    const std::int64_t d = DayNumber(l.row->day);
    if (d > t) continue;
    first = std::min(first.value_or(d), d);
    if (d == t) s.today += l.row->minutes;
    if (d >= monday) s.week += l.row->minutes;
    if (d > t - 30) last30 += l.row->minutes;
  }
  if (first) s.average = last30 / static_cast<int>(std::min<std::int64_t>(30, t - *first + 1));
  return s;
}

std::string UsageHistory::Csv(const std::string& account) const {
  if (account.empty()) return Text();
  std::string text = std::string(kBom) + kUsageHeader + "\r\n";
  for (const Line& l : lines_)
    if (l.row && Wanted(*l.row, account)) text += RowText(*l.row) + "\r\n";
  return text;
}

std::string UsageHistory::CsvFrom(const std::optional<Date>& from, std::size_t most, std::optional<Date>& next) const {
  std::vector<UsageRow> rows = Rows();
  std::stable_sort(rows.begin(), rows.end(),
                   [](const UsageRow& a, const UsageRow& b) { return DayNumber(a.day) < DayNumber(b.day); });
  std::string text = std::string(kBom) + kUsageHeader + "\r\n";
  const std::size_t head = text.size();
  next.reset();
  for (std::size_t i = 0; i < rows.size();) {
    if (from && DayNumber(rows[i].day) < DayNumber(*from)) {
      ++i;
      continue;
    }
    // A day goes whole or not at all.
    std::string day;
    std::size_t j = i;
    for (; j < rows.size() && rows[j].day == rows[i].day; ++j) day += RowText(rows[j]) + "\r\n";
    if (text.size() > head && text.size() + day.size() > most) {
      next = rows[i].day;
      break;
    }
    text += day;
    i = j;
  }
  return text;
}

ChartScale ScaleFor(int largest) {
  largest = std::clamp(largest, 0, 24 * 60);
  ChartScale s;
  for (int step : {15, 30, 60, 120, 180, 240, 360}) {
    s.step = step;
    if (step * 4 >= largest) break;
  }
  s.top = std::max(60, (largest + s.step - 1) / s.step * s.step);
  for (int m = 0; m <= s.top; m += s.step) s.labels.push_back(m == 0 ? "0" : DurationText(m));
  return s;
}

}  // namespace dadado
