#include "base/date_time_text.h"

#include <cstdio>
#include <vector>

namespace dadado {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads up to `max_digits` digits at `pos`; nullopt when there is none.
std::optional<int> ReadNumber(std::string_view s, std::size_t& pos, std::size_t max_digits) {
  std::size_t start = pos;
  int v = 0;
  while (pos < s.size() && IsDigit(s[pos]) && pos - start < max_digits) v = v * 10 + (s[pos++] - '0');
  if (pos == start) return std::nullopt;
  if (pos < s.size() && IsDigit(s[pos])) return std::nullopt;  // too many digits
  return v;
}

bool Contains(std::string_view s, std::string_view what) { return s.find(what) != std::string_view::npos; }

// h:mm or h:mm:ss starting at `pos`; on success `pos` is just past it.
std::optional<int> ReadClock(std::string_view s, std::size_t& pos) {
  auto h = ReadNumber(s, pos, 2);
  if (!h || pos >= s.size() || s[pos] != ':') return std::nullopt;
  ++pos;
  std::size_t minute_at = pos;
  auto m = ReadNumber(s, pos, 2);
  if (!m || pos - minute_at != 2) return std::nullopt;
  int sec = 0;
  if (pos < s.size() && s[pos] == ':') {
    ++pos;
    std::size_t second_at = pos;
    auto sv = ReadNumber(s, pos, 2);
    if (!sv || pos - second_at != 2) return std::nullopt;
    sec = *sv;
  }
  if (*h > 23 || *m > 59 || sec > 59) return std::nullopt;
  return *h * 3600 + *m * 60 + sec;
}

}  // namespace

std::string FormatDateTimeText(const Date& date, int second_of_day) {
  return FormatShortDate(date) + " " + FormatTimeOfDay(second_of_day);
}

std::string FormatShortDate(const Date& date) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d/%d/%d", date.year, date.month, date.day);
  return buf;
}

std::string FormatClock(int s, bool with_seconds) {
  char buf[16];
  if (with_seconds) std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", s / 3600, s / 60 % 60, s % 60);
  else std::snprintf(buf, sizeof buf, "%02d:%02d", s / 3600, s / 60 % 60);
  return buf;
}

std::string FormatTimeOfDay(int s) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%d:%02d:%02d", s / 3600, s / 60 % 60, s % 60);
  return buf;
}

std::optional<int> ParseTimeOfDay(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!IsDigit(text[i]) || (i > 0 && (IsDigit(text[i - 1]) || text[i - 1] == ':'))) continue;
    std::size_t pos = i;
    auto t = ReadClock(text, pos);
    if (!t) continue;
    int h = *t / 3600;
    bool pm = Contains(text, "PM") || Contains(text, "pm") || Contains(text, "下午") || Contains(text, "晚上");
    bool am = Contains(text, "AM") || Contains(text, "am") || Contains(text, "上午") || Contains(text, "凌晨");
    if (pm && h >= 1 && h < 12) return *t + 12 * 3600;
    if (am && h == 12) return *t - 12 * 3600;
    return t;
  }
  return std::nullopt;
}

std::optional<Date> ParseDate(std::string_view text) {
  // Collect the first three numbers and the separators between them.
  std::vector<int> numbers;
  std::vector<std::size_t> widths;
  std::size_t pos = 0;
  while (pos < text.size() && numbers.size() < 3) {
    if (!IsDigit(text[pos])) {
      ++pos;
      continue;
    }
    std::size_t start = pos;
    auto n = ReadNumber(text, pos, 4);
    if (!n) return std::nullopt;
    numbers.push_back(*n);
    widths.push_back(pos - start);
    if (numbers.size() < 3) {
      // Only date separators may follow the first two numbers.
      std::string_view rest = text.substr(pos);
      if (rest.starts_with("/") || rest.starts_with("-") || rest.starts_with(".")) pos += 1;
      else if (rest.starts_with("年") || rest.starts_with("月")) pos += 3;
      else return std::nullopt;
    }
  }
  if (numbers.size() != 3) return std::nullopt;
  Date d;
  if (widths[0] == 4) {
    d = {numbers[0], numbers[1], numbers[2]};
  } else if (widths[2] == 4) {
    d = {numbers[2], numbers[0], numbers[1]};  // m/d/yyyy
  } else {
    return std::nullopt;
  }
  if (!IsValidDate(d.year, d.month, d.day)) return std::nullopt;
  return d;
}

std::optional<int> ParseClockEntry(std::string_view entry) {
  while (!entry.empty() && (entry.front() == ' ' || entry.front() == '\t')) entry.remove_prefix(1);
  while (!entry.empty() && (entry.back() == ' ' || entry.back() == '\t')) entry.remove_suffix(1);
  std::size_t pos = 0;
  auto t = ReadClock(entry, pos);
  if (!t || pos != entry.size()) return std::nullopt;
  return t;
}

std::optional<Date> ParseIsoDate(std::string_view t) {
  if (t.size() != 10 || t[4] != '-' || t[7] != '-') return std::nullopt;
  int v[3] = {0, 0, 0};
  const std::size_t starts[] = {0, 5, 8}, lengths[] = {4, 2, 2};
  for (int k = 0; k < 3; ++k)
    for (std::size_t i = starts[k]; i < starts[k] + lengths[k]; ++i) {
      if (t[i] < '0' || t[i] > '9') return std::nullopt;
      v[k] = v[k] * 10 + (t[i] - '0');
    }
  if (!IsValidDate(v[0], v[1], v[2])) return std::nullopt;
  return Date{v[0], v[1], v[2]};
}

}  // namespace dadado
