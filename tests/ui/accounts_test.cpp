// Rules for each account, today's use counted for each account and kept in
// the history file, and extra time for today, through the program.
#include <gtest/gtest.h>

#include "settings/keys.h"
#include "support/program_fixture.h"

namespace dadado {
namespace {

constexpr char kHistoryPath[] = "C:\\dadado\\dadado-usage.csv";
const Account kMing{"小明", "S-1-5-21-9-1001", false};
const Account kAdmin{"Admin", "S-1-5-21-9-500", true};

std::string AllDay() {
  std::string t;
  for (int h = 0; h < 24; ++h) t += (h ? "+" : "") + std::string(h < 10 ? "0" : "") + std::to_string(h) + ":00";
  return t;
}

struct AccountsTest : testing::ProgramTest {
  // Monday 2026-12-07, noon; [时间控制] allows every hour of it.
  void Start(const Account& who, const std::string& more) {
    os.account = who;
    clock.Set(2026, 12, 7, 12, 0, 0);
    GivenFile("[常规设置]\r\n启动后隐藏界面= 1\r\n[时间控制]\r\n启用= 1\r\n1week=" + AllDay() + "\r\n" + more);
    program.Start();
  }
  void Minutes(int n, bool time_control_timer = true) {
    for (int i = 0; i < n; ++i) {
      clock.Advance(60);
      if (time_control_timer) program.Timer2_Timer();
      else program.UsageTimer_Timer();
    }
  }
  std::string History() { return files.files.count(kHistoryPath) ? files.files[kHistoryPath] : "<none>"; }
};

TEST_F(AccountsTest, AnAccountsOwnSectionHoldsForItAloneAndTheLogNamesIt) {
  const std::string forbidding = "[时间控制:小明]\r\n启用= 1\r\n1week=24:00\r\n";
  Start(Account{"小红", "S-1-5-21-9-1002", false}, forbidding);
  EXPECT_FALSE(program.countdown().exists);
  testing::FakeScreen screen2;
  os.account = kMing;
  Program ming{settings, os, guard, screen2, clock};
  ming.Start();
  ASSERT_TRUE(ming.countdown().exists);
  EXPECT_EQ(ming.countdown().seconds_left, 30);
  for (int i = 0; i < 30; ++i) ming.Countdown_Timer1_Timer();
  EXPECT_EQ(os.exit_calls, (std::vector<unsigned>{13}));
  EXPECT_EQ(os.events.back().id, 1302);
  EXPECT_EQ(os.events.back().strings, (std::vector<std::string>{"12:00", "小明"}));
}

TEST_F(AccountsTest, AdministratorsExemptUnlessTheirOwnSectionSaysSo) {
  GivenFile("");
  for (const auto& [who, own, countdown] : {std::tuple{kAdmin, "", false}, std::tuple{kMing, "", true},
                                            std::tuple{kAdmin, "[时间控制:Admin]\r\n启用= 1\r\n", true}}) {
    testing::FakeScreen s;
    os.account = who;
    clock.Set(2026, 12, 7, 12, 0, 0);
    GivenFile(std::string("[常规设置]\r\n启动后隐藏界面= 1\r\n[时间控制]\r\n启用= 1\r\n管理员不受限= 1\r\n") + own);
    Program p{settings, os, guard, s, clock};
    p.Start();
    EXPECT_EQ(p.countdown().exists, countdown) << who.name << own;
  }
}

TEST_F(AccountsTest, TheCountGoesOnAfterACancelAndTheHistoryKeepsEachAccount) {
  const int monday_limit = 3;
  Start(kMing, "1limit= " + std::to_string(monday_limit) + "\r\n[高级设置]\r\n记录使用时间= 1\r\n");
  Minutes(monday_limit);
  ASSERT_TRUE(program.countdown().exists);
  program.Countdown_SetText("mossgate");
  program.Countdown_Enter();
  EXPECT_FALSE(program.timer_running(FormTimer::kTimeControl));
  EXPECT_TRUE(screen.usage_timer);  // the count does not stop with the countdown
  Minutes(4, false);
  EXPECT_EQ(program.daily_use().MinutesOf("小明", kMing.sid), 7);
  EXPECT_EQ(History(), "\xEF\xBB\xBF日期,账户,分钟\r\n2026-12-07,小明,1\r\n");  // the first row at once
  program.Form_QueryUnload(true);  // the session ends: what is counted goes in
  EXPECT_EQ(History(), "\xEF\xBB\xBF日期,账户,分钟\r\n2026-12-07,小明,7\r\n");
  EXPECT_EQ(Key("使用记录", "已用分钟"), "7");
  // A restart (of the program, or of the machine) keeps the account's count.
  testing::FakeScreen screen2;
  Program again{settings, os, guard, screen2, clock};
  again.Start();
  EXPECT_EQ(again.daily_use().MinutesOf("小明", kMing.sid), 7);
  const Program::UsageView view = again.UsageOf("小明");
  ASSERT_TRUE(view.available);
  EXPECT_EQ(view.bars.size(), 14u);
  EXPECT_EQ(view.bars.back().minutes, 7);
  EXPECT_EQ(view.bars.back().limit, monday_limit);
  EXPECT_EQ(view.summary.today, 7);
}

TEST_F(AccountsTest, AHistoryThatCannotBeReadIsNeverOverwrittenAndIsNamedOnce) {
  Start(kMing, "[高级设置]\r\n记录使用时间= 1\r\n");
  files.files[kHistoryPath] = "kept";
  files.unreadable.insert(kHistoryPath);
  Minutes(12);
  EXPECT_EQ(files.files[kHistoryPath], "kept");
  const auto told = std::count_if(os.events.begin(), os.events.end(), [](const auto& e) { return e.id == 1306; });
  EXPECT_EQ(told, 1);
  EXPECT_FALSE(program.UsageOf("").available);
  files.unreadable.clear();
  Minutes(10);
  EXPECT_EQ(files.files[kHistoryPath], "\xEF\xBB\xBF日期,账户,分钟\r\nkept\r\n2026-12-07,小明,21\r\n");  // at the ten minutes
}

TEST_F(AccountsTest, ExtraTimeEndsTheLimitsCountdownAndSurvivesARestart) {
  Start(kMing, "1limit= 1\r\n[使用记录]\r\n日期=2026/12/7\r\n已用分钟=1\r\n");
  ASSERT_TRUE(program.countdown().exists);
  program.ShowSettings(1, kTimeControlTab);
  program.CheckPassword_SetText("mossgate");
  program.CheckPassword_cmdOK_Click();
  EXPECT_FALSE(program.GrantExtraTime("小明", kMing.sid, 4));  // fewer than five minutes
  ASSERT_TRUE(program.GrantExtraTime("小明", kMing.sid, 30));
  EXPECT_FALSE(program.countdown().exists);
  EXPECT_EQ(os.events.back().id, 1304);
  EXPECT_EQ(os.events.back().strings, (std::vector<std::string>{"小明", "30"}));
  EXPECT_EQ(screen.tray_tip, "dadado 1.0.0\n今天还可以使用30分钟（今日加时30分钟）");
  testing::FakeScreen screen2;
  Program again{settings, os, guard, screen2, clock};
  again.Start();
  EXPECT_FALSE(again.countdown().exists);
}

TEST_F(AccountsTest, AClockSetBackBeforeMidnightGivesNoFreshDay) {
  // Tuesday's limit used up just after midnight; the clock (or the
  // firmware's, across a restart) set back to Monday evening.
  os.account = kMing;
  GivenFile("[常规设置]\r\n启动后隐藏界面= 1\r\n[时间控制]\r\n启用= 1\r\n1week=" + AllDay() + "\r\n2week=" + AllDay() +
            "\r\n1limit= 60\r\n2limit= 60\r\n[使用记录]\r\n日期=2026/12/8\r\n已用分钟=60\r\n");
  clock.Set(2026, 12, 7, 23, 30, 0);
  program.Start();
  EXPECT_TRUE(program.countdown().exists);
  EXPECT_EQ(program.daily_use().day(), (Date{2026, 12, 8}));
  program.Countdown_SetText("mossgate");
  program.Countdown_Postpone();
  for (int i = 0; i < 40; ++i) {  // across midnight, the count goes on with the 8th
    clock.Advance(60);
    program.Timer2_Timer();
  }
  EXPECT_EQ(program.daily_use().minutes(), 100);
  EXPECT_TRUE(program.countdown().exists);
  EXPECT_EQ(std::count_if(os.events.begin(), os.events.end(), [](const auto& e) { return e.id == 1305; }), 1);
}

TEST_F(AccountsTest, TheRulesTabEditsAnAccountsSectionAndUseDefaultRulesRemovesIt) {
  os.local_accounts = {kMing, Account{"小红", "S-1-5-21-9-1002", false}};
  Start(kAdmin, "[时间控制:Gone]\r\n启用= 0\r\n[时间控制: odd]\r\n启用= 1\r\n");
  program.ShowSettings(1, kTimeControlTab);
  program.CheckPassword_SetText("mossgate");
  program.CheckPassword_cmdOK_Click();
  auto labels = [&] {
    std::vector<std::string> l;
    for (const auto& c : program.RulesChoices()) l.push_back(c.label + (c.own_rules ? "*" : ""));
    return l;
  };
  EXPECT_EQ(labels(), (std::vector<std::string>{"所有账户", "小明", "小红", "Gone*"}));
  live().ShowAccountRules(kMing.name, kMing.sid);
  EXPECT_TRUE(live().UsesDefaultRules());
  EXPECT_FALSE(live().check(4).enabled);
  live().SetUseDefaultRules(false);
  live().SetText3(1, "08:00");
  live().SetDailyLimit(1, "45");
  EXPECT_EQ(live().default_rules().hours[1], AllDay());  // the rules for everyone stay
  program.Command3_Click();
  EXPECT_EQ(Key("时间控制:小明", "1week"), "08:00");
  EXPECT_EQ(Key("时间控制:小明", "1limit"), "45");
  EXPECT_EQ(Key("时间控制:小明", "SID"), kMing.sid);
  EXPECT_EQ(Key("时间控制", "1week"), AllDay());
  EXPECT_EQ(labels(), (std::vector<std::string>{"所有账户", "小明*", "小红", "Gone*"}));
  live().ShowAccountRules("Gone", "");
  live().SetUseDefaultRules(true);
  program.Command3_Click();
  EXPECT_EQ(FileText().find("Gone"), std::string::npos);
  EXPECT_NE(FileText().find("[时间控制: odd]"), std::string::npos);  // no account has that name: kept
  EXPECT_EQ(FileText().find("管理员不受限"), std::string::npos);  // a new key only when it is not its default
  live().SetAdministratorsExempt(1);
  program.Command3_Click();
  EXPECT_EQ(Key("时间控制", "管理员不受限"), "1");
}

}  // namespace
}  // namespace dadado
