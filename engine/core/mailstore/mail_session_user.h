// The user of a session with the mail store: the account's user record
// (dispatch::AccountSessionUser) whose store parts do the work on the mail
// that the end of a session asks for, and the session's current message.
//
// The end of a session empties the Trash when asked to, takes the new flag
// off every message, drops the entries deleted here that no server has to
// delete, hands the remaining ones to the server deletion and writes the
// index when it changed. Server deletion is a POP3 session per mailbox;
// ServerDeletion is where it plugs in, and its default only says in the log
// that it is not there.
//
// Everything here runs under the session's request lock.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "engine/core/dispatch/engine_accounts.h"
#include "engine/core/mailstore/store_parts.h"

namespace corvane::mailstore {

// Deletes the messages that wait for deletion on a mailbox's server.
class ServerDeletion {
public:
    virtual ~ServerDeletion() = default;
    virtual void delete_waiting(store::UserMail& store, const mailboxes::MailboxRecord& mailbox, log::Logger& log);
};

class MailSessionUser final : public dispatch::AccountSessionUser {
public:
    MailSessionUser(std::unique_ptr<accounts::UserRecord> record, std::shared_ptr<ServerDeletion> deletion);

    // Null when the record has no store parts.
    StoreParts* parts() { return store_parts(record()); }
    store::UserMail* store();

    void empty_trash_folder(log::Logger& log) override;
    void clear_new_flags() override;
    bool prune_entries_without_folder() override;
    void delete_on_servers(log::Logger& log) override;
    void save_index(log::Logger& log) override;

    // The message the Message and Attachment views work on, by number; an
    // entry that has gone (or lost its folder) is no current message.
    store::MessageEntry* current_message();
    void set_current_message(std::optional<std::uint32_t> number) { m_current = number; }

private:
    std::shared_ptr<ServerDeletion> m_deletion;
    std::optional<std::uint32_t> m_current;
};

// The entry of that number that the user can see (it has a folder), or null.
store::MessageEntry* visible_entry(store::MessageIndex& index, std::uint32_t number);

}  // namespace corvane::mailstore
