#include "engine/features/not_available/not_available.h"

#include <string>

#include "common/log/log_file.h"
#include "engine/core/dispatch/request_context.h"
#include "engine/core/dispatch/views.h"

namespace corvane::not_available {

namespace {

void say(log::Logger& log, const char* step)
{
    log.line(log::Level::detail, "Not available yet: %s", step);
}

void say(dispatch::RequestContext& request, const char* step)
{
    say(request.log(), step);
}

}  // namespace

void ListOrder::sort_current_folder(dispatch::RequestContext& request)
{
    say(request, "message list order");
}

void ViewHandlers::run(dispatch::RequestContext& request)
{
    using namespace dispatch;
    int view = request.view();
    bool has_handler = (view >= view_list && view <= view_compose_spell_check) ||
                       (view >= view_options_prefs && view <= view_addr_book);
    if (!has_handler)
        return;
    std::string step = std::string(view_name(view)) + " view handler";
    say(request, step.c_str());
}

void ComposeWork::store_text(dispatch::RequestContext& request)
{
    say(request, "compose text");
}

void ComposeWork::receive_upload(dispatch::RequestContext& request)
{
    say(request, "uploads");
}

void ComposeWork::finish(dispatch::RequestContext& request)
{
    say(request, "compose finishing");
}

void ComposeWork::open_draft(dispatch::RequestContext& request, store::MessageEntry&)
{
    say(request, "opening drafts");
}

void ComposeWork::rescue_draft(dispatch::RequestContext& request, std::string_view)
{
    say(request, "draft rescue");
}

void ReadConfirmation::after_response(dispatch::RequestContext& request)
{
    say(request, "read confirmation");
}

void NewUserHandler::run(dispatch::RequestContext& request)
{
    say(request, "account creation");
}

bool TagValues::expand(std::string_view, dispatch::RequestContext&, cgi::OutputStream&)
{
    return false;
}

}  // namespace corvane::not_available
