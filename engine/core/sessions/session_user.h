// The user record a session holds, as far as the session table needs it.
//
// SessionUser is the narrow view the session table has of an account: the
// names it publishes in the shared slots, the settings the end of a session
// consults, and the work on the user's mail that the end of a session does.
// The full user record (settings, message store, address book, mailboxes,
// filters) plugs in by deriving from it; until it does, IniSessionUser reads
// the few fields needed from User.ini, and every mail operation does nothing.
//
// What it does not do: no logon check, no writing of settings other than the
// statistics, no mail.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::ini {
class Profile;
}
namespace corvane::log {
class Logger;
}

namespace corvane::sessions {

// Limits of the fields of a user record.
constexpr std::size_t max_user_name = 79;
constexpr std::size_t max_language = 3;
constexpr std::size_t max_theme = 31;
constexpr std::size_t max_mailbox_text = 63;  // full name and e-mail of a mailbox record

class SessionUser {
public:
    virtual ~SessionUser() = default;

    virtual const std::string& name() const = 0;
    // The account directory and its User.ini.
    virtual const std::string& directory() const = 0;
    virtual const std::string& settings_path() const = 0;
    // Full name and e-mail address of the default mailbox record.
    virtual std::string default_full_name() const = 0;
    virtual std::string default_email() const = 0;
    virtual std::string language() const = 0;
    virtual std::string theme() const = 0;
    // [User] EmptyTrash: empty the trash when the session ends.
    virtual bool empty_trash_on_exit() const = 0;

    // ---- the user's mail, for the end of a session -------------------------
    // Each runs under the session's request lock. The defaults do nothing:
    // a record without a message store has no mail to tidy.

    // Mail size in kilobytes and number of messages; nullopt when unknown.
    virtual std::optional<std::int64_t> mail_size_kb() const { return std::nullopt; }
    virtual std::optional<std::int64_t> message_count() const { return std::nullopt; }
    // Empties the Trash folder.
    virtual void empty_trash_folder(log::Logger& /*log*/) {}
    // Clears the new flag of every message.
    virtual void clear_new_flags() {}
    // Drops the entries without a folder that need no deletion on a server;
    // true when some are left that a server deletion must remove.
    virtual bool prune_entries_without_folder() { return false; }
    // Deletes the waiting messages on every mailbox whose Delete mode is not 0.
    virtual void delete_on_servers(log::Logger& /*log*/) {}
    // Writes the message index when it changed.
    virtual void save_index(log::Logger& /*log*/) {}

    // Places the welcome message into the inbox of a new account; true when
    // it was placed (then [User] SendWelcome is removed).
    virtual bool place_welcome_message(log::Logger& /*log*/) { return false; }

    // The end of the record's life: writes [Stats] MessageCount and
    // DiskSpace when they are known.
    virtual void release();
};

// Loads the user record of a session; nullptr when the name cannot be an
// account (see is_account_name) or the account cannot be used.
using SessionUserLoader = std::function<std::unique_ptr<SessionUser>(std::string_view name, log::Logger& log)>;

// True for a name that stays inside the users directory: not empty, no "/",
// "\", "..", control characters, and not beginning with ".".
bool is_account_name(std::string_view name);

// Defaults the record takes from the engine's settings ([UserDefaults]).
struct UserDefaults {
    std::string language = "en";
    std::string theme = "jsFrames";
    bool empty_trash = false;
};

// The minimal record: reads User.ini of UserDir + "/" + name (the account
// directory matched without regard to case, created when missing).
class IniSessionUser final : public SessionUser {
public:
    static std::unique_ptr<IniSessionUser> load(const std::string& user_dir, std::string_view name,
                                                const UserDefaults& defaults);

    const std::string& name() const override { return m_name; }
    const std::string& directory() const override { return m_directory; }
    const std::string& settings_path() const override { return m_settings_path; }
    std::string default_full_name() const override { return m_full_name; }
    std::string default_email() const override { return m_email; }
    std::string language() const override { return m_language; }
    std::string theme() const override { return m_theme; }
    bool empty_trash_on_exit() const override { return m_empty_trash; }

private:
    IniSessionUser() = default;

    std::string m_name;
    std::string m_directory;
    std::string m_settings_path;
    std::string m_full_name;
    std::string m_email;
    std::string m_language;
    std::string m_theme;
    bool m_empty_trash = false;
};

// The full name and e-mail of the default mailbox record of a User.ini:
// [MailHost1], [MailHost2], ... up to the first without a Mailbox name; the
// first with Default set, else the first; none at all gives two empty texts.
// A record without FullName or EMail takes those of [User].
struct MailboxIdentity {
    std::string full_name;
    std::string email;
};
MailboxIdentity default_mailbox_identity(const ini::Profile& user_ini);

}  // namespace corvane::sessions
