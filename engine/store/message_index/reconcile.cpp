#include "engine/store/message_index/reconcile.h"

#include <algorithm>
#include <functional>
#include <map>
#include <optional>

#include "common/platform/files.h"
#include "common/text/strings.h"
#include "engine/store/message_index/folder_list.h"
#include "engine/store/message_index/message_index.h"

namespace corvane::store {

namespace {

bool ends_with(std::string_view s, std::string_view suffix)
{
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Hidden files that an interrupted write of ours leaves: a message stored
// under a hidden name where unnamed files cannot be made (".incoming"), a
// replacement linked beside its target (".new"), an earlier copy's
// temporary (".tmp").
bool is_interrupted_write(std::string_view name)
{
    return name.size() > 1 && name.front() == '.' &&
           (ends_with(name, ".incoming") || ends_with(name, ".new") || ends_with(name, ".tmp"));
}

// The temporary of an interrupted save of Messages.idx: "." + name + "." + six characters.
bool is_interrupted_index_save(std::string_view name)
{
    const std::size_t base = index_file_name.size();
    return name.size() == base + 8 && name.front() == '.' && name[base + 1] == '.' &&
           text::iequals(name.substr(1, base), index_file_name);
}

// "CV000123" is 123; 0 for any other name.
std::uint32_t number_of(std::string_view name)
{
    if (name.size() != 8 || name[0] != 'C' || name[1] != 'V')
        return 0;
    std::uint32_t n = 0;
    for (std::size_t i = 2; i < 8; ++i) {
        if (name[i] < '0' || name[i] > '9')
            return 0;
        n = n * 10 + static_cast<std::uint32_t>(name[i] - '0');
    }
    return n;
}

// The message files and part lists of one folder. Almost every name is
// "CV" and six digits, so those are kept as numbers: sorting and finding
// them costs little even for a folder of many thousands.
struct FolderFiles {
    std::string name;  // as spelled on disk
    bool listed = false;
    std::vector<std::uint32_t> messages;        // numbers of "CVnnnnnn.msg", sorted
    std::vector<std::string> other_messages;    // other names without ".msg", sorted
    std::vector<std::uint32_t> part_lists;      // numbers of "CVnnnnnn.att", sorted
    std::vector<std::string> other_part_lists;  // other names without ".att"
    std::vector<char> claimed;                  // messages, then other_messages

    void add(std::string_view stem, bool message)
    {
        if (std::uint32_t n = number_of(stem))
            (message ? messages : part_lists).push_back(n);
        else
            (message ? other_messages : other_part_lists).emplace_back(stem);
    }

    void sort()
    {
        std::sort(messages.begin(), messages.end());
        std::sort(other_messages.begin(), other_messages.end());
        claimed.assign(messages.size() + other_messages.size(), 0);
    }

    // The slot of a message file in claimed, or -1.
    std::ptrdiff_t find(std::string_view file_name) const
    {
        if (std::uint32_t n = number_of(file_name)) {
            auto it = std::lower_bound(messages.begin(), messages.end(), n);
            return (it != messages.end() && *it == n) ? it - messages.begin() : -1;
        }
        auto it = std::lower_bound(other_messages.begin(), other_messages.end(), file_name);
        if (it == other_messages.end() || *it != file_name)
            return -1;
        return static_cast<std::ptrdiff_t>(messages.size()) + (it - other_messages.begin());
    }

    std::string file_name_at(std::size_t slot) const
    {
        if (slot < messages.size())
            return text::format("CV%06u", messages[slot]);
        return other_messages[slot - messages.size()];
    }
};

class Reconciler {
public:
    explicit Reconciler(MessageIndex& index) : m_index(index) {}

    Reconciled run()
    {
        if (!list_folders())
            return {};
        claim_files();
        settle_missing();
        collect_unindexed();
        remove_orphan_part_lists();
        if (!m_drop.empty()) {
            std::sort(m_drop.begin(), m_drop.end(), std::less<const MessageEntry*>());
            std::erase_if(m_index.entries(), [&](const auto& entry) {
                return std::binary_search(m_drop.begin(), m_drop.end(), entry.get(), std::less<const MessageEntry*>());
            });
        }
        return std::move(m_result);
    }

private:
    bool list_folders()
    {
        const std::string& user_dir = m_index.user_dir();
        auto listing = platform::list_directory(user_dir);
        if (!listing)
            return false;
        for (const platform::DirEntry& entry : *listing) {
            if (entry.is_directory) {
                if (is_safe_folder_name(entry.name))
                    m_folders.push_back(FolderFiles{entry.name, false, {}, {}, {}, {}, {}});
            } else if (is_interrupted_write(entry.name) || is_interrupted_index_save(entry.name)) {
                (void)platform::remove_file(platform::join_path(user_dir, entry.name));
            }
        }
        for (FolderFiles& folder : m_folders)
            list_folder(folder);
        return true;
    }

    void list_folder(FolderFiles& folder)
    {
        std::string dir = platform::join_path(m_index.user_dir(), folder.name);
        // Visited rather than listed: a folder may hold many thousands of
        // files, and only their numbers are kept.
        auto visited = platform::visit_directory(dir, [&](std::string_view name, bool is_directory) {
            if (is_directory || name.empty())
                return;
            if (name.front() == '.') {
                if (is_interrupted_write(name))
                    (void)platform::remove_file(platform::join_path(dir, name));
            } else if (name.size() > 4 && ends_with(name, ".msg")) {
                folder.add(name.substr(0, name.size() - 4), true);
            } else if (name.size() > 4 && ends_with(name, ".att")) {
                folder.add(name.substr(0, name.size() - 4), false);
            }
        });
        if (!visited)
            return;
        folder.listed = true;
        folder.sort();
    }

    // The folder on disk an entry's folder name means, as message_path()
    // would find it: the exact spelling, else the first other spelling in
    // byte order. -1 when there is none.
    int folder_of(std::string_view name)
    {
        // A user has a few folders: comparing with each is cheaper than
        // hashing the name of every entry.
        for (std::size_t i = 0; i < m_folders.size(); ++i) {
            if (m_folders[i].name == name)
                return static_cast<int>(i);
        }
        auto cached = m_resolved.find(name);
        if (cached != m_resolved.end())
            return cached->second;
        int found = -1;
        for (std::size_t i = 0; i < m_folders.size() && found < 0; ++i) {
            if (text::iequals(m_folders[i].name, name))
                found = static_cast<int>(i);
        }
        m_resolved.emplace(std::string(name), found);
        return found;
    }

    void claim_files()
    {
        for (auto& owned : m_index.entries()) {
            MessageEntry& entry = *owned;
            if (entry.folder.empty()) {
                m_folderless.push_back(&entry);
                continue;
            }
            const int f = folder_of(entry.folder);
            if (f >= 0 && !m_folders[static_cast<std::size_t>(f)].listed)
                continue;  // nothing known about that folder
            std::ptrdiff_t pos = f >= 0 ? m_folders[static_cast<std::size_t>(f)].find(entry.file_name) : -1;
            if (pos >= 0) {
                m_folders[static_cast<std::size_t>(f)].claimed[static_cast<std::size_t>(pos)] = 1;
                if (!entry.has(flags::downloaded)) {
                    // The file of a message fetched as header only arrived.
                    entry.flags |= flags::downloaded;
                    m_result.changed = true;
                }
            } else if (entry.has(flags::downloaded)) {
                m_missing.push_back(&entry);
            } else if (f < 0) {
                m_header_only_lost.push_back(&entry);
            }
        }
    }

    struct Place {
        std::size_t folder;
        std::size_t pos;
    };

    // An unclaimed file of that name, claimed now; nullopt when none.
    std::optional<Place> take_orphan(std::string_view file_name)
    {
        for (std::size_t f = 0; f < m_folders.size(); ++f) {
            FolderFiles& folder = m_folders[f];
            if (!folder.listed)
                continue;
            std::ptrdiff_t pos = folder.find(file_name);
            if (pos >= 0 && !folder.claimed[static_cast<std::size_t>(pos)]) {
                folder.claimed[static_cast<std::size_t>(pos)] = 1;
                return Place{f, static_cast<std::size_t>(pos)};
            }
        }
        return std::nullopt;
    }

    void settle_missing()
    {
        // Folder names (lower case) whose files were found in another folder.
        std::map<std::string, std::string> renamed;
        for (MessageEntry* entry : m_missing) {
            m_result.changed = true;
            if (auto place = take_orphan(entry->file_name)) {
                const std::string& now = m_folders[place->folder].name;
                if (folder_of(entry->folder) < 0)
                    renamed.emplace(text::lower(entry->folder), now);
                entry->folder = now;
                continue;
            }
            // Gone everywhere: the message was being deleted.
            entry->folder.clear();
            entry->parts.reset();
            if (entry->server_id.empty() || entry->mailbox.empty())
                m_drop.push_back(entry);
        }
        for (MessageEntry* entry : m_header_only_lost) {
            auto found = renamed.find(text::lower(entry->folder));
            if (found != renamed.end()) {
                entry->folder = found->second;
                m_result.changed = true;
            }
        }
        // An entry kept for its server's deletion has no file; one that has
        // a file again was never deleted here: it is put back.
        for (MessageEntry* entry : m_folderless) {
            if (auto place = take_orphan(entry->file_name)) {
                entry->folder = m_folders[place->folder].name;
                entry->flags |= flags::downloaded;
                m_result.changed = true;
            }
        }
    }

    void collect_unindexed()
    {
        for (const FolderFiles& folder : m_folders) {
            for (std::size_t slot = 0; slot < folder.claimed.size(); ++slot) {
                if (!folder.claimed[slot])
                    m_result.unindexed.push_back(UnindexedFile{folder.name, folder.file_name_at(slot)});
            }
        }
    }

    // A part list describes the message file beside it; without one it is
    // left over from a move or delete that was cut short, and would
    // describe the wrong message once its name is used again.
    void remove_orphan_part_lists()
    {
        for (const FolderFiles& folder : m_folders) {
            if (!folder.listed)
                continue;
            std::string dir = platform::join_path(m_index.user_dir(), folder.name);
            auto remove_unless_message = [&](const std::string& stem) {
                if (folder.find(stem) < 0)
                    (void)platform::remove_file(platform::join_path(dir, stem + ".att"));
            };
            for (std::uint32_t n : folder.part_lists) {
                if (!std::binary_search(folder.messages.begin(), folder.messages.end(), n))
                    remove_unless_message(text::format("CV%06u", n));
            }
            for (const std::string& stem : folder.other_part_lists)
                remove_unless_message(stem);
        }
    }

    MessageIndex& m_index;
    std::vector<FolderFiles> m_folders;
    std::map<std::string, int, std::less<>> m_resolved;  // other spellings
    std::vector<MessageEntry*> m_missing;
    std::vector<MessageEntry*> m_header_only_lost;
    std::vector<MessageEntry*> m_folderless;
    std::vector<const MessageEntry*> m_drop;
    Reconciled m_result;
};

}  // namespace

Reconciled reconcile_with_files(MessageIndex& index)
{
    return Reconciler(index).run();
}

}  // namespace corvane::store
