#include "engine/core/accounts/user_record.h"

#include <cstdarg>
#include <limits>

#include "common/codec/password_codec.h"
#include "common/ini/document.h"
#include "common/log/log_file.h"
#include "common/log/log_texts.h"
#include "common/platform/files.h"
#include "common/platform/time_format.h"
#include "common/text/strings.h"
#include "engine/core/accounts/account_names.h"
#include "engine/core/accounts/server_deletion.h"
#include "engine/core/accounts/stored_password.h"

namespace fs = corvane::platform;

namespace corvane::accounts {

namespace {

// A stored password longer than this is not ours (our longest scrambled
// form of a 47-byte password is about 100 bytes): it is kept, never read.
constexpr std::size_t max_stored_password = 1024;

// Reads of one parsed User.ini with the profile's rules (see profile.h).
class Reader {
public:
    explicit Reader(std::shared_ptr<const ini::Document> doc) : m_doc(std::move(doc)) {}

    std::optional<std::string_view> raw(std::string_view section, std::string_view key) const
    {
        return m_doc->get(section, key);
    }
    // Bounded and without control characters: these values end up in
    // pages, log lines and other files.
    std::string text(std::string_view section, std::string_view key, std::string_view def, std::size_t max) const
    {
        auto value = m_doc->get(section, key);
        return text::without_controls(text::cut(value ? *value : def, max));
    }
    int number(std::string_view section, std::string_view key, int def) const
    {
        return ini::number_value(m_doc->get(section, key), def);
    }
    bool yes_no(std::string_view section, std::string_view key, bool def) const
    {
        return ini::yes_no_value(m_doc->get(section, key), def);
    }

private:
    std::shared_ptr<const ini::Document> m_doc;
};

// Language codes: letters, digits, "-" and "_" only.
bool is_language_code(std::string_view code)
{
    if (code.empty())
        return false;
    for (char c : code) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (!ok)
            return false;
    }
    return true;
}

// Theme and style name folders below TemplateDir: the same rule as account
// names keeps them there.
bool is_folder_name(std::string_view name)
{
    return is_valid_user_name(name);
}

std::string choose(std::string value, std::string fallback, std::string_view builtin, bool (*valid)(std::string_view))
{
    if (valid(value))
        return value;
    if (valid(fallback))
        return fallback;
    return std::string(builtin);
}

}  // namespace

void UserSettings::normalise()
{
    if (list_refresh_time < 1)
        list_refresh_time = 1;
    if (compose_width < min_compose_width)
        compose_width = min_compose_width;
    if (compose_width > max_compose_width)
        compose_width = max_compose_width;
}

std::int64_t mail_size_kb(std::uint64_t bytes)
{
    // (bytes + 512) / 1024, without the sum overflowing.
    return static_cast<std::int64_t>(bytes / 1024 + (bytes % 1024 >= 512 ? 1 : 0));
}

Result<std::unique_ptr<UserRecord>> UserRecord::load(const AccountsContext& context, std::string_view name)
{
    if (!context.settings || !context.codec)
        return Error{EINVAL, "accounts need the engine settings and the password codec"};
    std::string cut = cut_user_name(name);
    if (!is_valid_user_name(cut))
        return Error{EINVAL, "refused account name"};
    if (!account_exists(context.user_dir, cut) && !create_account_directory(context.user_dir, cut) &&
        !account_exists(context.user_dir, cut)) {
        if (context.log)
            context.log->line(log::Level::error, "Could not create the account directory of %s in %s", cut.c_str(),
                              context.user_dir.c_str());
    }
    std::string directory = *account_directory(context.user_dir, cut);
    std::unique_ptr<UserRecord> user(new UserRecord(context, std::move(cut), std::move(directory)));
    // The folder names depend on the user's language, so the folder list
    // waits for the settings.
    user->m_default_mailbox = user->m_mail.load_mail(*context.settings, *context.codec);
    user->read_settings();
    std::vector<std::string> fixed;
    if (context.fixed_folders)
        fixed = context.fixed_folders(user->m_settings.language);
    user->m_mail.load_folders(fixed);
    user->m_address_book.open(user->m_directory);
    return user;
}

