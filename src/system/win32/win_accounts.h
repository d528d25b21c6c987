// Accounts as Windows knows them: whose a token is, and the machine's local
// accounts.
#pragma once

#include <windows.h>

#include <optional>
#include <vector>

#include "scheduler/accounts.h"

namespace dadado::win32 {

// The account a token belongs to: the user name without the domain, the SID
// as text, and whether the token holds Administrators, enabled or for deny
// only (the filtered token of an administrator under UAC counts too).
// nullopt when the token cannot be read.
std::optional<Account> AccountOfToken(HANDLE token);

// The local accounts (NetUserEnum, level 20), less the built-in ones that
// are disabled; each with its SID.
std::vector<Account> LocalAccountsOfMachine();

}  // namespace dadado::win32
