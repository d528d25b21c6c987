#include "scheduler/accounts.h"

#include <algorithm>

namespace dadado {

namespace {

char Fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool SameAccountName(std::string_view a, std::string_view b) {
  // UTF-8: the bytes of other characters are never ASCII letters.
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Fold(x) == Fold(y); });
}

bool SectionMatches(const AccountRules& section, const std::string& name, const std::string& sid) {
  // A renamed account keeps its SID: a section that names one follows it.
  if (!section.sid.empty()) return SameAccountName(section.sid, sid);
  return !name.empty() && SameAccountName(section.name, name);
}

bool SameAccount(const std::string& name, const std::string& sid, const std::string& other_name,
                 const std::string& other_sid) {
  if (!sid.empty() && !other_sid.empty()) return SameAccountName(sid, other_sid);
  return SameAccountName(name, other_name);
}

std::string AccountKey(const std::string& name, const std::string& sid) {
  if (!sid.empty()) return sid;
  std::string key = name;
  std::transform(key.begin(), key.end(), key.begin(), Fold);
  return key;
}

bool RuleBook::AnyEnabled() const {
  return enabled || std::any_of(accounts.begin(), accounts.end(), [](const AccountRules& a) { return a.enabled; });
}

ChosenRules ChooseRules(const RuleBook& book, const std::optional<Account>& account) {
  if (account) {
    for (std::size_t i = 0; i < book.accounts.size(); ++i) {
      const AccountRules& own = book.accounts[i];
      if (SectionMatches(own, account->name, account->sid))
        return {own.enabled, own.rules, static_cast<int>(i)};
    }
    if (account->administrator && book.administrators_exempt) return {false, book.rules, -1};
  }
  return {book.enabled, book.rules, -1};
}

}  // namespace dadado
