#include "engine/store/html_sanitizer/style_filter.h"

#include <algorithm>
#include <array>

#include "common/text/strings.h"

namespace corvane::sanitize {

namespace {

// Presentational properties only.
constexpr std::array<std::string_view, 72> kProperties = {
    "background-color",
    "border",
    "border-bottom",
    "border-bottom-color",
    "border-bottom-left-radius",
    "border-bottom-right-radius",
    "border-bottom-style",
    "border-bottom-width",
    "border-collapse",
    "border-color",
    "border-left",
    "border-left-color",
    "border-left-style",
    "border-left-width",
    "border-radius",
    "border-right",
    "border-right-color",
    "border-right-style",
    "border-right-width",
    "border-spacing",
    "border-style",
    "border-top",
    "border-top-color",
    "border-top-left-radius",
    "border-top-right-radius",
    "border-top-style",
    "border-top-width",
    "border-width",
    "clear",
    "color",
    "direction",
    "display",
    "float",
    "font",
    "font-family",
    "font-size",
    "font-style",
    "font-variant",
    "font-weight",
    "height",
    "letter-spacing",
    "line-height",
    "list-style-type",
    "margin",
    "margin-bottom",
    "margin-left",
    "margin-right",
    "margin-top",
    "max-height",
    "max-width",
    "min-height",
    "min-width",
    "padding",
    "padding-bottom",
    "padding-left",
    "padding-right",
    "padding-top",
    "table-layout",
    "text-align",
    "text-decoration",
    "text-indent",
    "text-transform",
    "unicode-bidi",
    "vertical-align",
    "white-space",
    "width",
    "word-break",
    "word-spacing",
    "word-wrap",
    "overflow-wrap",
    "background",
    "text-overflow",
};

bool allowed_property(std::string_view name)
{
    return std::find(kProperties.begin(), kProperties.end(), name) != kProperties.end();
}

// Functions a value may call: colours only.
bool allowed_function(std::string_view before_paren)
{
    std::size_t start = before_paren.size();
    while (start > 0) {
        char c = before_paren[start - 1];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-'))
            break;
        --start;
    }
    std::string name = text::lower(before_paren.substr(start));
    return name == "rgb" || name == "rgba" || name == "hsl" || name == "hsla";
}

bool allowed_value(std::string_view value)
{
    if (value.empty())
        return false;
    char quote = 0;
    int depth = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            return false;
        if (quote) {
            // Font names need none of these; a string that holds them is
            // more likely smuggling a declaration than naming a font.
            if (c == quote)
                quote = 0;
            else if (c == '\\' || c == '<' || c == '>' || c == '(' || c == ')' || c == ';' || c == ':')
                return false;
            continue;
        }
        switch (c) {
        case '"':
        case '\'':
            quote = c;
            break;
        case '\\':
        case '<':
        case '>':
        case '@':
        case '{':
        case '}':
        case ';':
        case '&':
            return false;
        case '/':
            if (i + 1 < value.size() && value[i + 1] == '*')
                return false;
            break;
        case '(':
            if (!allowed_function(value.substr(0, i)))
                return false;
            ++depth;
            break;
        case ')':
            if (--depth < 0)
                return false;
            break;
        default:
            break;
        }
    }
    return quote == 0 && depth == 0;
}

}  // namespace

std::string filter_style(std::string_view style)
{
    std::string out;
    if (style.size() > kMaxStyle)
        return out;
    std::size_t start = 0;
    while (start <= style.size()) {
        // Declarations end at a ";" outside quotes and parentheses.
        std::size_t end = start;
        char quote = 0;
        int depth = 0;
        for (; end < style.size(); ++end) {
            char c = style[end];
            if (quote) {
                if (c == quote)
                    quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '(') {
                ++depth;
            } else if (c == ')') {
                depth = std::max(0, depth - 1);
            } else if (c == ';' && depth == 0) {
                break;
            }
        }
        std::string_view declaration = style.substr(start, end - start);
        start = end + 1;
        std::size_t colon = declaration.find(':');
        if (colon == std::string_view::npos)
            continue;
        std::string name = text::lower(text::trim(declaration.substr(0, colon)));
        std::string_view value = text::trim(declaration.substr(colon + 1));
        if (!allowed_property(name) || !allowed_value(value))
            continue;
        if (!out.empty())
            out += "; ";
        out += name;
        out += ": ";
        out += value;
    }
    return out;
}

}  // namespace corvane::sanitize
