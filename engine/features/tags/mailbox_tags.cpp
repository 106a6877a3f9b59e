// Tags of the user's mailboxes (the [MailHost%d] records): HOSTDATA and
// the tags of its rows, which describe the record that is the current item
// (the new, empty record past the end), the sender identities of the
// compose page, the colour legend, the signatures and the colours of the
// engine's defaults.
#include <string>

#include "common/platform/files.h"
#include "common/text/strings.h"
#include "engine/core/accounts/user_record.h"
#include "engine/core/cgi/encoding.h"
#include "engine/core/cgi/streams.h"
#include "engine/core/dispatch/request_context.h"
#include "engine/core/lifecycle/settings.h"
#include "engine/features/tags/tags.h"
#include "engine/store/mime/line_reader.h"

namespace corvane::tags {

namespace {

// Signature lines are cut here for the script array, as they always were.
constexpr std::size_t max_signature_line = 255;
constexpr std::size_t max_signature_lines = 1000;

std::vector<mailboxes::MailboxRecord>& records(TagCall& call)
{
    return call.user.mail().mailboxes().records();
}

// The record of the current item; null for the new row.
const mailboxes::MailboxRecord* current_record(TagCall& call)
{
    auto& list = records(call);
    long item = call.session.current_item;
    if (item < 0 || static_cast<std::size_t>(item) >= list.size())
        return nullptr;
    return &list[static_cast<std::size_t>(item)];
}

std::string user_default(TagCall& call, std::string_view key)
{
    return lifecycle::text_setting(call.request.settings(), "UserDefaults", key);
}

// The index of the default record: the first with Default set, else 0.
std::size_t default_index(TagCall& call)
{
    auto& list = records(call);
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].is_default)
            return i;
    }
    return 0;
}

// The sender identity of the compose page: the record named by the Mailbox
// field, else the default one.
std::size_t selected_identity(TagCall& call)
{
    auto& list = records(call);
    const std::string& wanted = call.request.fields().value("Mailbox");
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (!wanted.empty() && text::iequals(list[i].mailbox, wanted))
            return i;
    }
    return default_index(call);
}

// The lines of a mailbox's signature file, each without its line end.
template <typename LineFn>
void for_each_signature_line(TagCall& call, const mailboxes::MailboxRecord& record, LineFn line_fn)
{
    if (!platform::is_plain_name(record.mailbox))
        return;
    std::string path = platform::path_nocase(call.user.directory(), record.mailbox + ".sig");
    auto reader = mime::LineReader::open(path);
    if (!reader)
        return;
    std::string line;
    for (std::size_t n = 0; n < max_signature_lines && reader->next(line, 64 * 1024); ++n)
        line_fn(line);
}

void host_data(TagCall& call)
{
    RowTemplate row(call, "HostData");
    if (!row)
        return;
    ItemRow item(call);
    std::size_t count = records(call).size();
    for (std::size_t i = 0; i < count; ++i) {
        item.set(static_cast<long>(i));
        row.write();
    }
    item.set(-1);
    row.write();
}

void mailbox(TagCall& call)
{
    if (on_compose_view(call)) {
        write_number(call, static_cast<long long>(selected_identity(call)));
        return;
    }
    if (const mailboxes::MailboxRecord* record = current_record(call))
        write_text(call, record->mailbox);
}

void mail_colour(TagCall& call)
{
    if (const mailboxes::MailboxRecord* record = current_record(call)) {
        write_colour(call, record->color);
        return;
    }
    std::string key = "Color" + std::to_string(records(call).size() % 8 + 1);
    write_colour(call, user_default(call, key));
}

void mail_signature(TagCall& call)
{
    const mailboxes::MailboxRecord* record = current_record(call);
    if (!record)
        return;
    for_each_signature_line(call, *record, [&](const std::string& line) {
        write_text(call, line);
        call.out.write("\r\n");
    });
}

void colour_legend(TagCall& call)
{
    auto& list = records(call);
    call.out.write("<TABLE WIDTH=\"100%\">\r\n");
    for (std::size_t i = 0; i < list.size(); i += 5) {
        call.out.write("<TR>");
        for (std::size_t j = i; j < list.size() && j < i + 5; ++j) {
            call.out.write("<TD WIDTH=\"20%\" ALIGN=\"CENTER\" BGCOLOR=\"");
            write_colour(call, list[j].color);
            call.out.write("\"><FONT FACE=\"Arial, Helvetica\" COLOR=\"Black\">");
            write_text(call, list[j].mailbox);
            call.out.write("</TD>");
        }
        call.out.write("</TR>\r\n");
    }
    call.out.write("</TABLE>\r\n");
}

