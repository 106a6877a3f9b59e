// The message store as a part of the user record: the user's message
// index, mailbox records, filters and folder list (store::UserMail), loaded
// and saved at the points the record gives its parts.
//
// Loading follows the record: before the settings are read, the message
// index and the mailbox records; after them, the filters and the folder
// list, whose four fixed folders are named in the user's language. Saving
// the record saves the filters. The totals for [Stats] are the number of
// index entries and the bytes of the downloaded ones.
//
// What it does not do: no address book, no POP3, no pages. It knows the
// engine only through StoreContext, so tests and tools can build one
// without a running engine.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/codec/password_codec.h"
#include "common/ini/profile.h"
#include "engine/core/accounts/user_record.h"
#include "engine/store/receiver/message_receiver.h"
#include "engine/store/user_mail/user_mail.h"

namespace corvane::mailstore {

// What the store of a user record needs from the engine.
struct StoreContext {
    const ini::Profile* settings = nullptr;  // Corvane.ini; required
    codec::PasswordCodec* codec = nullptr;   // required
    // The names of the four fixed folders (Inbox, drafts, sent mail, Trash)
    // in a language; fewer than four leave the folder list empty.
    std::function<std::vector<std::string>(std::string_view language)> fixed_folders;
    // The engine's MIME type table, looked up when a receiver needs it (it
    // lives only while the engine runs); may return null.
    std::function<const mime_types::MimeTypeTable*()> mime_types;
};

class StoreParts final : public accounts::UserParts {
public:
    explicit StoreParts(StoreContext context);

    void load_before_settings(accounts::UserRecord& user) override;
    void load_after_settings(accounts::UserRecord& user) override;
    bool save(accounts::UserRecord& user) override;
    std::optional<accounts::MailTotals> mail_totals() const override;

    // Null until load_before_settings() ran.
    store::UserMail* store() { return m_store.get(); }
    const store::UserMail* store() const { return m_store.get(); }
    // The default mailbox record as loading chose it.
    const mailboxes::MailboxRecord& default_mailbox() const { return m_default_mailbox; }

    // How a receiver stores and scans this user's mail: the engine's MIME
    // type table and [PopClient] UseReceivedDate as they are now.
    receiver::ReceiverOptions receiver_options() const;
    // The part list of an entry, loaded once (see receiver::part_list).
    const store::PartList& part_list(store::MessageEntry& entry);

private:
    StoreContext m_context;
    std::unique_ptr<store::UserMail> m_store;
    mailboxes::MailboxRecord m_default_mailbox;
};

// The store parts of a record, or null when it has none.
StoreParts* store_parts(accounts::UserRecord& user);

// A parts factory for accounts::AccountsContext.
accounts::UserPartsFactory store_parts_factory(StoreContext context);

}  // namespace corvane::mailstore
