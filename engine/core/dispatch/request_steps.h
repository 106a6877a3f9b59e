// The steps of a request that other modules carry out: the work on the
// message index, the view handlers, composing, the mail check, read
// confirmations, account creation and the tag values beyond the page tags.
//
// The dispatcher calls each at its fixed place in the flow of a request;
// a module takes a step over by deriving from its class and handing its
// object to the dispatcher in LaterSteps (engine/library wires them). The
// classes here are the defaults: each step does nothing and says so in a
// level-1 log line ("Not available yet: ..."), with two exceptions that
// keep the flow sound without the module: a message number never names a
// message (there is no message index), and the mail check clears the
// session's retrieval-pending flag so that pages are not redirected for
// ever.
//
// Every call runs on the request's thread. Those made with a session run
// under its request lock, except where said otherwise.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::cgi {
class OutputStream;
}

namespace corvane::dispatch {

class RequestContext;

// Actions on the message index that several views share, the current
// message and folder, sorting and saving.
class MailboxWork {
public:
    virtual ~MailboxWork() = default;

    // Views Message and Attachment: the entry with this number becomes the
    // current message; false when there is none.
    virtual bool select_message(RequestContext& request, std::string_view number);
    // Whether the request has a current message (the Message view falls back
    // to the list without one).
    virtual bool has_current_message(RequestContext& request);
    // The user's current folder becomes the folder of that name.
    virtual void change_folder(RequestContext& request, std::string_view folder);
    // The current folder becomes the Inbox.
    virtual void select_inbox(RequestContext& request);
    // Marks every entry named by a Number field read or unread.
    virtual void mark(RequestContext& request, bool read);
    // Move (DestFolder) or Delete (to the Trash, or for good), of the
    // current message on the Message view, else of every Number entry.
    enum class Removal { move, remove };
    virtual void move(RequestContext& request, Removal kind);
    // Copy to DestFolder, of the current message or of every Number entry.
    virtual void copy(RequestContext& request);
    // The List view: the current folder's entries in the user's sort order.
    virtual void sort_current_folder(RequestContext& request);
    // Writes the message index when it changed.
    virtual void save_index(RequestContext& request);

    struct FolderCount {
        std::string name;
        std::int64_t messages = 0;
        std::int64_t unread = 0;
    };
    // The user's folders with their counts, for StatusCheck.
    virtual std::vector<FolderCount> folder_counts(RequestContext& request);
};

// The handler of the request's view (List, Message, Attachment, the
// compose views, the option pages). Runs after the common actions; may
// change the view and ask for a mail check (retrieval_requested).
class ViewHandlers {
public:
    virtual ~ViewHandlers() = default;
    virtual void run(RequestContext& request);
};

class ComposeWork {
public:
    virtual ~ComposeWork() = default;
    // A compose view posted a form with a Body field: keep the text.
    virtual void store_text(RequestContext& request);
    // A compose view posted a body that is not a plain form (uploads); the
    // body is still unread in the request's input stream.
    virtual void receive_upload(RequestContext& request);
    // After the handler, when the view is then a compose view.
    virtual void finish(RequestContext& request);
    // A compose page was posted into a session that had ended: save its
    // text as a draft of user. Runs without a session; the dispatcher has
    // made sure the request comes from that user's browser.
    virtual void rescue_draft(RequestContext& request, std::string_view user);
};

class MailCheck {
public:
    virtual ~MailCheck() = default;
    // After the response of a List request: checks (or, with EmptyTrash,
    // empties on the servers) every mailbox of the user.
    virtual void list_view(RequestContext& request);
    // After the response of a Message request: fetches the current message.
    virtual void message_view(RequestContext& request);
    // StatusCheck: checks every mailbox (quotas permitting; no messages set).
    virtual void status_check(RequestContext& request);
};

class ReadConfirmation {
public:
    virtual ~ReadConfirmation() = default;
    // After the response of a Message request.
    virtual void after_response(RequestContext& request);
};

class NewUserHandler {
public:
    virtual ~NewUserHandler() = default;
    // The NewUser view, without a session. Note: the account-creation
    // password guards only the NewAccount button; this handler is reached
    // without it and must check it again (account_creation_allowed())
    // before it creates anything. It logs the new user on with
    // RequestContext::start_browser_session(), which sets the cookies.
    virtual void run(RequestContext& request);
};

// Tag values with a session beyond those of the page frame (message lists,
// folders, options, ...). False when the tag is not one of them.
class TagValues {
public:
    virtual ~TagValues() = default;
    virtual bool expand(std::string_view tag, RequestContext& request, cgi::OutputStream& out);
};

struct LaterSteps {
    std::shared_ptr<MailboxWork> mailbox = std::make_shared<MailboxWork>();
    std::shared_ptr<ViewHandlers> views = std::make_shared<ViewHandlers>();
    std::shared_ptr<ComposeWork> compose = std::make_shared<ComposeWork>();
    std::shared_ptr<MailCheck> mail_check = std::make_shared<MailCheck>();
    std::shared_ptr<ReadConfirmation> read_confirmation = std::make_shared<ReadConfirmation>();
    std::shared_ptr<NewUserHandler> new_user = std::make_shared<NewUserHandler>();
    std::shared_ptr<TagValues> tags = std::make_shared<TagValues>();
};

}  // namespace corvane::dispatch
