#include "engine/core/sessions/session_user.h"

#include "common/ini/profile.h"
#include "common/platform/files.h"
#include "common/text/strings.h"

namespace corvane::sessions {

namespace fs = corvane::platform;

void SessionUser::release()
{
    auto count = message_count();
    auto size = mail_size_kb();
    if (!count && !size)
        return;
    ini::Profile user_ini(settings_path());
    if (count)
        (void)user_ini.write_number("Stats", "MessageCount", *count);
    if (size)
        (void)user_ini.write_number("Stats", "DiskSpace", *size);
}

bool is_account_name(std::string_view name)
{
    if (name.empty() || name.front() == '.')
        return false;
    if (name.find('/') != std::string_view::npos || name.find('\\') != std::string_view::npos ||
        name.find("..") != std::string_view::npos)
        return false;
    for (char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return false;
    }
    return true;
}

std::unique_ptr<IniSessionUser> IniSessionUser::load(const std::string& user_dir, std::string_view name,
                                                     const UserDefaults& defaults)
{
    std::string_view cut_name = text::cut(name, max_user_name);
    if (!is_account_name(cut_name))
        return nullptr;
    std::unique_ptr<IniSessionUser> user(new IniSessionUser);
    user->m_name = std::string(cut_name);
    // JSmith reaches the directory jsmith: accounts are matched without
    // regard to case, and a new one is created under the name as typed.
    user->m_directory = fs::path_nocase(user_dir, user->m_name);
    if (!fs::is_directory(user->m_directory)) {
        if (!fs::make_directory(user->m_directory, 0700))
            return nullptr;
    }
    user->m_settings_path = fs::path_nocase(user->m_directory, "User.ini");

    ini::Profile user_ini(user->m_settings_path);
    user->m_language = user_ini.text("User", "Lang", defaults.language, max_language);
    user->m_theme = user_ini.text("User", "Theme", defaults.theme, max_theme);
    user->m_empty_trash = user_ini.yes_no("User", "EmptyTrash", defaults.empty_trash);
    auto identity = default_mailbox_identity(user_ini);
    user->m_full_name = std::move(identity.full_name);
    user->m_email = std::move(identity.email);
    return user;
}

MailboxIdentity default_mailbox_identity(const ini::Profile& user_ini)
{
    auto doc = user_ini.snapshot();
    std::string user_full_name(doc->get("User", "FullName").value_or(""));
    std::string user_email(doc->get("User", "EMail").value_or(""));
    std::optional<MailboxIdentity> first;
    for (int i = 1;; ++i) {
        std::string section = text::format("MailHost%d", i);
        auto mailbox = doc->get(section, "Mailbox");
        if (!mailbox || mailbox->empty())
            break;
        MailboxIdentity identity{
            text::bounded(doc->get(section, "FullName").value_or(user_full_name), max_mailbox_text),
            text::bounded(doc->get(section, "EMail").value_or(user_email), max_mailbox_text)};
        if (ini::is_yes(doc->get(section, "Default").value_or("No")))
            return identity;
        if (!first)
            first = std::move(identity);
    }
    return first.value_or(MailboxIdentity{});
}

}  // namespace corvane::sessions
