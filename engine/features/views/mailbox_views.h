// The mailbox views and the view handler entry.
//
// The entry runs the handler of the request's view after the dispatcher's
// common actions: List, Message and Attachment here; the compose views,
// the option pages and the address book are handed to their own modules,
// which the composition root passes in. The three views here decide
// whether mail must be fetched first (and ask the dispatcher for a mail
// check after the response), keep the user within the administrator's
// quotas, apply the list options of the request, and write the outputs that
// bypass the templates: the printable message, the message source and the
// attachment download.
//
// Downloads are answered defensively: the decoded part is streamed from
// the message file, browsers are told not to guess its type, and every type
// that a browser could run (HTML, SVG, XML and anything not known to be
// inert) is sent as a download under a file name that can carry no header
// syntax. A request for a part that does not exist gets an empty text
// response rather than none.
//
// What it does not do: the actions on the message index (mailbox_actions),
// the order of the list (list_order), tag values (tags), the mail check
// itself (mail_check; a download of a message not yet here fetches it
// through mail_check::fetch_current_message first).
#pragma once

#include <string>
#include <string_view>

#include "engine/core/dispatch/request_steps.h"

namespace corvane::accounts {
class UserRecord;
}
namespace corvane::ini {
class Profile;
}
namespace corvane::store {
struct MessageEntry;
}

namespace corvane::views {

// The handlers of the other views, and the steps the views call.
struct Collaborators {
    dispatch::ViewHandlers& compose;       // Compose ... Compose-SpellCheck
    dispatch::ViewHandlers& options;       // Options-Prefs ... Options-Filters
    dispatch::ViewHandlers& folders;       // Folders
    dispatch::ViewHandlers& address_book;  // AddrBook
    dispatch::ComposeWork& compose_work;   // opening a draft
    dispatch::TagValues& tags;             // the printable page's values
};

// [UserLimits]: whether the user may receive more mail.
enum class Quota { within, message_limit, size_limit };
Quota check_quota(const ini::Profile& settings, const accounts::UserRecord& user);
// The check as the views make it: a limit sets its status message
// (language string 36 or 35). True when within the limits.
bool quota_allows(dispatch::RequestContext& request);

// The Content-Disposition line (with CR LF) of a part sent for download,
// or "" when the type may be shown by the browser. Exposed for tests.
std::string disposition_line(std::string_view content_type, std::string_view file_name);
// The content type as it may stand in a header: a type/subtype token in
// lower case, "application/octet-stream" for anything else.
std::string safe_content_type(std::string_view content_type);

class MailboxViews final : public dispatch::ViewHandlers {
public:
    explicit MailboxViews(Collaborators collaborators) : m_with(collaborators) {}

    void run(dispatch::RequestContext& request) override;

private:
    void list(dispatch::RequestContext& request);
    void message(dispatch::RequestContext& request);
    void attachment(dispatch::RequestContext& request);
    void print(dispatch::RequestContext& request);

    Collaborators m_with;
};

// The sender of entry into the user's address book, unless it is there.
void add_sender_to_address_book(dispatch::RequestContext& request, const store::MessageEntry& entry);

// Asks for a mail check after the response (the dispatcher then answers
// with the redirect page), or takes that back.
void request_retrieval(dispatch::RequestContext& request, bool on);

}  // namespace corvane::views
