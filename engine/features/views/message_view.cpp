#include <cstdio>
#include <memory>

#include "common/text/strings.h"
#include "engine/core/accounts/user_record.h"
#include "engine/core/cgi/encoding.h"
#include "engine/core/dispatch/request_context.h"
#include "engine/core/dispatch/response_headers.h"
#include "engine/core/dispatch/views.h"
#include "engine/features/mailbox_actions/mailbox_actions.h"
#include "engine/features/views/mailbox_views.h"
#include "engine/store/addresses/address_helpers.h"

namespace corvane::views {

namespace {

constexpr int string_to = 7;
constexpr int string_from = 8;
constexpr int string_date = 9;
constexpr int string_subject = 10;
constexpr int string_no_message = 45;
// Name and address taken into the address book are cut here.
constexpr std::size_t max_book_field = 127;

// The printable page and the source say what they are; the print page is
// UTF-8 like every page, the source is the stored bytes as they came.
constexpr std::string_view print_header =
    "Content-type: text/html; charset=UTF-8\r\nExpires: 0\r\nPragma: no-cache\r\n\r\n";

void write_source(dispatch::RequestContext& request, const std::string& path)
{
    request.write_header(dispatch::plain_text_header);
    cgi::OutputStream& out = request.output();
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file(path.empty() ? nullptr : std::fopen(path.c_str(), "rbe"));
    if (!file) {
        out.write(request.language_string(string_no_message));
        out.write("\r\n");
        return;
    }
    char buffer[16384];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, file.get()))
        out.write(std::string_view(buffer, n));
}

}  // namespace

void add_sender_to_address_book(dispatch::RequestContext& request, const store::MessageEntry& entry)
{
    accounts::UserRecord* user = request.user();
    if (!user)
        return;
    // The first address of the From value; name and address read from it
    // as every address header is read.
    std::string_view sender = addresses::first_of_list(entry.from);
    if (sender.empty())
        return;
    std::string name = addresses::display_name(text::cut(sender, max_book_field));
    std::string address = addresses::bare_address(text::cut(sender, max_book_field));
    if (name == address)
        name.clear();
    addrbook::AddressBook& book = user->address_book();
    if (address.empty() || book.contains(name, address))
        return;
    book.add(name, address, "");
    if (!book.save().ok())
        request.log().line(log::Level::error, "Could not write the address book of %s", user->name().c_str());
}

void MailboxViews::print(dispatch::RequestContext& request)
{
    request.write_header(print_header);
    cgi::OutputStream& out = request.output();
    out.write("<HTML>\r\n<BODY>\r\n<TT>\r\n");
    const struct {
        int label;
        std::string_view tag;
    } lines[] = {{string_from, "FROM"}, {string_to, "TO"}, {string_date, "DATE"}, {string_subject, "SUBJECT"}};
    bool first = true;
    for (const auto& line : lines) {
        out.write(first ? "<B>" : "<BR>\r\n<B>");
        first = false;
        cgi::escape_html(request.language_string(line.label), out);
        out.write(": </B>");
        m_with.tags.expand(line.tag, request, out);
    }
    out.write("<BR>\r\n<BR>\r\n");
    m_with.tags.expand("BODY", request, out);
    out.write("</TT>\r\n</BODY>\r\n</HTML>\r\n");
}

void MailboxViews::message(dispatch::RequestContext& request)
{
    accounts::UserRecord* user = request.user();
    sessions::Session* session = request.session();
    store::MessageEntry* entry = mailbox_actions::current_message(request);
    if (!user || !session)
        return;
    if (!entry) {
        // No message named, or none left: the list, saying so, rather than
        // an empty message page.
        request.set_view(dispatch::view_list);
        request.set_error_message(request.language_string(string_no_message));
        return;
    }
    const cgi::FieldTable& fields = request.fields();

    if (entry->has(store::flags::draft)) {
        request.set_view(fields.missing_or_empty("Advanced") ? dispatch::view_compose
                                                             : dispatch::view_compose_advanced);
        m_with.compose_work.open_draft(request, *entry);
        return;
    }
    if (!entry->has(store::flags::downloaded)) {
        if (!session->just_retrieved.load() && user->mail().mailboxes().find(entry->mailbox)) {
            request_retrieval(request, true);
            if (!quota_allows(request))
                request_retrieval(request, false);
        }
        return;
    }
    if (fields.present("Print")) {
        print(request);
        request.close_streams();
        return;
    }
    if (fields.present("Source")) {
        write_source(request, user->mail().index().message_path(*entry));
        request.close_streams();
        return;
    }
    if (fields.present("ToAddrBook")) {
        add_sender_to_address_book(request, *entry);
        return;
    }
    if (!entry->has(store::flags::read)) {
        entry->flags |= store::flags::read;
        user->mail().index().mark_dirty();
    }
    // Pictures from other servers, on this page only, when asked for.
    if (fields.present("Images"))
        request.set_content_policy(dispatch::page_policy_remote_images);
}

}  // namespace corvane::views
