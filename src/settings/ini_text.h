// An INI document held as the bytes of the file, edited line by line so that
// comments, unknown keys and the order of a hand-edited file survive a write.
// Names and values are raw code page 936 bytes; nothing here converts text.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dadado {

class IniText {
 public:
  IniText() = default;
  explicit IniText(std::string bytes) : bytes_(std::move(bytes)) {}

  // The value of the first `key` in the first section named `section`, with
  // blanks and tabs around it removed; nullopt when there is no such key.
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;

  // Replaces the value of the key in place, or appends the key to its
  // section, or appends the section to the document. Line breaks and NUL in
  // `value` become blanks so that a value can never start a line of its own.
  void Set(std::string_view section, std::string_view key, std::string_view value);

  // The names of the sections, in the order of the document, each once.
  std::vector<std::string> SectionNames() const;
  // Removes every section of that name with all its lines.
  void RemoveSection(std::string_view section);

  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

// Compares names without regard to the case of ASCII letters. Double-byte
// characters are compared byte for byte: their trail byte may look like an
// ASCII letter and must not be folded.
bool IniNamesEqual(std::string_view a, std::string_view b);

}  // namespace dadado
