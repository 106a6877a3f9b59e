#include "engine/core/accounts/stored_password.h"

#include "common/text/strings.h"

namespace corvane::accounts {

StoredPassword classify_password(std::string_view stored)
{
    if (stored.empty())
        return {PasswordKind::scrambled, stored};
    switch (stored.front()) {
    case '-':
        return {PasswordKind::plain, stored.substr(1)};
    case '*':
        return {PasswordKind::directory, stored.substr(1)};
    case '\\':
        return {PasswordKind::network, stored.substr(1)};
    default:
        return {PasswordKind::scrambled, stored};
    }
}

bool is_logon_marker(std::string_view password)
{
    return !password.empty() && (password.front() == '\\' || password.front() == '*');
}

bool passwords_match(std::string_view typed, std::string_view stored, bool ignore_case)
{
    if (typed.size() == stored.size()) {
        unsigned char difference = 0;
        for (std::size_t i = 0; i < typed.size(); ++i)
            difference |= static_cast<unsigned char>(typed[i] ^ stored[i]);
        if (difference == 0)
            return true;
    }
    return ignore_case && text::iequals(typed, stored);
}

}  // namespace corvane::accounts
