// Deleting on the server the messages a user deleted here: the entries of
// the message index that lost their folder but still wait for their
// mailbox's server to delete them (Delete mode 1 or 2).
//
// The user record asks for it at the end of a session, and the List view's
// EmptyTrash asks for it too. A POP3 session per mailbox does the work; this
// interface is where that module plugs in, so the accounts need not know it.
#pragma once

namespace corvane::log {
class Logger;
}
namespace corvane::store {
class UserMail;
}
namespace corvane::mailboxes {
struct MailboxRecord;
}

namespace corvane::accounts {

class ServerDeletion {
public:
    virtual ~ServerDeletion() = default;
    // Deletes the messages of mail that wait for deletion on the server of
    // mailbox; runs under the session's request lock.
    virtual void delete_waiting(store::UserMail& mail, const mailboxes::MailboxRecord& mailbox, log::Logger& log) = 0;
};

}  // namespace corvane::accounts
