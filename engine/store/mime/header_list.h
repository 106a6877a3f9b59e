// The header of a message or of a MIME part as an ordered list of
// (name, value) pairs.
//
// Header lines go in one at a time with add_line(), continuation lines
// included; values come out unfolded and decoded to UTF-8 (RFC 2047 words,
// encoded_words.h), with NUL, 0x01, CR and LF turned into blanks so a value
// can go straight into a stored record.
//
// Lookups ignore case and follow the "current pair" rule: a lookup of the
// name of the current pair (the one most recently added, set or found)
// returns that pair, any other lookup returns the first pair of that name
// and makes it current. So after a header has been read, a lookup of the
// name of its last line gives that last line; fields() gives every pair.
// Lookups move the current pair, so even a const list is not shared between
// threads without a lock.
//
// Bounds: names are kept up to 59 bytes; a list takes at most 10,000 pairs
// and 16 MiB of header text, and ignores lines beyond that. Not done here:
// parsing of structured values (addresses, parameters: parameters.h).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "engine/store/mime/encoded_words.h"

namespace corvane::mime {

inline constexpr std::size_t kMaxHeaderName = 59;
inline constexpr std::size_t kMaxHeaderPairs = 10000;
inline constexpr std::size_t kMaxHeaderBytes = 16u << 20;
// Longest line read from a message file by read_header().
inline constexpr std::size_t kMaxHeaderFileLine = 4095;

struct HeaderField {
    std::string name;
    std::string value;
};

class HeaderList {
public:
    // One header line without its CR LF. A line beginning with a blank or
    // tab continues the last pair added: its leading white space is skipped
    // and it is appended after one blank (none while the value is empty).
    // Any other line is split at its
    // first ":" (the name loses trailing blanks, the value one blank after
    // the colon); a line without ":" and an empty line are ignored.
    void add_line(std::string_view line);

    // The pair of that name (current-pair rule above), or nullptr.
    const HeaderField* find(std::string_view name) const;
    // Its value; "" when absent.
    const std::string& value(std::string_view name) const;
    bool contains(std::string_view name) const { return find(name) != nullptr; }
    bool is_absent_or_empty(std::string_view name) const;
    // Absent, or only blanks, tabs, CR and LF.
    bool is_absent_or_blank(std::string_view name) const;

    // Replaces the value of the first pair of that name, or appends a pair.
    // Record-splitting bytes in value become blanks, as in add_line().
    void set(std::string_view name, std::string_view value);
    // Deletes the first pair of that name; clears the current pair.
    bool remove(std::string_view name);
    void clear();

    bool empty() const { return m_fields.empty(); }
    std::size_t size() const { return m_fields.size(); }
    const std::vector<HeaderField>& fields() const { return m_fields; }

private:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    std::vector<HeaderField> m_fields;
    mutable std::size_t m_current = kNone;
    std::size_t m_last_added = kNone;  // continuation lines go here
    EncodedWordDecoder m_decoder;      // state of the last pair's value
    std::size_t m_bytes = 0;
};

// Reads the header of a message file, up to its first empty line, into a
// list (lines up to 4095 bytes, longer ones cut). A missing or unreadable
// file gives an empty list.
HeaderList read_header(const std::string& path);

}  // namespace corvane::mime
