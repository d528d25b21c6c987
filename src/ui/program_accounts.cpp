// The program's part in rules for each account, the usage history and extra
// time: what the 时间控制 and 使用记录 tabs show and do.
#include <algorithm>

#include "base/date_time_text.h"
#include "ui/program.h"

namespace dadado {

namespace {

constexpr char kNotice[] = "提示";

}  // namespace

std::vector<Program::RulesChoice> Program::RulesChoices() {
  std::vector<RulesChoice> list{{kAllAccounts, "", "", false}};
  for (const Account& a : os_.LocalAccounts()) list.push_back({a.name, a.name, a.sid, live_.HasOwnRules(a.name, a.sid)});
  // Rules of accounts the machine does not list stay within reach, so that
  // they can be seen and removed.
  for (const AccountSection& own : live_.account_sections()) {
    const AccountRules rules{own.name, own.sid, false, {}};
    const bool listed = std::any_of(list.begin() + 1, list.end(),
                                    [&](const RulesChoice& c) { return SectionMatches(rules, c.name, c.sid); });
    if (!listed) list.push_back({own.name, own.name, own.sid, true});
  }
  return list;
}

std::optional<UsageHistory> Program::History(bool recent) {
  if (link_) {
    // The history is the service's: the face asks for it with the password.
    std::optional<Date> from;
    if (recent) from = DateOfDayNumber(DayNumber(clock_.Now().date) - 31);
    return FaceHistory(from);
  }
  auto history = recorder_.Read();
  if (!history) {
    history_problem_ = "无法读取使用记录：" + recorder_.path();
    return std::nullopt;
  }
  AddDay(*history, engine_.use().Snapshot());
  return history;
}

std::optional<UsageHistory> Program::FaceHistory(std::optional<Date> from) {
  if (!face_password_) {
    history_problem_ = "使用记录需要输入密码后才能查看。";
    return std::nullopt;
  }
  UsageHistory history;
  // In parts, each of whole days, the service saying where the next begins.
  for (int part = 0; part < kMostHistoryParts; ++part) {
    protocol::Message ask(protocol::kHistory);
    ask.Set("password", *face_password_);
    if (from) ask.Set("from", IsoDate(*from));
    const auto reply = AskService(ask);
    if (!reply || reply->Get("result") != protocol::kOk) {
      history_problem_ = reply && !reply->Get("text").empty() ? reply->Get("text") : "守护服务没有提供使用记录。";
      return std::nullopt;
    }
    for (const UsageRow& r : UsageHistory::Parse(reply->Get("csv")).Rows()) history.Record(r.day, r.account, r.minutes);
    face_today_ = ParseAccountDay(reply->Get("accounts"));
    const auto next = ParseDate(reply->Get("next"));
    if (!reply->Has("next") || !next || (from && DayNumber(*next) <= DayNumber(*from))) break;
    from = next;
  }
  return history;
}

int Program::ExtraMinutesToday(const Account& account) const {
  if (!link_) return engine_.UseFor(EngineSettingsOf(live_), account).extra_minutes;
  for (const AccountUse& a : face_today_.accounts)
    if (SameAccount(a.name, a.sid, account.name, account.sid)) return a.extra_minutes;
  return 0;
}

std::vector<std::string> Program::UsageAccounts() {
  std::vector<std::string> names;
  if (auto history = History(true)) names = history->Accounts();
  if (const auto& a = engine_.account();
      a && std::none_of(names.begin(), names.end(), [&](const std::string& n) { return SameAccountName(n, a->name); }))
    names.push_back(a->name);
  return names;
}

Program::UsageView Program::UsageOf(const std::string& account) {
  UsageView view;
  auto history = History(true);
  if (!history) {
    view.problem = history_problem_;
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
      bar.limit = weekday_limit + (bar.today ? ExtraMinutesToday(whom) : 0);
    largest = std::max({largest, bar.minutes, bar.limit});
    view.bars.push_back(bar);
  }
  view.summary = history->Summarize(DateOfDayNumber(today), account);
  view.scale = ScaleFor(largest);
  return view;
}

std::optional<std::string> Program::UsageCsv(const std::string& account) {
  auto history = History(false);
  if (!history) return std::nullopt;
  return history->Csv(account);
}

bool Program::ExportUsage(const std::string& account, FileStore& files, const std::string& path) {
  const auto csv = UsageCsv(account);
  if (!csv) {
    screen_.ShowMessage(history_problem_, kNotice, MessageIcon::kWarning, MessageButtons::kOk);
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
  if (link_) {
    // The service grants it, with the password the window was opened with.
    if (!face_password_) return false;
    protocol::Message ask(protocol::kExtraTime);
    ask.Set("password", *face_password_).Set("name", name).Set("sid", sid).Set("minutes", minutes);
    if (!FaceReplyOk(AskService(ask), "密码不正确")) return false;
    screen_.Refresh();
    return true;
  }
  engine_.GrantExtraTime(EngineSettingsOf(live_), name, sid, minutes);
  UpdateTrayTip();
  screen_.Refresh();
  return true;
}

}  // namespace dadado
