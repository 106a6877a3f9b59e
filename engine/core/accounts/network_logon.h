// Network logons: a user name and password checked by the system's own
// accounts through PAM.
//
// The PAM service is "corvane" (its file ships as packaging/pam.d/corvane);
// the administrator decides there which accounts count (local files,
// winbind, sssd, ...). A logon passes when PAM authenticates the user and
// then finds the account usable (not expired, not locked). Nothing here
// opens a PAM session or changes credentials. PAM modules may wait after a
// failed attempt (pam_unix does, about two seconds): that is the system's
// guard against guessing, and it is kept.
#pragma once

#include <string>
#include <string_view>

namespace corvane::accounts {

constexpr std::string_view network_logon_service = "corvane";

// The name handed to PAM for an account stored as "\" + domain: an empty
// domain or "." is the local machine and "NT_ANY" (any letter case) means
// no domain, both giving the bare user name; any other domain gives
// "DOMAIN\user", the form winbind and sssd understand.
std::string network_logon_name(std::string_view domain, std::string_view user);

struct NetworkLogon {
    bool accepted = false;
    int code = 0;  // the PAM result code of the failing step (0 on success)
};

NetworkLogon check_network_logon(std::string_view user, std::string_view password,
                                 std::string_view service = network_logon_service);

}  // namespace corvane::accounts
