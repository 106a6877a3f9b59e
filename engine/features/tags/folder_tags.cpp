// Tags of folders: the four folder lists and the tags of their rows, the
// counts of the current folder, the other folders with unread mail, and
// the heading of the sender column.
#include <cstdint>
#include <vector>

#include "common/text/strings.h"
#include "engine/core/accounts/user_record.h"
#include "engine/core/cgi/encoding.h"
#include "engine/core/cgi/streams.h"
#include "engine/core/dispatch/request_context.h"
#include "engine/core/dispatch/views.h"
#include "engine/features/list_order/list_order.h"
#include "engine/features/tags/tags.h"

namespace corvane::tags {

namespace {

constexpr int string_to = 7;
constexpr int string_from = 8;
// The Folders page lists only the user's own folders, after the fixed four.
constexpr std::size_t fixed_folders = 4;

// The counts of every folder, counted once per request: a list page asks
// for them in several tags and rows, and each count is a pass over the
// whole index. Nothing changes the index while a page is written.
struct CountsOfRequest {
    std::uint64_t serial = 0;
    std::vector<store::FolderCount> counts;
};
thread_local CountsOfRequest t_counts;

const std::vector<store::FolderCount>& folder_counts(TagCall& call)
{
    if (t_counts.serial != call.request.serial()) {
        t_counts.counts = call.user.mail().folder_counts();
        t_counts.serial = call.request.serial();
    }
    return t_counts.counts;
}

// The folder a tag describes: the row of a folder list, else the current
// folder. Null past the end of the list, or without folders.
const std::string* described_folder(TagCall& call)
{
    store::FolderList& folders = call.user.mail().folders();
    if (call.session.folder_item) {
        std::size_t i = *call.session.folder_item;
        return i < folders.size() ? &folders.names()[i] : nullptr;
    }
    return folders.current();
}

void folder_list(TagCall& call, std::string_view row_name)
{
    store::FolderList& folders = call.user.mail().folders();
    RowTemplate row(call, row_name);
    if (!row)
        return;
    int view = call.request.view();
    std::optional<std::size_t> saved = call.session.folder_item;
    std::size_t start = view == dispatch::view_folders ? fixed_folders : 0;
    for (std::size_t i = start; i < folders.size(); ++i) {
        call.session.folder_item = i;
        row.write();
    }
    // Inside the filter rows the list ends past its last folder, so the
    // row's own folder tags say nothing more; elsewhere the old folder
    // comes back.
    if (view == dispatch::view_options_filters)
        call.session.folder_item = folders.size();
    else
        call.session.folder_item = saved;
}

void folder_name(TagCall& call)
{
    if (const std::string* name = described_folder(call))
        write_attribute(call, *name);
}

void folder_name_url(TagCall& call)
{
    if (const std::string* name = described_folder(call))
        write_attribute(call, cgi::url_encoded(*name));
}

// Messages and unread messages of the described folder.
store::FolderCount count_of(TagCall& call)
{
    const std::string* name = described_folder(call);
    if (!name)
        return {};
    for (const store::FolderCount& c : folder_counts(call)) {
        if (c.name == *name)
            return c;
    }
    store::MessageIndex& index = call.user.mail().index();
    return store::FolderCount{*name, index.count_in_folder(*name), index.unread_in_folder(*name)};
}

void all_unread_counts(TagCall& call)
{
    store::FolderList& folders = call.user.mail().folders();
    const std::string* current = folders.current();
    bool first = true;
    for (const store::FolderCount& c : folder_counts(call)) {
        if (c.unread == 0 || (current && text::iequals(c.name, *current)))
            continue;
        if (!first)
            call.out.write(", ");
        first = false;
        call.out.write("<A HREF=\"");
        write_link(call);
        call.out.write("&amp;View=List&amp;Folder=");
        write_attribute(call, cgi::url_encoded(c.name));
        call.out.write("\">");
        write_text(call, c.name);
        call.out.write(":");
        write_number(call, static_cast<long long>(c.unread));
        call.out.write("</A>");
    }
}

void who(TagCall& call)
{
    bool recipients = list_order::shows_recipients(call.user, call.request.settings());
    write_text(call, language_string(call, recipients ? string_to : string_from));
}

}  // namespace

void add_folder_tags(TagTable& table)
{
    table.add("FOLDERDATA", [](TagCall& call) { folder_list(call, "FolderData"); });
    table.add("FOLDERLIST", [](TagCall& call) { folder_list(call, "FolderList"); });
    table.add("FOLDERSELECT", [](TagCall& call) { folder_list(call, "FolderSelect"); });
    table.add("FOLDERSELECTCOUNTS", [](TagCall& call) { folder_list(call, "FolderSelectCounts"); });
    table.add("FOLDERNAME", folder_name);
    table.add("FOLDERNAMEURL", folder_name_url);
    table.add("MSGCOUNT", [](TagCall& call) { write_number(call, static_cast<long long>(count_of(call).messages)); });
    table.add("UNREADCOUNT", [](TagCall& call) { write_number(call, static_cast<long long>(count_of(call).unread)); });
    table.add("ALLUNREADCOUNTS", all_unread_counts);
    table.add("WHO", who);
}

}  // namespace corvane::tags
