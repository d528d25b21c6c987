#include "settings/ini_text.h"

#include <vector>

namespace dadado {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// One physical line of the document: [begin, end) is its text, [end, next)
// its line break (empty on a last line without one).
struct Line {
  std::size_t begin, end, next;
};

std::vector<Line> SplitLines(const std::string& s) {
  std::vector<Line> lines;
  std::size_t pos = 0;
  // A UTF-8 byte-order mark left by an editor is not part of the first line.
  if (s.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
  while (pos < s.size()) {
    std::size_t end = pos;
    while (end < s.size() && s[end] != '\n' && s[end] != '\r') ++end;
    std::size_t next = end;
    if (next < s.size() && s[next] == '\r') ++next;
    if (next < s.size() && s[next] == '\n') ++next;
    lines.push_back({pos, end, next});
    pos = next;
  }
  return lines;
}

enum class LineKind { kOther, kSection, kKey };

struct ParsedLine {
  LineKind kind = LineKind::kOther;
  std::string_view name;   // section name or key
  std::size_t value_begin = 0;  // offset of the text after '=' within the line
};

ParsedLine ParseLine(std::string_view line) {
  ParsedLine p;
  std::string_view t = Trim(line);
  if (t.empty() || t.front() == ';') return p;
  if (t.front() == '[') {
    std::size_t close = t.find(']');
    p.kind = LineKind::kSection;
    p.name = Trim(t.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    return p;
  }
  std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) return p;
  p.kind = LineKind::kKey;
  p.name = Trim(line.substr(0, eq));
  p.value_begin = eq + 1;
  return p;
}

struct Location {
  std::optional<std::size_t> section_line;  // index of the "[section]" line
  std::optional<std::size_t> key_line;      // index of the key's line
  std::size_t last_content_line = 0;        // last key or section line of the section
};

Location Find(const std::string& s, const std::vector<Line>& lines, std::string_view section,
              std::string_view key) {
  Location loc;
  bool inside = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string_view text(s.data() + lines[i].begin, lines[i].end - lines[i].begin);
    ParsedLine p = ParseLine(text);
    if (p.kind == LineKind::kSection) {
      if (inside) break;  // the first matching section ends here
      if (IniNamesEqual(p.name, section)) {
        inside = true;
        loc.section_line = i;
        loc.last_content_line = i;
      }
    } else if (inside && p.kind == LineKind::kKey) {
      loc.last_content_line = i;
      if (IniNamesEqual(p.name, key)) {
        loc.key_line = i;
        break;
      }
    }
  }
  return loc;
}

std::string Sanitize(std::string_view value) {
  std::string v(value);
  for (char& c : v)
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  return v;
}

}  // namespace

bool IniNamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(a[i]);
    if (c >= 0x81 && c <= 0xFE && i + 1 < a.size()) {
      if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
      ++i;
      continue;
    }
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

std::optional<std::string> IniText::Get(std::string_view section, std::string_view key) const {
  auto lines = SplitLines(bytes_);
  Location loc = Find(bytes_, lines, section, key);
  if (!loc.key_line) return std::nullopt;
  const Line& l = lines[*loc.key_line];
  std::string_view text(bytes_.data() + l.begin, l.end - l.begin);
  return std::string(Trim(text.substr(ParseLine(text).value_begin)));
}

void IniText::Set(std::string_view section, std::string_view key, std::string_view value) {
  const std::string clean = Sanitize(value);
  auto lines = SplitLines(bytes_);
  // New lines follow the document's own line breaks; a new file gets CRLF.
  std::string newline = "\r\n";
  for (const Line& l : lines)
    if (l.next > l.end) {
      newline = bytes_.substr(l.end, l.next - l.end);
      break;
    }

  Location loc = Find(bytes_, lines, section, key);
  if (loc.key_line) {
    const Line& l = lines[*loc.key_line];
    std::string_view text(bytes_.data() + l.begin, l.end - l.begin);
    std::size_t value_at = l.begin + ParseLine(text).value_begin;
    bytes_.replace(value_at, l.end - value_at, clean);
    return;
  }
  std::string key_line = std::string(key) + "=" + clean + newline;
  if (loc.section_line) {
    const Line& after = lines[loc.last_content_line];
    if (after.next == after.end) {  // last line of the file, without a break
      bytes_.insert(after.end, newline + std::string(key) + "=" + clean);
    } else {
      bytes_.insert(after.next, key_line);
    }
    return;
  }
  if (!bytes_.empty() && bytes_.back() != '\n' && bytes_.back() != '\r') bytes_ += newline;
  bytes_ += "[" + std::string(section) + "]" + newline + key_line;
}

std::vector<std::string> IniText::SectionNames() const {
  std::vector<std::string> names;
  for (const Line& l : SplitLines(bytes_)) {
    const ParsedLine p = ParseLine(std::string_view(bytes_.data() + l.begin, l.end - l.begin));
    if (p.kind != LineKind::kSection) continue;
    bool seen = false;
    for (const std::string& n : names) seen = seen || IniNamesEqual(n, p.name);
    if (!seen) names.emplace_back(p.name);
  }
  return names;
}

void IniText::RemoveSection(std::string_view section) {
  const auto lines = SplitLines(bytes_);
  std::string kept = bytes_.compare(0, 3, "\xEF\xBB\xBF") == 0 ? bytes_.substr(0, 3) : std::string();
  bool inside = false;
  for (const Line& l : lines) {
    const ParsedLine p = ParseLine(std::string_view(bytes_.data() + l.begin, l.end - l.begin));
    if (p.kind == LineKind::kSection) inside = IniNamesEqual(p.name, section);
    if (!inside) kept.append(bytes_, l.begin, l.next - l.begin);
  }
  bytes_ = std::move(kept);
}

}  // namespace dadado
