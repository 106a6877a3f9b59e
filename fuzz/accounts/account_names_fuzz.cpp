// Account names and stored passwords: the name check, the account path, the
// kinds of stored password, the network logon name and the directory
// filter. Input: a user name, a line feed, a stored password.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/core/accounts/account_names.h"
#include "engine/core/accounts/logon.h"
#include "engine/core/accounts/network_logon.h"
#include "engine/core/accounts/stored_password.h"

using namespace corvane::accounts;

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t cut = input.find('\n');
    std::string_view raw_name = input.substr(0, cut);
    std::string_view stored = cut == std::string_view::npos ? std::string_view() : input.substr(cut + 1);

    std::string name = cut_user_name(raw_name);
    check(name.size() <= max_user_name);
    // A directory that does not exist: the look-up stays in memory.
    static const std::string users = "/nonexistent-corvane-fuzz/Users";
    auto dir = account_directory(users, name);
    check(dir.has_value() == is_valid_user_name(name));
    if (dir) {
        std::string_view leaf = std::string_view(*dir).substr(users.size());
        check(leaf.size() > 1 && leaf[0] == '/');
        leaf.remove_prefix(1);
        check(leaf.find('/') == std::string_view::npos && leaf.find("..") == std::string_view::npos);
        check(leaf.front() != '.');
        for (char c : leaf)
            check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7f && c != '\\');
    }

    auto kind = classify_password(stored);
    check(kind.rest.size() + (kind.kind == PasswordKind::scrambled ? 0 : 1) == stored.size());
    check(is_logon_marker(stored) == (kind.kind == PasswordKind::directory || kind.kind == PasswordKind::network));
    if (kind.kind == PasswordKind::network) {
        std::string pam_user = network_logon_name(kind.rest, name);
        check(pam_user.size() >= name.size());
        check(pam_user.compare(pam_user.size() - name.size(), name.size(), name) == 0);
    }

    // Whatever the name, the filter keeps the configured structure: the
    // name adds no parenthesis, wildcard or unescaped backslash.
    if (auto filter = directory_filter("(cn=USER)", raw_name)) {
        check(filter->size() >= 5 && filter->front() == '(' && filter->back() == ')');
        std::string_view inner = std::string_view(*filter).substr(4, filter->size() - 5);
        for (std::size_t i = 0; i < inner.size(); ++i) {
            char c = inner[i];
            check(c != '(' && c != ')' && c != '*' && c != '\0');
            if (c == '\\') {
                check(i + 2 < inner.size() && std::isxdigit(static_cast<unsigned char>(inner[i + 1])) &&
                      std::isxdigit(static_cast<unsigned char>(inner[i + 2])));
                i += 2;
            }
        }
    }

    check(passwords_match(raw_name, stored, true) == passwords_match(stored, raw_name, true));
    check(passwords_match(raw_name, stored, false) == (raw_name == stored));
    return 0;
}
