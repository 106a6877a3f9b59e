// Tags of the message list and of one message: MESSAGEDATA and the tags of
// its rows, the headers, dates, sizes, status icons, the neighbours and the
// body of the message shown.
#include <string>

#include "common/platform/files.h"
#include "common/platform/time_format.h"
#include "common/text/strings.h"
#include "engine/core/accounts/user_record.h"
#include "engine/core/cgi/encoding.h"
#include "engine/core/cgi/streams.h"
#include "engine/core/dispatch/request_context.h"
#include "engine/core/dispatch/views.h"
#include "engine/core/lifecycle/settings.h"
#include "engine/features/list_order/list_order.h"
#include "engine/features/tags/list_page.h"
#include "engine/features/tags/tags.h"
#include "engine/store/mime/header_list.h"
#include "engine/store/ordering/message_order.h"
#include "engine/store/render/body_renderer.h"

namespace corvane::tags {

namespace {

constexpr int string_attachment = 5;
constexpr int string_not_downloaded = 45;
constexpr int string_new = 58;
constexpr int string_unread = 59;
constexpr int string_replied = 60;
constexpr int string_forwarded = 61;
constexpr int string_urgent = 62;
constexpr int string_no_subject = 65;
constexpr int string_no_date = 66;
constexpr std::size_t max_date = 63;

bool on_list(TagCall& call)
{
    return call.request.view() == dispatch::view_list;
}

// A header field of the compose page: the request field of that name,
// escaped for the form field (Compose, Compose-Advanced) or as text.
void write_compose_field(TagCall& call, std::string_view name)
{
    const std::string& value = call.request.fields().value(name);
    int view = call.request.view();
    if (view == dispatch::view_compose || view == dispatch::view_compose_advanced)
        write_attribute(call, value);
    else
        write_text(call, value);
}

void message_data(TagCall& call)
{
    store::UserMail& mail = call.user.mail();
    const std::string* folder = mail.folders().current();
    if (!folder)
        return;
    RowTemplate row(call, "MessageData");
    if (!row)
        return;
    ListPage page = list_page(call);
    MessageRow current(call);
    std::size_t position = 0;
    std::size_t written = 0;
    for (auto& entry : mail.index().entries()) {
        if (!text::iequals(entry->folder, *folder))
            continue;
        if (position++ < page.first)
            continue;
        if (page.size && written == page.size)
            break;
        current.set(*entry);
        row.write();
        ++written;
    }
}

void number(TagCall& call)
{
    if (store::MessageEntry* entry = current_entry(call))
        write_number(call, entry->number);
}

void write_address(TagCall& call, std::string_view value, bool sender)
{
    std::string shown = ordering::reduce_address(value, ordering::address_mode(call.user.settings().show_by_address));
    if (sender && shown.empty())
        call.out.write("&nbsp;");
    else
        write_text(call, shown);
}

void from(TagCall& call)
{
    if (on_compose_view(call)) {
        write_compose_field(call, "From");
        return;
    }
    store::MessageEntry* entry = current_entry(call);
    if (!entry)
        return;
    if (on_list(call)) {
        bool recipients = list_order::shows_recipients(call.user, call.request.settings());
        write_address(call, recipients ? entry->to : entry->from, true);
    } else {
        write_text(call, entry->from);
    }
}

void to(TagCall& call)
{
    if (on_compose_view(call)) {
        write_compose_field(call, "To");
        return;
    }
    store::MessageEntry* entry = current_entry(call);
    if (!entry)
        return;
    if (on_list(call))
        write_address(call, entry->to, false);
    else
        write_text(call, entry->to);
}

void cc(TagCall& call)
{
    if (on_compose_view(call)) {
        write_compose_field(call, "CC");
        return;
    }
    store::MessageEntry* entry = current_entry(call);
    if (!entry || !entry->has(store::flags::downloaded))
        return;
    mime::HeaderList header = mime::read_header(call.user.mail().index().message_path(*entry));
    write_text(call, header.value("CC"));
}

void subject(TagCall& call)
{
    if (on_compose_view(call)) {
        write_compose_field(call, "Subject");
        return;
    }
    store::MessageEntry* entry = current_entry(call);
    if (!entry)
        return;
    bool bold = on_list(call) && !entry->has(store::flags::read);
    if (bold)
        call.out.write("<B>");
    if (text::trim(entry->subject).empty()) {
        call.out.write("[");
        write_text(call, language_string(call, string_no_subject));
        call.out.write("]");
    } else {
        write_text(call, entry->subject);
    }
    if (bold)
        call.out.write("</B>");
}

void date(TagCall& call)
{
    store::MessageEntry* entry = current_entry(call);
    if (!entry || entry->date == 0) {
        call.out.write("[");
        write_text(call, language_string(call, string_no_date));
        call.out.write("]");
        return;
    }
    std::string format = lifecycle::text_setting(call.request.settings(), "General",
                                                 on_list(call) ? "ListDateFormat" : "MessageDateFormat");
    std::string shown = platform::format_local(static_cast<std::time_t>(entry->date), format.c_str());
    write_text(call, text::cut(shown, max_date));
}

void size(TagCall& call)
{
    if (store::MessageEntry* entry = current_entry(call))
        write_number(call, kilobytes(entry->size));
}

void status_image(TagCall& call)
{
    store::MessageEntry* entry = current_entry(call);
    if (!entry)
        return;
    auto icon = [&](const char* file, int label) {
        call.out.write("<IMG SRC=\"/");
        call.out.write(file);
        call.out.write("\" ALT=\"");
        write_attribute(call, language_string(call, label));
        call.out.write("\">");
    };
    if (entry->has(store::flags::urgent))
        icon("urgent.gif", string_urgent);
    else if (entry->has(store::flags::new_message))
        icon("new.gif", string_new);
    else if (entry->has(store::flags::read) && entry->has(store::flags::forwarded))
        icon("forwarded.gif", string_forwarded);
    else if (entry->has(store::flags::read) && entry->has(store::flags::replied))
        icon("replied.gif", string_replied);
    else if (entry->has(store::flags::read))
        call.out.write("&nbsp;");
    else
        icon("unread.gif", string_unread);
}

void attach(TagCall& call)
{
    store::MessageEntry* entry = current_entry(call);
    if (!entry || !entry->has(store::flags::multipart))
        return;
    call.out.write("<IMG SRC=\"/attach.gif\" ALT=\"");
    write_attribute(call, language_string(call, string_attachment));
    call.out.write("\"> ");
}

void message_colour(TagCall& call)
{
    store::MessageEntry* entry = current_entry(call);
    if (!entry)
        return;
    const mailboxes::MailboxRecord* record = call.user.mail().mailboxes().find(entry->mailbox);
    if (record && !record->color.empty())
        write_colour(call, record->color);
    else
        write_colour(call, lifecycle::text_setting(call.request.settings(), "UserDefaults", "Color1"));
}

void neighbour(TagCall& call, bool next)
{
    store::MessageEntry* entry = current_entry(call);
    if (!entry)
        return;
    store::MessageIndex& index = call.user.mail().index();
    store::MessageEntry* other = next ? index.next_in_folder(*entry) : index.previous_in_folder(*entry);
    write_link(call);
    if (other) {
        call.out.write("&amp;View=Message&amp;Number=");
        write_number(call, other->number);
    } else {
        call.out.write("&amp;View=List#");
        write_number(call, entry->number);
    }
}

class OutputSink final : public render::Sink {
public:
    explicit OutputSink(cgi::OutputStream& out) : m_out(out) {}
    void write(std::string_view bytes) override { m_out.write(bytes); }

private:
    cgi::OutputStream& m_out;
};

void body(TagCall& call)
{
    if (on_compose_view(call)) {
        // The text being written, for the form's text area.
        auto text = platform::read_file(call.session.temp_dir() + "/.body.txt");
        if (text.ok())
            write_attribute(call, text.value());
        return;
    }
    store::MessageEntry* entry = current_entry(call);
    if (!entry || !entry->has(store::flags::downloaded)) {
        call.out.write("<CENTER><STRONG>");
        write_text(call, language_string(call, string_not_downloaded));
        call.out.write("</STRONG></CENTER><BR>");
        return;
    }
    render::RenderContext context;
    context.script_name = cgi::html_escaped(call.request.variable("SCRIPT_NAME"));
    context.session_id = call.session.id();
    context.allow_remote_images = call.request.fields().present("Images");
    std::string path = call.user.mail().index().message_path(*entry);

    // Left-out pictures are announced above the part that had them.
    bool noticed = false;
    if (call.request.view() == dispatch::view_message) {
        context.before_blocked_html = [&call, &noticed] {
            if (noticed)
                return;
            noticed = true;
            RowTemplate notice(call, "RemoteImages");
            notice.write();
        };
    }
    OutputSink out(call.out);
    if (entry->has(store::flags::multipart)) {
        const store::PartList& parts = call.user.part_list(*entry);
        const std::string& preferred = call.user.settings().multipart_prefer;
        long max_inline = lifecycle::number_setting(call.request.settings(), "General", "MaxInlineAttachSize");
        bool first = true;
        for (const store::PartRecord& part : parts) {
            if (!render::is_inline(parts, part, preferred, max_inline))
                continue;
            if (!first)
                call.out.write("<HR>");
            first = false;
            render::render_part(path, part, context, out);
        }
    } else {
        render::render_message(path, context, out);
    }
}

}  // namespace

void add_message_tags(TagTable& table)
{
    table.add("MESSAGEDATA", message_data);
    table.add("NUMBER", number);
    table.add("FROM", from);
    table.add("TO", to);
    table.add("CC", cc);
    table.add("SUBJECT", subject);
    table.add("DATE", date);
    table.add("SIZE", size);
    table.add("STATUSIMG", status_image);
    table.add("ATTACH", attach);
    table.add("MSGCOLOR", message_colour);
    table.add("NEXT", [](TagCall& call) { neighbour(call, true); });
    table.add("PREV", [](TagCall& call) { neighbour(call, false); });
    table.add("BODY", body);
}

}  // namespace corvane::tags