// The signatures as the body of a script array: one string per mailbox.
// Besides the backslash and the quote, "<" and control characters are
// escaped too, so a signature can never end the script element it stands in.
void signature_array(TagCall& call)
{
    bool first = true;
    for (const mailboxes::MailboxRecord& record : records(call)) {
        call.out.write(first ? "\"" : ", \"");
        first = false;
        for_each_signature_line(call, record, [&](const std::string& line) {
            for (char c : text::cut(line, max_signature_line)) {
                auto u = static_cast<unsigned char>(c);
                if (c == '\\')
                    call.out.write("\\\\");
                else if (c == '"')
                    call.out.write("\\\"");
                else if (c == '<' || c == '>' || c == '&' || u < 0x20)
                    call.out.write_format("\\x%02X", u);
                else
                    call.out.put(c);
            }
            call.out.write("\\r\\n");
        });
        call.out.write("\"");
    }
}

void from_select(TagCall& call)
{
    auto& list = records(call);
    std::size_t selected = selected_identity(call);
    for (std::size_t i = 0; i < list.size(); ++i) {
        call.out.write(i == selected ? "<OPTION SELECTED" : "<OPTION");
        call.out.write(" VALUE=\"");
        write_number(call, static_cast<long long>(i));
        call.out.write("\">");
        std::string label = list[i].full_name.empty()
                                ? text::format("<%s>", list[i].email.c_str())
                                : text::format("\"%s\" <%s>", list[i].full_name.c_str(), list[i].email.c_str());
        write_text(call, label);
        call.out.write("</OPTION>\r\n");
    }
}

template <int N>
void colour(TagCall& call)
{
    write_colour(call, user_default(call, "Color" + std::to_string(N)));
}

}  // namespace

void add_mailbox_tags(TagTable& table)
{
    table.add("HOSTDATA", host_data);
    table.add("MAILBOX", mailbox);
    table.add("MAILCOLOR", mail_colour);
    table.add("MAILSIG", mail_signature);
    table.add("COLORLEGEND", colour_legend);
    table.add("SIGARRAY", signature_array);
    table.add("FROMSELECT", from_select);
    table.add("MAILACTIVE", [](TagCall& call) {
        const mailboxes::MailboxRecord* r = current_record(call);
        write_number(call, r ? r->active : 1);
    });
    table.add("MAILDEFAULT", [](TagCall& call) {
        long item = call.session.current_item;
        bool is_default = current_record(call) && static_cast<std::size_t>(item) == default_index(call);
        write_number(call, is_default ? 1 : 0);
    });
    table.add("MAILDELETE", [](TagCall& call) {
        const mailboxes::MailboxRecord* r = current_record(call);
        write_number(call,
                     r ? r->delete_mode : lifecycle::number_setting(call.request.settings(), "UserDefaults", "Delete"));
    });
    table.add("MAILPORT", [](TagCall& call) {
        const mailboxes::MailboxRecord* r = current_record(call);
        write_number(call,
                     r ? r->port : lifecycle::number_setting(call.request.settings(), "UserDefaults", "MailPort"));
    });
    table.add("MAILHOST", [](TagCall& call) {
        const mailboxes::MailboxRecord* r = current_record(call);
        write_text(call, r ? r->host : user_default(call, "MailHost"));
    });
    table.add("MAILNUM",
              [](TagCall& call) { write_number(call, current_record(call) ? call.session.current_item + 1 : 0); });
    table.add("MAILEMAIL", [](TagCall& call) {
        if (const mailboxes::MailboxRecord* r = current_record(call))
            write_text(call, r->email);
    });
    table.add("MAILNAME", [](TagCall& call) {
        if (const mailboxes::MailboxRecord* r = current_record(call))
            write_text(call, r->full_name);
    });
    table.add("MAILUSER", [](TagCall& call) {
        if (const mailboxes::MailboxRecord* r = current_record(call))
            write_text(call, r->user);
    });
    table.add("MAILPASS", [](TagCall& call) {
        if (const mailboxes::MailboxRecord* r = current_record(call))
            write_text(call, r->pass);
    });
    table.add("COLOR1", colour<1>);
    table.add("COLOR2", colour<2>);
    table.add("COLOR3", colour<3>);
    table.add("COLOR4", colour<4>);
    table.add("COLOR5", colour<5>);
    table.add("COLOR6", colour<6>);
    table.add("COLOR7", colour<7>);
    table.add("COLOR8", colour<8>);
}

}  // namespace corvane::tags