UserRecord::UserRecord(const AccountsContext& context, std::string name, std::string directory)
    : m_context(context),
      m_name(std::move(name)),
      m_directory(std::move(directory)),
      m_profile(user_ini_path(m_directory)),
      m_mail(m_directory)
{
}

UserRecord::~UserRecord() = default;

void UserRecord::log(log::Level level, const char* format, ...) const
{
    if (!m_context.log)
        return;
    va_list args;
    va_start(args, format);
    m_context.log->vline(level, format, args);
    va_end(args);
}

void UserRecord::read_settings()
{
    const ini::Profile& engine = *m_context.settings;
    Reader file(m_profile.snapshot());
    UserSettings& s = m_settings;

    s.language = choose(file.text("User", "Lang", "", max_language),
                        engine.text("UserDefaults", "Lang", "en", max_language), "en", is_language_code);
    s.theme = choose(file.text("User", "Theme", "", max_theme),
                     engine.text("UserDefaults", "Theme", "jsFrames", max_theme), "jsFrames", is_folder_name);
    s.style = choose(file.text("User", "Style", "", max_style),
                     engine.text("UserDefaults", "Style", "Normal", max_style), "Normal", is_folder_name);
    s.sort_order = file.text("User", "SortOrder", "RevDate", max_sort_order);
    s.addr_book_sort_order = file.text("User", "AddrBookSortOrder", "Name", max_sort_order);
    s.multipart_prefer = file.text("User", "MultipartPrefer", "text/html", max_multipart_prefer);
    s.show_by_address = file.number("User", "ShowByAddress", 0);
    s.list_refresh_time = file.number("User", "ListRefreshTime", engine.number("UserDefaults", "ListRefresh", 10));
    s.list_all_attach = file.yes_no("User", "ListAllAttach", false);
    s.compose_width = file.number("User", "ComposeWidth", 72);
    s.compose_height = file.number("User", "ComposeHeight", 16);
    s.empty_trash = file.yes_no("User", "EmptyTrash", engine.yes_no("UserDefaults", "EmptyTrash", false));
    s.add_replies_to_addr_book = file.yes_no("User", "AddRepliesToAddrBook", false);
    s.save_sent_mail = file.yes_no("User", "SaveSentMail", engine.yes_no("UserDefaults", "SaveSentMail", true));
    s.check_before_send = file.yes_no("SpellCheck", "CheckBeforeSend", false);
    s.ignore_all_caps = file.yes_no("SpellCheck", "IgnoreAllCaps", false);
    s.ignore_mixed_digits = file.yes_no("SpellCheck", "IgnoreMixedDigits", false);
    s.active = file.yes_no("User", "Active", true);
    s.normalise();

    m_full_name = file.text("User", "FullName", "", max_full_name);
    m_email = file.text("User", "EMail", "", max_email);

    // The password: see stored_password.h for the four kinds.
    std::string stored(file.raw("User", "Password").value_or(""));
    m_stored_password = stored;
    m_loaded_password.clear();
    if (stored.size() > max_stored_password) {
        log(log::Level::error, "The stored password of user %s is not readable (too long)", m_name.c_str());
    } else {
        auto kind = classify_password(stored);
        switch (kind.kind) {
        case PasswordKind::directory:
        case PasswordKind::network:
            // As the file will hold it after a save: controls become blanks.
            m_loaded_password = text::without_controls(text::cut(stored, max_password));
            break;
        case PasswordKind::plain: {
            m_loaded_password = text::bounded(kind.rest, max_password);
            auto scrambled = m_context.codec->scramble(m_loaded_password);
            if (!scrambled) {
                log(log::Level::error, "Could not scramble the password of user %s: %s", m_name.c_str(),
                    scrambled.error().text.c_str());
                break;
            }
            // Replaced only while the file still holds the plain text, so a
            // password changed meanwhile by someone else is not overwritten.
            bool written = m_profile.update([&](ini::Document& doc) {
                auto now = doc.get("User", "Password");
                return now && *now == stored && doc.set("User", "Password", *scrambled);
            });
            if (written)
                m_stored_password = *scrambled;
            break;
        }
        case PasswordKind::scrambled:
            if (stored.empty())
                break;
            if (auto clear = m_context.codec->unscramble(stored))
                m_loaded_password = text::bounded(*clear, max_password);
            else
                log(log::Level::error, "The stored password of user %s is not readable: %s", m_name.c_str(),
                    clear.error().text.c_str());
            break;
        }
    }
    s.password = m_loaded_password;
}

