// The text of Messages.idx: the counter line, then one record per entry.
//
// A record is eleven fields, each followed by 0x01, then CR LF. Records of
// the earlier sixteen-field format (seventeen with a trailing field) are
// read too; every other line is dropped. The parser is a line consumer, so
// a file of any size is read in bounded pieces; it never fails and never
// trusts a field it uses to build a path.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/store/message_index/message_entry.h"

namespace corvane::store {

// Stored header values are cut to these lengths (at a UTF-8 boundary), so a
// record always stays well inside the 4095 bytes a reader must accept.
constexpr std::size_t max_index_address = 1024;  // To
constexpr std::size_t max_index_from = 512;
constexpr std::size_t max_index_subject = 1024;
constexpr std::size_t max_index_server_id = 512;
constexpr std::size_t max_index_mailbox = 64;
constexpr std::size_t max_index_folder = 255;
// Lines longer than this are not records we could have written.
constexpr std::size_t max_index_line = 64 * 1024;

// Both replace control characters by blanks and apply the limits above.
std::string index_value(std::string_view value, std::size_t max_bytes);
void normalize_entry_fields(MessageEntry& entry);

// One record line, CR LF included.
void append_record(std::string& out, const MessageEntry& entry);
// The whole file for a counter and entries.
std::string format_index(std::uint32_t counter, const std::vector<std::unique_ptr<MessageEntry>>& entries);

class IndexParser {
public:
    // One line without its line end (a trailing CR is ignored too).
    void line(std::string_view text);

    std::uint32_t counter() const { return m_counter; }
    std::vector<std::unique_ptr<MessageEntry>>& entries() { return m_entries; }
    // Where the texts of the entries are: whoever takes the entries takes
    // this too, and keeps it as long as them.
    TextArena& arena() { return m_arena; }
    // Entries of the earlier format, whose urgent flag must be re-read from
    // their message file.
    const std::vector<MessageEntry*>& earlier_format() const { return m_earlier; }

private:
    IndexText stored(std::string_view value, std::size_t max_bytes);
    // Folder and mailbox names repeat from entry to entry, and so does the
    // To of most mail (the user's own address): a value seen lately is
    // shared rather than stored again.
    IndexText repeated(std::vector<IndexText>& seen, std::string_view value, std::size_t max_bytes);

    TextArena m_arena;
    std::vector<IndexText> m_folders;
    std::vector<IndexText> m_mailboxes;
    std::vector<IndexText> m_recipients;
    bool m_have_counter = false;
    std::uint32_t m_counter = 1;
    std::vector<std::unique_ptr<MessageEntry>> m_entries;
    std::vector<MessageEntry*> m_earlier;
};

// The counter read from a first line: 1..999999, otherwise 1.
std::uint32_t counter_from(std::string_view text);

}  // namespace corvane::store
