// The MIME type table: which content type a file extension stands for, and
// which extension names a file of a given content type. The web server
// types its static files with it, the mail store its attachments.
//
// Loaded once from MimeTypes.cfg and only read afterwards, so lookups need no
// lock. The file has one content type per line followed by the extensions
// registered for it, separated by blanks or tabs:
//
//     text/html   htm html
//     image/jpeg  jpg jpeg jpe
//
// A line with one word registers nothing; a line whose first word begins
// with "#" is a comment (the system's own /etc/mime.types can be used as it
// is). Extensions compare without regard to case and may be given with or
// without their leading dot. When an extension or a type appears several
// times, its first registration counts.
//
// What it does not do: no guessing from file contents, no wildcards, and no
// "most recently used first" order (a repeated extension always gives its
// first type, whatever was looked up before).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>

namespace corvane::mime_types {

constexpr std::string_view default_type = "application/octet-stream";
constexpr std::string_view default_extension = "att";
// Longer lines are cut here; longer extensions are not registered.
constexpr std::size_t max_line = 255;
constexpr std::size_t max_extension = 59;
// A settings file, not a data set: anything larger is refused.
constexpr std::size_t max_file_size = 4u << 20;

class MimeTypeTable {
public:
    // Reads a MimeTypes.cfg file into the table (adding to what it holds).
    // False when the file cannot be read; the table is then unchanged.
    bool load(const std::string& path);
    // The same for text already in memory.
    void add_text(std::string_view text);

    // The content type registered for an extension, else default_type.
    std::string_view type_of(std::string_view extension) const;
    // The first extension registered for a content type, else
    // default_extension.
    std::string_view extension_of(std::string_view type) const;

    // Number of extensions registered.
    std::size_t size() const { return m_types.size(); }
    bool empty() const { return m_types.empty(); }

private:
    void add_line(std::string_view line);

    // Keys are lower-cased; values as written in the file.
    std::unordered_map<std::string, std::string> m_types;       // extension -> type
    std::unordered_map<std::string, std::string> m_extensions;  // type -> extension
};

}  // namespace corvane::mime_types
