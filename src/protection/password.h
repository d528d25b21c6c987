// The settings password is only ever stored and compared in encoded form.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace dadado {

class SettingsFile;

inline constexpr char kDefaultPassword[] = "mossgate";
inline constexpr char kEncodingPad[] = "k!p^w(r)e=t{q/2+7?4;b-n.s";
inline constexpr int kEncodedLength = 25;

// Any text, of any length, to the 25-character stored form.
std::string EncodePassword(std::string_view text);

// The stored password, read with the encoded default as fallback: a file
// without one gets the encoded default written into it at this moment.
std::string ReadStoredPassword(SettingsFile& settings);

// The stored password as the file holds it; nullopt when the file exists but
// could not be read, now or ever since the program started: a read error
// must never let the default password in.
std::optional<std::string> StoredPassword(SettingsFile& settings);

// Whether `typed` is the stored password; never when it cannot be read.
bool PasswordMatches(SettingsFile& settings, std::string_view typed);

}  // namespace dadado
