// Tags of the compose pages that come from the request and the compose
// directory: the header fields only compose pages have, the check boxes,
// the attachments collected so far, the spelling language and the address
// book's target header. (FROM, TO, CC, SUBJECT, BODY and MAILBOX, which
// mean something on other pages too, are in the message and mailbox tags.)
#include <algorithm>
#include <string>
#include <vector>

#include "common/platform/files.h"
#include "engine/core/accounts/user_record.h"
#include "engine/core/cgi/streams.h"
#include "engine/core/dispatch/request_context.h"
#include "engine/core/dispatch/views.h"
#include "engine/features/tags/tags.h"

namespace corvane::tags {

namespace {

constexpr int string_attachment = 5;
constexpr int string_attachments = 6;
// A compose directory holds a handful of files; a listing is cut here.
constexpr std::size_t max_listed_attachments = 1000;

void compose_field(TagCall& call, std::string_view name)
{
    if (!on_compose_view(call))
        return;
    const std::string& value = call.request.fields().value(name);
    int view = call.request.view();
    if (view == dispatch::view_compose || view == dispatch::view_compose_advanced)
        write_attribute(call, value);
    else
        write_text(call, value);
}

void check_box(TagCall& call, std::string_view name)
{
    if (!call.request.fields().missing_or_empty(name))
        call.out.put('1');
}

// The attachments of the compose directory: its files whose names do not
// begin with ".", in name order.
std::vector<std::string> attachments(TagCall& call)
{
    std::vector<std::string> names;
    auto listing = platform::list_directory(call.session.temp_dir());
    if (!listing.ok())
        return names;
    for (const platform::DirEntry& e : listing.value()) {
        if (!e.is_directory && !e.name.empty() && e.name[0] != '.' && names.size() < max_listed_attachments)
            names.push_back(e.name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

void add_compose_tags(TagTable& table)
{
    table.add("BCC", [](TagCall& call) { compose_field(call, "BCC"); });
    table.add("REPLY-TO", [](TagCall& call) { compose_field(call, "REPLY-TO"); });
    table.add("COMPOSEURGENT", [](TagCall& call) { check_box(call, "COMPOSEURGENT"); });
    table.add("CONFIRMDELIVERY", [](TagCall& call) { check_box(call, "CONFIRMDELIVERY"); });
    table.add("CONFIRMREAD", [](TagCall& call) { check_box(call, "CONFIRMREAD"); });
    table.add("ATTACHMENTCOUNT", [](TagCall& call) {
        std::size_t count = attachments(call).size();
        if (count == 0)
            return;
        call.out.write("(");
        write_number(call, static_cast<long long>(count));
        call.out.write(" ");
        write_text(call, language_string(call, count == 1 ? string_attachment : string_attachments));
        call.out.write(")");
    });
    table.add("ATTACHMENTLIST", [](TagCall& call) {
        std::vector<std::string> names = attachments(call);
        if (names.empty()) {
            call.out.write("<OPTION> &nbsp; &nbsp; &nbsp; &nbsp;</OPTION>\r\n");
            return;
        }
        for (const std::string& name : names) {
            call.out.write("<OPTION>");
            write_text(call, name);
            call.out.write("</OPTION>\r\n");
        }
    });
    table.add("SPELLCHECKLANG", [](TagCall& call) {
        const std::string& field = call.request.fields().value("SpellLanguage");
        write_attribute(call, field.empty() ? call.user.settings().language : field);
    });
    // Spelling comes with its own module; until then the page shows none.
    table.add("SPELLBODY", [](TagCall&) {});
    table.add("ADDRHEADER", [](TagCall& call) {
        const std::string& field = call.request.fields().value("Header");
        write_attribute(call, field.empty() ? std::string_view("To") : std::string_view(field));
    });
}

}  // namespace corvane::tags
