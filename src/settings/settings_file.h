// The settings file: one INI file beside the executable, named after it.
// Every read and every write goes to the file. A file that exists but cannot
// be read (held open by another program, denied, damaged on the disk) is
// never taken for a missing one: reads then give what the last good read
// found, and nothing is written on the strength of a failed read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

  // The names of the file's sections (or the batch's), in order.
  std::vector<std::string> SectionNames();
  // Removes a section with its keys; true when the file no longer holds it.
  bool RemoveSection(std::string_view section);
  // The store the file is kept in (files beside it go there too).
  FileStore& store() { return store_; }

  // Whether the last read of the file failed (it exists but could not be
  // read); the values then come from the last good read, if there was one.
  bool read_failed() const { return read_failed_; }
  // Whether any read has found the file (or found it missing) since this
  // object was made: the values read are then the file's own.
  bool ever_read() const { return last_good_.has_value(); }
  // How many reads found the file unreadable with no good read to fall back
  // on: the values they gave were only the defaults.
  int blind_reads() const { return blind_reads_; }
  // Reads the file once more; true when it could be read (or is missing).
  bool Refresh();

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
  // The file as read now, or as the last good read found it when it cannot
  // be read; nullopt when it cannot be read and never could.
  std::optional<std::string> Content();
  std::optional<std::string> last_good_;
  bool read_failed_ = false;
  int blind_reads_ = 0;
  std::optional<Batch> batch_;
  FileStore& store_;
  std::string path_;
};

// Integers are stored with a sign position: " 3", " 0", "-1".
std::string FormatIniInt(std::int16_t value);
// Leading blanks skipped, an optional sign, then digits; 0 when there are none.
std::int16_t ParseIniInt(std::string_view text);

}  // namespace dadado
