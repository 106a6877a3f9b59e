#include "engine/store/receiver/adopt_files.h"

#include <map>
#include <tuple>
#include <unordered_set>

#include "common/platform/files.h"
#include "common/text/strings.h"

namespace corvane::receiver {

namespace {

// "CV000123" is message number 123; other names have none.
std::uint32_t number_of(std::string_view file_name)
{
    if (file_name.size() != 8 || file_name.substr(0, 2) != "CV")
        return 0;
    auto n = text::parse_number(file_name.substr(2));
    return (n && *n >= 1 && *n <= store::max_message_number) ? static_cast<std::uint32_t>(*n) : 0;
}

using TwinKey = std::tuple<std::uint32_t, std::string_view, std::string_view, std::string_view>;

TwinKey twin_key(const store::MessageEntry& entry)
{
    return {entry.date, entry.from, entry.to, entry.subject};
}

}  // namespace

std::size_t adopt_unindexed_files(store::MessageIndex& index, const ReceiverOptions& options)
{
    const std::vector<store::UnindexedFile> files = index.unindexed();
    if (files.empty())
        return 0;
    std::unordered_set<std::uint32_t> numbers;
    // Messages a copy may have been made of; without a date two different
    // messages look too much alike to tell.
    std::map<TwinKey, std::uint32_t> flags_of;
    for (const auto& entry : index.entries()) {
        numbers.insert(entry->number);
        if (entry->date != 0 && entry->has(store::flags::downloaded) && !entry->folder.empty())
            flags_of.emplace(twin_key(*entry), entry->flags);
    }

    std::size_t adopted = 0;
    for (const store::UnindexedFile& file : files) {
        const std::string folder_dir = platform::join_path(index.user_dir(), file.folder);
        std::string name = file.file_name;
        auto scan = MessageReceiver::scan_file(platform::join_path(folder_dir, name + ".msg"), options);
        if (!scan)
            continue;
        store::MessageEntry entry = std::move(scan->entry);

        std::uint32_t number = number_of(name);
        if (number == 0 || numbers.count(number)) {
            number = index.next_number();
            std::string free_name = text::format("CV%06u", number);
            if (number_of(name) != 0) {
                // Two files may not share a number: the entry's would be
                // overwritten when it moves into this folder.
                if (!platform::rename_file(platform::join_path(folder_dir, name + ".msg"),
                                           platform::join_path(folder_dir, free_name + ".msg"), platform::Replace::no))
                    continue;
                (void)platform::remove_file(platform::join_path(folder_dir, name + ".att"));
                name = free_name;
            }
        }
        numbers.insert(number);
        entry.number = number;
        entry.file_name = name;
        entry.folder = file.folder;
        entry.mailbox.clear();
        entry.server_id.clear();
        entry.parts.reset();
        auto twin = entry.date != 0 ? flags_of.find(twin_key(entry)) : flags_of.end();
        if (twin != flags_of.end())
            entry.flags = twin->second & ~store::flags::copy_pending;
        entry.flags |= store::flags::downloaded;
        index.adopt(std::move(entry));
        ++adopted;
    }
    return adopted;
}

}  // namespace corvane::receiver
