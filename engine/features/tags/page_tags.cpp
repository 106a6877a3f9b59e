// Tags of the list's pages (PAGE, PAGECOUNT, PAGELINKS) and of the page
// shown while mail is fetched (REDIRECTSTATUS, from the progress record of
// the POP3 session running for the session).
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>

#include "common/text/strings.h"
#include "engine/core/accounts/user_record.h"
#include "engine/core/cgi/streams.h"
#include "engine/core/dispatch/request_context.h"
#include "engine/core/dispatch/views.h"
#include "engine/features/tags/list_page.h"
#include "engine/features/tags/tags.h"

namespace corvane::tags {

namespace {

// Page links shown on either side of the current page.
constexpr std::size_t page_link_window = 2;

void page_link(TagCall& call, std::size_t page, bool current)
{
    if (current) {
        call.out.write("<span aria-current=\"page\">");
        write_number(call, static_cast<long long>(page));
        call.out.write("</span>");
        return;
    }
    call.out.write("<a href=\"");
    write_link(call);
    call.out.write("&amp;View=List&amp;Page=");
    write_number(call, static_cast<long long>(page));
    call.out.write("\">");
    write_number(call, static_cast<long long>(page));
    call.out.write("</a>");
}

// The first and last page, the pages near the current one, and a gap mark
// where pages are left out.
void page_links(TagCall& call)
{
    ListPage page = list_page(call);
    if (page.count < 2)
        return;
    std::size_t from = page.number > page_link_window ? page.number - page_link_window : 1;
    std::size_t to = std::min(page.count, page.number + page_link_window);
    if (from > 1) {
        page_link(call, 1, false);
        if (from > 2)
            call.out.write("<span class=\"cv-gap\">&hellip;</span>");
    }
    for (std::size_t p = from; p <= to; ++p)
        page_link(call, p, p == page.number);
    if (to < page.count) {
        if (to + 1 < page.count)
            call.out.write("<span class=\"cv-gap\">&hellip;</span>");
        page_link(call, page.count, false);
    }
}

// A language string with its conversions filled in order by the values,
// whatever letter each conversion has: the format is the administrator's
// text and must never be handed to printf.
std::string fill(std::string_view format, std::initializer_list<std::string> values)
{
    std::string out;
    auto next = values.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%' || i + 1 >= format.size()) {
            out.push_back(format[i]);
            continue;
        }
        if (format[i + 1] == '%') {
            out.push_back('%');
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        while (j < format.size() && (std::isdigit(static_cast<unsigned char>(format[j])) || format[j] == '-' ||
                                     format[j] == '.' || format[j] == 'l' || format[j] == 'z'))
            ++j;
        if (j < format.size() && next != values.end())
            out += *next++;
        i = j;
    }
    return out;
}

// How far the mail check of this session has come (its POP3 session's
// progress record), on the page shown meanwhile.
void redirect_status(TagCall& call)
{
    constexpr int string_connecting = 20;
    constexpr int string_receiving = 21;
    constexpr int string_checking = 22;
    constexpr int string_bytes = 23;
    constexpr int string_deleting = 27;
    std::shared_ptr<const pop3::Progress> progress = call.session.retrieval();
    if (!progress)
        return;
    auto n = [](auto value) { return std::to_string(value); };
    const std::string& mailbox = progress->mailbox;
    std::string line;
    if (call.request.view() == dispatch::view_message) {
        std::uint32_t size = progress->message_size.load();
        std::uint64_t received = progress->bytes_received.load();
        if (size > 0 && received > 0)
            line = fill(language_string(call, string_bytes), {n(received), n(size)});
    } else if (progress->mode.load() == pop3::Mode::deletion) {
        if (progress->to_handle.load() > 0)
            line = fill(language_string(call, string_deleting),
                        {n(progress->position.load()), n(progress->to_handle.load()), mailbox});
    } else if (!progress->listed.load()) {
        if (progress->server_count.load() == 0)
            line = fill(language_string(call, string_connecting), {mailbox});
        else
            line = fill(language_string(call, string_checking),
                        {n(progress->examined.load()), n(progress->server_count.load()), mailbox});
    } else {
        line = fill(language_string(call, string_receiving),
                    {n(progress->position.load()), n(progress->to_handle.load()), mailbox});
    }
    write_text(call, line);
}

}  // namespace

namespace {

ListPage find_list_page(TagCall& call)
{
    ListPage page;
    store::UserMail& mail = call.user.mail();
    const std::string* folder = mail.folders().current();
    int size = call.user.read_number("User", "ListPageSize", default_list_page_size);
    page.size = size > 0 ? static_cast<std::size_t>(size) : 0;

    std::optional<std::uint32_t> current = call.session.current_message;
    std::optional<std::size_t> current_position;
    if (folder) {
        for (const auto& entry : mail.index().entries()) {
            if (!text::iequals(entry->folder, *folder))
                continue;
            if (current && entry->number == *current)
                current_position = page.total;
            ++page.total;
        }
    }
    if (page.size == 0)
        return page;
    page.count = std::max<std::size_t>(1, (page.total + page.size - 1) / page.size);

    const cgi::FieldTable& fields = call.request.fields();
    if (fields.present("Page")) {
        bool digits = false;
        std::int64_t wanted = text::leading_number(fields.value("Page"), &digits);
        if (!digits || wanted < 1)
            page.number = 1;
        else if (static_cast<std::uint64_t>(wanted) > page.count)
            page.number = page.count;
        else
            page.number = static_cast<std::size_t>(wanted);
    } else if (current_position) {
        page.number = *current_position / page.size + 1;
    }
    page.first = (page.number - 1) * page.size;
    return page;
}

// The page of the request: several tags ask for it, and finding it is a
// pass over the whole index. It depends on the current message when the
// request names no page.
struct PageOfRequest {
    std::uint64_t serial = 0;
    std::optional<std::uint32_t> current;
    ListPage page;
};
thread_local PageOfRequest t_page;

}  // namespace

ListPage list_page(TagCall& call)
{
    if (t_page.serial != call.request.serial() || t_page.current != call.session.current_message) {
        t_page.page = find_list_page(call);
        t_page.serial = call.request.serial();
        t_page.current = call.session.current_message;
    }
    return t_page.page;
}

void add_page_tags(TagTable& table)
{
    table.add("PAGE", [](TagCall& call) { write_number(call, static_cast<long long>(list_page(call).number)); });
    table.add("PAGECOUNT", [](TagCall& call) { write_number(call, static_cast<long long>(list_page(call).count)); });
    table.add("PAGELINKS", page_links);
    table.add("REDIRECTSTATUS", redirect_status);
}

}  // namespace corvane::tags
