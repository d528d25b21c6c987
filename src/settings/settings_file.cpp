#include "settings/settings_file.h"

#include <cstdint>

#include "settings/ini_text.h"
#include "settings/text.h"

namespace dadado {

std::string SettingsFilePath(const std::string& folder, const std::string& base_name, char separator) {
  return folder + separator + base_name + ".ini";
}

std::string FormatIniInt(std::int16_t value) {
  return value < 0 ? std::to_string(value) : " " + std::to_string(value);
}

std::int16_t ParseIniInt(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  std::int64_t v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = v * 10 + (text[i] - '0');
    if (v > 100000) v = 100000;  // far beyond 16 bits already; stop growing
  }
  if (negative) v = -v;
  if (v > INT16_MAX) return INT16_MAX;
  if (v < INT16_MIN) return INT16_MIN;
  return static_cast<std::int16_t>(v);
}

std::optional<std::string> SettingsFile::Content() {
  FileContent file = store_.Read(path_);
  if (file.status == ReadStatus::kError) {
    read_failed_ = true;
    if (!last_good_) ++blind_reads_;
    return last_good_;
  }
  read_failed_ = false;
  last_good_ = file.status == ReadStatus::kOk ? std::move(file.bytes) : std::string();
  return last_good_;
}

bool SettingsFile::Refresh() {
  Content();
  return !read_failed_;
}

std::int16_t SettingsFile::ReadIniInt(std::string_view section, std::string_view key, std::int16_t fallback) {
  auto content = Content();
  if (!content) return fallback;
  auto raw = IniText(std::move(*content)).Get(Utf8ToGbk(section), Utf8ToGbk(key));
  if (!raw) return fallback;
  std::string_view v = *raw;
  v = v.substr(0, v.find('\0'));
  if (v.empty()) return fallback;
  return ParseIniInt(v);
}

std::string SettingsFile::ReadIniString(std::string_view section, std::string_view key,
                                        const std::string& fallback) {
  auto content = Content();
  const bool fresh = !read_failed_;
  std::optional<std::string> raw;
  if (content) raw = IniText(std::move(*content)).Get(Utf8ToGbk(section), Utf8ToGbk(key));
  auto usable = [](const std::optional<std::string>& r) {
    std::string_view v = r ? std::string_view(*r) : std::string_view();
    v = v.substr(0, v.find('\0'));
    return v.substr(0, GbkSafePrefixLength(v, kReadBufferBytes - 1));
  };
  std::string_view v = usable(raw);
  if (!v.empty()) return GbkToUtf8(v);
  // The default is written only where the file really lacks the key: never
  // after a read that failed, and never over a value that has appeared
  // since (the write reads the file afresh).
  if (fresh && !batch_) {
    BeginBatch();
    const auto now = batch_->ini.Get(Utf8ToGbk(section), Utf8ToGbk(key));
    const std::string_view there = usable(now);
    if (!there.empty()) {
      std::string found = GbkToUtf8(there);
      batch_.reset();
      return found;
    }
    batch_->ini.Set(Utf8ToGbk(section), Utf8ToGbk(key), Utf8ToGbk(fallback));
    EndBatch();
  } else if (fresh) {
    batch_->ini.Set(Utf8ToGbk(section), Utf8ToGbk(key), Utf8ToGbk(fallback));
  }
  return fallback;
}

std::optional<std::string> SettingsFile::Peek(std::string_view section, std::string_view key) {
  std::optional<std::string> raw;
  if (batch_) {
    raw = batch_->ini.Get(Utf8ToGbk(section), Utf8ToGbk(key));
  } else if (auto content = Content()) {
    raw = IniText(std::move(*content)).Get(Utf8ToGbk(section), Utf8ToGbk(key));
  }
  if (!raw) return std::nullopt;
  return GbkToUtf8(std::string_view(*raw).substr(0, raw->find('\0')));
}

bool SettingsFile::WriteIniString(std::string_view section, std::string_view key, std::string_view value) {
  // A single write is a batch of one.
  const bool single = !batch_;
  if (single) BeginBatch();
  batch_->ini.Set(Utf8ToGbk(section), Utf8ToGbk(key), Utf8ToGbk(value));
  return single ? EndBatch() : batch_->readable;
}

std::vector<std::string> SettingsFile::SectionNames() {
  std::vector<std::string> names;
  if (batch_) {
    names = batch_->ini.SectionNames();
  } else if (auto content = Content()) {
    names = IniText(std::move(*content)).SectionNames();
  }
  for (std::string& n : names) n = GbkToUtf8(n);
  return names;
}

bool SettingsFile::RemoveSection(std::string_view section) {
  const bool single = !batch_;
  if (single) BeginBatch();
  batch_->ini.RemoveSection(Utf8ToGbk(section));
  return single ? EndBatch() : batch_->readable;
}

void SettingsFile::BeginBatch() {
  FileContent file = store_.Read(path_);
  const bool readable = file.status != ReadStatus::kError;
  if (readable) {
    read_failed_ = false;
    last_good_ = file.bytes;
  } else {
    read_failed_ = true;
  }
  batch_ = Batch{readable, IniText(std::move(file.bytes))};
}

bool SettingsFile::EndBatch() {
  if (!batch_) return true;
  Batch batch = std::move(*batch_);
  batch_.reset();
  // A file that exists but cannot be read is never overwritten: its content
  // would be lost.
  if (!batch.readable || !store_.WriteAtomically(path_, batch.ini.bytes())) return false;
  last_good_ = batch.ini.bytes();
  return true;
}

bool SettingsFile::WriteIniInt(std::string_view section, std::string_view key, std::int16_t value) {
  return WriteIniString(section, key, FormatIniInt(value));
}

}  // namespace dadado
