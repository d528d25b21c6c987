// Any allowed-hours text is read by the guard and by the editor without
// failing, and the text the editor builds means to the guard exactly the
// hours that were marked.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "scheduler/time_control.h"
#include "settings/live_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (int t : {0, 1, 3599, 3600, 8 * 3600 + 30 * 60, 12 * 3600, 23 * 3600 + 3599, 86399}) dadado::IsTimeAllowed(text, t);

  const auto marks = dadado::HoursMarkedBy(text);
  const std::string built = dadado::BuildAllowedHours(marks);
  bool any = false;
  for (bool m : marks) any = any || m;
  for (int h = 0; h < dadado::kHourCount; ++h)
    for (int s : {0, 1799, 3599}) {
      const bool allowed = dadado::IsTimeAllowed(built, h * 3600 + s);
      if (allowed != (any && marks[h])) std::abort();
    }
  if (dadado::HoursMarkedBy(built) != marks) std::abort();
  return 0;
}
