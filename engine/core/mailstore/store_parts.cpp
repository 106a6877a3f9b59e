#include "engine/core/mailstore/store_parts.h"

namespace corvane::mailstore {

StoreParts::StoreParts(StoreContext context) : m_context(std::move(context)) {}

void StoreParts::load_before_settings(accounts::UserRecord& user)
{
    m_store = std::make_unique<store::UserMail>(user.directory());
    if (m_context.settings && m_context.codec)
        m_default_mailbox = m_store->load_mail(*m_context.settings, *m_context.codec);
}

void StoreParts::load_after_settings(accounts::UserRecord& user)
{
    if (!m_store)
        return;
    std::vector<std::string> fixed;
    if (m_context.fixed_folders)
        fixed = m_context.fixed_folders(user.settings().language);
    m_store->load_folders(fixed);
}

bool StoreParts::save(accounts::UserRecord&)
{
    return !m_store || m_store->filters().save();
}

std::optional<accounts::MailTotals> StoreParts::mail_totals() const
{
    if (!m_store)
        return std::nullopt;
    accounts::MailTotals totals;
    const auto& entries = m_store->index().entries();
    totals.message_count = static_cast<std::int64_t>(entries.size());
    for (const auto& entry : entries) {
        if (entry->has(store::flags::downloaded))
            totals.downloaded_bytes += entry->size;
    }
    return totals;
}

receiver::ReceiverOptions StoreParts::receiver_options() const
{
    receiver::ReceiverOptions options;
    if (m_context.mime_types)
        options.types = m_context.mime_types();
    if (m_context.settings)
        options.use_received_date = m_context.settings->yes_no("PopClient", "UseReceivedDate", false);
    return options;
}

const store::PartList& StoreParts::part_list(store::MessageEntry& entry)
{
    return receiver::part_list(m_store->index(), entry, receiver_options());
}

StoreParts* store_parts(accounts::UserRecord& user)
{
    return dynamic_cast<StoreParts*>(user.parts());
}

accounts::UserPartsFactory store_parts_factory(StoreContext context)
{
    return [context = std::move(context)]() -> std::unique_ptr<accounts::UserParts> {
        return std::make_unique<StoreParts>(context);
    };
}

}  // namespace corvane::mailstore
