// The user record: the settings of one account, read from its User.ini.
//
// UserRecord::load builds the record a session (or an administrative call)
// works with: it creates the account directory when missing, reads the
// [User] and [SpellCheck] keys with their defaults (some taken from
// [UserDefaults] of Corvane.ini) and clamps, and holds the password in
// clear. save() writes every key back in one atomic replacement of
// User.ini; release() writes [Stats] MessageCount and DiskSpace. The
// per-user INI access (read, write, add to a number) and the statistics
// keys go through the record too.
//
// What it deliberately does not do: the message store, the address book,
// the folder list, the mailbox records and the filters belong to their own
// modules. They hang on the record as one UserParts object, made by the
// factory in the AccountsContext, and are called at fixed points of load,
// save and release. Without a factory a record has no parts, and release()
// leaves [Stats] MessageCount and DiskSpace as they are rather than writing
// counts it does not know.
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

// Numbers the message store reports for [Stats] when the record is released.
struct MailTotals {
    std::int64_t message_count = 0;
    std::uint64_t downloaded_bytes = 0;  // sizes of downloaded index entries
};

// Kilobytes rounded to the nearest: (bytes + 512) / 1024.
std::int64_t mail_size_kb(std::uint64_t bytes);

class UserRecord;

// The parts of an account other modules own. The record calls them in the
// order loading and saving need; every hook does nothing by default.
class UserParts {
public:
    virtual ~UserParts() = default;
    // Before the settings are read: the message store, the address book,
    // the mailbox records and the filter set.
    virtual void load_before_settings(UserRecord& user) { (void)user; }
    // After them: the filters, and the folder list in the user's language.
    virtual void load_after_settings(UserRecord& user) { (void)user; }
    // After the settings are written: the filters. False when it failed.
    virtual bool save(UserRecord& user)
    {
        (void)user;
        return true;
    }
    // The message store's totals for [Stats], or nullopt without a store.
    virtual std::optional<MailTotals> mail_totals() const { return std::nullopt; }
};

class UserRecord {
public:
    // Loads the account of name (cut to 79 bytes), creating its directory
    // when missing. Fails only for a refused name; a missing or unreadable
    // User.ini gives the defaults.
    static Result<std::unique_ptr<UserRecord>> load(const AccountsContext& context, std::string_view name);

    UserRecord(const UserRecord&) = delete;
    UserRecord& operator=(const UserRecord&) = delete;
    // Frees the parts; writes nothing (release() does).
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

    UserParts* parts() { return m_parts.get(); }
    const UserParts* parts() const { return m_parts.get(); }

    // Writes every setting back (the password scrambled unless it is a
    // network or directory logon), then lets the parts save. False when
    // anything could not be written.
    bool save();

    // Writes [Stats] MessageCount and DiskSpace from the parts' totals and
    // frees the parts. Once only; later calls do nothing.
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
    std::unique_ptr<UserParts> m_parts;
    bool m_released = false;
};

}  // namespace corvane::accounts
