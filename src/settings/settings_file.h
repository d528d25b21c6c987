// The settings file: one INI file beside the executable, named after it.
// Every read and every write goes to the file; nothing is cached.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "settings/file_store.h"
#include "settings/ini_text.h"

namespace dadado {

// folder & "\" & base name & ".ini"; the separator is the platform's.
std::string SettingsFilePath(const std::string& folder, const std::string& base_name, char separator);

class SettingsFile {
 public:
  static constexpr std::size_t kReadBufferBytes = 144;  // at most 143 bytes of value

  SettingsFile(FileStore& store, std::string path) : store_(store), path_(std::move(path)) {}

  const std::string& path() const { return path_; }

  // The integer under the key, or `fallback` when the key is missing or
  // empty. Text that is not a number reads as 0; numbers beyond 16 bits are
  // held at the nearest 16-bit value. Never writes.
  std::int16_t ReadIniInt(std::string_view section, std::string_view key, std::int16_t fallback);

  // The text under the key, at most 143 bytes in the file's code page, cut
  // at the first NUL and never in the middle of a character. When the key is
  // missing or empty, `fallback` is written under it and returned.
  std::string ReadIniString(std::string_view section, std::string_view key, const std::string& fallback);

  // The text under the key as the file (or the batch being written) holds
  // it, or nullopt when it is missing; never writes.
  std::optional<std::string> Peek(std::string_view section, std::string_view key);

  // Both writes return whether the file now holds the value.
  bool WriteIniString(std::string_view section, std::string_view key, std::string_view value);
  bool WriteIniInt(std::string_view section, std::string_view key, std::int16_t value);

  // Between these two, writes are collected and then stored in one
  // replacement of the file: a power cut in the middle of saving leaves all
  // the old settings or all the new ones. EndBatch says whether the file
  // now holds them.
  void BeginBatch();
  bool EndBatch();

 private:
  struct Batch {
    bool readable = true;
    IniText ini;
  };
  std::optional<Batch> batch_;
  FileStore& store_;
  std::string path_;
};

// Integers are stored with a sign position: " 3", " 0", "-1".
std::string FormatIniInt(std::int16_t value);
// Leading blanks skipped, an optional sign, then digits; 0 when there are none.
std::int16_t ParseIniInt(std::string_view text);

}  // namespace dadado
