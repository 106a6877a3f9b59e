#include "common/text/strings.h"

#include <cstdio>
#include <cstring>
#include <limits>

namespace corvane::text {

std::string lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = to_lower(c);
    return out;
}

std::string upper(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = to_upper(c);
    return out;
}

bool iequals(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (to_lower(a[i]) != to_lower(b[i]))
            return false;
    }
    return true;
}

int icompare(std::string_view a, std::string_view b)
{
    std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        auto ca = static_cast<unsigned char>(to_lower(a[i]));
        auto cb = static_cast<unsigned char>(to_lower(b[i]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool istarts_with(std::string_view s, std::string_view prefix)
{
    return s.size() >= prefix.size() && iequals(s.substr(0, prefix.size()), prefix);
}

bool iends_with(std::string_view s, std::string_view suffix)
{
    return s.size() >= suffix.size() && iequals(s.substr(s.size() - suffix.size()), suffix);
}

std::size_t ifind(std::string_view haystack, std::string_view needle, std::size_t from)
{
    if (needle.empty())
        return from <= haystack.size() ? from : std::string_view::npos;
    if (haystack.size() < needle.size())
        return std::string_view::npos;
    char first = to_lower(needle[0]);
    for (std::size_t i = from; i + needle.size() <= haystack.size(); ++i) {
        if (to_lower(haystack[i]) == first && iequals(haystack.substr(i, needle.size()), needle))
            return i;
    }
    return std::string_view::npos;
}

std::string_view trim_left(std::string_view s)
{
    std::size_t i = 0;
    while (i < s.size() && is_space(s[i]))
        ++i;
    return s.substr(i);
}

std::string_view trim_right(std::string_view s)
{
    std::size_t n = s.size();
    while (n > 0 && is_space(s[n - 1]))
        --n;
    return s.substr(0, n);
}

std::string_view trim(std::string_view s)
{
    return trim_right(trim_left(s));
}

std::string_view cut(std::string_view s, std::size_t max_bytes)
{
    if (s.size() <= max_bytes)
        return s;
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    // s[max_bytes] is the first byte dropped. When it continues a UTF-8
    // sequence (10xxxxxx), drop the sequence's lead byte and the rest of it
    // too; binary data without a lead byte close by is cut where it is.
    if ((byte(max_bytes) & 0xC0) == 0x80) {
        for (std::size_t back = 1; back <= 3 && back <= max_bytes; ++back) {
            unsigned char c = byte(max_bytes - back);
            if (c >= 0xC0)
                return s.substr(0, max_bytes - back);
            if ((c & 0xC0) != 0x80)
                break;
        }
    }
    return s.substr(0, max_bytes);
}

std::int64_t leading_number(std::string_view s, bool* had_digits)
{
    s = trim_left(s);
    bool negative = false;
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    constexpr std::int64_t limit = std::numeric_limits<std::int64_t>::max() / 10;
    std::int64_t value = 0;
    bool digits = false;
    for (char c : s) {
        if (c < '0' || c > '9')
            break;
        digits = true;
        if (value > limit) {
            value = std::numeric_limits<std::int64_t>::max();
            continue;
        }
        value = value * 10 + (c - '0');
        if (value < 0)
            value = std::numeric_limits<std::int64_t>::max();
    }
    if (had_digits)
        *had_digits = digits;
    return negative ? -value : value;
}

std::optional<std::int64_t> parse_number(std::string_view s)
{
    if (s.empty())
        return std::nullopt;
    std::size_t i = (s[0] == '-' || s[0] == '+') ? 1 : 0;
    if (i == s.size())
        return std::nullopt;
    for (std::size_t j = i; j < s.size(); ++j) {
        if (s[j] < '0' || s[j] > '9')
            return std::nullopt;
    }
    if (s.size() - i > 18)
        return std::nullopt;
    return leading_number(s);
}

std::string replace_all(std::string_view s, std::string_view from, std::string_view to)
{
    if (from.empty())
        return std::string(s);
    std::string out;
    out.reserve(s.size());
    std::size_t pos = 0;
    for (;;) {
        std::size_t hit = s.find(from, pos);
        if (hit == std::string_view::npos)
            break;
        out.append(s.substr(pos, hit - pos));
        out.append(to);
        pos = hit + from.size();
    }
    out.append(s.substr(pos));
    return out;
}

static bool is_control(char c)
{
    auto u = static_cast<unsigned char>(c);
    return (u < 0x20 && u != '\t') || u == 0x7F;
}

std::string without_controls(std::string_view s)
{
    std::string out(s);
    for (char& c : out) {
        if (is_control(c))
            c = ' ';
    }
    return out;
}

bool has_controls(std::string_view s)
{
    // Eight bytes at a time: the message index checks every header value it
    // loads, and they almost never hold a control character. A word with a
    // byte below 0x20 (perhaps a tab, which is allowed) or a 0x7F is looked
    // at byte by byte.
    constexpr std::uint64_t ones = 0x0101010101010101ull;
    constexpr std::uint64_t highs = 0x8080808080808080ull;
    std::size_t i = 0;
    for (; i + 8 <= s.size(); i += 8) {
        std::uint64_t w;
        std::memcpy(&w, s.data() + i, 8);
        std::uint64_t below_space = (w - ones * 0x20) & ~w & highs;
        std::uint64_t del = w ^ (ones * 0x7F);
        std::uint64_t is_del = (del - ones) & ~del & highs;
        if ((below_space | is_del) == 0)
            continue;
        for (std::size_t j = 0; j < 8; ++j) {
            if (is_control(s[i + j]))
                return true;
        }
    }
    for (; i < s.size(); ++i) {
        if (is_control(s[i]))
            return true;
    }
    return false;
}

void append_vformat(std::string& out, const char* fmt, va_list args)
{
    char stack_buffer[512];
    va_list copy;
    va_copy(copy, args);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    int n = std::vsnprintf(stack_buffer, sizeof stack_buffer, fmt, copy);
    va_end(copy);
    if (n < 0)
        return;
    if (static_cast<std::size_t>(n) < sizeof stack_buffer) {
        out.append(stack_buffer, static_cast<std::size_t>(n));
        return;
    }
    std::size_t old = out.size();
    out.resize(old + static_cast<std::size_t>(n) + 1);
    std::vsnprintf(out.data() + old, static_cast<std::size_t>(n) + 1, fmt, args);
#pragma GCC diagnostic pop
    out.resize(old + static_cast<std::size_t>(n));
}

void append_format(std::string& out, const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    append_vformat(out, fmt, args);
    va_end(args);
}

std::string vformat(const char* fmt, va_list args)
{
    std::string out;
    append_vformat(out, fmt, args);
    return out;
}

std::string format(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    std::string out = vformat(fmt, args);
    va_end(args);
    return out;
}

}  // namespace corvane::text
