#include "engine/core/mailstore/mail_session_user.h"

#include "common/log/log_file.h"

namespace corvane::mailstore {

void ServerDeletion::delete_waiting(store::UserMail&, const mailboxes::MailboxRecord& mailbox, log::Logger& log)
{
    log.line(log::Level::detail, "Not available yet: deleting the waiting messages of mailbox %s on its server",
             mailbox.mailbox.c_str());
}

MailSessionUser::MailSessionUser(std::unique_ptr<accounts::UserRecord> record, std::shared_ptr<ServerDeletion> deletion)
    : AccountSessionUser(std::move(record)), m_deletion(std::move(deletion))
{
    if (!m_deletion)
        m_deletion = std::make_shared<ServerDeletion>();
}

store::UserMail* MailSessionUser::store()
{
    StoreParts* p = parts();
    return p ? p->store() : nullptr;
}

void MailSessionUser::empty_trash_folder(log::Logger& log)
{
    store::UserMail* s = store();
    if (!s)
        return;
    const std::string* trash = s->folders().trash();
    if (!trash)
        return;
    if (!s->index().empty_folder(*trash))
        log.line(log::Level::error, "Could not delete every message of the folder %s of %s", trash->c_str(),
                 name().c_str());
}

void MailSessionUser::clear_new_flags()
{
    if (store::UserMail* s = store())
        s->index().clear_new_flags();
}

bool MailSessionUser::prune_entries_without_folder()
{
    store::UserMail* s = store();
    return s && mailboxes::prune_deleted_entries(s->index(), s->mailboxes());
}

void MailSessionUser::delete_on_servers(log::Logger& log)
{
    store::UserMail* s = store();
    if (!s)
        return;
    for (const mailboxes::MailboxRecord& mailbox : s->mailboxes().records()) {
        if (mailbox.delete_mode != 0)
            m_deletion->delete_waiting(*s, mailbox, log);
    }
}

void MailSessionUser::save_index(log::Logger& log)
{
    store::UserMail* s = store();
    if (!s || !s->index().dirty())
        return;
    if (!s->index().save())
        log.line(log::Level::error, "Could not write the message index of %s", name().c_str());
}

store::MessageEntry* MailSessionUser::current_message()
{
    store::UserMail* s = store();
    if (!s || !m_current)
        return nullptr;
    return visible_entry(s->index(), *m_current);
}

store::MessageEntry* visible_entry(store::MessageIndex& index, std::uint32_t number)
{
    store::MessageEntry* entry = index.find(number);
    return entry && !entry->folder.empty() ? entry : nullptr;
}

}  // namespace corvane::mailstore
