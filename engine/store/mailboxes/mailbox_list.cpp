#include "engine/store/mailboxes/mailbox_list.h"

#include "common/platform/files.h"
#include "common/text/strings.h"
#include "engine/store/message_index/message_index.h"

namespace corvane::mailboxes {

namespace {

std::string user_ini_of(const std::string& user_dir)
{
    return platform::path_nocase(user_dir, "User.ini");
}

std::string section_name(std::size_t n)
{
    return text::format("MailHost%zu", n);
}

}  // namespace

MailboxDefaults MailboxDefaults::from(const ini::Profile& engine)
{
    MailboxDefaults defaults;
    defaults.color = engine.text("UserDefaults", "Color1", "#C0C0C0", max_mailbox_color);
    defaults.port = engine.number("UserDefaults", "MailPort", 110);
    defaults.delete_mode = engine.number("UserDefaults", "Delete", 0);
    return defaults;
}

MailboxRecord MailboxList::load(const std::string& user_dir, const MailboxDefaults& defaults,
                                codec::PasswordCodec& codec)
{
    m_records.clear();
    ini::Profile profile(user_ini_of(user_dir));
    const std::string full_name = profile.text("User", "FullName", "", max_mailbox_full_name);
    const std::string email = profile.text("User", "EMail", "", max_mailbox_email);

    for (int n = 1; n <= max_mailboxes; ++n) {
        const std::string section = section_name(static_cast<std::size_t>(n));
        MailboxRecord record;
        record.mailbox = profile.text(section, "Mailbox", "", max_mailbox_name);
        if (record.mailbox.empty())
            break;
        record.full_name = profile.text(section, "FullName", full_name, max_mailbox_full_name);
        record.email = profile.text(section, "EMail", email, max_mailbox_email);
        record.host = profile.text(section, "Host", "", max_mailbox_host);
        record.user = profile.text(section, "User", "", max_mailbox_user);
        record.color = profile.text(section, "Color", defaults.color, max_mailbox_color);
        record.port = profile.number(section, "Port", defaults.port);
        record.is_default = profile.yes_no(section, "Default", false);
        record.active = profile.yes_no(section, "Active", true);
        record.delete_mode = profile.number(section, "Delete", defaults.delete_mode);
        record.tls = profile.text(section, "TLS", "", max_mailbox_tls);

        // The stored form is longer than the clear text; read it whole.
        std::string stored = profile.text(section, "Pass", "");
        if (auto plain = codec::scramble_if_plain(codec, stored)) {
            record.pass = text::bounded(std::string_view(stored).substr(1), max_mailbox_pass);
            if (plain->ok())
                (void)profile.write_text(section, "Pass", plain->value());
        } else if (!stored.empty()) {
            if (auto clear = codec.unscramble(stored))
                record.pass = text::bounded(*clear, max_mailbox_pass);
            else
                record.unreadable_pass = stored;
        }
        m_records.push_back(std::move(record));
    }
    return default_mailbox();
}

bool MailboxList::save(const std::string& user_dir, codec::PasswordCodec& codec) const
{
    // Scramble first: the codec may create its key file, which must not
    // happen under the settings file's lock.
    std::vector<std::string> stored;
    for (const MailboxRecord& record : m_records) {
        if (record.pass.empty()) {
            stored.push_back(record.unreadable_pass.value_or(""));
            continue;
        }
        auto scrambled = codec.scramble(record.pass);
        if (!scrambled)
            return false;
        stored.push_back(std::move(*scrambled));
    }

    ini::Profile profile(user_ini_of(user_dir));
    return profile.update([&](ini::Document& document) {
        for (std::size_t i = 0; i < m_records.size(); ++i) {
            const MailboxRecord& r = m_records[i];
            const std::string section = section_name(i + 1);
            document.set(section, "Mailbox", text::cut(r.mailbox, max_mailbox_name));
            document.set(section, "FullName", text::cut(r.full_name, max_mailbox_full_name));
            document.set(section, "EMail", text::cut(r.email, max_mailbox_email));
            document.set(section, "Host", text::cut(r.host, max_mailbox_host));
            document.set(section, "User", text::cut(r.user, max_mailbox_user));
            document.set(section, "Pass", stored[i]);
            document.set(section, "Color", text::cut(r.color, max_mailbox_color));
            document.set(section, "Port", std::to_string(r.port));
            document.set(section, "Default", ini::yes_no_text(r.is_default));
            document.set(section, "Active", ini::yes_no_text(r.active));
            document.set(section, "Delete", std::to_string(r.delete_mode));
            if (r.tls.empty())
                document.remove_key(section, "TLS");
            else
                document.set(section, "TLS", text::cut(r.tls, max_mailbox_tls));
        }
        document.remove_section(section_name(m_records.size() + 1));
        return true;
    });
}

MailboxRecord* MailboxList::find(std::string_view name)
{
    for (MailboxRecord& record : m_records) {
        if (text::iequals(record.mailbox, name))
            return &record;
    }
    return nullptr;
}

const MailboxRecord* MailboxList::find(std::string_view name) const
{
    return const_cast<MailboxList*>(this)->find(name);
}

std::size_t MailboxList::index_of(std::string_view name) const
{
    for (std::size_t i = 0; i < m_records.size(); ++i) {
        if (text::iequals(m_records[i].mailbox, name))
            return i;
    }
    for (std::size_t i = 0; i < m_records.size(); ++i) {
        if (m_records[i].is_default)
            return i;
    }
    return 0;
}

MailboxRecord MailboxList::default_mailbox()
{
    for (const MailboxRecord& record : m_records) {
        if (record.is_default)
            return record;
    }
    if (m_records.empty())
        return MailboxRecord{};
    m_records.front().is_default = true;
    return m_records.front();
}

bool prune_deleted_entries(store::MessageIndex& index, const MailboxList& mailboxes)
{
    bool deletion_due = false;
    index.prune_folderless([&](const store::MessageEntry& entry) {
        if (entry.mailbox.empty() || entry.server_id.empty())
            return true;
        const MailboxRecord* record = mailboxes.find(entry.mailbox);
        if (!record || record->delete_mode == 0)
            return true;
        if (record->delete_mode == 2 && entry.has(store::flags::downloaded))
            return true;
        deletion_due = true;
        return false;
    });
    return deletion_due;
}

}  // namespace corvane::mailboxes
