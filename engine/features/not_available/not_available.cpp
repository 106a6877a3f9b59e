#include "engine/core/dispatch/later_steps.h"

#include "engine/core/dispatch/request_context.h"
#include "engine/core/dispatch/views.h"

namespace corvane::dispatch {

namespace {

void not_available(RequestContext& request, const char* step)
{
    request.log().line(log::Level::detail, "Not available yet: %s", step);
}

}  // namespace

bool MailboxWork::select_message(RequestContext& request, std::string_view)
{
    not_available(request, "message lookup");
    return false;
}

bool MailboxWork::has_current_message(RequestContext&)
{
    return false;
}

void MailboxWork::change_folder(RequestContext& request, std::string_view)
{
    not_available(request, "folder change");
}

void MailboxWork::select_inbox(RequestContext& request)
{
    not_available(request, "folder change to the Inbox");
}

void MailboxWork::mark(RequestContext& request, bool read)
{
    not_available(request, read ? "mark read" : "mark unread");
}

void MailboxWork::move(RequestContext& request, Removal kind)
{
    not_available(request, kind == Removal::move ? "move" : "delete");
}

void MailboxWork::copy(RequestContext& request)
{
    not_available(request, "copy");
}

void MailboxWork::sort_current_folder(RequestContext& request)
{
    not_available(request, "message list order");
}

void MailboxWork::save_index(RequestContext&)
{
    // Without a message index nothing ever changes.
}

std::vector<MailboxWork::FolderCount> MailboxWork::folder_counts(RequestContext& request)
{
    not_available(request, "folder counts");
    return {};
}

void ViewHandlers::run(RequestContext& request)
{
    int view = request.view();
    bool has_handler = (view >= view_list && view <= view_compose_spell_check) ||
                       (view >= view_options_prefs && view <= view_addr_book);
    if (!has_handler)
        return;
    std::string step = std::string(view_name(view)) + " view handler";
    not_available(request, step.c_str());
}

void ComposeWork::store_text(RequestContext& request)
{
    not_available(request, "compose text");
}

void ComposeWork::receive_upload(RequestContext& request)
{
    not_available(request, "uploads");
}

void ComposeWork::finish(RequestContext& request)
{
    not_available(request, "compose finishing");
}

void ComposeWork::rescue_draft(RequestContext& request, std::string_view)
{
    not_available(request, "draft rescue");
}

void MailCheck::list_view(RequestContext& request)
{
    not_available(request, "mail check");
}

void MailCheck::message_view(RequestContext& request)
{
    not_available(request, "message fetch");
}

void MailCheck::status_check(RequestContext& request)
{
    not_available(request, "mail check");
}

void ReadConfirmation::after_response(RequestContext& request)
{
    not_available(request, "read confirmation");
}

void NewUserHandler::run(RequestContext& request)
{
    not_available(request, "account creation");
}

bool TagValues::expand(std::string_view, RequestContext&, cgi::OutputStream&)
{
    return false;
}

}  // namespace corvane::dispatch
