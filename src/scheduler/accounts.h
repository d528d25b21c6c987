// The person at the keyboard, as an account, and the time-control rules that
// hold for it. The host says which account is at the console (as it says
// what time it is); the rules come from the settings: the [时间控制] rules
// for everyone, and the rules of an account's own [时间控制:<account>]
// section.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dadado {

// What time control decides by: each weekday's allowed hours (0 = Sunday)
// and its daily limit in minutes (0: none).
struct TimeRules {
  std::array<std::string, 7> allowed_hours;
  std::array<int, 7> daily_limits{};
  bool operator==(const TimeRules&) const = default;
};

// The account logged on at the console.
struct Account {
  std::string name;  // the user name without the domain
  std::string sid;   // "S-1-5-21-…"; empty when it could not be read
  // In the Administrators group, whether the token holds it enabled or only
  // for deny (a filtered token under UAC).
  bool administrator = false;
  bool operator==(const Account&) const = default;
};

// The rules of one account's own section.
struct AccountRules {
  std::string name;   // as the section is named
  std::string sid;    // its SID key; empty when the section has none
  bool enabled = false;
  TimeRules rules;
  bool operator==(const AccountRules&) const = default;
};

// Account names compare as Windows compares them for the ASCII letters;
// Chinese characters have no case, and the few other scripts with one are
// compared as written.
bool SameAccountName(std::string_view a, std::string_view b);
// Whether a section is the account's: by SID alone when the section holds
// one, else by name.
bool SectionMatches(const AccountRules& section, const std::string& name, const std::string& sid);
// Whether two records are of one account: by SID when both know it, else by
// name.
bool SameAccount(const std::string& name, const std::string& sid, const std::string& other_name,
                 const std::string& other_sid);
// The key an account's counts are kept under: its SID, or its name folded
// when the SID is not known.
std::string AccountKey(const std::string& name, const std::string& sid);

// Every rule of the settings, as the chooser reads them.
struct RuleBook {
  bool enabled = false;  // [时间控制] 启用
  TimeRules rules;       // [时间控制]
  bool administrators_exempt = false;
  std::vector<AccountRules> accounts;
  bool operator==(const RuleBook&) const = default;

  // Time control is switched on somewhere: by the rules for everyone or by
  // an account's own.
  bool AnyEnabled() const;
  // Each account's limit counts its own minutes, not the machine's: some
  // account has rules of its own, or administrators are exempt.
  bool PerAccount() const { return !accounts.empty() || administrators_exempt; }
};

// The rules in force for an account.
struct ChosenRules {
  bool time_control = false;
  TimeRules rules;
  int section = -1;  // the account's own section in the book, or -1
  bool operator==(const ChosenRules&) const = default;
};

// An account's own section decides when it has one (启用=1: its rules;
// 0: no time control at all); else an administrator has none while
// administrators are exempt; else the rules for everyone. With nobody at the
// console, the rules for everyone.
ChosenRules ChooseRules(const RuleBook& book, const std::optional<Account>& account);

}  // namespace dadado
