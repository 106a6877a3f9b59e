// Small text helpers every module needs: comparison and search without
// regard to ASCII case, trimming, bounded copies and printf-style formatting
// into std::string.
//
// "Without regard to case" means ASCII letters only, the way names of
// settings, fields, accounts and folders are compared everywhere in Corvane;
// bytes of UTF-8 sequences compare as they are.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::text {

constexpr char to_lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr char to_upper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
std::string lower(std::string_view s);
std::string upper(std::string_view s);

bool iequals(std::string_view a, std::string_view b);
// <0, 0, >0 like strcasecmp (ASCII folding, then byte order).
int icompare(std::string_view a, std::string_view b);
bool istarts_with(std::string_view s, std::string_view prefix);
bool iends_with(std::string_view s, std::string_view suffix);
// Position of the first occurrence of needle at or after from, or npos.
std::size_t ifind(std::string_view haystack, std::string_view needle, std::size_t from = 0);

// Functors for maps keyed without regard to case.
struct ILess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const { return icompare(a, b) < 0; }
};

// Blanks, tabs, CR and LF.
constexpr bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}
std::string_view trim(std::string_view s);
std::string_view trim_left(std::string_view s);
std::string_view trim_right(std::string_view s);

// The first max_bytes bytes of s, shortened further when the cut would split
// a UTF-8 sequence. The product's fixed limits ("at most 63 characters")
// count bytes, as stored files and shared memory do.
std::string_view cut(std::string_view s, std::size_t max_bytes);
inline std::string bounded(std::string_view s, std::size_t max_bytes)
{
    return std::string(cut(s, max_bytes));
}

// Leading decimal number after optional blanks and one sign, like the
// profile number reader: "12abc" is 12, "abc" is 0 (and *had_digits false),
// overflow saturates.
std::int64_t leading_number(std::string_view s, bool* had_digits = nullptr);
// The whole text as a decimal number, or nullopt ("12", "-3"; not "12a").
std::optional<std::int64_t> parse_number(std::string_view s);

// The value of a hexadecimal digit (either case), or -1.
constexpr int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Replaces every occurrence of from (exact case) by to.
std::string replace_all(std::string_view s, std::string_view from, std::string_view to);

// Replaces bytes that would split a stored record or a header line (every
// control character below 0x20 except tab, and DEL) by a blank.
std::string without_controls(std::string_view s);
bool has_controls(std::string_view s);

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string vformat(const char* fmt, va_list args) __attribute__((format(printf, 1, 0)));
// Appends to out instead of returning a new string.
void append_format(std::string& out, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void append_vformat(std::string& out, const char* fmt, va_list args) __attribute__((format(printf, 2, 0)));

}  // namespace corvane::text
