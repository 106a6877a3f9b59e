// The message index of one user: every message of the store with its
// folder, flags and header summary, kept in Messages.idx in the user
// directory.
//
// The index owns its entries; an entry's address stays valid until the
// entry is removed (delete_entry, empty_folder, prune), so a session may
// hold on to its current message. Folder names compare without regard to
// case, on disk too. Every operation that moves files works inside the user
// directory only: folder names that could leave it are refused.
//
// Saving replaces Messages.idx atomically (temporary file, then rename), so
// a crash or a full disk in the middle leaves the previous index intact; a
// failed save leaves the index dirty. The index is saved after the files of
// an action have moved: a crash in between is settled by the next load,
// which reads every folder once and makes the entries agree with the files
// (see reconcile.h), so that no message is lost; a load rewrites the index
// only when it changed something. The index does not parse messages:
// storing one is the message receiver's work, and so is adopting a message
// file that no entry names.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/store/message_index/message_entry.h"
#include "engine/store/message_index/reconcile.h"

namespace corvane::store {

constexpr std::string_view index_file_name = "Messages.idx";

class MessageIndex {
public:
    using Entries = std::vector<std::unique_ptr<MessageEntry>>;

    MessageIndex() = default;
    MessageIndex(const MessageIndex&) = delete;
    MessageIndex& operator=(const MessageIndex&) = delete;

    // Sets the counter to 1 and loads Messages.idx of user_dir (a missing
    // or unreadable file gives an empty index), then settles what a crash
    // left apart between the entries and the files (reconcile.h). Entries
    // of the earlier format get their urgent flag from their message file.
    // The loaded index is dirty only when the load changed it.
    void open(std::string user_dir);
    // Message files that no entry names, found by the last open().
    const std::vector<UnindexedFile>& unindexed() const { return m_unindexed; }
    // Takes in the entry of such a file (or of any message whose number is
    // its own): appended, number kept.
    MessageEntry& adopt(MessageEntry entry);
    // Writes the index when it is dirty; true when nothing needed writing
    // or the new file is in place.
    bool save();

    const std::string& user_dir() const { return m_user_dir; }
    bool dirty() const { return m_dirty; }
    // For callers that changed an entry's fields directly.
    void mark_dirty() { m_dirty = true; }

    std::uint32_t counter() const { return m_counter; }
    void set_counter(std::uint32_t counter);
    // The counter value, then advances it (999999 wraps to 1). A number
    // that an entry of the index still uses is passed over, so a wrapped
    // counter never hands out the file name of a message we keep. Entries
    // take their numbers from here (or from the loaded file).
    std::uint32_t next_number();

    // A new, empty entry at the end of the index.
    MessageEntry& add_entry();
    MessageEntry* find(std::uint32_t number);

    MessageEntry* first_in_folder(std::string_view folder);
    std::size_t count_in_folder(std::string_view folder) const;
    std::size_t unread_in_folder(std::string_view folder) const;
    // Nearest entry of the same folder before / after entry, in index order.
    MessageEntry* previous_in_folder(const MessageEntry& entry);
    MessageEntry* next_in_folder(const MessageEntry& entry);

    // Moves the entry (and its files, when downloaded) to folder. False,
    // changing nothing, when the name is not a folder name or the message
    // file cannot be moved.
    bool move(MessageEntry& entry, std::string_view folder);
    // Removes the files and empties the folder field. An entry that came
    // from a mailbox (server identifier and mailbox set) stays, waiting for
    // deletion on the server; any other is removed and freed, so the caller
    // must not use entry afterwards. False when the message file exists and
    // cannot be removed (nothing changes then).
    bool delete_entry(MessageEntry& entry);
    // A copy of entry in folder (files copied when downloaded; a source
    // that is not downloaded and its copy become copy-pending). nullptr,
    // changing nothing, when the name is refused or the copy fails.
    MessageEntry* copy(MessageEntry& entry, std::string_view folder);
    // Deletes every entry of the folder; false when any delete failed.
    bool empty_folder(std::string_view folder);
    // Renames the folder directory, then the folder of its entries.
    bool rename_folder(std::string_view old_name, std::string_view new_name);
    // Renames the mailbox's UID file, then the mailbox of its entries.
    bool rename_mailbox(std::string_view old_name, std::string_view new_name);

    // Kilobytes of downloaded messages, rounded to the nearest.
    std::uint64_t stored_size_kb() const;

    // Clears the new flag of every entry; true when any had it.
    bool clear_new_flags();
    // Removes, from the last entry to the first, each entry without a folder
    // for which drop says so (no files are touched: such entries have none).
    // Returns how many were removed.
    std::size_t prune_folderless(const std::function<bool(const MessageEntry&)>& drop);
    // Takes an entry out of the index without touching its files.
    void erase(const MessageEntry& entry);

    // The directory of a folder as it is spelled on disk.
    std::string folder_path(std::string_view folder) const;
    // "<user dir>/<folder>/<file name>.msg" and ".att"; empty for an entry
    // without a folder or with names that are not safe.
    std::string message_path(const MessageEntry& entry) const;
    std::string part_list_path(const MessageEntry& entry) const;
    // The message path with the folder spelled as the entry spells it,
    // without looking on disk: right whenever the spellings agree, and the
    // cheap first try of a caller that falls back to message_path().
    std::string message_path_as_spelled(const MessageEntry& entry) const;
    // The UID file of a mailbox: "<user dir>/<mailbox>.uid"; empty for a
    // name that is not a plain file name.
    std::string uid_file_path(std::string_view mailbox) const;

    Entries& entries() { return m_entries; }
    const Entries& entries() const { return m_entries; }
    std::size_t size() const { return m_entries.size(); }

private:
    enum class Deleted { failed, kept, drop };
    Deleted delete_files(MessageEntry& entry);
    std::string file_path(const MessageEntry& entry, std::string_view extension, bool resolve = true) const;
    bool number_in_use(std::uint32_t number) const;
    Entries::iterator position_of(const MessageEntry& entry);

    std::string m_user_dir;
    std::uint32_t m_counter = 1;
    // The texts of the loaded entries; declared before them, so that it
    // outlives them.
    TextArena m_arena;
    Entries m_entries;
    bool m_dirty = false;
    // The highest number loaded or handed out by next_number(), where every
    // entry's number comes from.
    std::uint32_t m_highest_number = 0;
    std::vector<UnindexedFile> m_unindexed;
};

}  // namespace corvane::store
