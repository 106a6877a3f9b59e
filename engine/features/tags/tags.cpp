#include "engine/features/tags/tags.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "engine/core/accounts/user_record.h"
#include "engine/core/cgi/encoding.h"
#include "engine/core/cgi/streams.h"
#include "engine/core/dispatch/request_context.h"
#include "engine/core/dispatch/views.h"
#include "engine/core/templates/expander.h"
#include "engine/core/templates/template_store.h"
#include "engine/features/mailbox_actions/mailbox_actions.h"

namespace corvane::tags {

namespace {

// The entry of the message row being written on this thread. Rows are
// written synchronously inside their list tag, so a thread-local pointer
// spares every tag of a row a search of the index for the session's current
// message; MessageRow sets and restores it.
thread_local store::MessageEntry* t_row_entry = nullptr;

}  // namespace

// ---- the table -------------------------------------------------------------------

void TagTable::add(std::string_view name, TagFunction function)
{
    m_entries.push_back({name, function});
}

void TagTable::seal()
{
    std::sort(m_entries.begin(), m_entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
}

TagFunction TagTable::find(std::string_view name) const
{
    auto it = std::lower_bound(m_entries.begin(), m_entries.end(), name,
                               [](const Entry& e, std::string_view n) { return e.name < n; });
    return it != m_entries.end() && it->name == name ? it->function : nullptr;
}

Tags::Tags()
{
    add_address_tags(m_table);
    add_compose_tags(m_table);
    add_filter_tags(m_table);
    add_folder_tags(m_table);
    add_mailbox_tags(m_table);
    add_message_tags(m_table);
    add_page_tags(m_table);
    add_part_tags(m_table);
    add_settings_tags(m_table);
    m_table.seal();
}

bool Tags::expand(std::string_view tag, dispatch::RequestContext& request, cgi::OutputStream& out)
{
    TagFunction function = m_table.find(tag);
    if (!function)
        return false;
    sessions::Session* session = request.session();
    accounts::UserRecord* user = request.user();
    if (session && user) {
        TagCall call{request, out, *this, *session, *user};
        function(call);
    }
    return true;
}

// ---- row templates ----------------------------------------------------------------

RowTemplate::RowTemplate(TagCall& call, std::string_view name)
    : m_call(call), m_provider(call.request.templates(), call.request, call.tags)
{
    templates::PageRequest page{call.request.language(), call.user.settings().theme, call.request.view()};
    m_text = templates::find_template(call.request.templates(), page, name, templates::TemplateKind::data,
                                      call.request.log());
}

void RowTemplate::write()
{
    if (!m_text)
        return;
    templates::expand(
        *m_text, templates::ExpandContext{m_call.out, m_provider, &m_call.request.settings(), &m_call.user.profile()});
}

// ---- current items ---------------------------------------------------------------

store::MessageEntry* current_entry(TagCall& call)
{
    if (t_row_entry && call.session.current_message == t_row_entry->number)
        return t_row_entry;
    // The message page asks for its message in a dozen tags, each a search
    // of the whole index; within one request the answer stays the same
    // (entries keep their addresses, and no tag removes one).
    thread_local struct {
        std::uint64_t serial = 0;
        std::optional<std::uint32_t> number;
        store::MessageEntry* entry = nullptr;
    } found;
    if (found.serial != call.request.serial() || found.number != call.session.current_message) {
        found.entry = mailbox_actions::current_message(call.request);
        found.serial = call.request.serial();
        found.number = call.session.current_message;
    }
    return found.entry;
}

MessageRow::MessageRow(TagCall& call) : m_call(call), m_saved(call.session.current_message), m_saved_row(t_row_entry) {}

MessageRow::~MessageRow()
{
    m_call.session.current_message = m_saved;
    t_row_entry = m_saved_row;
}

void MessageRow::set(store::MessageEntry& entry)
{
    m_call.session.current_message = entry.number;
    t_row_entry = &entry;
}

ItemRow::ItemRow(TagCall& call) : m_call(call), m_saved(call.session.current_item) {}

ItemRow::~ItemRow()
{
    m_call.session.current_item = m_saved;
}

void ItemRow::set(long item)
{
    m_call.session.current_item = item;
}

// ---- writing values ----------------------------------------------------------------

void write_attribute(TagCall& call, std::string_view value)
{
    cgi::escape_html(value, call.out);
}

void write_text(TagCall& call, std::string_view value)
{
    cgi::escape_html_formatted(value, call.out);
}

void write_number(TagCall& call, long long value)
{
    call.out.write(std::to_string(value));
}

void write_colour(TagCall& call, std::string_view value)
{
    for (char c : value.substr(0, 32)) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '#';
        if (ok)
            call.out.put(c);
    }
}

void write_link(TagCall& call)
{
    cgi::escape_html(call.request.variable("SCRIPT_NAME"), call.out);
    call.out.write("?Session=");
    call.out.write(call.session.id());
}

std::string language_string(TagCall& call, int number)
{
    return call.request.language_string(number);
}

long long kilobytes(long long bytes)
{
    return (bytes + 512) / 1024;
}

bool on_compose_view(TagCall& call)
{
    return dispatch::is_compose_view(call.request.view());
}

}  // namespace corvane::tags
