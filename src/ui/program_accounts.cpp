// The program's part in rules for each account, the usage history and extra
// time: what the 时间控制 and 使用记录 tabs show and do.
#include <algorithm>

#include "ui/program.h"

namespace dadado {

namespace {

constexpr char kNotice[] = "提示";
constexpr char kAllAccounts[] = "所有账户";

}  // namespace

std::vector<Program::RulesChoice> Program::RulesChoices() {
  std::vector<RulesChoice> list{{kAllAccounts, "", "", false}};
  for (const Account& a : os_.LocalAccounts()) list.push_back({a.name, a.name, a.sid, live_.HasOwnRules(a.name, a.sid)});
  // Rules of accounts the machine does not list stay within reach, so that
  // they can be seen and removed.
  for (const AccountSection& own : live_.account_sections()) {
    const AccountRules rules{own.name, own.sid};
    const bool listed = std::any_of(list.begin() + 1, list.end(),
                                    [&](const RulesChoice& c) { return SectionMatches(rules, c.name, c.sid); });
    if (!listed) list.push_back({own.name, own.name, own.sid, true});
  }
  return list;
}

std::optional<UsageHistory> Program::History() {
  // The face's settings live in memory; the history is the service's.
  if (link_) return std::nullopt;
  auto history = recorder_.Read();
  if (history) AddDay(*history, engine_.use().Snapshot());
  return history;
}

std::vector<std::string> Program::UsageAccounts() {
  std::vector<std::string> names;
  if (auto history = History()) names = history->Accounts();
  if (const auto& a = engine_.account();
      a && std::none_of(names.begin(), names.end(), [&](const std::string& n) { return SameAccountName(n, a->name); }))
    names.push_back(a->name);
  return names;
}

Program::UsageView Program::UsageOf(const std::string& account) {
  UsageView view;
  auto history = History();
  if (!history) {
    view.problem = "无法读取使用记录：" + recorder_.path();
    return view;
  }
  view.available = true;
  const EngineSettings s = EngineSettingsOf(live_);
  // The day counted last is today, also while the clock stands set back.
  const std::int64_t today = std::max(DayNumber(clock_.Now().date), DayNumber(engine_.use().day()));
  // The account as the rules know it: the one at the console, an account's
  // section, or the machine's list.
  Account whom{account, "", false};
  if (const auto& a = engine_.account(); a && SameAccountName(a->name, account)) {
    whom = *a;
  } else {
    for (const AccountSection& own : live_.account_sections())
      if (SameAccountName(own.name, account)) whom.sid = own.sid;
  }
  const ChosenRules chosen = s.RulesFor(whom);
  const bool machine_limit = account.empty() && s.time_control && !s.Book().PerAccount();
  int largest = 0;
  for (std::int64_t d = today - kChartDays + 1; d <= today; ++d) {
    UsageBar bar;
    bar.day = DateOfDayNumber(d);
    bar.today = d == today;
    bar.minutes = history->MinutesOn(bar.day, account);
    const int weekday_limit = chosen.rules.daily_limits[WeekdayOf(d)];
    if (machine_limit) bar.limit = s.rules.daily_limits[WeekdayOf(d)];
    else if (!account.empty() && chosen.time_control && weekday_limit > 0)
      bar.limit = weekday_limit + (bar.today ? engine_.UseFor(s, whom).extra_minutes : 0);
    largest = std::max({largest, bar.minutes, bar.limit});
    view.bars.push_back(bar);
  }
  view.summary = history->Summarize(DateOfDayNumber(today), account);
  view.scale = ScaleFor(largest);
  return view;
}

std::optional<std::string> Program::UsageCsv(const std::string& account) {
  auto history = History();
  if (!history) return std::nullopt;
  return history->Csv(account);
}

bool Program::ExportUsage(const std::string& account, FileStore& files, const std::string& path) {
  const auto csv = UsageCsv(account);
  if (!csv) {
    screen_.ShowMessage("无法读取使用记录：" + recorder_.path(), kNotice, MessageIcon::kWarning, MessageButtons::kOk);
    return false;
  }
  if (!files.WriteAtomically(path, *csv)) {
    screen_.ShowMessage("无法保存文件：" + path, kNotice, MessageIcon::kWarning, MessageButtons::kOk);
    return false;
  }
  return true;
}

bool Program::GrantExtraTime(const std::string& name, const std::string& sid, int minutes) {
  if (!AcceptsInput(kTimeControlTab) || name.empty()) return false;
  if (minutes < kMinExtraMinutes || minutes > kMaxExtraMinutes) {
    screen_.ShowMessage("加时必须在" + std::to_string(kMinExtraMinutes) + "到" + std::to_string(kMaxExtraMinutes) + "分钟之间。",
                        kNotice, MessageIcon::kWarning, MessageButtons::kOk);
    return false;
  }
  engine_.GrantExtraTime(EngineSettingsOf(live_), name, sid, minutes);
  UpdateTrayTip();
  screen_.Refresh();
  return true;
}

}  // namespace dadado
