// The request's CGI environment and its form fields.
//
// Environment holds the NAME=value strings the host passes with a request
// (its own copy) and answers variable lookups without regard to case; a
// missing variable reads as the empty string.
//
// FieldTable is the ordered list of name/value pairs a request carries: the
// query string first, then a form-encoded body, so a body field replaces a
// query field of the same name. Names are compared without regard to case
// and kept to 59 bytes (a longer name is cut, in every operation alike).
// Registered multi-value names (Number, for example) keep every repeat in
// order of arrival; any other name keeps its last value. The same table type
// holds other name/value lists of the engine; those leave the environment
// empty.
//
// Lookups always answer with the first entry of a name, whatever was looked
// up before, and run in constant time, so a body of many thousand fields
// costs linear time. Decoded names and values end at a NUL byte ("%00"), as
// text handed on to C interfaces would anyway.
//
// Bodies of other types (multipart/form-data) are left unread in the input
// stream for their own parser. A table belongs to one request and one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace corvane::cgi {

class InputStream;

class Environment {
public:
    Environment() = default;
    explicit Environment(std::vector<std::string> variables) : m_variables(std::move(variables)) {}
    // A block of NUL-terminated "NAME=value" strings ending with an empty
    // string; null gives an empty environment.
    static Environment from_block(const char* block);

    // The text after "=" of the first string that begins with name (any
    // case) followed by "="; empty when there is none.
    std::string_view variable(std::string_view name) const;
    const std::vector<std::string>& variables() const { return m_variables; }

private:
    std::vector<std::string> m_variables;
    mutable std::size_t m_last = static_cast<std::size_t>(-1);  // most recent hit, tried first
};

enum class BodyResult {
    parsed,     // the form fields were added, or there was no body to read
    not_form,   // the body has another type and was left unread
    too_large,  // the announced body exceeds the limit; nothing was read
};

class FieldTable {
public:
    struct Entry {
        std::string name;
        std::string value;
    };

    static constexpr std::size_t max_name = 59;
    // Form bodies above this size are refused rather than held in memory.
    static constexpr std::size_t default_body_limit = 32u << 20;
    static constexpr std::string_view form_type = "application/x-www-form-urlencoded";

    FieldTable() = default;
    explicit FieldTable(Environment environment) : m_environment(std::move(environment)) {}

    const Environment& environment() const { return m_environment; }
    std::string_view variable(std::string_view name) const { return m_environment.variable(name); }

    // Repeats of this name are all kept (register before parsing).
    void register_multi_value(std::string_view name);
    bool is_multi_value(std::string_view name) const;

    // Parses QUERY_STRING as form data.
    void parse_query_string();
    // Reads and parses a form-encoded body of CONTENT_LENGTH bytes (fewer
    // when the stream delivers fewer).
    BodyResult parse_body(InputStream& in, std::size_t limit = default_body_limit);
    // Parses form data: pieces split at "&", name before the first "=",
    // an image button's ".x"/".y" cut from the name, both decoded.
    void parse_form(std::string_view text);

    const Entry* find(std::string_view name) const;
    // The value of the first entry of that name; empty when there is none.
    // The reference stays valid until the table changes.
    const std::string& value(std::string_view name) const;
    bool present(std::string_view name) const { return find(name) != nullptr; }
    bool missing_or_empty(std::string_view name) const;
    // No entry, or only blanks, tabs, CR and LF.
    bool missing_or_blank(std::string_view name) const;

    // Adds an entry at the end.
    void append(std::string_view name, std::string_view value);
    // Replaces the value of the first entry of that name, or appends.
    void set(std::string_view name, std::string_view value);
    // Removes the first entry of that name; false when there was none.
    bool remove(std::string_view name);

    const std::vector<Entry>& entries() const { return m_entries; }
    std::size_t size() const { return m_entries.size(); }
    bool empty() const { return m_entries.empty(); }

private:
    struct IHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const;
    };
    struct IEqual {
        using is_transparent = void;
        bool operator()(std::string_view a, std::string_view b) const;
    };
    using Index = std::unordered_map<std::string, std::size_t, IHash, IEqual>;

    void add_field(std::string& name, std::string& value);
    void rebuild_index();

    Environment m_environment;
    std::vector<Entry> m_entries;
    Index m_first;  // name -> position of its first entry
    std::vector<std::string> m_multi_value;
};

// CONTENT_LENGTH read as leading digits; 0 when missing or not a number.
std::int64_t content_length(const Environment& environment);

}  // namespace corvane::cgi
