#include "common/text/secrets.h"

#include <algorithm>

#include "common/text/strings.h"

namespace corvane::text {

namespace {

// The engine's reading of a form name: "+" is a blank, "%" takes the next
// two characters as hex digits (a non-digit counts as 0), a NUL ends it.
std::string decoded_name(std::string_view raw)
{
    std::string name;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        char c = raw[i];
        if (c == '+') {
            c = ' ';
        } else if (c == '%' && i + 2 < raw.size()) {
            // A character that is no digit counts as 0, as the engine has it.
            c = static_cast<char>(std::max(0, hex_value(raw[i + 1])) << 4 | std::max(0, hex_value(raw[i + 2])));
            i += 2;
        }
        if (c == '\0')
            break;
        name += c;
    }
    return name;
}

}  // namespace

bool is_secret_field(std::string_view name)
{
    return istarts_with(name, "pass") || lower(name).find("password") != std::string::npos;
}

std::string mask_secret_fields(std::string_view form)
{
    std::string out;
    out.reserve(form.size());
    std::size_t pos = 0;
    while (pos <= form.size()) {
        std::size_t end = form.find('&', pos);
        if (end == std::string_view::npos)
            end = form.size();
        std::string_view piece = form.substr(pos, end - pos);
        std::size_t equals = piece.find('=');
        if (equals != std::string_view::npos && is_secret_field(decoded_name(piece.substr(0, equals)))) {
            out.append(piece.substr(0, equals + 1));
            out.append(secret_mask);
        } else {
            out.append(piece);
        }
        if (end < form.size())
            out += '&';
        pos = end + 1;
    }
    return out;
}

std::string mask_request_line(std::string_view request_line)
{
    std::size_t question = request_line.find('?');
    if (question == std::string_view::npos)
        return std::string(request_line);
    // The query ends where the URL does: at the blank before the version.
    std::size_t end = request_line.find(' ', question);
    if (end == std::string_view::npos)
        end = request_line.size();
    std::string out(request_line.substr(0, question + 1));
    out += mask_secret_fields(request_line.substr(question + 1, end - question - 1));
    out.append(request_line.substr(end));
    return out;
}

}  // namespace corvane::text
