#include "scheduler/time_control.h"

#include "base/date_time_text.h"

namespace dadado {

bool IsTimeAllowed(const std::string& allowed_hours, int now) {
  if (allowed_hours.find(kAllHoursForbidden) != std::string::npos) return false;
  if (allowed_hours.empty()) return false;
  std::size_t start = 0;
  for (;;) {
    std::size_t plus = allowed_hours.find('+', start);
    std::string_view entry(allowed_hours.data() + start,
                           (plus == std::string::npos ? allowed_hours.size() : plus) - start);
    if (auto from = ParseClockEntry(entry)) {
      int until = (*from / 3600 + 1) * 3600;  // the next whole hour; 24:00 is midnight
      if (*from <= now && now < until) return true;
    }
    if (plus == std::string::npos) return false;
    start = plus + 1;
  }
}

}  // namespace dadado
