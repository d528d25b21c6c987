// Any plan line and any pasted date list are read or refused without
// failing. A plan that reads is valid, is written in a form that reads back
// to the same plan and the same line, and has due seconds that agree with
// its days. A date list keeps at most its limit, in order, and its canonical
// text reads back to the same list.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "scheduler/plan.h"
#include "scheduler/work_calendar.h"

namespace {

void CheckDateList(std::string_view text, dadado::DateList& list) {
  const dadado::DateListReport report = list.Read(text);
  const auto& ranges = list.ranges();
  if (ranges.size() > dadado::DateList::kMaxEntries) std::abort();
  if (report.bad_entries.size() > dadado::DateList::kMaxReportedBadEntries) std::abort();
  if (report.bad_entries.size() > report.bad_count) std::abort();
  for (const std::string& bad : report.bad_entries)
    if (bad.size() > dadado::DateList::kMaxBadEntryBytes + 3) std::abort();
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    if (ranges[i].last < ranges[i].first) std::abort();
    if (i > 0 && ranges[i].first <= ranges[i - 1].last + 1) std::abort();  // neither overlapping nor adjoining
  }
  dadado::DateList again;
  if (!again.Read(list.Text()).ok() || !(again == list)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  // The input as holidays, and its second half as extra working days.
  dadado::WorkCalendar calendar;
  dadado::DateList holidays, extra;
  CheckDateList(text, holidays);
  CheckDateList(text.substr(size / 2), extra);
  calendar.SetHolidays(text);
  calendar.SetExtraWorkdays(text.substr(size / 2));
  if (calendar.holidays() != holidays || calendar.extra_workdays() != extra) std::abort();

  // Each line of the input as a plan line.
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;

    const auto plan = dadado::ParsePlanLine(line);
    if (!plan) continue;
    if (!dadado::IsValidPlan(*plan)) std::abort();
    const std::string written = dadado::FormatPlanLine(*plan);
    const auto back = dadado::ParsePlanLine(written);
    if (!back || !(*back == *plan) || dadado::FormatPlanLine(*back) != written) std::abort();
    if (dadado::PlanActionText(plan->action).empty() || dadado::PlanRepeatText(*plan).empty()) std::abort();

    // A due second lies on a matching day at the plan's time, after the
    // second asked about; the latest due one before it is found again.
    const std::int64_t now = dadado::DayNumber({2026, 12, 8}) * 86400 + 12 * 3600;
    if (auto due = dadado::NextPlanDueAfter(*plan, calendar, now)) {
      const std::int64_t day = *due / 86400;
      if (*due <= now || *due % 86400 != plan->time_of_day || !dadado::PlanDayMatches(*plan, calendar, day)) std::abort();
      if (dadado::LatestPlanDueWithin(*plan, calendar, *due, 0) != due) std::abort();
      auto event = dadado::NextPlanEventAfter(*plan, calendar, now);
      if (!event || *event > *due || *event <= now) std::abort();
    }
  }
  return 0;
}
