// The mail check: what the engine does with the user's POP3 mailboxes
// around a request.
//
// - After the response of a List request: every mailbox record in order
//   gets a POP3 session that fetches its new mail; with EmptyTrash, the
//   mailboxes that delete on the server get one that deletes what the user
//   threw away instead. Then the session's last-check time is now and its
//   just-retrieved flag is set.
// - After the response of a Message request: the current message, which
//   arrived as header only, is fetched whole (also fetch_current_message(),
//   for a view that needs it before it answers).
// - StatusCheck: every mailbox is checked, without messages for a page.
// - At the end of a session (ServerDeletion): deletion on the servers.
//
// Each check counts in the engine's status record (POP3 sessions, POP3
// errors) and the user's [Stats] (Received and, after a failure,
// RecvErrors; MessageCount and DiskSpace after a success). A failure shows
// language string 52 (logon refused), 53 (no connection) or 54 (anything
// else) with the mailbox name; a failed single fetch language string 46.
// While a POP3 session runs, its progress record is registered in the user
// session, where the page shown meanwhile reads it.
//
// What it does not do: decide whether a check is due or allowed (the views
// and the quota test do), or empty the Trash here (the List view does).
// Runs under the session's request lock, on the request's thread.
#pragma once

#include <string>

#include "engine/core/accounts/server_deletion.h"
#include "engine/core/accounts/user_record.h"
#include "engine/core/dispatch/request_steps.h"
#include "engine/transport/pop3/pop3_session.h"

namespace corvane::mail_check {

// The POP3 settings of the engine, with the user's way of storing mail.
pop3::Settings pop3_settings(const ini::Profile& settings, const accounts::UserRecord& user);

class MailCheck final : public dispatch::MailCheck {
public:
    void list_view(dispatch::RequestContext& request) override;
    void message_view(dispatch::RequestContext& request) override;
    void status_check(dispatch::RequestContext& request) override;
};

// Fetches the request's current message whole when it is not yet
// downloaded and its mailbox is one of the user's; true when it is here
// afterwards. Counts and shows failures as the Message view's check does.
bool fetch_current_message(dispatch::RequestContext& request);

class ServerDeletion final : public accounts::ServerDeletion {
public:
    // config_path: Corvane.ini, read when a deletion runs.
    explicit ServerDeletion(std::string config_path) : m_config_path(std::move(config_path)) {}
    void delete_waiting(store::UserMail& mail, const mailboxes::MailboxRecord& mailbox, log::Logger& log) override;

private:
    std::string m_config_path;
};

}  // namespace corvane::mail_check
