#include "engine/store/user_mail/user_mail.h"

#include <map>

#include "common/platform/files.h"
#include "common/text/strings.h"
#include "engine/store/receiver/adopt_files.h"

namespace corvane::store {

UserMail::UserMail(std::string user_dir) : m_user_dir(std::move(user_dir)), m_folders(m_user_dir) {}

std::string UserMail::user_ini() const
{
    return platform::path_nocase(m_user_dir, "User.ini");
}

mailboxes::MailboxRecord UserMail::load(const std::vector<std::string>& fixed_folders, const ini::Profile& engine,
                                        codec::PasswordCodec& codec)
{
    mailboxes::MailboxRecord chosen = load_mail(engine, codec);
    load_folders(fixed_folders);
    return chosen;
}

mailboxes::MailboxRecord UserMail::load_mail(const ini::Profile& engine, codec::PasswordCodec& codec)
{
    m_index.open(m_user_dir);
    if (!m_index.unindexed().empty()) {
        receiver::ReceiverOptions options;
        options.use_received_date = engine.yes_no("PopClient", "UseReceivedDate", false);
        (void)receiver::adopt_unindexed_files(m_index, options);
    }
    return m_mailboxes.load(m_user_dir, mailboxes::MailboxDefaults::from(engine), codec);
}

void UserMail::load_folders(const std::vector<std::string>& fixed_folders)
{
    m_fixed = fixed_folders;
    m_filters.load(user_ini());
    m_folders.build(m_fixed);
    place_lost_entries();
}

void UserMail::place_lost_entries()
{
    // Messages fetched as header only have no file to show where their
    // folder went (a rename or delete of it cut short); unseen in no folder,
    // they would be lost to the user.
    const std::string* inbox = m_folders.inbox();
    if (!inbox)
        return;
    std::string last_known;
    for (auto& entry : m_index.entries()) {
        if (entry->folder.empty() || text::iequals(entry->folder, last_known))
            continue;
        if (m_folders.contains(entry->folder)) {
            last_known = entry->folder;
            continue;
        }
        entry->folder = *inbox;
        m_index.mark_dirty();
    }
}

bool UserMail::empty_trash()
{
    const std::string* trash = m_folders.trash();
    return trash && m_index.empty_folder(*trash);
}

std::vector<FolderCount> UserMail::folder_counts() const
{
    std::vector<FolderCount> counts;
    std::map<std::string, std::size_t, text::ILess> position;
    for (const std::string& name : m_folders.names()) {
        position.emplace(name, counts.size());
        counts.push_back(FolderCount{name, 0, 0});
    }
    // Neighbouring entries mostly share their folder, spelt the same: the
    // last lookup's answer saves the case-blind search for them.
    const IndexText* last_folder = nullptr;
    std::size_t last_position = 0;
    for (const auto& entry : m_index.entries()) {
        std::size_t at = 0;
        if (last_folder && entry->folder == *last_folder) {
            at = last_position;
        } else {
            auto found = position.find(entry->folder);
            if (found == position.end())
                continue;
            at = found->second;
            last_folder = &entry->folder;
            last_position = at;
        }
        FolderCount& count = counts[at];
        ++count.messages;
        if (!entry->has(flags::read))
            ++count.unread;
    }
    return counts;
}

bool UserMail::end_session()
{
    m_index.clear_new_flags();
    return mailboxes::prune_deleted_entries(m_index, m_mailboxes);
}

bool UserMail::rename_folder(const std::string& old_name, const std::string& new_name)
{
    if (!m_index.rename_folder(old_name, new_name))
        return false;
    if (m_filters.rename_folder(old_name, new_name))
        (void)m_filters.save();
    m_folders.build(m_fixed);
    return true;
}

bool UserMail::delete_folder(const std::string& name)
{
    auto listed = m_folders.find(name);
    if (!listed)
        return false;
    if (!m_index.empty_folder(*listed) || !m_index.save())
        return false;
    return remove_folder(*listed);
}

bool UserMail::remove_folder(const std::string& name)
{
    if (!m_folders.remove(name))
        return false;
    if (m_filters.remove_folder(name))
        (void)m_filters.save();
    m_folders.build(m_fixed);
    return true;
}

}  // namespace corvane::store
