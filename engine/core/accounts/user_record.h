// The user record: the settings of one account, read from its User.ini,
// and the account's mail.
//
// UserRecord::load builds the record a session (or an administrative call)
// works with: it creates the account directory when missing, reads the
// [User] and [SpellCheck] keys with their defaults (some taken from
// [UserDefaults] of Corvane.ini) and clamps, holds the password in clear,
// and loads the user's mail (store::UserMail): before the settings, the
// message index and the mailbox records; after them, the filters and the
// folder list, whose four fixed folders are named in the user's language.
// save() writes every key back in one atomic replacement of User.ini and
// saves the filters; release() writes [Stats] MessageCount and DiskSpace.
// The per-user INI access (read, write, add to a number) and the
// statistics keys go through the record too.
//
// The end of a session's work on the mail lives here as well, because it is
// decided by the user's own settings (EmptyTrash) and the engine's limits:
// end_session() empties the Trash when asked to, takes the new flag off
// every message, drops the entries deleted here that no server has to
// delete, hands the remaining ones to the ServerDeletion and writes the
// index when it changed.
//
// The personal address book (AddrBook.txt in the account directory) is
// loaded with the record and belongs to it; whoever changes it saves it.
//
// What it deliberately does not do: the logon check, the work on the
// servers (ServerDeletion plugs that in).
//
// Values from User.ini are treated as hostile: every text is bounded and
// loses its control characters, and the language, theme and style, which
// later become parts of template paths, fall back to their defaults unless
// they are plain names.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/ini/profile.h"
#include "common/log/log_file.h"
#include "common/platform/result.h"
#include "engine/core/accounts/accounts_context.h"
#include "engine/store/addrbook/address_book.h"
#include "engine/store/mailboxes/mailbox_list.h"
#include "engine/store/receiver/message_receiver.h"
#include "engine/store/user_mail/user_mail.h"

namespace corvane::accounts {

// Field widths as the record keeps them (bytes, cut at UTF-8 boundaries).
constexpr std::size_t max_password = 47;
constexpr std::size_t max_language = 3;
constexpr std::size_t max_theme = 31;
constexpr std::size_t max_style = 31;
constexpr std::size_t max_sort_order = 15;
constexpr std::size_t max_multipart_prefer = 31;
constexpr std::size_t max_full_name = 63;
constexpr std::size_t max_email = 63;
constexpr int min_compose_width = 40;
constexpr int max_compose_width = 132;

struct UserSettings {
    std::string password;  // in clear; "\..." and "*..." as stored
    std::string language;
    std::string theme;
    std::string style;
    std::string sort_order = "RevDate";
    std::string addr_book_sort_order = "Name";
    std::string multipart_prefer = "text/html";
    int show_by_address = 0;
    int list_refresh_time = 10;  // minutes, at least 1
    bool list_all_attach = false;
    int compose_width = 72;  // 40..132
    int compose_height = 16;
    bool empty_trash = false;
    bool add_replies_to_addr_book = false;
    bool save_sent_mail = true;
    bool check_before_send = false;
    bool ignore_all_caps = false;
    bool ignore_mixed_digits = false;
    bool active = true;

    // Raises the refresh time to 1 and clamps the compose width, as load
    // and save do.
    void normalise();
};

// Numbers of the user's mail for [Stats].
struct MailTotals {
    std::int64_t message_count = 0;
    std::uint64_t downloaded_bytes = 0;  // sizes of downloaded index entries
};

// Kilobytes rounded to the nearest: (bytes + 512) / 1024.
std::int64_t mail_size_kb(std::uint64_t bytes);

// The engine's limits that make the end of a session empty the Trash.
struct MailLimits {
    std::int64_t max_dir_size_kb = 0;  // [UserLimits] MaxDirSize; 0: none
    std::int64_t max_messages = 0;     // [UserLimits] MaxMessages; 0: none
};

class UserRecord {
public:
    // Loads the account of name (cut to 79 bytes), creating its directory
    // when missing. Fails only for a refused name; a missing or unreadable
    // User.ini gives the defaults.
    static Result<std::unique_ptr<UserRecord>> load(const AccountsContext& context, std::string_view name);

