// The four kinds of stored account password, [User] Password of User.ini:
//
//   "-word"     plain text an administrator typed; the first reader
//               scrambles it and writes the scrambled form back
//   "*host"     directory (LDAP) logon; host empty means [LDAPAuth] Host
//   "\domain"   network logon through PAM (see network_logon.h)
//   otherwise   the password scrambled by the password codec
//
// Directory and network values are never scrambled; they carry no secret.
#pragma once

#include <string>
#include <string_view>

namespace corvane::accounts {

enum class PasswordKind { scrambled, plain, directory, network };

struct StoredPassword {
    PasswordKind kind = PasswordKind::scrambled;
    std::string_view rest;  // the value without its marker ("-", "*", "\")
};

StoredPassword classify_password(std::string_view stored);

// Whether a password is kept in the file exactly as it is ("\..." or "*...").
bool is_logon_marker(std::string_view password);

// A typed password against the stored one: equal, or, when ignore_case is
// set, equal without regard to ASCII case. The exact comparison takes the
// same time wherever the texts differ.
bool passwords_match(std::string_view typed, std::string_view stored, bool ignore_case);

}  // namespace corvane::accounts
