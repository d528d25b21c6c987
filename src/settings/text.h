// Text helpers: UTF-8 inside the program, code page 936 (GBK) in the settings
// file, whatever code page the system itself uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dadado {

// Decodes UTF-8 into code points; a malformed sequence gives U+FFFD per byte.
std::vector<char32_t> DecodeUtf8(std::string_view utf8);
void AppendUtf8(std::string& out, char32_t cp);
std::string EncodeUtf8(const std::vector<char32_t>& cps);

// The code of one character in code page 936: its byte value for a single-byte
// character, lead * 256 + trail for a double-byte one; nullopt when the
// character has no place in the code page.
std::optional<std::uint16_t> GbkCodeOf(char32_t cp);
// The character a code names: 0x00-0x7F, or a double-byte code of a real
// character. nullopt for lone lead bytes, 0x80-0xFF and unassigned pairs.
std::optional<char32_t> CharOfGbkCode(std::uint32_t code);

// UTF-8 to GBK bytes; a character outside the code page becomes '?', as the
// Windows conversion does.
std::string Utf8ToGbk(std::string_view utf8);
// GBK bytes to UTF-8; a byte that starts no valid character becomes U+FFFD.
std::string GbkToUtf8(std::string_view gbk);

// The longest prefix of `gbk` of at most `max_bytes` bytes that does not end
// in the middle of a double-byte character.
std::size_t GbkSafePrefixLength(std::string_view gbk, std::size_t max_bytes);

// Number of characters (code points) in UTF-8 text.
std::size_t CountChars(std::string_view utf8);

}  // namespace dadado
