#include "engine/features/views/mailbox_views.h"

#include "engine/core/dispatch/request_context.h"
#include "engine/core/dispatch/views.h"

namespace corvane::views {

void request_retrieval(dispatch::RequestContext& request, bool on)
{
    request.retrieval_requested = on;
    if (sessions::Session* session = request.session())
        session->retrieval_pending.store(on);
}

void MailboxViews::run(dispatch::RequestContext& request)
{
    using namespace dispatch;
    switch (request.view()) {
    case view_list:
        list(request);
        return;
    case view_message:
        message(request);
        return;
    case view_attachment:
        attachment(request);
        return;
    case view_compose:
    case view_compose_advanced:
    case view_compose_attach:
    case view_compose_spell_check:
        m_with.compose.run(request);
        return;
    case view_options_prefs:
    case view_options_hosts:
    case view_options_filters:
        m_with.options.run(request);
        return;
    case view_folders:
        m_with.folders.run(request);
        return;
    case view_addr_book:
        m_with.address_book.run(request);
        return;
    default:
        return;
    }
}

}  // namespace corvane::views
