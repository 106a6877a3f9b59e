#include "engine/store/addresses/address_helpers.h"

namespace corvane::addresses {

namespace {

// Blanks and every control character count as white space here: header
// values may carry tabs or stray control bytes from broken mailers.
std::string_view trim_low(std::string_view s)
{
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32)
        s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32)
        s.remove_suffix(1);
    return s;
}

// End of the list item starting at the front of list.
std::size_t item_end(std::string_view list)
{
    bool quoted = false;
    for (std::size_t i = 0; i < list.size(); ++i) {
        char c = list[i];
        if (c == '\\') {
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && (c == ',' || c == ';')) {
            return i;
        }
    }
    return list.size();
}

}  // namespace

std::string display_name(std::string_view value)
{
    std::string unquoted;
    if (value.find('"') != std::string_view::npos) {
        unquoted.reserve(value.size());
        for (char c : value) {
            if (c != '"')
                unquoted.push_back(c);
        }
        value = unquoted;
    }
    std::string_view s = trim_low(value);
    if (!s.empty() && s.front() == '<') {
        s.remove_prefix(1);
        std::size_t close = s.rfind('>');
        if (close != std::string_view::npos)
            s = s.substr(0, close);
    } else {
        std::size_t open = s.find('<');
        if (open != std::string_view::npos)
            s = s.substr(0, open);
    }
    s = trim_low(s);
    if (!s.empty() && s.back() == ')') {
        std::size_t open = s.find('(');
        if (open != std::string_view::npos)
            s = trim_low(s.substr(open + 1, s.size() - open - 2));
    }
    return std::string(s);
}

std::string bare_address(std::string_view value)
{
    std::size_t open = value.find('<');
    if (open != std::string_view::npos) {
        std::string_view inside = value.substr(open + 1);
        std::size_t close = inside.find('>');
        if (close != std::string_view::npos)
            inside = inside.substr(0, close);
        return std::string(trim_low(inside));
    }
    if (value.find_first_not_of(" >") == std::string_view::npos)
        return {};
    std::string out;
    out.reserve(value.size());
    std::size_t i = 0;
    while (i < value.size()) {
        if (value[i] == '(') {
            std::size_t close = value.find(')', i);
            if (close == std::string_view::npos) {
                out.append(value.substr(i));
                break;
            }
            i = close + 1;
            continue;
        }
        out.push_back(value[i]);
        ++i;
    }
    return std::string(trim_low(out));
}

std::string_view first_of_list(std::string_view list)
{
    return trim_low(list.substr(0, item_end(list)));
}

std::vector<std::string_view> split_list(std::string_view list)
{
    std::vector<std::string_view> out;
    while (!list.empty()) {
        std::size_t end = item_end(list);
        std::string_view item = trim_low(list.substr(0, end));
        if (!item.empty())
            out.push_back(item);
        if (end >= list.size())
            break;
        list.remove_prefix(end + 1);
    }
    return out;
}

}  // namespace corvane::addresses