    UserRecord(const UserRecord&) = delete;
    UserRecord& operator=(const UserRecord&) = delete;
    // Writes nothing (release() does).
    ~UserRecord();

    const std::string& name() const { return m_name; }
    const std::string& directory() const { return m_directory; }
    const std::string& ini_path() const { return m_profile.path(); }
    const ini::Profile& profile() const { return m_profile; }

    UserSettings& settings() { return m_settings; }
    const UserSettings& settings() const { return m_settings; }

    // [User] FullName and EMail: the defaults of the mailbox records.
    const std::string& full_name() const { return m_full_name; }
    const std::string& email() const { return m_email; }

    // ---- the user's mail ---------------------------------------------------------
    store::UserMail& mail() { return m_mail; }
    const store::UserMail& mail() const { return m_mail; }
    addrbook::AddressBook& address_book() { return m_address_book; }
    const addrbook::AddressBook& address_book() const { return m_address_book; }
    // The default mailbox record as loading chose it: its full name and
    // e-mail address stand for the user in the shared session slots.
    const mailboxes::MailboxRecord& default_mailbox() const { return m_default_mailbox; }
    MailTotals mail_totals() const;
    // How a receiver stores and scans this user's mail: the engine's MIME
    // type table and [PopClient] UseReceivedDate as they are now.
    receiver::ReceiverOptions receiver_options() const;
    // The part list of an entry, loaded once (see receiver::part_list).
    const store::PartList& part_list(store::MessageEntry& entry);

    // The end of a session (see above); the limits decide with EmptyTrash
    // whether the Trash is emptied.
    void end_session(const MailLimits& limits, log::Logger& log);
    // Writes the message index when it changed.
    void save_index(log::Logger& log);

    // Writes every setting back (the password scrambled unless it is a
    // network or directory logon), then the filters. False when anything
    // could not be written.
    bool save();

    // Writes [Stats] MessageCount and DiskSpace. Once only; later calls do
    // nothing.
    void release();
    bool released() const { return m_released; }

    // ---- per-user INI access (User.ini) ---------------------------------------
    std::string read_text(std::string_view section, std::string_view key, std::string_view def,
                          std::size_t max_bytes = ini::unlimited) const;
    int read_number(std::string_view section, std::string_view key, int def) const;
    bool read_yes_no(std::string_view section, std::string_view key, bool def) const;
    bool write_text(std::string_view section, std::string_view key, std::string_view value) const;
    bool write_number(std::string_view section, std::string_view key, std::int64_t value) const;
    bool write_yes_no(std::string_view section, std::string_view key, bool value) const;
    // Reads the number (default 0), adds delta and writes it, in one locked
    // cycle so that two processes counting at once lose nothing.
    bool add_number(std::string_view section, std::string_view key, std::int64_t delta) const;

    // ---- statistics ([Stats]) --------------------------------------------------
    // LastAccess as local time "%Y-%m-%d %H:%M:%S".
    bool write_last_access(std::time_t now) const;
    // Received, RecvErrors, Sent, SendErrors and the like.
    bool add_statistic(std::string_view key, std::int64_t delta) const { return add_number("Stats", key, delta); }
    // MessageCount and DiskSpace (kilobytes of downloaded_bytes).
    bool write_mail_totals(const MailTotals& totals) const;

private:
    UserRecord(const AccountsContext& context, std::string name, std::string directory);
    void read_settings();
    void empty_trash(log::Logger& log);
    void log(log::Level level, const char* format, ...) const __attribute__((format(printf, 3, 4)));

    AccountsContext m_context;
    std::string m_name;
    std::string m_directory;
    ini::Profile m_profile;
    UserSettings m_settings;
    std::string m_full_name;
    std::string m_email;
    // The password as it stands in the file and the clear text it stood
    // for when read: an unchanged password is written back as it was, so a
    // value we cannot read (another key, damage) is kept rather than lost.
    std::string m_stored_password;
    std::string m_loaded_password;
    store::UserMail m_mail;
    addrbook::AddressBook m_address_book;
    mailboxes::MailboxRecord m_default_mailbox;
    bool m_released = false;
};

}  // namespace corvane::accounts
