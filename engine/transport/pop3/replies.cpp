#include "engine/transport/pop3/replies.h"

#include <limits>

#include "common/platform/files.h"

namespace corvane::pop3 {

namespace {

// Digits at the start of s as a saturating 32-bit number; nullopt without.
std::optional<std::uint32_t> leading_digits(std::string_view s, std::size_t* used = nullptr)
{
    std::size_t i = 0;
    std::uint64_t value = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
        value = value * 10 + static_cast<std::uint64_t>(s[i] - '0');
        if (value > std::numeric_limits<std::uint32_t>::max())
            value = std::numeric_limits<std::uint32_t>::max();
        ++i;
    }
    if (used)
        *used = i;
    if (i == 0)
        return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

// The next blank-separated token of s from pos; pos moves past it.
std::string_view next_token(std::string_view s, std::size_t& pos)
{
    while (pos < s.size() && is_blank(s[pos]))
        ++pos;
    std::size_t start = pos;
    while (pos < s.size() && !is_blank(s[pos]))
        ++pos;
    return s.substr(start, pos - start);
}

}  // namespace

bool is_positive(std::string_view reply)
{
    return reply.substr(0, 3) == "+OK";
}

std::uint32_t stat_count(std::string_view reply)
{
    if (reply.substr(0, 4) != "+OK ")
        return 0;
    return leading_digits(reply.substr(4)).value_or(0);
}

std::optional<std::uint32_t> list_size(std::string_view reply)
{
    std::size_t pos = 0;
    next_token(reply, pos);  // +OK
    next_token(reply, pos);  // the message number
    std::string_view size = next_token(reply, pos);
    std::size_t used = 0;
    auto value = leading_digits(size, &used);
    if (!value || used != size.size())
        return std::nullopt;
    return value;
}

bool is_server_id(std::string_view id)
{
    if (id.empty() || id.size() > max_server_id)
        return false;
    for (char c : id) {
        auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F)
            return false;
    }
    return true;
}

std::optional<UidlLine> parse_uidl_line(std::string_view line)
{
    std::size_t blank = line.find(' ');
    if (blank == std::string_view::npos)
        return std::nullopt;
    std::size_t used = 0;
    auto number = leading_digits(line.substr(0, blank), &used);
    if (!number || *number == 0 || used != blank)
        return std::nullopt;
    std::string_view id = line.substr(blank + 1);
    if (!is_server_id(id))
        return std::nullopt;
    return UidlLine{*number, id};
}

Unstuffed unstuff(std::string_view line)
{
    if (line == ".")
        return {DataLine::end, {}};
    if (line.size() >= 2 && line[0] == '.' && line[1] == '.')
        return {DataLine::text, line.substr(1)};
    return {DataLine::text, line};
}

std::vector<std::string> read_uid_file(const std::string& path)
{
    std::vector<std::string> ids;
    // A UID file lists what is on one server; a huge one is not ours.
    auto content = platform::read_file(path, 256u << 20);
    if (!content)
        return ids;
    std::string_view rest = *content;
    while (!rest.empty()) {
        std::size_t lf = rest.find('\n');
        std::string_view line = rest.substr(0, lf);
        rest = lf == std::string_view::npos ? std::string_view() : rest.substr(lf + 1);
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.remove_suffix(1);
        if (line.size() > max_server_id)
            line = line.substr(0, max_server_id);
        if (!line.empty())
            ids.emplace_back(line);
    }
    return ids;
}

Result<void> write_uid_file(const std::string& path, const std::vector<std::string>& ids)
{
    std::string content;
    std::size_t total = 0;
    for (const auto& id : ids)
        total += id.size() + 2;
    content.reserve(total);
    for (const auto& id : ids) {
        content += id;
        content += "\r\n";
    }
    return platform::write_file_atomic(path, content, 0600);
}

std::string command_text(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        if (c == '\r' || c == '\n')
            c = ' ';
    }
    return out;
}

}  // namespace corvane::pop3
