#include "engine/features/read_confirmation/read_confirmation.h"

#include "common/ini/profile.h"
#include "common/platform/clock.h"
#include "common/platform/files.h"
#include "common/platform/time_format.h"
#include "common/text/strings.h"
#include "engine/core/accounts/user_record.h"
#include "engine/core/dispatch/request_context.h"
#include "engine/core/lifecycle/engine.h"
#include "engine/core/sessions/session.h"
#include "engine/features/compose/compose_work.h"
#include "engine/features/compose/header_writer.h"
#include "engine/features/compose/message_builder.h"
#include "engine/features/compose/sending.h"
#include "engine/store/addresses/address_helpers.h"
#include "engine/store/message_index/message_index.h"
#include "engine/store/mime/header_list.h"

namespace corvane::read_confirmation {
namespace {

constexpr std::string_view kBoundary = "---PART-BREAK";
constexpr std::size_t kMaxRequester = 259;

// One header line of ours in CR LF form.
void header(std::string& out, std::string_view name, std::string_view value, compose::HeaderKind kind)
{
    std::string line;
    compose::write_header(line, name, value, kind, compose::WordCharset{});
    out += text::replace_all(line, "\n", "\r\n");
}

}  // namespace

std::string notice_text(const Notice& n)
{
    std::string out = "Date: " + compose::format_mail_date(n.now) + "\r\n";
    header(out, "From", n.from, compose::HeaderKind::address);
    header(out, "To", "<" + n.requester + ">", compose::HeaderKind::address);
    out += "MIME-Version: 1.0\r\n";
    out += "Content-Type: multipart/report; boundary=\"" + std::string(kBoundary) + "\";\r\n";
    out += "\treport-type=disposition-notification\r\n";
    header(out, "Subject", "Notification for \"" + n.subject + "\"", compose::HeaderKind::text);
    out += "\r\n";

    const std::string date = platform::format_local(n.message_date, "%d %b %Y %H:%M:%S");
    const std::string text = "Your message of " + date + " regarding \"" + compose::clean_header_value(n.subject) +
                             "\" has been displayed by " + compose::clean_header_value(n.display_name) + ".";
    out += "--" + std::string(kBoundary) + "\r\n";
    if (compose::is_8bit(text))
        out += "Content-Type: text/plain; charset=\"UTF-8\"\r\nContent-Transfer-Encoding: 8bit\r\n";
    else
        out += "Content-Type: text/plain\r\n";
    out += "\r\n" + text + "\r\n\r\n";

    out += "--" + std::string(kBoundary) + "\r\nContent-Type: message/disposition-notification\r\n\r\n";
    out += "Final-Recipient: rfc822; <" + compose::clean_header_value(n.own_address) + ">\r\n";
    if (!n.original_recipient.empty())
        out += "Original-Recipient: rfc822; " + compose::clean_header_value(n.original_recipient) + "\r\n";
    if (!n.message_id.empty())
        out += "Original-Message-ID: " + compose::clean_header_value(n.message_id) + "\r\n";
    out += "Disposition: manual-action/MDN-sent-automatically; displayed\r\n";
    out += "\r\n--" + std::string(kBoundary) + "--\r\n";
    return out;
}

void ReadConfirmations::after_response(dispatch::RequestContext& request)
{
    sessions::Session* session = request.session();
    accounts::UserRecord* user = request.user();
    if (!session || !user || !session->current_message)
        return;
    store::MessageIndex& index = user->mail().index();
    store::MessageEntry* entry = index.find(*session->current_message);
    if (!entry || !entry->has(store::flags::confirm_requested) || !entry->has(store::flags::downloaded))
        return;
    // Asked once, answered at most once, whatever happens below.
    entry->flags &= ~store::flags::confirm_requested;
    index.mark_dirty();
    if (!request.settings().yes_no("General", "SendReadConfirmations", false))
        return;

    const mime::HeaderList original = mime::read_header(index.message_path(*entry));
    std::string asked = original.value("Disposition-Notification-To");
    if (asked.empty())
        asked = original.value("X-Confirm-Reading-To");
    const std::string requester = addresses::bare_address(text::cut(asked, kMaxRequester));
    if (requester.empty())
        return;

    mailboxes::MailboxList& mailboxes = user->mail().mailboxes();
    const mailboxes::MailboxRecord* own = mailboxes.find(entry->mailbox);
    const mailboxes::MailboxRecord identity = (own && !own->email.empty()) ? *own : mailboxes.default_mailbox();
    Notice notice;
    notice.from = compose::sender_identity(identity);
    notice.own_address = identity.email;
    notice.display_name = identity.full_name.empty() ? identity.email : identity.full_name;
    notice.requester = requester;
    notice.subject = entry->subject;
    notice.message_date = static_cast<std::time_t>(entry->date);
    notice.original_recipient = original.value("Original-Recipient");
    notice.message_id = original.value("Message-ID");
    notice.now = platform::now();

    request.log().line(log::Level::routine, "Sending read confirmation to %s", requester.c_str());
    const compose::ComposeDirectory dir(session->temp_dir());
    (void)dir.ensure();
    const std::string path = dir.file(".read.conf");
    if (!platform::write_file_atomic(path, notice_text(notice), 0600, platform::Durability::none))
        return;
    compose::MessageFields fields;
    fields.from = notice.from;
    fields.to = requester;
    const compose::SendOutcome outcome =
        compose::send_message(compose::smtp_settings(request.settings(), request.engine().codec(), request.log()),
                              fields, path, request.log());
    request.engine().count(lifecycle::StatusField::smtp_sessions);
    if (!outcome.sent)
        request.engine().count(lifecycle::StatusField::smtp_errors);
    (void)platform::remove_file(path);
}

}  // namespace corvane::read_confirmation
