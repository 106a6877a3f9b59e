// The compose pages: the handler of the views Compose, Compose-Advanced,
// Compose-Attach and Compose-SpellCheck, and the compose steps of a
// request (keeping the posted text, receiving an upload, preparing the
// page, opening a draft, rescuing the text of an expired session).
//
// Buttons, the first one present wins: Cancel (back, nothing kept); New,
// Reply, ReplyAll, Forward (a compose from the current message); then the
// form: Finished (kept, back), Advanced/Attach/SpellCheck (the page),
// SendNow (built, sent, a copy in Sent, the draft it came from deleted,
// the original marked replied or forwarded), SendLater (stored in Drafts),
// ToAddr/CCAddr/BCCAddr (the address book picks recipients), Remove (an
// attachment of the compose directory, by plain name only).
//
// Beyond the text: a SourceMessage, ReplyMessage or ForwardMessage field
// only ever acts on an entry of the user's own index, and SourceMessage
// deletes only a draft; the field a Header names is one of To, CC and BCC;
// a draft that cannot be stored keeps the compose and says so; an upload
// over [General] MaxUploadSize (kilobytes, default 65536) is refused before
// a byte of it is read.
//
// What it does not do: the files and the message format (compose_work.h,
// message_builder.h), SMTP (sending.h), spelling (the spelling module).
#pragma once

#include <string_view>

#include "engine/core/dispatch/request_steps.h"

namespace corvane::compose {

class ComposeViews final : public dispatch::ViewHandlers, public dispatch::ComposeWork {
public:
    void run(dispatch::RequestContext& request) override;

    void store_text(dispatch::RequestContext& request) override;
    void receive_upload(dispatch::RequestContext& request) override;
    void finish(dispatch::RequestContext& request) override;
    void open_draft(dispatch::RequestContext& request, store::MessageEntry& draft) override;
    void rescue_draft(dispatch::RequestContext& request, std::string_view user) override;
};

}  // namespace corvane::compose
