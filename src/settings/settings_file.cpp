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

std::int16_t SettingsFile::ReadIniInt(std::string_view section, std::string_view key, std::int16_t fallback) {
  FileContent file = store_.Read(path_);
  if (file.status != ReadStatus::kOk) return fallback;
  auto raw = IniText(std::move(file.bytes)).Get(Utf8ToGbk(section), Utf8ToGbk(key));
  if (!raw) return fallback;
  std::string_view v = *raw;
  v = v.substr(0, v.find('\0'));
  if (v.empty()) return fallback;
  return ParseIniInt(v);
}

std::string SettingsFile::ReadIniString(std::string_view section, std::string_view key,
                                        const std::string& fallback) {
  FileContent file = store_.Read(path_);
  std::optional<std::string> raw;
  if (file.status == ReadStatus::kOk) raw = IniText(std::move(file.bytes)).Get(Utf8ToGbk(section), Utf8ToGbk(key));
  std::string_view v = raw ? std::string_view(*raw) : std::string_view();
  v = v.substr(0, v.find('\0'));
  v = v.substr(0, GbkSafePrefixLength(v, kReadBufferBytes - 1));
  if (v.empty()) {
    WriteIniString(section, key, fallback);
    return fallback;
  }
  return GbkToUtf8(v);
}

std::optional<std::string> SettingsFile::Peek(std::string_view section, std::string_view key) {
  std::optional<std::string> raw;
  if (batch_) {
    raw = batch_->ini.Get(Utf8ToGbk(section), Utf8ToGbk(key));
  } else {
    FileContent file = store_.Read(path_);
    if (file.status == ReadStatus::kOk) raw = IniText(std::move(file.bytes)).Get(Utf8ToGbk(section), Utf8ToGbk(key));
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

void SettingsFile::BeginBatch() {
  FileContent file = store_.Read(path_);
  batch_ = Batch{file.status != ReadStatus::kError, IniText(std::move(file.bytes))};
}

bool SettingsFile::EndBatch() {
  if (!batch_) return true;
  Batch batch = std::move(*batch_);
  batch_.reset();
  // A file that exists but cannot be read is never overwritten: its content
  // would be lost.
  return batch.readable && store_.WriteAtomically(path_, batch.ini.bytes());
}

bool SettingsFile::WriteIniInt(std::string_view section, std::string_view key, std::int16_t value) {
  return WriteIniString(section, key, FormatIniInt(value));
}

}  // namespace dadado
