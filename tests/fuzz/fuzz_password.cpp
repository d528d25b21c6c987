// Any bytes, any length: 25 characters out, the same every time, and they
// survive the trip through the settings file's code page.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "protection/password.h"
#include "settings/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::string encoded = dadado::EncodePassword(input);
  if (dadado::CountChars(encoded) != 25) std::abort();
  if (dadado::EncodePassword(input) != encoded) std::abort();
  const std::string stored = dadado::Utf8ToGbk(encoded);
  if (dadado::GbkToUtf8(stored) != encoded) std::abort();
  if (stored.find_first_of("\r\n\0\"'", 0, 5) != std::string::npos) std::abort();
  if (stored.front() == ' ' || stored.back() == ' ' || stored.front() == '\t' || stored.back() == '\t') std::abort();
  return 0;
}
