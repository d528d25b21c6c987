// Which rules hold for the account at the console.
#include "scheduler/accounts.h"

#include <gtest/gtest.h>

namespace dadado {
namespace {

TimeRules Hours(const std::string& monday) {
  TimeRules r;
  r.allowed_hours.fill("24:00");
  r.allowed_hours[1] = monday;
  return r;
}

TEST(RuleChooser, OneTableOfAccountsSectionsAndAdministrators) {
  const TimeRules everyone = Hours("08:00"), own = Hours("09:00"), renamed = Hours("10:00");
  RuleBook book{true, everyone, false,
                {{"小明", "", true, own}, {"Tom", "", false, own}, {"Old", "S-1-5-21-7-1003", true, renamed},
                 {"Boss", "", true, own}}};
  struct Row {
    const char* what;
    std::optional<Account> account;
    bool exempt;
    ChosenRules want;
  };
  const Row rows[] = {
      {"nobody at the console", std::nullopt, false, {true, everyone, -1}},
      {"no section of its own", Account{"小红", "S-1-5-21-7-1005", false}, false, {true, everyone, -1}},
      {"its own section", Account{"小明", "S-1-5-21-7-1001", false}, false, {true, own, 0}},
      {"its section says 启用=0", Account{"tom", "", false}, false, {false, own, 1}},
      {"names fold ASCII case", Account{"TOM", "", false}, false, {false, own, 1}},
      {"a section with a SID follows it", Account{"New", "S-1-5-21-7-1003", false}, false, {true, renamed, 2}},
      {"a SID section ignores the name", Account{"Old", "S-1-5-21-7-1009", false}, false, {true, everyone, -1}},
      {"an administrator, not exempt", Account{"Admin", "S-1-5-21-7-500", true}, false, {true, everyone, -1}},
      {"an administrator, exempt", Account{"Admin", "S-1-5-21-7-500", true}, true, {false, everyone, -1}},
      {"exempt, but its own section says 1", Account{"Boss", "", true}, true, {true, own, 3}},
      {"exempt only for administrators", Account{"小红", "", false}, true, {true, everyone, -1}},
  };
  for (const Row& r : rows) {
    book.administrators_exempt = r.exempt;
    EXPECT_EQ(ChooseRules(book, r.account), r.want) << r.what;
  }
  book.enabled = false;
  EXPECT_FALSE(ChooseRules(book, Account{"小红", "", false}).time_control);
  EXPECT_TRUE(book.AnyEnabled());
  EXPECT_TRUE(book.PerAccount());
  EXPECT_FALSE((RuleBook{true, everyone, false, {}}).PerAccount());
}

TEST(RuleChooser, NamesCompareWithoutRegardToAsciiCase) {
  EXPECT_TRUE(SameAccountName("Administrator", "ADMINISTRATOR"));
  EXPECT_TRUE(SameAccountName("小明", "小明"));
  EXPECT_FALSE(SameAccountName("小明", "小红"));
  EXPECT_FALSE(SameAccountName("tom", "tom2"));
  EXPECT_EQ(AccountKey("Tom", ""), "tom");
  EXPECT_EQ(AccountKey("Tom", "S-1-5-21-1"), "S-1-5-21-1");
}

}  // namespace
}  // namespace dadado
