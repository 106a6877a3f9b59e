#include "engine/core/cgi/encoding.h"

#include <array>
#include <cstdint>

#include "common/text/strings.h"
#include "engine/core/cgi/streams.h"

namespace corvane::cgi {

namespace {

// In form decoding any character that is not a hexadecimal digit counts as 0.
constexpr int digit_or_zero(char c)
{
    return text::hex_value(c) < 0 ? 0 : text::hex_value(c);
}

constexpr std::array<bool, 256> make_url_safe()
{
    std::array<bool, 256> safe{};
    for (int c = '0'; c <= '9'; ++c)
        safe[static_cast<std::size_t>(c)] = true;
    for (int c = 'A'; c <= 'Z'; ++c)
        safe[static_cast<std::size_t>(c)] = true;
    for (int c = 'a'; c <= 'z'; ++c)
        safe[static_cast<std::size_t>(c)] = true;
    for (char c : std::string_view("!$'()*,-._~"))
        safe[static_cast<unsigned char>(c)] = true;
    return safe;
}
constexpr std::array<bool, 256> url_safe = make_url_safe();

constexpr char upper_hex[] = "0123456789ABCDEF";

// The entity for a byte of plain text, or nullptr when it stays.
constexpr const char* plain_entity(char c)
{
    switch (c) {
    case '"':
        return "&quot;";
    case '&':
        return "&amp;";
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    default:
        return nullptr;
    }
}

constexpr bool needs_plain_escape(char c)
{
    return c == '"' || c == '&' || c == '<' || c == '>';
}

constexpr bool needs_formatted_escape(char c)
{
    return needs_plain_escape(c) || c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

// Both escapes walk the text once, handing runs of unchanged bytes to sink
// in one piece. Formatted mode also rewrites blanks, tabs and line ends.
template <bool formatted, typename Sink>
void escape(std::string_view text, Sink&& sink)
{
    std::size_t run = 0;
    std::size_t i = 0;
    auto flush_run = [&] {
        if (i > run)
            sink(text.substr(run, i - run));
    };
    while (i < text.size()) {
        char c = text[i];
        if (!(formatted ? needs_formatted_escape(c) : needs_plain_escape(c))) {
            ++i;
            continue;
        }
        if constexpr (formatted) {
            if (c == ' ') {
                if (i + 1 < text.size() && text[i + 1] == ' ') {
                    flush_run();
                    sink(" &nbsp;");
                    i += 2;
                    run = i;
                } else {
                    ++i;  // a single blank stays as it is
                }
                continue;
            }
            if (c == '\t' || c == '\n' || c == '\r') {
                flush_run();
                if (c == '\t')
                    sink(" &nbsp; &nbsp;");
                else if (c == '\n')
                    sink("<BR>\r\n");
                ++i;
                run = i;
                continue;
            }
        }
        flush_run();
        sink(plain_entity(c));
        ++i;
        run = i;
    }
    flush_run();
}

}  // namespace

void decode_form_text(std::string& text)
{
    std::size_t out = 0;
    const std::size_t size = text.size();
    for (std::size_t in = 0; in < size; ++in) {
        char c = text[in];
        if (c == '+') {
            c = ' ';
        } else if (c == '%' && in + 2 < size) {
            c = static_cast<char>(digit_or_zero(text[in + 1]) << 4 | digit_or_zero(text[in + 2]));
            in += 2;
        }
        text[out++] = c;
    }
    text.resize(out);
}

std::string decoded_form_text(std::string_view text)
{
    std::string copy(text);
    decode_form_text(copy);
    return copy;
}

void url_encode(std::string_view text, std::string& out)
{
    out.reserve(out.size() + text.size());
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (url_safe[byte]) {
            out.push_back(c);
        } else if (c == ' ') {
            out.push_back('+');
        } else {
            out.push_back('%');
            out.push_back(upper_hex[byte >> 4]);
            out.push_back(upper_hex[byte & 0x0F]);
        }
    }
}

std::string url_encoded(std::string_view text)
{
    std::string out;
    url_encode(text, out);
    return out;
}

void escape_html(std::string_view text, std::string& out)
{
    escape<false>(text, [&](std::string_view piece) { out.append(piece); });
}

void escape_html(std::string_view text, OutputStream& out)
{
    escape<false>(text, [&](std::string_view piece) { out.write(piece); });
}

std::string html_escaped(std::string_view text)
{
    std::string out;
    escape_html(text, out);
    return out;
}

void escape_html_formatted(std::string_view text, std::string& out)
{
    escape<true>(text, [&](std::string_view piece) { out.append(piece); });
}

void escape_html_formatted(std::string_view text, OutputStream& out)
{
    escape<true>(text, [&](std::string_view piece) { out.write(piece); });
}

std::string html_escaped_formatted(std::string_view text)
{
    std::string out;
    escape_html_formatted(text, out);
    return out;
}

std::string_view cookie_value(std::string_view header, std::string_view name)
{
    if (name.empty())
        return {};
    std::size_t pos = 0;
    while (pos < header.size()) {
        std::size_t end = header.find(';', pos);
        if (end == std::string_view::npos)
            end = header.size();
        std::string_view cookie = header.substr(pos, end - pos);
        while (!cookie.empty() && (cookie.front() == ' ' || cookie.front() == '\t'))
            cookie.remove_prefix(1);
        if (cookie.size() > name.size() && cookie.substr(0, name.size()) == name && cookie[name.size()] == '=')
            return cookie.substr(name.size() + 1);
        pos = end + 1;
    }
    return {};
}

}  // namespace corvane::cgi
