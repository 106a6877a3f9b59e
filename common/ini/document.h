// An INI file in memory, with the semantics of the Windows profile functions.
//
// - Section and key names compare without regard to ASCII case; the first
//   section of a name and its first key of a name are the ones that count.
// - Names and values are trimmed; one pair of double quotes around a value
//   is removed on read.
// - Lines that are not sections or "key=value" (comments beginning with ";",
//   blank lines, garbage) are kept as they are across writes; so are the
//   spelling and layout of entries that a write does not touch.
// - Line ends: the file's own style (CR LF or LF) is kept; a new file uses LF.
//
// What it does not do: no escapes, no continuation lines, no includes. The
// parser never fails: whatever the bytes, the result is a document.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace corvane::ini {

class Document {
public:
    static Document parse(std::string_view text);
    std::string serialize() const;

    // The value, trimmed and unquoted; nullopt when the section or the key
    // is missing (a key with an empty value gives "").
    std::optional<std::string_view> get(std::string_view section, std::string_view key) const;
    bool has_section(std::string_view section) const;

    // Sets a value, creating the section and key as needed. Control
    // characters in any part become blanks (a CR or LF would split the
    // line); a value that would not read back the same (surrounding blanks,
    // surrounding quotes) is written in quotes. Returns false, changing
    // nothing, when the names cannot be written: an empty name, a key with
    // "=" or beginning with "[" or ";", a section name with "]".
    bool set(std::string_view section, std::string_view key, std::string_view value);
    // Removes every line of the key in the section; false when absent.
    bool remove_key(std::string_view section, std::string_view key);
    // Removes the section: its header and every line up to the next one.
    bool remove_section(std::string_view section);

    // Section names in file order (each name once), and the key names of a
    // section in file order (each once).
    std::vector<std::string> sections() const;
    std::vector<std::string> keys(std::string_view section) const;

    std::size_t line_count() const { return m_lines.size(); }

private:
    enum class Kind { other, section, entry };
    struct Line {
        Kind kind = Kind::other;
        std::string text;   // the line as written, without its line end
        std::string name;   // section or key name, trimmed
        std::string value;  // entry value, trimmed and unquoted
    };

    static Line make_line(std::string_view raw);
    void reindex();
    // Index of the first header line of a section, or npos.
    std::size_t find_section(std::string_view section) const;
    // [header, end) of the section starting at header.
    std::size_t section_end(std::size_t header) const;
    static std::string index_key(std::string_view section, std::string_view key);

    std::vector<Line> m_lines;
    std::string m_newline = "\n";
    std::string m_bom;
    bool m_final_newline = true;
    // lower(section) -> header line; lower(section) + "\x01" + lower(key) -> entry line.
    std::unordered_map<std::string, std::size_t> m_sections;
    std::unordered_map<std::string, std::size_t> m_entries;
};

}  // namespace corvane::ini
