#include "engine/store/render/text_links.h"

#include <array>

#include "engine/store/html_sanitizer/html_sanitizer.h"

namespace corvane::render {

namespace {

using Table = std::array<unsigned char, 256>;

constexpr bool letter_or_digit(int c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Word characters: letters, digits and the bytes of non-ASCII characters;
// ' - . may stand alone between them.
constexpr Table make_word_table()
{
    Table t{};
    for (int c = 0; c < 256; ++c) {
        if (letter_or_digit(c) || (c >= 0x80 && c <= 0xFE))
            t[c] = 2;
        else if (c == '\'' || c == '-' || c == '.')
            t[c] = 1;
    }
    return t;
}

constexpr Table make_web_table()
{
    Table t{};
    for (int c = 0; c < 256; ++c) {
        if (letter_or_digit(c) || c == '-' || c == '_')
            t[c] = 4;
        else if (c == '+' || c == '/' || c == '=' || c == '~' || (c >= 0x80 && c <= 0xFE))
            t[c] = 3;
        else if (c == '!' || c == '#' || c == '$' || c == '%' || c == '&' || c == ',' || c == ':' || c == '?' ||
                 c == '@')
            t[c] = 2;
        else if (c == '.')
            t[c] = 1;
    }
    return t;
}

constexpr Table make_mail_table()
{
    Table t{};
    for (int c = 0; c < 256; ++c) {
        if (letter_or_digit(c) || c == '-' || c == '_' || c == '~')
            t[c] = 4;
        else if (c >= 0x80 && c <= 0xFE)
            t[c] = 3;
        else if (c == '&' || c == '+' || c == '.')
            t[c] = 2;
    }
    return t;
}

constexpr Table kWord = make_word_table();
constexpr Table kWeb = make_web_table();
constexpr Table kMail = make_mail_table();

int cls(const Table& t, std::string_view s, std::size_t i)
{
    return i < s.size() ? t[static_cast<unsigned char>(s[i])] : 0;
}

// From i: a character of class >= 3, then characters of class >= 3, where a
// single lower-class (but not 0) character is allowed when a class >= 3
// character follows it. Returns the end, or i when nothing matches.
std::size_t tail_run(const Table& t, std::string_view s, std::size_t i, int lowest_inner)
{
    if (cls(t, s, i) < 3)
        return i;
    std::size_t end = i + 1;
    while (true) {
        int c = cls(t, s, end);
        if (c >= 3) {
            ++end;
        } else if (c >= lowest_inner && cls(t, s, end + 1) >= 3) {
            end += 2;
        } else {
            return end;
        }
    }
}

// A host: a run of class >= 2, a dot, then the tail. Returns the end or i.
std::size_t host(std::string_view s, std::size_t i)
{
    std::size_t j = i;
    while (cls(kWeb, s, j) >= 2)
        ++j;
    if (j == i || j >= s.size() || s[j] != '.')
        return i;
    std::size_t end = tail_run(kWeb, s, j + 1, 1);
    return end == j + 1 ? i : end;
}

std::size_t web_with_scheme(std::string_view s, std::size_t i)
{
    std::size_t j = i;
    while (cls(kWeb, s, j) == 4)
        ++j;
    if (j == i || s.substr(j, 3) != "://")
        return i;
    std::size_t end = host(s, j + 3);
    return end == j + 3 ? i : end;
}

std::size_t web_www(std::string_view s, std::size_t i)
{
    if (s.size() - i < 4)
        return i;
    std::string_view www = s.substr(i, 4);
    if (!((www[0] | 0x20) == 'w' && (www[1] | 0x20) == 'w' && (www[2] | 0x20) == 'w' && www[3] == '.'))
        return i;
    std::size_t end = host(s, i + 4);
    return end == i + 4 ? i : end;
}

std::size_t mail_address(std::string_view s, std::size_t i)
{
    if (cls(kMail, s, i) != 4)
        return i;
    std::size_t j = i + 1;
    while (cls(kMail, s, j) >= 2)
        ++j;
    if (j >= s.size() || s[j] != '@')
        return i;
    std::size_t k = j + 1;
    while (cls(kMail, s, k) >= 3)
        ++k;
    if (k == j + 1 || k >= s.size() || s[k] != '.')
        return i;
    std::size_t end = tail_run(kMail, s, k + 1, 2);
    return end == k + 1 ? i : end;
}

std::size_t word(std::string_view s, std::size_t i)
{
    if (cls(kWord, s, i) != 2)
        return i;
    std::size_t end = i + 1;
    while (true) {
        int c = cls(kWord, s, end);
        if (c == 2)
            ++end;
        else if (c == 1 && cls(kWord, s, end + 1) == 2)
            end += 2;
        else
            return end;
    }
}

void attribute_amp(std::string_view url, std::string& out)
{
    for (char c : url) {
        if (c == '&')
            out += "&amp;";
        else
            out.push_back(c);
    }
}

}  // namespace

void escape_body(std::string_view text, std::string& out)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        switch (c) {
        case '\t':
            out += " &nbsp; &nbsp;";
            break;
        case '\n':
            out += "<BR>\r\n";
            break;
        case '\r':
            break;
        case ' ':
            if (i + 1 < text.size() && text[i + 1] == ' ') {
                out += " &nbsp;";
                ++i;
            } else {
                out.push_back(' ');
            }
            break;
        case '"':
            out += "&quot;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            out.push_back(c);
        }
    }
}

void text_to_html(std::string_view text, const LinkContext& links, std::string& out)
{
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t end = web_with_scheme(text, i);
        if (end > i) {
            std::string_view url = text.substr(i, end - i);
            out += "<A HREF=\"";
            attribute_amp(url, out);
            out += "\" TARGET=\"_blank\" REL=\"noopener noreferrer\">";
            escape_body(url, out);
            out += "</A>";
            i = end;
            continue;
        }
        end = web_www(text, i);
        if (end > i) {
            std::string_view url = text.substr(i, end - i);
            out += "<A HREF=\"http://";
            attribute_amp(url, out);
            out += "\" TARGET=\"_blank\" REL=\"noopener noreferrer\">";
            escape_body(url, out);
            out += "</A>";
            i = end;
            continue;
        }
        if (!links.compose_prefix.empty()) {
            end = mail_address(text, i);
            if (end > i) {
                std::string_view address = text.substr(i, end - i);
                out += "<A HREF=\"";
                attribute_amp(links.compose_prefix, out);
                sanitize::percent_encode(address, out);
                out += "&amp;New=Yes\">";
                escape_body(address, out);
                out += "</A>";
                i = end;
                continue;
            }
        }
        end = word(text, i);
        if (end > i) {
            out.append(text.substr(i, end - i));
            i = end;
            continue;
        }
        end = i + 1;
        while (end < text.size() && cls(kWord, text, end) < 2)
            ++end;
        escape_body(text.substr(i, end - i), out);
        i = end;
    }
}

}  // namespace corvane::render
