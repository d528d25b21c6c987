#include "protection/password.h"

#include <cstdint>
#include <vector>

#include "settings/keys.h"
#include "settings/settings_file.h"
#include "settings/text.h"

namespace dadado {

namespace {

// The code of a character in code page 936, read as a signed 16-bit value as
// the original arithmetic does: a double-byte character comes out negative.
// A character outside the code page counts as '?', which is what the
// conversion to the code page makes of it.
std::int64_t CodeOf(char32_t cp) {
  auto code = GbkCodeOf(cp);
  return static_cast<std::int16_t>(code ? *code : '?');
}

// A computed code back to a character. Printable ASCII and real double-byte
// characters are themselves. Any other value (control codes, lone lead
// bytes, unassigned pairs, values beyond 16 bits) names no character; it is
// folded onto printable ASCII so that the result is the same for the same
// input and survives a trip through the settings file unchanged.
char32_t CharOfCode(std::int64_t v) {
  if (v >= 33 && v <= 126) return static_cast<char32_t>(v);
  if (v > 0x80 && v <= 0xFFFF) {
    if (auto cp = CharOfGbkCode(static_cast<std::uint32_t>(v))) return *cp;
  }
  std::int64_t folded = v % 94;
  if (folded < 0) folded += 94;
  return static_cast<char32_t>(33 + folded);
}

}  // namespace

std::string EncodePassword(std::string_view text) {
  const std::vector<char32_t> input = DecodeUtf8(text);
  const std::vector<char32_t> pad = DecodeUtf8(kEncodingPad);
  std::vector<char32_t> work(input.begin(), input.begin() + std::min<std::size_t>(input.size(), kEncodedLength));
  for (std::size_t i = 0; work.size() < kEncodedLength; ++i) work.push_back(pad[i]);

  // Wider than the original 16 bits, so no input length can overflow.
  const std::int64_t length = static_cast<std::int64_t>(input.size());
  std::vector<char32_t> result;
  result.reserve(kEncodedLength);
  for (char32_t c : work) {
    std::int64_t v = CodeOf(c) - length;
    if (v > 126) v /= 10;
    if (v <= 32) v = (33 - v) + (length + 33);
    if (v == 96 || v == 46) v += length;
    result.push_back(CharOfCode(v));
  }
  for (char32_t& c : result)
    if (c == U'\'') c = U'@';
  for (char32_t& c : result)
    if (c == U'"') c = U'~';
  return EncodeUtf8(result);
}

std::string ReadStoredPassword(SettingsFile& settings) {
  return settings.ReadIniString(keys::kTimeControl, keys::kPassword, EncodePassword(kDefaultPassword));
}

std::optional<std::string> StoredPassword(SettingsFile& settings) {
  std::string stored = ReadStoredPassword(settings);
  if (!settings.ever_read()) return std::nullopt;
  return stored;
}

bool PasswordMatches(SettingsFile& settings, std::string_view typed) {
  const auto stored = StoredPassword(settings);
  return stored && EncodePassword(typed) == *stored;
}

}  // namespace dadado
