#include "engine/store/message_index/message_index.h"

#include <algorithm>
#include <cerrno>

#include "common/platform/files.h"
#include "common/text/strings.h"
#include "engine/store/message_index/folder_list.h"
#include "engine/store/message_index/header_flags.h"
#include "engine/store/message_index/index_file.h"
#include "engine/store/message_index/store_files.h"
#include "engine/store/mime/line_reader.h"

namespace corvane::store {

// Many thousands of these are loaded at once for every session.
static_assert(sizeof(MessageEntry) <= 80);

namespace {

bool usable_file_name(std::string_view name)
{
    return platform::is_plain_name(name) && name.front() != '.' && !text::has_controls(name);
}

}  // namespace

void MessageIndex::open(std::string user_dir)
{
    m_user_dir = std::move(user_dir);
    m_counter = 1;
    m_entries.clear();
    m_arena.clear();
    m_dirty = false;
    m_highest_number = 0;
    m_unindexed.clear();

    const std::string index_path = platform::path_nocase(m_user_dir, index_file_name);
    if (auto reader = mime::LineReader::open(index_path)) {
        IndexParser parser;
        // The texts of a record take about three quarters of its bytes in
        // the file (the rest is numbers, separators and names shared by
        // many entries); what does not fit goes to further blocks. The
        // reserve is made at once, so it is bounded: a huge file of junk
        // must not make its size resident before a record is read.
        constexpr std::uint64_t largest_reserve = 32u << 20;
        parser.arena().reserve(
            static_cast<std::size_t>(std::min(platform::file_size(index_path) / 4 * 3, largest_reserve)));
        std::string line;
        while (reader->next(line, max_index_line + 1))
            parser.line(line);
        parser.arena().trim();
        m_counter = parser.counter();
        m_entries = std::move(parser.entries());
        m_arena = std::move(parser.arena());
        // Records of the earlier format are written anew in the current one.
        for (MessageEntry* entry : parser.earlier_format()) {
            std::string path = message_path(*entry);
            if (!path.empty() && header_says_urgent(path))
                entry->flags |= flags::urgent;
            m_dirty = true;
        }
    }
    for (const auto& entry : m_entries)
        m_highest_number = std::max(m_highest_number, entry->number);

    Reconciled settled = reconcile_with_files(*this);
    if (settled.changed)
        m_dirty = true;
    m_unindexed = std::move(settled.unindexed);
}

MessageEntry& MessageIndex::adopt(MessageEntry entry)
{
    m_highest_number = std::max(m_highest_number, entry.number);
    m_entries.push_back(std::make_unique<MessageEntry>(std::move(entry)));
    m_dirty = true;
    return *m_entries.back();
}

bool MessageIndex::save()
{
    if (!m_dirty)
        return true;
    if (m_user_dir.empty())
        return false;
    // Written in pieces: the file of a large store is many megabytes.
    constexpr std::size_t piece_size = 64 * 1024;
    bool counter_written = false;
    std::size_t next = 0;
    auto fill = [&](std::string& piece) {
        if (!counter_written) {
            text::append_format(piece, "%u\n", m_counter);
            counter_written = true;
        }
        while (next < m_entries.size() && piece.size() < piece_size)
            append_record(piece, *m_entries[next++]);
        return !piece.empty();
    };
    auto written = platform::write_file_atomic_pieces(platform::path_nocase(m_user_dir, index_file_name), fill, 0600);
    if (!written)
        return false;
    m_dirty = false;
    return true;
}

void MessageIndex::set_counter(std::uint32_t counter)
{
    m_counter = (counter >= 1 && counter <= max_message_number) ? counter : 1;
    m_dirty = true;
}

bool MessageIndex::number_in_use(std::uint32_t number) const
{
    // Numbers above every number handed out or loaded are free; only a
    // counter that wrapped (or was set back) has to search.
    if (number > m_highest_number)
        return false;
    return std::any_of(m_entries.begin(), m_entries.end(), [&](const auto& entry) { return entry->number == number; });
}

std::uint32_t MessageIndex::next_number()
{
    std::uint32_t number = m_counter;
    // At most one full turn: with every number taken the counter's value is
    // handed out as it is.
    for (std::uint32_t tries = 0; tries < max_message_number && number_in_use(number); ++tries)
        number = number >= max_message_number ? 1 : number + 1;
    m_counter = number >= max_message_number ? 1 : number + 1;
    m_highest_number = std::max(m_highest_number, number);
    m_dirty = true;
    return number;
}

MessageEntry& MessageIndex::add_entry()
{
    m_entries.push_back(std::make_unique<MessageEntry>());
    m_dirty = true;
    return *m_entries.back();
}

MessageEntry* MessageIndex::find(std::uint32_t number)
{
    for (auto& entry : m_entries) {
        if (entry->number == number)
            return entry.get();
    }
    return nullptr;
}

MessageEntry* MessageIndex::first_in_folder(std::string_view folder)
{
    for (auto& entry : m_entries) {
        if (text::iequals(entry->folder, folder))
            return entry.get();
    }
    return nullptr;
}

std::size_t MessageIndex::count_in_folder(std::string_view folder) const
{
    return static_cast<std::size_t>(std::count_if(
        m_entries.begin(), m_entries.end(), [&](const auto& entry) { return text::iequals(entry->folder, folder); }));
}

std::size_t MessageIndex::unread_in_folder(std::string_view folder) const
{
    return static_cast<std::size_t>(std::count_if(m_entries.begin(), m_entries.end(), [&](const auto& entry) {
        return !entry->has(flags::read) && text::iequals(entry->folder, folder);
    }));
}

MessageIndex::Entries::iterator MessageIndex::position_of(const MessageEntry& entry)
{
    return std::find_if(m_entries.begin(), m_entries.end(), [&](const auto& e) { return e.get() == &entry; });
}

MessageEntry* MessageIndex::previous_in_folder(const MessageEntry& entry)
{
    auto it = position_of(entry);
    while (it != m_entries.begin()) {
        --it;
        if (text::iequals((*it)->folder, entry.folder))
            return it->get();
    }
    return nullptr;
}

MessageEntry* MessageIndex::next_in_folder(const MessageEntry& entry)
{
    auto it = position_of(entry);
    if (it == m_entries.end())
        return nullptr;
    for (++it; it != m_entries.end(); ++it) {
        if (text::iequals((*it)->folder, entry.folder))
            return it->get();
    }
    return nullptr;
}

std::string MessageIndex::folder_path(std::string_view folder) const
{
    return platform::path_nocase(m_user_dir, folder);
}

std::string MessageIndex::file_path(const MessageEntry& entry, std::string_view extension, bool resolve) const
{
    if (entry.folder.empty() || !is_safe_folder_name(entry.folder) || !usable_file_name(entry.file_name))
        return {};
    std::string name = entry.file_name + extension;
    return platform::join_path(resolve ? folder_path(entry.folder) : platform::join_path(m_user_dir, entry.folder),
                               name);
}

std::string MessageIndex::message_path_as_spelled(const MessageEntry& entry) const
{
    return file_path(entry, ".msg", false);
}

std::string MessageIndex::message_path(const MessageEntry& entry) const
{
    return file_path(entry, ".msg");
}

std::string MessageIndex::part_list_path(const MessageEntry& entry) const
{
    return file_path(entry, ".att");
}

std::string MessageIndex::uid_file_path(std::string_view mailbox) const
{
    if (!usable_file_name(mailbox))
        return {};
    std::string name(mailbox);
    name += ".uid";
    return platform::path_nocase(m_user_dir, name);
}

bool MessageIndex::move(MessageEntry& entry, std::string_view folder)
{
    if (!is_safe_folder_name(folder))
        return false;
    if (entry.has(flags::downloaded) && !text::iequals(entry.folder, folder)) {
        std::string from = message_path(entry);
        MessageEntry target = {};
        target.folder = folder;
        target.file_name = entry.file_name;
        std::string to = message_path(target);
        if (from.empty() || to.empty() || !platform::is_directory(folder_path(folder)))
            return false;
        if (!platform::rename_file(from, to))
            return false;
        (void)platform::rename_file(part_list_path(entry), part_list_path(target));
    }
    entry.folder = folder;
    m_dirty = true;
    return true;
}

MessageIndex::Deleted MessageIndex::delete_files(MessageEntry& entry)
{
    std::string message = message_path(entry);
    if (!message.empty()) {
        auto removed = platform::remove_file(message);
        if (!removed && removed.error().code != ENOENT)
            return Deleted::failed;
    }
    std::string parts = part_list_path(entry);
    if (!parts.empty())
        (void)platform::remove_file(parts);
    entry.folder.clear();
    entry.parts.reset();
    m_dirty = true;
    // An entry from a mailbox waits for the deletion on its server.
    if (!entry.server_id.empty() && !entry.mailbox.empty())
        return Deleted::kept;
    return Deleted::drop;
}

bool MessageIndex::delete_entry(MessageEntry& entry)
{
    Deleted result = delete_files(entry);
    if (result == Deleted::drop)
        erase(entry);
    return result != Deleted::failed;
}

MessageEntry* MessageIndex::copy(MessageEntry& entry, std::string_view folder)
{
    if (!is_safe_folder_name(folder))
        return nullptr;
    const bool downloaded = entry.has(flags::downloaded);
    if (downloaded && (message_path(entry).empty() || !platform::is_directory(folder_path(folder))))
        return nullptr;

    std::uint32_t saved_counter = m_counter;
    auto copy = std::make_unique<MessageEntry>();
    copy->number = next_number();
    copy->file_name = text::format("CV%06u", copy->number);
    copy->server_id = entry.server_id;
    copy->mailbox = entry.mailbox;
    copy->to = entry.to;
    copy->from = entry.from;
    copy->subject = entry.subject;
    copy->date = entry.date;
    copy->size = entry.size;
    copy->folder = folder;

    if (downloaded) {
        auto copied = platform::copy_file(message_path(entry), message_path(*copy), platform::Replace::no);
        // A file of the new name that no entry names is left alone.
        for (int tries = 0; !copied && copied.error().code == EEXIST && tries < 1000; ++tries) {
            copy->number = next_number();
            copy->file_name = text::format("CV%06u", copy->number);
            copied = platform::copy_file(message_path(entry), message_path(*copy), platform::Replace::no);
        }
        if (!copied) {
            m_counter = saved_counter;
            return nullptr;
        }
        // The part list only saves a scan of the message: without the
        // source's, the copy makes its own when it is first needed.
        (void)platform::copy_file(part_list_path(entry), part_list_path(*copy), platform::Replace::yes);
        entry.flags &= ~flags::copy_pending;
    } else {
        entry.flags |= flags::copy_pending;
    }
    copy->flags = entry.flags;
    m_entries.push_back(std::move(copy));
    m_dirty = true;
    return m_entries.back().get();
}

bool MessageIndex::empty_folder(std::string_view folder)
{
    bool ok = true;
    std::string name(folder);  // folder may refer to an entry's own field
    std::vector<const MessageEntry*> dropped;
    for (std::size_t i = m_entries.size(); i-- > 0;) {
        MessageEntry& entry = *m_entries[i];
        if (!text::iequals(entry.folder, name))
            continue;
        switch (delete_files(entry)) {
        case Deleted::failed:
            ok = false;
            break;
        case Deleted::drop:
            dropped.push_back(&entry);
            break;
        case Deleted::kept:
            break;
        }
    }
    // One pass over the array instead of one per deleted entry.
    if (!dropped.empty()) {
        std::sort(dropped.begin(), dropped.end(), std::less<const MessageEntry*>());
        std::erase_if(m_entries, [&](const auto& entry) {
            return std::binary_search(dropped.begin(), dropped.end(), entry.get(), std::less<const MessageEntry*>());
        });
    }
    return ok;
}

bool MessageIndex::rename_folder(std::string_view old_name, std::string_view new_name)
{
    if (!is_safe_folder_name(old_name) || !is_valid_new_folder_name(new_name))
        return false;
    auto old_on_disk = platform::resolve_nocase(m_user_dir, old_name);
    if (!old_on_disk)
        return false;
    // Another folder of the new name (in any letter case) is left alone; a
    // change of letter case alone renames the folder itself.
    auto new_on_disk = platform::resolve_nocase(m_user_dir, new_name);
    if (new_on_disk && *new_on_disk != *old_on_disk)
        return false;
    if (!platform::rename_file(platform::join_path(m_user_dir, *old_on_disk),
                               platform::join_path(m_user_dir, new_name)))
        return false;
    std::string old_copy(old_name);
    for (auto& entry : m_entries) {
        if (text::iequals(entry->folder, old_copy)) {
            entry->folder = new_name;
            m_dirty = true;
        }
    }
    return true;
}

bool MessageIndex::rename_mailbox(std::string_view old_name, std::string_view new_name)
{
    std::string from = uid_file_path(old_name);
    std::string to = uid_file_path(new_name);
    if (from.empty() || to.empty())
        return false;
    // A mailbox that was never checked has no UID file; its entries are
    // renamed all the same.
    if (platform::exists(from)) {
        std::string target = platform::join_path(m_user_dir, std::string(new_name) + ".uid");
        if (from != target && !platform::rename_file(from, target))
            return false;
    }
    std::string old_copy(old_name);
    for (auto& entry : m_entries) {
        if (text::iequals(entry->mailbox, old_copy)) {
            entry->mailbox = new_name;
            m_dirty = true;
        }
    }
    return true;
}

std::uint64_t MessageIndex::stored_size_kb() const
{
    std::uint64_t sum = 0;
    for (const auto& entry : m_entries) {
        if (entry->has(flags::downloaded))
            sum += entry->size;
    }
    return (sum + 512) / 1024;
}

bool MessageIndex::clear_new_flags()
{
    bool changed = false;
    for (auto& entry : m_entries) {
        if (entry->has(flags::new_message)) {
            entry->flags &= ~flags::new_message;
            changed = true;
        }
    }
    if (changed)
        m_dirty = true;
    return changed;
}

std::size_t MessageIndex::prune_folderless(const std::function<bool(const MessageEntry&)>& drop)
{
    std::size_t removed = 0;
    for (std::size_t i = m_entries.size(); i-- > 0;) {
        const MessageEntry& entry = *m_entries[i];
        if (entry.folder.empty() && drop(entry)) {
            m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(i));
            ++removed;
        }
    }
    if (removed)
        m_dirty = true;
    return removed;
}

void MessageIndex::erase(const MessageEntry& entry)
{
    auto it = position_of(entry);
    if (it != m_entries.end()) {
        m_entries.erase(it);
        m_dirty = true;
    }
}

}  // namespace corvane::store