bool UserRecord::save()
{
    m_settings.normalise();
    const UserSettings& s = m_settings;

    // An unchanged password goes back exactly as it was stored. A changed
    // one is a secret someone typed: it is scrambled even when it begins
    // with "\" or "*", for a user must not turn the account into a network
    // or directory logon (against a host of their choosing) by choosing
    // such a password. Those forms are set by the administrator in the file.
    std::string stored_password = m_stored_password;
    bool password_ok = true;
    if (s.password != m_loaded_password) {
        auto scrambled = m_context.codec->scramble(text::cut(s.password, max_password));
        if (scrambled) {
            stored_password = *scrambled;
        } else {
            password_ok = false;
            log(log::Level::error, "Could not scramble the password of user %s: %s", m_name.c_str(),
                scrambled.error().text.c_str());
        }
    }

    bool written = m_profile.update([&](ini::Document& doc) {
        doc.set("User", "Password", stored_password);
        doc.set("User", "Lang", s.language);
        doc.set("User", "Theme", s.theme);
        doc.set("User", "Style", s.style);
        doc.set("User", "SortOrder", s.sort_order);
        doc.set("User", "AddrBookSortOrder", s.addr_book_sort_order);
        doc.set("User", "MultipartPrefer", s.multipart_prefer);
        doc.set("User", "ShowByAddress", std::to_string(s.show_by_address));
        doc.set("User", "ListRefreshTime", std::to_string(s.list_refresh_time));
        doc.set("User", "ListAllAttach", ini::yes_no_text(s.list_all_attach));
        doc.set("User", "ComposeWidth", std::to_string(s.compose_width));
        doc.set("User", "ComposeHeight", std::to_string(s.compose_height));
        doc.set("User", "EmptyTrash", ini::yes_no_text(s.empty_trash));
        doc.set("User", "AddRepliesToAddrBook", ini::yes_no_text(s.add_replies_to_addr_book));
        doc.set("User", "SaveSentMail", ini::yes_no_text(s.save_sent_mail));
        doc.set("SpellCheck", "CheckBeforeSend", ini::yes_no_text(s.check_before_send));
        doc.set("SpellCheck", "IgnoreAllCaps", ini::yes_no_text(s.ignore_all_caps));
        doc.set("SpellCheck", "IgnoreMixedDigits", ini::yes_no_text(s.ignore_mixed_digits));
        doc.set("User", "Active", ini::yes_no_text(s.active));
        return true;
    });
    if (!written) {
        log(log::Level::error, "Could not write the settings of user %s to %s", m_name.c_str(),
            m_profile.path().c_str());
        return false;
    }
    if (password_ok) {
        m_stored_password = stored_password;
        m_loaded_password = s.password;
    }
    bool filters_ok = m_mail.filters().save();
    return password_ok && filters_ok;
}

void UserRecord::release()
{
    if (m_released)
        return;
    m_released = true;
    (void)write_mail_totals(mail_totals());
}

// ---- the user's mail -------------------------------------------------------------

MailTotals UserRecord::mail_totals() const
{
    MailTotals totals;
    const auto& entries = m_mail.index().entries();
    totals.message_count = static_cast<std::int64_t>(entries.size());
    for (const auto& entry : entries) {
        if (entry->has(store::flags::downloaded))
            totals.downloaded_bytes += entry->size;
    }
    return totals;
}

receiver::ReceiverOptions UserRecord::receiver_options() const
{
    receiver::ReceiverOptions options;
    options.types = m_context.mime_types;
    options.use_received_date = m_context.settings->yes_no("PopClient", "UseReceivedDate", false);
    return options;
}

