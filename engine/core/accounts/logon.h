// The logon check: a user name and a typed password against the account.
//
// Result codes: 0 accepted, 1 refused, 2 account inactive ([User] Active
// off), 3 directory logon unavailable (no directory library, no host, or a
// failure to connect, bind or search). The stored password decides how the
// check is made (stored_password.h):
//
//   scrambled   unscrambled and compared with the typed password
//   "-word"     scrambled and written back first, then compared the same way
//   "*host"     looked up in the directory: anonymous bind, a subtree search
//               below [LDAPAuth] Base with [LDAPAuth] Filter (each "USER"
//               replaced by the name, escaped for a filter), and the first
//               entry's [LDAPAuth] PassAttr compared exactly
//   "\domain"   checked by PAM (network_logon.h)
//
// Local comparisons are exact; with [General] CaseSensitivePasswords on
// (the default) a password that differs only in letter case also passes.
// The check reads User.ini afresh every time and creates nothing: a user
// name that is refused as an account name (account_names.h) is refused
// here too, before any file is touched.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "engine/core/accounts/accounts_context.h"

namespace corvane::accounts {

enum class LogonResult { accepted = 0, refused = 1, inactive = 2, directory_unavailable = 3 };

constexpr int code_of(LogonResult result)
{
    return static_cast<int>(result);
}

LogonResult check_logon(const AccountsContext& context, std::string_view name, std::string_view password);

// Longest search filter sent to the directory; a longer one is refused.
constexpr std::size_t max_directory_filter = 511;

// A value escaped for use inside an LDAP search filter: "*", "(", ")", "\"
// and NUL become "\2a", "\28", "\29", "\5c" and "\00", so a user name can
// never widen or restructure the search.
std::string escape_filter_value(std::string_view value);
// The configured filter with every "USER" (upper case, one pass) replaced
// by the escaped name; nullopt when the result is longer than
// max_directory_filter.
std::optional<std::string> directory_filter(std::string_view configured, std::string_view user);

}  // namespace corvane::accounts
