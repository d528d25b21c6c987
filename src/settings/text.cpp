#include "settings/text.h"

#include <array>
#include <memory>

namespace dadado {

namespace gbk_detail {
extern const std::uint16_t kDoubleByteToUnicode[24066];
}

namespace {

constexpr unsigned kLeadFirst = 0x81, kLeadLast = 0xFE;
constexpr unsigned kTrailFirst = 0x40, kTrailLast = 0xFE;
constexpr unsigned kTrailSpan = kTrailLast - kTrailFirst + 1;  // 191

bool IsLeadByte(unsigned char b) { return b >= kLeadFirst && b <= kLeadLast; }

char32_t DoubleByteChar(unsigned lead, unsigned trail) {
  if (lead < kLeadFirst || lead > kLeadLast || trail < kTrailFirst || trail > kTrailLast) return 0;
  return gbk_detail::kDoubleByteToUnicode[(lead - kLeadFirst) * kTrailSpan + (trail - kTrailFirst)];
}

// Reverse table, built once on first use: BMP code point -> double-byte code.
const std::array<std::uint16_t, 0x10000>& UnicodeToDoubleByte() {
  static const auto table = [] {
    auto t = std::make_unique<std::array<std::uint16_t, 0x10000>>();
    t->fill(0);
    for (unsigned lead = kLeadFirst; lead <= kLeadLast; ++lead)
      for (unsigned trail = kTrailFirst; trail <= kTrailLast; ++trail)
        if (char32_t cp = DoubleByteChar(lead, trail)) (*t)[cp] = static_cast<std::uint16_t>(lead << 8 | trail);
    return t;
  }();
  return *table;
}

}  // namespace

std::vector<char32_t> DecodeUtf8(std::string_view s) {
  static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  std::vector<char32_t> out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    }
    int extra = (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : 0;
    bool ok = extra > 0 && i + extra < s.size();
    char32_t cp = b & (0x3F >> extra);
    for (int k = 1; ok && k <= extra; ++k) {
      unsigned char c = static_cast<unsigned char>(s[i + k]);
      ok = (c & 0xC0) == 0x80;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (!ok || cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    out.push_back(cp);
    i += extra + 1;
  }
  return out;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string EncodeUtf8(const std::vector<char32_t>& cps) {
  std::string out;
  for (char32_t cp : cps) AppendUtf8(out, cp);
  return out;
}

std::optional<std::uint16_t> GbkCodeOf(char32_t cp) {
  if (cp < 0x80) return static_cast<std::uint16_t>(cp);
  if (cp > 0xFFFF) return std::nullopt;
  std::uint16_t code = UnicodeToDoubleByte()[cp];
  if (code == 0) return std::nullopt;
  return code;
}

std::optional<char32_t> CharOfGbkCode(std::uint32_t code) {
  if (code < 0x80) return static_cast<char32_t>(code);
  if (code > 0xFFFF) return std::nullopt;
  char32_t cp = DoubleByteChar(code >> 8, code & 0xFF);
  if (cp == 0) return std::nullopt;
  return cp;
}

std::string Utf8ToGbk(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (char32_t cp : DecodeUtf8(utf8)) {
    auto code = GbkCodeOf(cp);
    if (!code) {
      out += '?';
    } else if (*code < 0x80) {
      out += static_cast<char>(*code);
    } else {
      out += static_cast<char>(*code >> 8);
      out += static_cast<char>(*code & 0xFF);
    }
  }
  return out;
}

std::string GbkToUtf8(std::string_view gbk) {
  std::string out;
  out.reserve(gbk.size() + gbk.size() / 2);
  for (std::size_t i = 0; i < gbk.size(); ++i) {
    unsigned char b = static_cast<unsigned char>(gbk[i]);
    if (b < 0x80) {
      out += static_cast<char>(b);
    } else if (IsLeadByte(b) && i + 1 < gbk.size()) {
      if (char32_t cp = DoubleByteChar(b, static_cast<unsigned char>(gbk[i + 1]))) {
        AppendUtf8(out, cp);
        ++i;
      } else {
        AppendUtf8(out, 0xFFFD);
      }
    } else {
      AppendUtf8(out, 0xFFFD);
    }
  }
  return out;
}

std::size_t GbkSafePrefixLength(std::string_view gbk, std::size_t max_bytes) {
  std::size_t i = 0;
  while (i < gbk.size()) {
    unsigned char b = static_cast<unsigned char>(gbk[i]);
    std::size_t width = (IsLeadByte(b) && i + 1 < gbk.size()) ? 2 : 1;
    if (i + width > max_bytes) break;
    i += width;
  }
  return i;
}

std::size_t CountChars(std::string_view utf8) { return DecodeUtf8(utf8).size(); }

}  // namespace dadado
