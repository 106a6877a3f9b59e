#include "common/text/strings.h"
#include "engine/core/accounts/user_record.h"
#include "engine/core/cgi/encoding.h"
#include "engine/core/dispatch/request_context.h"
#include "engine/core/dispatch/response_headers.h"
#include "engine/features/mail_check/mail_check.h"
#include "engine/features/mailbox_actions/mailbox_actions.h"
#include "engine/features/views/mailbox_views.h"
#include "engine/store/html_sanitizer/html_sanitizer.h"
#include "engine/store/render/body_renderer.h"

namespace corvane::views {

namespace {

bool token_char(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '!' || c == '#' || c == '$' || c == '&' ||
           c == '^' || c == '_' || c == '.' || c == '+' || c == '-';
}

// Types a browser shows without running anything in them.
bool inert(std::string_view type)
{
    static constexpr std::string_view shown[] = {"image/png", "image/gif",  "image/jpeg",     "image/webp",
                                                 "image/bmp", "text/plain", "application/pdf"};
    for (std::string_view t : shown) {
        if (type == t)
            return true;
    }
    return type.starts_with("audio/") || type.starts_with("video/");
}

class OutputSink final : public render::Sink {
public:
    explicit OutputSink(cgi::OutputStream& out) : m_out(out) {}
    void write(std::string_view bytes) override { m_out.write(bytes); }

private:
    cgi::OutputStream& m_out;
};

const store::PartRecord* find_part(const store::PartList& parts, const cgi::FieldTable& fields)
{
    if (fields.present("Filename")) {
        const std::string& name = fields.value("Filename");
        for (const store::PartRecord& part : parts) {
            if (!name.empty() && text::iequals(part.file_name, name))
                return &part;
        }
        return nullptr;
    }
    if (fields.present("CID")) {
        const std::string& id = fields.value("CID");
        for (const store::PartRecord& part : parts) {
            if (!id.empty() && text::iequals(part.content_id, id))
                return &part;
        }
    }
    return nullptr;
}

// Nothing to send: a complete, empty answer rather than a broken one.
void write_nothing(dispatch::RequestContext& request)
{
    request.set_content_policy(dispatch::download_policy);
    request.write_header(dispatch::plain_text_header);
}

}  // namespace

std::string safe_content_type(std::string_view content_type)
{
    std::string type = text::lower(text::trim(content_type));
    std::size_t slash = type.find('/');
    bool ok = slash != std::string::npos && slash > 0 && slash + 1 < type.size() && type.size() <= 79;
    for (std::size_t i = 0; ok && i < type.size(); ++i)
        ok = i == slash || token_char(type[i]);
    return ok ? type : std::string("application/octet-stream");
}

std::string disposition_line(std::string_view content_type, std::string_view file_name)
{
    std::string type = safe_content_type(content_type);
    if (inert(type))
        return {};
    // The plain name keeps printable ASCII without quote and backslash; the
    // extended one carries the real name, percent-encoded (RFC 6266).
    std::string plain;
    for (char c : file_name) {
        auto u = static_cast<unsigned char>(c);
        plain.push_back(u >= 0x20 && u < 0x7F && c != '"' && c != '\\' && c != ';' ? c : '_');
    }
    if (plain.empty())
        plain = "attachment";
    std::string line = "Content-Disposition: attachment; filename=\"" + plain + "\"";
    if (plain != file_name && !file_name.empty()) {
        line += "; filename*=UTF-8''";
        sanitize::percent_encode(text::without_controls(file_name), line);
    }
    line += "\r\n";
    return line;
}

void MailboxViews::attachment(dispatch::RequestContext& request)
{
    accounts::UserRecord* user = request.user();
    store::MessageEntry* entry = mailbox_actions::current_message(request);
    if (!user || !entry) {
        write_nothing(request);
        request.close_streams();
        return;
    }
    if (!entry->has(store::flags::downloaded)) {
        if (!quota_allows(request)) {
            write_nothing(request);
            request.close_streams();
            return;
        }
        mail_check::fetch_current_message(request);
        // The fetch may have replaced or dropped the entry.
        entry = mailbox_actions::current_message(request);
    }
    const store::PartRecord* part = nullptr;
    if (entry && entry->has(store::flags::downloaded))
        part = find_part(user->part_list(*entry), request.fields());
    if (!part) {
        write_nothing(request);
        request.close_streams();
        return;
    }
    std::string header =
        "Content-type: " + safe_content_type(part->content_type) + "\r\nExpires: 0\r\nPragma: no-cache\r\n";
    header += disposition_line(part->content_type, part->file_name);
    header += "\r\n";
    request.set_content_policy(dispatch::download_policy);
    request.write_header(header);
    OutputSink sink(request.output());
    if (!render::write_decoded_part(user->mail().index().message_path(*entry), *part, sink))
        request.log().line(log::Level::error, "Could not read message %u", entry->number);
    request.close_streams();
}

}  // namespace corvane::views
