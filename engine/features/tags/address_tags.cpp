// Tags of the address books and the directory search: ADDRBOOKDATA and
// GLOBALADDRBOOKDATA with the tags of their rows (the entry that is the
// current item), the directory search's field and server list. The search
// itself comes with its own module; until then its results are empty.
#include <string>

#include "common/ini/profile.h"
#include "common/platform/files.h"
#include "common/text/strings.h"
#include "engine/core/accounts/user_record.h"
#include "engine/core/cgi/streams.h"
#include "engine/core/dispatch/request_context.h"
#include "engine/core/lifecycle/settings.h"
#include "engine/features/tags/tags.h"
#include "engine/store/addrbook/address_book.h"

namespace corvane::tags {

namespace {

// Directory servers are numbered from 1; a list this long is damage.
constexpr int max_directory_servers = 100;

// The global book while GLOBALADDRBOOKDATA writes its rows; it is read for
// the list only, so its item tags say nothing outside it.
thread_local const addrbook::AddressBook* t_global = nullptr;

const addrbook::AddressEntry* entry_of(TagCall& call, const addrbook::AddressBook* book)
{
    long item = call.session.current_item;
    if (!book || item < 0 || static_cast<std::size_t>(item) >= book->size())
        return nullptr;
    return &book->entries()[static_cast<std::size_t>(item)];
}

const addrbook::AddressEntry* personal(TagCall& call)
{
    return entry_of(call, &call.user.address_book());
}

const addrbook::AddressEntry* global(TagCall& call)
{
    return entry_of(call, t_global);
}

void write_rows(TagCall& call, std::string_view row_name, std::size_t count)
{
    RowTemplate row(call, row_name);
    if (!row)
        return;
    ItemRow item(call);
    for (std::size_t i = 0; i < count; ++i) {
        item.set(static_cast<long>(i));
        row.write();
    }
}

void address_book_data(TagCall& call)
{
    addrbook::AddressBook& book = call.user.address_book();
    book.sort(call.user.settings().addr_book_sort_order);
    write_rows(call, "AddrBookData", book.size());
}

void global_address_book_data(TagCall& call)
{
    addrbook::AddressBook book;
    book.open(lifecycle::read_directories(call.request.settings()).base);
    std::string key = lifecycle::text_setting(call.request.settings(), "General", "GlobalAddrBookSortOrder");
    book.sort(text::iequals(key, "User") ? call.user.settings().addr_book_sort_order : key);
    const addrbook::AddressBook* saved = t_global;
    t_global = &book;
    write_rows(call, "GlobalAddrBookData", book.size());
    t_global = saved;
}

void directory_servers(TagCall& call)
{
    lifecycle::Directories dirs = lifecycle::read_directories(call.request.settings());
    ini::Profile lookup(platform::path_nocase(dirs.base, "AddrLookup.ini"));
    for (int n = 1; n <= max_directory_servers; ++n) {
        std::string description = lookup.text("LDAP" + std::to_string(n), "Descr", "");
        if (description.empty())
            break;
        call.out.write("<OPTION>");
        write_text(call, description);
        call.out.write("</OPTION>\r\n");
    }
}

}  // namespace

void add_address_tags(TagTable& table)
{
    table.add("ADDRBOOKDATA", address_book_data);
    table.add("GLOBALADDRBOOKDATA", global_address_book_data);
    table.add("ADDRNUM", [](TagCall& call) {
        if (personal(call) || global(call))
            write_number(call, call.session.current_item + 1);
    });
    table.add("ADDRNAME", [](TagCall& call) {
        if (const addrbook::AddressEntry* e = personal(call))
            write_text(call, e->name);
    });
    table.add("ADDREMAIL", [](TagCall& call) {
        if (const addrbook::AddressEntry* e = personal(call))
            write_text(call, e->email);
    });
    table.add("ADDRCOMMENT", [](TagCall& call) {
        if (const addrbook::AddressEntry* e = personal(call))
            write_text(call, e->comment);
    });
    table.add("GLOBALNAME", [](TagCall& call) {
        if (const addrbook::AddressEntry* e = global(call))
            write_text(call, e->name);
    });
    table.add("GLOBALEMAIL", [](TagCall& call) {
        if (const addrbook::AddressEntry* e = global(call))
            write_text(call, e->email);
    });
    table.add("GLOBALCOMMENT", [](TagCall& call) {
        if (const addrbook::AddressEntry* e = global(call))
            write_text(call, e->comment);
    });
    // The search results come with the directory search's own module.
    table.add("ADDRLOOKUPDATA", [](TagCall&) {});
    table.add("ADDRLOOKUPFIELD",
              [](TagCall& call) { write_attribute(call, call.request.fields().value("AddrLookupField")); });
    table.add("ADDRLOOKUPHOSTSELECT", directory_servers);
}

}  // namespace corvane::tags
