#include "common/platform/clock.h"
#include "common/text/strings.h"
#include "engine/core/accounts/user_record.h"
#include "engine/core/dispatch/request_context.h"
#include "engine/features/views/mailbox_views.h"

namespace corvane::views {

void MailboxViews::list(dispatch::RequestContext& request)
{
    accounts::UserRecord* user = request.user();
    sessions::Session* session = request.session();
    if (!user || !session)
        return;
    const cgi::FieldTable& fields = request.fields();

    // A new sort order is the user's from now on.
    const std::string& sort = fields.value("Sort");
    if (!sort.empty() && !text::iequals(sort, user->settings().sort_order)) {
        user->settings().sort_order = text::bounded(text::without_controls(sort), accounts::max_sort_order);
        if (!user->save())
            request.log().line(log::Level::error, "Could not save the sort order of %s", user->name().c_str());
    }

    if (fields.present("Reload")) {
        session->last_check = 0;
    } else if (fields.present("EmptyTrash")) {
        store::UserMail& mail = user->mail();
        if (!mail.empty_trash())
            request.log().line(log::Level::error, "Could not delete every message of the Trash of %s",
                               user->name().c_str());
        // What is left waits for deletion on its server, after the response.
        if (mailboxes::prune_deleted_entries(mail.index(), mail.mailboxes()))
            request_retrieval(request, true);
    }

    // A user without mailboxes has nothing to fetch: no waiting page for it.
    bool has_mailboxes = !user->mail().mailboxes().records().empty();
    std::time_t interval = static_cast<std::time_t>(std::max(1, user->settings().list_refresh_time)) * 60;
    if (has_mailboxes && !session->just_retrieved.load() && session->last_check + interval < platform::now()) {
        request_retrieval(request, true);
        if (!quota_allows(request))
            request_retrieval(request, false);
    }
}

}  // namespace corvane::views
