// The steps of a request that no feature module carries out yet, in one
// place: each says so in a level-1 log line ("Not available yet: ...") and
// otherwise does nothing, so the flow of a request stays whole without it.
// A module that takes a step over replaces its class here in the
// composition root; when every step has its module, this folder goes.
//
// Nothing here changes the session or the user's mail; the tag values know
// no tag (the dispatcher then logs "Unable to expand").
#pragma once

#include "engine/core/dispatch/request_steps.h"

namespace corvane::not_available {

class ListOrder final : public dispatch::ListOrder {
public:
    void sort_current_folder(dispatch::RequestContext& request) override;
};

// Logs only for the views that have a handler of their own.
class ViewHandlers final : public dispatch::ViewHandlers {
public:
    void run(dispatch::RequestContext& request) override;
};

class ComposeWork final : public dispatch::ComposeWork {
public:
    void store_text(dispatch::RequestContext& request) override;
    void receive_upload(dispatch::RequestContext& request) override;
    void finish(dispatch::RequestContext& request) override;
    void open_draft(dispatch::RequestContext& request, store::MessageEntry& draft) override;
    void rescue_draft(dispatch::RequestContext& request, std::string_view user) override;
};

class ReadConfirmation final : public dispatch::ReadConfirmation {
public:
    void after_response(dispatch::RequestContext& request) override;
};

class NewUserHandler final : public dispatch::NewUserHandler {
public:
    void run(dispatch::RequestContext& request) override;
};

class TagValues final : public dispatch::TagValues {
public:
    bool expand(std::string_view tag, dispatch::RequestContext& request, cgi::OutputStream& out) override;
};

}  // namespace corvane::not_available
