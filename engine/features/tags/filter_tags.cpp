// Tags of the user's filters: FILTERDATA and the tags of its rows, which
// describe the filter that is the current item (the new, empty filter past
// the end).
#include <string>

#include "engine/core/accounts/user_record.h"
#include "engine/core/cgi/streams.h"
#include "engine/features/tags/tags.h"

namespace corvane::tags {

namespace {

constexpr int string_filter = 67;

std::vector<filters::FilterRule>& rules(TagCall& call)
{
    return call.user.mail().filters().rules();
}

const filters::FilterRule* current_rule(TagCall& call)
{
    auto& list = rules(call);
    long item = call.session.current_item;
    if (item < 0 || static_cast<std::size_t>(item) >= list.size())
        return nullptr;
    return &list[static_cast<std::size_t>(item)];
}

void filter_data(TagCall& call)
{
    RowTemplate row(call, "FilterData");
    if (!row)
        return;
    ItemRow item(call);
    // The folder lists inside the rows leave the folder item past the end;
    // the page after the list sees the current folder again.
    std::optional<std::size_t> folder = call.session.folder_item;
    std::size_t count = rules(call).size();
    for (std::size_t i = 0; i < count; ++i) {
        item.set(static_cast<long>(i));
        row.write();
    }
    item.set(-1);
    row.write();
    call.session.folder_item = folder;
}

void put_char(TagCall& call, char c)
{
    // Codes are letters; anything else in a damaged file is not written.
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
        call.out.put(c);
}

}  // namespace

void add_filter_tags(TagTable& table)
{
    table.add("FILTERDATA", filter_data);
    table.add("FILTERENABLE", [](TagCall& call) {
        const filters::FilterRule* rule = current_rule(call);
        call.out.put(!rule || rule->enabled ? '1' : '0');
    });
    table.add("FILTERFOLDER", [](TagCall& call) {
        if (const filters::FilterRule* rule = current_rule(call))
            write_text(call, rule->folder);
    });
    table.add("FILTERLITERAL", [](TagCall& call) {
        if (const filters::FilterRule* rule = current_rule(call))
            write_text(call, rule->text);
    });
    table.add("FILTERMATCH", [](TagCall& call) {
        if (const filters::FilterRule* rule = current_rule(call))
            put_char(call, rule->match);
    });
    table.add("FILTERWHAT", [](TagCall& call) {
        if (const filters::FilterRule* rule = current_rule(call))
            put_char(call, rule->header);
    });
    table.add("FILTERNAME", [](TagCall& call) {
        write_text(call, language_string(call, string_filter));
        long item = call.session.current_item;
        write_number(call, current_rule(call) ? item + 1 : static_cast<long long>(rules(call).size()) + 1);
    });
    table.add("FILTERNUM",
              [](TagCall& call) { write_number(call, current_rule(call) ? call.session.current_item + 1 : 0); });
}

}  // namespace corvane::tags
