#include "engine/store/filters/apply_filters.h"

#include <vector>

#include "common/text/strings.h"

namespace corvane::filters {

HeaderLookup header_lookup(const mime::HeaderList& header)
{
    return [&header](std::string_view name) -> std::string_view { return header.value(name); };
}

std::string choose_folder(const FilterSet& filters, const mime::HeaderList& header, std::string_view mailbox,
                          const store::FolderList& folders)
{
    const std::string* inbox = folders.inbox();
    std::string inbox_name = inbox ? *inbox : std::string();
    std::string chosen = filters.evaluate(header_lookup(header), mailbox, inbox_name);
    if (auto listed = folders.find(chosen))
        return *listed;
    return inbox_name;
}

std::optional<std::string> refilter_source(const store::FolderList& folders, std::string_view dest_folder)
{
    if (!dest_folder.empty()) {
        if (auto listed = folders.find(dest_folder))
            return listed;
    }
    if (const std::string* inbox = folders.inbox())
        return *inbox;
    return std::nullopt;
}

std::size_t refilter_folder(store::MessageIndex& index, const store::FolderList& folders, const FilterSet& filters,
                            std::string_view folder)
{
    const std::string source(folder);
    // Moving changes only the folder field, never the order of the index,
    // so the walk over the entries taken beforehand is the walk "from each
    // entry to the one that followed it in the folder".
    std::vector<store::MessageEntry*> entries;
    for (auto& entry : index.entries()) {
        if (text::iequals(entry->folder, source))
            entries.push_back(entry.get());
    }

    std::size_t moved = 0;
    for (store::MessageEntry* entry : entries) {
        std::string path = index.message_path(*entry);
        mime::HeaderList header = path.empty() ? mime::HeaderList() : mime::read_header(path);
        if (header.is_absent_or_empty("From"))
            header.set("From", entry->from);
        if (header.is_absent_or_empty("To"))
            header.set("To", entry->to);
        if (header.is_absent_or_empty("Subject"))
            header.set("Subject", entry->subject);
        std::string result = filters.evaluate(header_lookup(header), entry->mailbox, source);
        if (text::iequals(result, source))
            continue;
        auto listed = folders.find(result);
        if (listed && index.move(*entry, *listed))
            ++moved;
    }
    return moved;
}

}  // namespace corvane::filters