const store::PartList& UserRecord::part_list(store::MessageEntry& entry)
{
    return receiver::part_list(m_mail.index(), entry, receiver_options());
}

void UserRecord::empty_trash(log::Logger& out)
{
    const std::string* trash = m_mail.folders().trash();
    if (!trash)
        return;
    if (!m_mail.index().empty_folder(*trash))
        out.line(log::Level::error, "Could not delete every message of the folder %s of %s", trash->c_str(),
                 m_name.c_str());
}

void UserRecord::end_session(const MailLimits& limits, log::Logger& out)
{
    const char* name = m_name.c_str();
    // One chain: the quota rules apply only when the user does not empty the
    // trash anyway, and the count rule only without a size limit.
    if (m_settings.empty_trash) {
        empty_trash(out);
        out.line(log::Level::routine, log::texts::emptying_trash, name);
    } else if (limits.max_dir_size_kb > 0) {
        if (mail_size_kb(mail_totals().downloaded_bytes) > limits.max_dir_size_kb) {
            empty_trash(out);
            out.line(log::Level::routine, log::texts::emptying_trash_size, name);
        }
    } else if (limits.max_messages > 0 && mail_totals().message_count > limits.max_messages) {
        empty_trash(out);
        out.line(log::Level::routine, log::texts::emptying_trash_count, name);
    }
    if (m_mail.end_session() && m_context.server_deletion) {
        for (const mailboxes::MailboxRecord& mailbox : m_mail.mailboxes().records()) {
            if (mailbox.delete_mode != 0)
                m_context.server_deletion->delete_waiting(m_mail, mailbox, out);
        }
    }
    save_index(out);
}

void UserRecord::save_index(log::Logger& out)
{
    if (!m_mail.index().dirty())
        return;
    if (!m_mail.index().save())
        out.line(log::Level::error, "Could not write the message index of %s", m_name.c_str());
}

// ---- per-user INI access -------------------------------------------------------

std::string UserRecord::read_text(std::string_view section, std::string_view key, std::string_view def,
                                  std::size_t max_bytes) const
{
    return m_profile.text(section, key, def, max_bytes);
}

int UserRecord::read_number(std::string_view section, std::string_view key, int def) const
{
    return m_profile.number(section, key, def);
}

bool UserRecord::read_yes_no(std::string_view section, std::string_view key, bool def) const
{
    return m_profile.yes_no(section, key, def);
}

bool UserRecord::write_text(std::string_view section, std::string_view key, std::string_view value) const
{
    return m_profile.write_text(section, key, value);
}

bool UserRecord::write_number(std::string_view section, std::string_view key, std::int64_t value) const
{
    return m_profile.write_number(section, key, value);
}

bool UserRecord::write_yes_no(std::string_view section, std::string_view key, bool value) const
{
    return m_profile.write_yes_no(section, key, value);
}

bool UserRecord::add_number(std::string_view section, std::string_view key, std::int64_t delta) const
{
    return m_profile.update([&](ini::Document& doc) {
        auto value = doc.get(section, key);
        std::int64_t n = value ? text::leading_number(*value) : 0;
        // Counters saturate rather than wrap into negative numbers.
        if (delta > 0 && n > std::numeric_limits<std::int64_t>::max() - delta)
            n = std::numeric_limits<std::int64_t>::max();
        else if (delta < 0 && n < std::numeric_limits<std::int64_t>::min() - delta)
            n = std::numeric_limits<std::int64_t>::min();
        else
            n += delta;
        return doc.set(section, key, std::to_string(n));
    });
}

bool UserRecord::write_last_access(std::time_t now) const
{
    return m_profile.write_text("Stats", "LastAccess", fs::format_local(now, "%Y-%m-%d %H:%M:%S"));
}

bool UserRecord::write_mail_totals(const MailTotals& totals) const
{
    return m_profile.update([&](ini::Document& doc) {
        return doc.set("Stats", "MessageCount", std::to_string(totals.message_count)) &&
               doc.set("Stats", "DiskSpace", std::to_string(mail_size_kb(totals.downloaded_bytes)));
    });
}

}  // namespace corvane::accounts
