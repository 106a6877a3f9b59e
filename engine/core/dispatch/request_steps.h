// The steps of a request that feature modules (engine/features) carry out:
// the actions on the message index, the order of the message list, the view
// handlers, composing, the mail check, read confirmations, account creation
// and the tag values beyond the page frame.
//
// The dispatcher calls each at its fixed place in the flow of a request
// (dispatcher.h). Every interface here is implemented by exactly one module;
// a step no module carries out yet is implemented by
// engine/features/not_available, which says so in a level-1 log line
// ("Not available yet: ..."). The composition root (engine/library) hands
// the implementations to the dispatcher in RequestSteps.
//
// What a step can reach, all through the RequestContext it is given: the
// form fields, the streams, the request's log and language, the view; the
// session (session(): retrieval_pending, just_retrieved, last_check, the
// current message) and its user (user(): the accounts::UserRecord with the
// settings and the mail, store::UserMail); the template store (templates())
// and the running engine (engine(): settings, MIME types, sessions).
//
// Two steps are not the dispatcher's, because the session's end and start
// call them: accounts::ServerDeletion (deleting messages on their servers)
// and sessions::WelcomeMessage.
//
// Every call runs on the request's thread. Those made with a session run
// under its request lock, except where said otherwise.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::cgi {
class OutputStream;
}
namespace corvane::store {
struct MessageEntry;
}

namespace corvane::dispatch {

class RequestContext;

// Actions on the message index that several views share: the current
// message and folder, mark, move, delete, copy, saving.
class MailboxActions {
public:
    virtual ~MailboxActions() = default;

    // Views Message and Attachment: the entry with this number becomes the
    // current message; false when there is none.
    virtual bool select_message(RequestContext& request, std::string_view number) = 0;
    // Whether the request has a current message (the Message view falls back
    // to the list without one).
    virtual bool has_current_message(RequestContext& request) = 0;
    // The user's current folder becomes the folder of that name.
    virtual void change_folder(RequestContext& request, std::string_view folder) = 0;
    // The current folder becomes the Inbox.
    virtual void select_inbox(RequestContext& request) = 0;
    // Marks every entry named by a Number field read or unread.
    virtual void mark(RequestContext& request, bool read) = 0;
    // Move (DestFolder) or Delete (to the Trash, or for good), of the
    // current message on the Message view, else of every Number entry.
    enum class Removal { move, remove };
    virtual void move(RequestContext& request, Removal kind) = 0;
    // Copy to DestFolder, of the current message or of every Number entry.
    virtual void copy(RequestContext& request) = 0;
    // Writes the message index when it changed.
    virtual void save_index(RequestContext& request) = 0;

    struct FolderCount {
        std::string name;
        std::int64_t messages = 0;
        std::int64_t unread = 0;
    };
    // The user's folders with their counts, for StatusCheck.
    virtual std::vector<FolderCount> folder_counts(RequestContext& request) = 0;
};

// The List view: the current folder's entries in the user's sort order,
// just before the page is written.
class ListOrder {
public:
    virtual ~ListOrder() = default;
    virtual void sort_current_folder(RequestContext& request) = 0;
};

// The handler of the request's view (List, Message, Attachment, the
// compose views, the option pages). Runs after the common actions; may
// change the view and ask for a mail check (retrieval_requested).
class ViewHandlers {
public:
    virtual ~ViewHandlers() = default;
    virtual void run(RequestContext& request) = 0;
};

class ComposeWork {
public:
    virtual ~ComposeWork() = default;
    // A compose view posted a form with a Body field: keep the text.
    virtual void store_text(RequestContext& request) = 0;
    // A compose view posted a body that is not a plain form (uploads); the
    // body is still unread in the request's input stream.
    virtual void receive_upload(RequestContext& request) = 0;
    // After the handler, when the view is then a compose view.
    virtual void finish(RequestContext& request) = 0;
    // The Message view opened a draft: its headers and body become the
    // compose files (the view is already Compose or Compose-Advanced).
    virtual void open_draft(RequestContext& request, store::MessageEntry& draft) = 0;
    // A compose page was posted into a session that had ended: save its
    // text as a draft of user. Runs without a session; the dispatcher has
    // made sure the request comes from that user's browser.
    virtual void rescue_draft(RequestContext& request, std::string_view user) = 0;
};

// The mail check after the response, while the session's retrieval is
// pending (the dispatcher clears the flag afterwards, whatever happened).
class MailCheck {
public:
    virtual ~MailCheck() = default;
    // After the response of a List request: checks (or, with EmptyTrash,
    // empties on the servers) every mailbox of the user.
    virtual void list_view(RequestContext& request) = 0;
    // After the response of a Message request: fetches the current message.
    virtual void message_view(RequestContext& request) = 0;
    // StatusCheck: checks every mailbox (quotas permitting; no messages set).
    virtual void status_check(RequestContext& request) = 0;
};

class ReadConfirmation {
public:
    virtual ~ReadConfirmation() = default;
    // After the response of a Message request.
    virtual void after_response(RequestContext& request) = 0;
};

class NewUserHandler {
public:
    virtual ~NewUserHandler() = default;
    // The NewUser view, without a session. Note: the account-creation
    // password guards only the NewAccount button; this handler is reached
    // without it and must check it again (account_creation_allowed())
    // before it creates anything. It logs the new user on with
    // RequestContext::start_browser_session(), which sets the cookies.
    virtual void run(RequestContext& request) = 0;
};

// Tag values with a session beyond those of the page frame (message lists,
// folders, options, ...). False when the tag is not one of them.
class TagValues {
public:
    virtual ~TagValues() = default;
    virtual bool expand(std::string_view tag, RequestContext& request, cgi::OutputStream& out) = 0;
};

// One implementation of each step; they outlive the dispatcher.
struct RequestSteps {
    MailboxActions& mailbox;
    ListOrder& list_order;
    ViewHandlers& views;
    ComposeWork& compose;
    MailCheck& mail_check;
    ReadConfirmation& read_confirmation;
    NewUserHandler& new_user;
    TagValues& tags;
};

}  // namespace corvane::dispatch
