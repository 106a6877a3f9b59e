#include "engine/core/accounts/logon.h"

#include <cstdarg>

#include "common/codec/password_codec.h"
#include "common/ini/document.h"
#include "common/ini/profile.h"
#include "common/log/log_file.h"
#include "common/log/logged_text.h"
#include "common/text/strings.h"
#include "engine/core/accounts/account_names.h"
#include "engine/core/accounts/directory_library.h"
#include "engine/core/accounts/network_logon.h"
#include "engine/core/accounts/stored_password.h"
#include "engine/core/accounts/user_record.h"

namespace corvane::accounts {

namespace {

constexpr std::size_t max_stored_password = 1024;
constexpr std::size_t max_directory_host = 63;

class Check {
public:
    Check(const AccountsContext& context, std::string name) : m_context(context), m_name(std::move(name)) {}

    LogonResult run(std::string_view typed);

private:
    LogonResult local(std::string_view typed, std::string_view stored_clear) const;
    LogonResult plain(const ini::Profile& user_ini, std::string_view stored, std::string_view typed);
    LogonResult scrambled(std::string_view stored, std::string_view typed);
    LogonResult directory(std::string_view host_text, std::string_view typed);
    LogonResult network(std::string_view domain, std::string_view typed);

    void log(log::Level level, const char* format, ...) const __attribute__((format(printf, 3, 4)))
    {
        if (!m_context.log)
            return;
        va_list args;
        va_start(args, format);
        m_context.log->vline(level, format, args);
        va_end(args);
    }

