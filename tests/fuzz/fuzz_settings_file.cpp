// Any file content parses; a write followed by a read gives back what was
// written; a write changes no other key.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "settings/ini_text.h"
#include "settings/text.h"

namespace {

std::string Trimmed(std::string v) {
  for (char& c : v)
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  std::size_t b = v.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  std::size_t e = v.find_last_not_of(" \t");
  return v.substr(b, e - b + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::vector<std::string> sections = {dadado::Utf8ToGbk("常规设置"), dadado::Utf8ToGbk("时间控制"), "s", "S2"};
  const std::vector<std::string> keys = {dadado::Utf8ToGbk("频率"), dadado::Utf8ToGbk("密码"), "0week", "k", "K"};
  const std::string& section = sections[data[0] % sections.size()];
  const std::string& key = keys[data[1] % keys.size()];
  const std::size_t split = data[2] % (size - 2);
  std::string file(reinterpret_cast<const char*>(data + 3), split);
  std::string value(reinterpret_cast<const char*>(data + 3 + split), size - 3 - split);

  dadado::IniText ini(file);
  std::vector<std::optional<std::string>> before;
  for (const auto& s : sections)
    for (const auto& k : keys) before.push_back(ini.Get(s, k));

  ini.Set(section, key, value);
  auto read = ini.Get(section, key);
  if (!read || *read != Trimmed(value)) std::abort();

  std::size_t i = 0;
  for (const auto& s : sections)
    for (const auto& k : keys) {
      const bool same = dadado::IniNamesEqual(s, section) && dadado::IniNamesEqual(k, key);
      if (!same && ini.Get(s, k) != before[i]) std::abort();
      ++i;
    }
  // The text conversions never fail on the same bytes.
  dadado::GbkToUtf8(ini.bytes());
  return 0;
}
