#include "engine/store/addrbook/address_list.h"

namespace corvane::addrbook {
namespace {

std::string_view trim_controls(std::string_view s)
{
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32)
        s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32)
        s.remove_suffix(1);
    return s;
}

}  // namespace

std::vector<std::string> split_address_list(std::string_view list)
{
    std::vector<std::string> pieces;
    bool quoted = false;
    std::size_t start = 0;
    auto take = [&](std::size_t end) {
        std::string_view piece = trim_controls(list.substr(start, end - start));
        if (!piece.empty())
            pieces.emplace_back(piece);
        start = end + 1;
    };
    for (std::size_t i = 0; i < list.size(); ++i) {
        const char c = list[i];
        if (c == '\\') {
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && (c == ',' || c == ';')) {
            take(i);
        }
    }
    if (start <= list.size())
        take(list.size());
    return pieces;
}

std::string address_of(std::string_view text)
{
    const std::size_t open = text.find('<');
    if (open != std::string_view::npos) {
        std::string_view rest = text.substr(open + 1);
        return std::string(trim_controls(rest.substr(0, rest.find('>'))));
    }
    if (text.find_first_not_of("> ") == std::string_view::npos)
        return {};
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '(') {
            const std::size_t close = text.find(')', i);
            if (close == std::string_view::npos) {
                out.append(text.substr(i));
                break;
            }
            i = close + 1;
        } else {
            out += text[i++];
        }
    }
    return std::string(trim_controls(out));
}

std::string display_name_of(std::string_view text)
{
    std::string s;
    for (char c : text) {
        if (c != '"')
            s += c;
    }
    std::string_view v = trim_controls(s);
    if (!v.empty() && v.front() == '<') {
        v.remove_prefix(1);
        const std::size_t close = v.rfind('>');
        if (close != std::string_view::npos)
            v = v.substr(0, close);
    } else {
        v = v.substr(0, v.find('<'));
    }
    v = trim_controls(v);
    const std::size_t open = v.find('(');
    if (open != std::string_view::npos && !v.empty() && v.back() == ')')
        v = trim_controls(v.substr(open + 1, v.size() - open - 2));
    return std::string(v);
}

}  // namespace corvane::addrbook