    const AccountsContext& m_context;
    std::string m_name;
};

LogonResult Check::run(std::string_view typed)
{
    auto account = account_directory(m_context.user_dir, m_name);
    if (!account)
        return LogonResult::refused;
    ini::Profile user_ini(user_ini_path(*account));
    if (!user_ini.yes_no("User", "Active", true))
        return LogonResult::inactive;

    std::string stored = user_ini.text("User", "Password", "", max_stored_password + 1);
    if (stored.size() > max_stored_password) {
        log(log::Level::error, "The stored password of user %s is not readable (too long)", m_name.c_str());
        return LogonResult::refused;
    }
    auto kind = classify_password(stored);
    switch (kind.kind) {
    case PasswordKind::plain:
        return plain(user_ini, stored, typed);
    case PasswordKind::directory:
        return directory(kind.rest, typed);
    case PasswordKind::network:
        return network(kind.rest, typed);
    case PasswordKind::scrambled:
        break;
    }
    return scrambled(stored, typed);
}

LogonResult Check::local(std::string_view typed, std::string_view stored_clear) const
{
    bool ignore_case = m_context.settings->yes_no("General", "CaseSensitivePasswords", true);
    return passwords_match(typed, text::cut(stored_clear, max_password), ignore_case) ? LogonResult::accepted
                                                                                      : LogonResult::refused;
}

LogonResult Check::plain(const ini::Profile& user_ini, std::string_view stored, std::string_view typed)
{
    std::string clear = text::bounded(stored.substr(1), max_password);
    if (auto scrambled = m_context.codec->scramble(clear)) {
        // Written back only while the file still holds this plain text, so
        // that a password changed in the meantime is never overwritten.
        bool written = user_ini.update([&](ini::Document& doc) {
            auto now = doc.get("User", "Password");
            return now && *now == stored && doc.set("User", "Password", *scrambled);
        });
        if (!written)
            log(log::Level::error, "Could not write the scrambled password of user %s", m_name.c_str());
    } else {
        log(log::Level::error, "Could not scramble the password of user %s: %s", m_name.c_str(),
            scrambled.error().text.c_str());
    }
    return local(typed, clear);
}

LogonResult Check::scrambled(std::string_view stored, std::string_view typed)
{
    if (stored.empty())
        return LogonResult::refused;  // no password set: nothing can match
    auto clear = m_context.codec->unscramble(stored);
    if (!clear) {
        log(log::Level::error, "The stored password of user %s is not readable: %s", m_name.c_str(),
            clear.error().text.c_str());
        return LogonResult::refused;
    }
    return local(typed, *clear);
}

LogonResult Check::directory(std::string_view host_text, std::string_view typed)
{
    if (!m_context.directory) {
        log(log::Level::error, "LDAP login attempted, but LDAP DLL is not loaded!");
        return LogonResult::directory_unavailable;
    }
    const ini::Profile& engine = *m_context.settings;
    std::string host(text::trim(text::cut(text::cut(host_text, max_password - 1), max_directory_host)));
    if (host.empty())
        host = text::trim(engine.text("LDAPAuth", "Host", "", max_directory_host));
    if (host.empty() || text::has_controls(host)) {
        log(log::Level::notable, "LDAP logon of %s: no directory host is set", m_name.c_str());
        return LogonResult::directory_unavailable;
    }
    DirectoryLimits limits{engine.number("LDAPAuth", "TimeLimit", 5), engine.number("LDAPAuth", "SizeLimit", 1)};
    auto connection = DirectoryConnection::open(*m_context.directory, host, limits);
    if (!connection) {
        log(log::Level::notable, "LDAP logon of %s: could not connect to %s", m_name.c_str(), host.c_str());
        return LogonResult::directory_unavailable;
    }
    if (int rc = connection->bind_anonymously(); rc != 0) {
        log(log::Level::notable, "LDAP logon of %s: could not bind to %s, result %d", m_name.c_str(), host.c_str(), rc);
        return LogonResult::directory_unavailable;
    }
    auto filter = directory_filter(engine.text("LDAPAuth", "Filter", "(cn=USER)", max_directory_filter), m_name);
    if (!filter) {
        log(log::Level::notable, "LDAP logon of %s: the search filter is too long", m_name.c_str());
        return LogonResult::refused;
    }
    std::string base = engine.text("LDAPAuth", "Base", "", 255);
    DirectoryResult result;
    if (int rc = connection->search(base, *filter, result); rc != 0) {
        log(log::Level::notable, "LDAP logon of %s: search on %s failed, result %d", m_name.c_str(), host.c_str(), rc);
        return LogonResult::directory_unavailable;
    }
    auto entry = result.first();
    if (!entry) {
        log(log::Level::routine, "LDAP logon of %s: no directory entry", m_name.c_str());
        return LogonResult::refused;
    }
    auto names = result.values(entry, engine.text("LDAPAuth", "NameAttr", "cn", 63));
    if (!names.empty())
        log(log::Level::detail, "LDAP logon of %s: entry %s", m_name.c_str(), log::logged_name(names[0]).c_str());
    auto passwords = result.values(entry, engine.text("LDAPAuth", "PassAttr", "password", 63));
    if (passwords.empty())
        return LogonResult::refused;
    return passwords_match(typed, passwords[0], false) ? LogonResult::accepted : LogonResult::refused;
}

LogonResult Check::network(std::string_view domain, std::string_view typed)
{
    std::string pam_user = network_logon_name(text::cut(domain, max_password - 1), m_name);
    auto outcome = check_network_logon(pam_user, typed, m_context.network_service);
    if (!outcome.accepted) {
        log(log::Level::detail, "Network authentication failed, error code %d", outcome.code);
        return LogonResult::refused;
    }
    return LogonResult::accepted;
}

}  // namespace

LogonResult check_logon(const AccountsContext& context, std::string_view name, std::string_view password)
{
    if (name.empty() || password.empty() || !context.settings || !context.codec)
        return LogonResult::refused;
    std::string cut = cut_user_name(name);
    if (!is_valid_user_name(cut))
        return LogonResult::refused;
    return Check(context, std::move(cut)).run(password);
}

std::string escape_filter_value(std::string_view value)
{
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        if (c == '*' || c == '(' || c == ')' || c == '\\' || c == '\0') {
            auto byte = static_cast<unsigned char>(c);
            out += '\\';
            out += hex[byte >> 4];
            out += hex[byte & 0x0f];
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> directory_filter(std::string_view configured, std::string_view user)
{
    std::string filter = text::replace_all(configured, "USER", escape_filter_value(user));
    if (filter.size() > max_directory_filter)
        return std::nullopt;
    return filter;
}

}  // namespace corvane::accounts
