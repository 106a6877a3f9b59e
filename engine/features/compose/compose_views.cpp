#include "engine/features/compose/compose_views.h"

#include "common/ini/profile.h"
#include "common/platform/clock.h"
#include "common/platform/files.h"
#include "common/text/strings.h"
#include "engine/core/accounts/user_record.h"
#include "engine/core/dispatch/request_context.h"
#include "engine/core/dispatch/views.h"
#include "engine/core/lifecycle/engine.h"
#include "engine/core/lifecycle/settings.h"
#include "engine/core/sessions/session.h"
#include "engine/core/templates/template_store.h"
#include "engine/features/compose/compose_upload.h"
#include "engine/features/compose/compose_work.h"
#include "engine/features/compose/sending.h"
#include "engine/store/message_index/message_index.h"
#include "engine/store/mime/charset.h"

namespace corvane::compose {
namespace {

using dispatch::RequestContext;

// Language strings.
constexpr int string_to = 7;
constexpr int string_subject = 10;
constexpr int string_sent = 28;
constexpr int string_not_sent = 47;
constexpr int string_charset = 63;

constexpr std::int64_t default_upload_limit_kb = 64 * 1024;
// The confirmation shows this much of To and Subject.
constexpr std::size_t confirmation_room = 56;
constexpr std::size_t confirmation_cut = 53;

// Messages of this module that the numbered strings lack, translated like
// the texts of the templates.
constexpr std::string_view text_upload_too_large =
    "The file is larger than the upload limit of %s and was not attached.";
constexpr std::string_view text_upload_incomplete =
    "The upload did not arrive whole, so it was not kept. Please try again.";
constexpr std::string_view text_draft_not_saved = "The draft could not be saved.";

std::string translated(RequestContext& request, std::string_view english)
{
    return request.templates().set_for(request.language(), request.log()).tables().translate(english);
}

ComposeDirectory directory_of(const RequestContext& request)
{
    return ComposeDirectory(request.session()->temp_dir());
}

ComposeAccount account_of(RequestContext& request)
{
    accounts::UserRecord& user = *request.user();
    ComposeAccount account;
    account.directory = user.directory();
    account.index = &user.mail().index();
    account.mailboxes = &user.mail().mailboxes();
    account.addresses = &user.address_book();
    account.compose_width = user.settings().compose_width;
    account.add_replies_to_addr_book = user.settings().add_replies_to_addr_book;
    account.reply_prefix = user.read_text("Compose", "ReplyPrefix", "> ", 7);
    account.forward_prefix = user.read_text("Compose", "ForwardPrefix", "", 7);
    account.receiver = user.receiver_options();
    return account;
}

WordCharset charset_of(RequestContext& request)
{
    WordCharset charset;
    const std::string name = request.language_string(string_charset);
    // The text is UTF-8 whatever a language file says; a label that names
    // something else (or nothing) would only mislabel it.
    if (mime::normalize_charset(name) == "UTF-8")
        charset.name = name;
    charset.iso2022jp = text::iequals(request.language(), "ja");
    return charset;
}

BuildOptions build_options(RequestContext& request, BuildMode mode)
{
    BuildOptions options;
    options.mode = mode;
    options.charset = charset_of(request);
    const std::string base = request.settings().text("Directories", "BaseDir", "/opt/corvane");
    options.footer_path = platform::path_nocase(base, "footer.txt");
    options.types = &request.engine().mime_types();
    options.mailer = "Corvane Pro " + std::string(lifecycle::product_version);
    options.domain = request.settings().text("SmtpClient", "HeloDomain", "Corvane", 127);
    options.now = platform::now();
    return options;
}

// An entry of the user's index named by a field ("" or no such entry: null).
store::MessageEntry* entry_named(RequestContext& request, std::string_view field)
{
    const auto number = text::parse_number(request.fields().value(field));
    if (!number || *number <= 0 || *number > store::max_message_number)
        return nullptr;
    return request.user()->mail().index().find(static_cast<std::uint32_t>(*number));
}

store::MessageEntry* current_message(RequestContext& request)
{
    const auto& current = request.session()->current_message;
    return current ? request.user()->mail().index().find(*current) : nullptr;
}

void update_totals(RequestContext& request)
{
    request.user()->write_mail_totals(request.user()->mail_totals());
}

// Deletes the draft a compose came from; only ever a draft of this user.
void delete_source_draft(RequestContext& request)
{
    store::MessageEntry* draft = entry_named(request, "SourceMessage");
    if (!draft || !draft->has(store::flags::draft))
        return;
    auto& current = request.session()->current_message;
    if (current && *current == draft->number)
        current.reset();
    request.user()->mail().index().delete_entry(*draft);
}

void mark_original(RequestContext& request, std::string_view field, std::uint32_t flag)
{
    if (store::MessageEntry* original = entry_named(request, field)) {
        original->flags |= flag;
        request.user()->mail().index().mark_dirty();
    }
}

std::string shortened(const std::string& value)
{
    if (value.size() <= confirmation_room)
        return value;
    return std::string(text::cut(value, confirmation_cut)) + "...";
}

// A send or SendLater that worked: the compose ends, the page returns to
// where the compose was started from.
void end_compose(RequestContext& request, const ComposeDirectory& dir)
{
    clear_compose(dir, request.fields(), request.variable("QUERY_STRING"));
    sessions::Session& session = *request.session();
    if (session.frame_view != 0) {
        request.set_view(session.frame_view);
        session.frame_view = 0;
    } else {
        request.set_view(session.previous_view);
    }
}

void send_now(RequestContext& request, const ComposeDirectory& dir, ComposeAccount& account)
{
    accounts::UserRecord& user = *request.user();
    cgi::FieldTable& fields = request.fields();
    const MessageFields message = message_fields(fields, request.view() == dispatch::view_compose_advanced);
    auto built = build_message(dir, message, build_options(request, BuildMode::outgoing));
    SendOutcome outcome;
    if (built) {
        request.log().message(log::Level::detail, "Building RFC822 e-mail file");
        outcome = send_message(smtp_settings(request.settings(), request.engine().codec(), request.log()), message,
                               *built, request.log());
    } else {
        request.log().line(log::Level::error, "Could not build the message: %s", built.error().text.c_str());
    }
    request.engine().count(lifecycle::StatusField::smtp_sessions);
    if (!outcome.sent) {
        request.engine().count(lifecycle::StatusField::smtp_errors);
        user.add_statistic("SendErrors", 1);
        request.set_error_message(request.language_string(string_not_sent));
        return;
    }
    if (user.settings().save_sent_mail) {
        const std::string* sent = user.mail().folders().sent();
        if (!sent || !store_message(dir, fields, account, *sent, false))
            request.log().message(log::Level::error, "Could not keep a copy of the sent message");
    }
    delete_source_draft(request);
    mark_original(request, "ForwardMessage", store::flags::forwarded);
    mark_original(request, "ReplyMessage", store::flags::replied);
    user.add_statistic("Sent", 1);
    update_totals(request);

    std::string status = request.language_string(string_sent);
    if (request.settings().yes_no("General", "VerboseSentConfirmation", false)) {
        status += "\n" + request.language_string(string_to) + ": " + shortened(fields.value("To")) + "\n" +
                  request.language_string(string_subject) + ": " + shortened(fields.value("Subject"));
    }
    request.set_status_message(std::move(status));
    end_compose(request, dir);
}

// Builds the compose as a draft into Drafts. False (the compose kept) when
// it could not be stored.
bool store_draft(RequestContext& request, const ComposeDirectory& dir, ComposeAccount& account, bool new_flag)
{
    accounts::UserRecord& user = *request.user();
    const MessageFields message = message_fields(request.fields(), request.view() == dispatch::view_compose_advanced);
    auto built = build_message(dir, message, build_options(request, BuildMode::draft));
    const std::string* drafts = user.mail().folders().drafts();
    store::MessageEntry* entry =
        (built && drafts) ? store_message(dir, request.fields(), account, *drafts, true) : nullptr;
    if (!entry) {
        request.log().message(log::Level::error, "Could not store the draft");
        return false;
    }
    if (new_flag)
        entry->flags |= store::flags::new_message;
    delete_source_draft(request);
    update_totals(request);
    return true;
}

}  // namespace

void ComposeViews::run(RequestContext& request)
{
    sessions::Session* session = request.session();
    accounts::UserRecord* user = request.user();
    if (!session || !user)
        return;
    cgi::FieldTable& fields = request.fields();
    const ComposeDirectory dir = directory_of(request);
    ComposeAccount account = account_of(request);

    if (fields.present("Cancel")) {
        request.set_view(session->previous_view);
        return;
    }
    struct Start {
        const char* button;
        ComposeType type;
    };
    for (const Start start : {Start{"New", ComposeType::new_message}, Start{"Reply", ComposeType::reply},
                              Start{"ReplyAll", ComposeType::reply_all}, Start{"Forward", ComposeType::forward}}) {
        if (!fields.present(start.button))
            continue;
        store::MessageEntry* message = start.type == ComposeType::new_message ? nullptr : current_message(request);
        create_compose(dir, fields, account, message, message ? start.type : ComposeType::new_message,
                       request.variable("QUERY_STRING"), request.log());
        session->frame_view = session->current_view();
        return;
    }

    const int view = request.view();
    merge_headers(dir, fields, MergeMode::fill_missing, view == dispatch::view_compose_advanced);
    resolve_numeric_from(fields, user->mail().mailboxes());
    if (fields.present("Finished")) {
        save_headers(dir, fields);
        request.set_view(session->previous_view);
        return;
    }
    if (fields.present("Advanced")) {
        request.set_view(dispatch::view_compose_advanced);
        return;
    }
    if (fields.present("Attach")) {
        request.set_view(dispatch::view_compose_attach);
        return;
    }
    if (fields.present("SpellCheck")) {
        request.set_view(dispatch::view_compose_spell_check);
        return;
    }
    if (fields.present("SendNow")) {
        send_now(request, dir, account);
        return;
    }
    if (fields.present("SendLater")) {
        if (store_draft(request, dir, account, false))
            end_compose(request, dir);
        else
            request.set_error_message(translated(request, text_draft_not_saved));
        return;
    }
    struct Pick {
        const char* button;
        const char* header;
    };
    for (const Pick pick : {Pick{"ToAddr", "To"}, Pick{"CCAddr", "CC"}, Pick{"BCCAddr", "BCC"}}) {
        if (fields.present(pick.button)) {
            fields.set("Header", pick.header);
            save_headers(dir, fields);
            request.set_view(dispatch::view_addr_book);
            return;
        }
    }
    if (fields.present("Remove"))
        dir.remove_attachment(fields.value("Attachments"));
}

void ComposeViews::store_text(RequestContext& request)
{
    if (request.session())
        (void)directory_of(request).write_body(request.fields().value("Body"));
}

void ComposeViews::receive_upload(RequestContext& request)
{
    if (!request.session())
        return;
    const std::int64_t limit_kb =
        request.settings().number("General", "MaxUploadSize", static_cast<int>(default_upload_limit_kb));
    const std::uint64_t limit = limit_kb > 0 ? static_cast<std::uint64_t>(limit_kb) * 1024 : UINT64_MAX;
    const auto length =
        static_cast<std::uint64_t>(std::max<std::int64_t>(0, cgi::content_length(request.fields().environment())));
    const UploadReport report = compose::receive_upload(request.input(), request.variable("CONTENT_TYPE"), length,
                                                        limit, directory_of(request), request.fields());
    switch (report.outcome) {
    case UploadOutcome::too_large:
        request.log().line(log::Level::notable, "Upload of %llu bytes refused: the limit is %lld KB",
                           static_cast<unsigned long long>(length), static_cast<long long>(limit_kb));
        request.set_error_message(text::replace_all(
            translated(request, text_upload_too_large), "%s",
            limit_kb % 1024 == 0 ? std::to_string(limit_kb / 1024) + " MB" : std::to_string(limit_kb) + " KB"));
        break;
    case UploadOutcome::incomplete:
        request.log().message(log::Level::notable, "An upload ended before its end; the part was not kept");
        request.set_error_message(translated(request, text_upload_incomplete));
        break;
    case UploadOutcome::write_failed:
        request.log().message(log::Level::error, "An upload could not be written to the compose directory");
        request.set_error_message(translated(request, text_upload_incomplete));
        break;
    case UploadOutcome::stored:
        if (!report.attachment.empty())
            request.log().line(log::Level::detail, "Attachment %s stored (%llu bytes)", report.attachment.c_str(),
                               static_cast<unsigned long long>(report.bytes));
        break;
    case UploadOutcome::not_multipart:
        break;
    }
}

void ComposeViews::finish(RequestContext& request)
{
    sessions::Session* session = request.session();
    if (!session || !request.user())
        return;
    cgi::FieldTable& fields = request.fields();
    const ComposeDirectory dir = directory_of(request);
    merge_headers(dir, fields, MergeMode::fill_empty, false);
    const std::string header = fields.value("Header");
    const std::string data = fields.value("HeaderData");
    if (!header.empty() && !data.empty() &&
        (text::iequals(header, "To") || text::iequals(header, "CC") || text::iequals(header, "BCC"))) {
        const std::string now = fields.value(header);
        fields.set(header, now.empty() ? data : now + ", " + data);
    }
    if (!dir.has_body()) {
        ComposeAccount account = account_of(request);
        create_compose(dir, fields, account, nullptr, ComposeType::implicit, request.variable("QUERY_STRING"),
                       request.log());
        session->frame_view = session->current_view();
    }
    save_headers(dir, fields);
}

void ComposeViews::open_draft(RequestContext& request, store::MessageEntry& draft)
{
    if (!request.session() || !request.user())
        return;
    ComposeAccount account = account_of(request);
    compose::open_draft(directory_of(request), request.fields(), account, draft, request.log());
}

void ComposeViews::rescue_draft(RequestContext& request, std::string_view user_name)
{
    sessions::SessionHold hold =
        request.engine().sessions().create(user_name, request.variable("REMOTE_ADDR"), request.log());
    if (!hold)
        return;
    // Its end must not do a session's work on the mail (new flags, Trash).
    hold->set_status_check(true);
    request.adopt(std::move(hold));
    request.lock_request();
    request.log().set_session(request.session()->id());
    request.log().line(log::Level::routine, "Saving draft for user %s", std::string(user_name).c_str());
    if (request.user()) {
        cgi::FieldTable& fields = request.fields();
        const ComposeDirectory dir = directory_of(request);
        (void)dir.write_body(fields.value("Body"));
        merge_headers(dir, fields, MergeMode::fill_missing, request.view() == dispatch::view_compose_advanced);
        resolve_numeric_from(fields, request.user()->mail().mailboxes());
        save_headers(dir, fields);
        ComposeAccount account = account_of(request);
        if (store_draft(request, dir, account, true))
            request.user()->mail().index().save();
    }
    request.unlock_request();
    request.hold().kill(&request.log());
}

}  // namespace corvane::compose
