// Address books: an ordered list of (name, e-mail, comment) entries kept in
// a tab-separated text file, "AddrBook.txt" in a user directory (the
// personal book) or in the base directory (the global book).
//
// File format: one entry per line, name TAB e-mail TAB comment CR LF. On
// reading, a line with fewer than two tabs is skipped; the comment ends at a
// third tab. Lines are read up to max_line bytes (a longer line is cut and
// its rest skipped, never read as an entry of its own), and a book holds at
// most max_entries entries, so a damaged or hostile file costs bounded
// memory. Entries added here never carry a tab or a control character (they
// would split a field or a line): such bytes become blanks, and each field is
// bounded so that every entry written reads back whole.
//
// What it does not do: no duplicate checks on add (callers decide), no
// locking across processes (the personal book belongs to one session, the
// global one is only read), no address parsing.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "common/platform/result.h"

namespace corvane::addrbook {

constexpr std::string_view file_name = "AddrBook.txt";
// Longest line read from a book (bytes, line end excluded).
constexpr std::size_t max_line = 4095;
// Field widths of entries added here; together with the two tabs they fit a line.
constexpr std::size_t max_name = 255;
constexpr std::size_t max_email = 2047;
constexpr std::size_t max_comment = 1023;
constexpr std::size_t max_entries = 100000;

struct AddressEntry {
    std::string name;
    std::string email;
    std::string comment;

    bool operator==(const AddressEntry&) const = default;
};

class AddressBook {
public:
    // Forms the path from directory and loads the file; a missing file gives
    // an empty book.
    void open(const std::string& directory);
    // Drops every entry and reads the file again.
    void reload();
    // Appends an entry (no duplicate check).
    void add(std::string_view name, std::string_view email, std::string_view comment);
    // Rewrites the whole file in the current order (atomically).
    Result<void> save() const;
    // Sorts in place by a key: Name, RevName, EMail, RevEMail, Comment,
    // RevComment (any case); an empty key leaves the order, any other key
    // sorts as Name.
    void sort(std::string_view key);
    // True when an entry has both this name and this e-mail, each compared
    // without regard to case.
    bool contains(std::string_view name, std::string_view email) const;
    void clear() { m_entries.clear(); }

    const std::string& path() const { return m_path; }
    const std::vector<AddressEntry>& entries() const { return m_entries; }
    std::size_t size() const { return m_entries.size(); }

    // Splits one line of the file into an entry; false for a line with fewer
    // than two tabs.
    static bool parse_line(std::string_view line, AddressEntry& entry);

private:
    std::string m_path;
    std::vector<AddressEntry> m_entries;
};

}  // namespace corvane::addrbook
