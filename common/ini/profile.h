// Settings files: typed access to one INI file on disk.
//
// Every read gives the caller's default when the file, the section or the
// key is missing. Writes are read-modify-write cycles serialised across
// threads and processes by a lock on the file's directory; the new file
// replaces the old one atomically, so a reader never sees half of it and a
// crash never leaves a torn file. Parsed files are cached per process and
// re-read as soon as the file on disk changes (another inode, size or
// modification time), so a change made by another process is seen by the
// very next read.
//
// Yes/no values: true when the first character is "1", "T", "t", "Y" or
// "y"; written as "Yes" or "No". Numbers: leading decimal digits after an
// optional sign, "12abc" is 12, "abc" is 0; a missing key or an empty value
// gives the default.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/ini/document.h"

namespace corvane::ini {

constexpr std::size_t unlimited = std::numeric_limits<std::size_t>::max();
// Files larger than this are not settings files: they read as empty.
constexpr std::size_t max_file_size = 16u << 20;

class Profile {
public:
    explicit Profile(std::string path) : m_path(std::move(path)) {}
    const std::string& path() const { return m_path; }

    // The value cut to max_bytes (at a UTF-8 boundary), or def when missing.
    std::string text(std::string_view section, std::string_view key, std::string_view def,
                     std::size_t max_bytes = unlimited) const;
    int number(std::string_view section, std::string_view key, int def) const;
    bool yes_no(std::string_view section, std::string_view key, bool def) const;
    bool has_key(std::string_view section, std::string_view key) const;
    std::vector<std::string> sections() const;
    std::vector<std::string> keys(std::string_view section) const;

    // Each returns false when the file could not be written (or, for text,
    // the names cannot be written). Writing the value a key already has
    // leaves the file untouched.
    bool write_text(std::string_view section, std::string_view key, std::string_view value) const;
    bool write_number(std::string_view section, std::string_view key, std::int64_t value) const;
    bool write_yes_no(std::string_view section, std::string_view key, bool value) const;
    bool delete_key(std::string_view section, std::string_view key) const;
    bool delete_section(std::string_view section) const;

    // Several changes in one locked read-modify-write cycle (and one file
    // replacement). edit returns false to abandon the change. A file written
    // with a password in it (a non-empty value of a key that names a secret:
    // Password, NTPassword, Pass1 ...) is 0600 afterwards, whatever mode it
    // had.
    bool update(const std::function<bool(Document&)>& edit) const;

    // The parsed file as it is now (a shared, immutable snapshot).
    std::shared_ptr<const Document> snapshot() const;

private:
    std::string m_path;
};

// The first character rule of yes/no values.
bool is_yes(std::string_view value);
// The number and yes/no rules above applied to a value that may be missing,
// for code that reads a Document snapshot directly.
int number_value(std::optional<std::string_view> value, int def);
bool yes_no_value(std::optional<std::string_view> value, bool def);
inline const char* yes_no_text(bool value)
{
    return value ? "Yes" : "No";
}

// Drops every cached file (tests; a process that wants to free memory).
void clear_cache();

// While a ReadScope lives, every read of its file on this thread uses the
// snapshot taken by the first of them, instead of checking the file on disk
// again for each key: one check per request is enough to see a change an
// administrator made, and a request that reads twenty settings should not
// cost twenty stats. A write through any Profile on this thread is seen at
// once; a change by another thread or process is seen by the next scope.
class ReadScope {
public:
    explicit ReadScope(std::string path);
    ~ReadScope();
    ReadScope(const ReadScope&) = delete;
    ReadScope& operator=(const ReadScope&) = delete;

private:
    friend class Profile;
    std::string m_path;
    std::shared_ptr<const Document> m_document;
    ReadScope* m_outer;
};

}  // namespace corvane::ini
