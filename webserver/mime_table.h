// The server's table of content types by file extension, read from
// MimeTypes.cfg at start-up.
//
// Each line of the file is split at blanks, tabs, CR and LF: its first word
// is a content type and every further word an extension (without the dot)
// that maps to it. A line with one word adds nothing; there is no comment
// syntax; an extension may appear on several lines. A lookup tries the entry
// found or added last before all entries in file order, and compares
// extensions without regard to case. Used by the network thread only.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::webserver {

constexpr std::string_view default_content_type = "application/octet-stream";
// Longer extensions are not stored (no file name can end in one we serve).
constexpr std::size_t max_extension = 59;

class MimeTable {
public:
    // Replaces the table with the file's entries; false (and an empty table)
    // when the file cannot be read.
    bool load(const std::string& path);
    // Adds the entries of a file's text (load() reads the file and calls it).
    void add_lines(std::string_view text);
    void clear();

    // The content type of an extension (without the dot), or
    // "application/octet-stream" when the table does not know it.
    std::string_view lookup(std::string_view extension) const;
    std::size_t size() const { return m_entries.size(); }

private:
    struct Entry {
        std::string extension;
        std::string type;
    };
    std::vector<Entry> m_entries;
    mutable std::size_t m_last = 0;  // entry found or added last; size() when none
};

}  // namespace corvane::webserver
