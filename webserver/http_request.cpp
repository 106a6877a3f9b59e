#include "webserver/http_request.h"

#include <cctype>
#include <cstdio>
#include <vector>

#include "common/platform/time_format.h"
#include "common/text/dates.h"
#include "common/text/strings.h"

namespace corvane::webserver {

namespace {

constexpr std::string_view terminator = "\r\n\r\n";

// The non-empty lines of the header text; CR and LF both end a line, and a
// run of them ends just one.
std::vector<std::string_view> split_lines(std::string_view text)
{
    std::vector<std::string_view> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos)
            end = text.size();
        if (end > pos)
            lines.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return lines;
}

// A header line's value when the line begins with name (any case).
std::optional<std::string_view> header_value(std::string_view line, std::string_view name)
{
    if (!text::istarts_with(line, name))
        return std::nullopt;
    return line.substr(name.size());
}

// "/x/../y" and "/x/.." leave the directory they start in.
bool climbs_out(std::string_view path)
{
    if (path.find("../") != std::string_view::npos)
        return true;
    return path == ".." || (path.size() >= 3 && path.substr(path.size() - 3) == "/..");
}

// A run of decimal digits at pos (at most 9, so it cannot overflow).
std::optional<int> read_digits(std::string_view s, std::size_t& pos)
{
    std::size_t start = pos;
    int value = 0;
    while (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos])) && pos - start < 9)
        value = value * 10 + (s[pos++] - '0');
    if (pos == start)
        return std::nullopt;
    return value;
}

void skip_blanks(std::string_view s, std::size_t& pos)
{
    while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t'))
        ++pos;
}

std::string_view read_word(std::string_view s, std::size_t& pos)
{
    skip_blanks(s, pos);
    std::size_t start = pos;
    while (pos < s.size() && s[pos] != ' ' && s[pos] != '\t')
        ++pos;
    return s.substr(start, pos - start);
}

bool read_char(std::string_view s, std::size_t& pos, char c)
{
    if (pos < s.size() && s[pos] == c) {
        ++pos;
        return true;
    }
    return false;
}

}  // namespace

bool HttpRequest::is_head() const
{
    return text::iequals(method, "HEAD");
}

bool HttpRequest::is_post() const
{
    return text::iequals(method, "POST");
}

std::size_t find_header_end(std::string_view received)
{
    std::size_t at = received.find(terminator);
    return at == std::string_view::npos ? at : at + terminator.size();
}

HttpRequest parse_request(std::string_view header_text)
{
    HttpRequest request;
    request.status = 400;
    // A NUL byte has no place in a header; C-string handling further on
    // (file names, the CGI environment) would silently cut at it.
    if (header_text.find('\0') != std::string_view::npos)
        return request;
    auto lines = split_lines(header_text);
    if (lines.empty())
        return request;
    std::string_view line = lines.front();
    request.request_line = std::string(line);

    auto space = line.find(' ');
    if (space == std::string_view::npos)
        return request;
    std::string_view method = line.substr(0, space);
    request.method = std::string(method.substr(0, max_method));
    if (!text::iequals(method, "GET") && !text::iequals(method, "POST") && !text::iequals(method, "HEAD")) {
        request.status = 501;
        return request;
    }
    std::string_view rest = line.substr(space + 1);
    auto url_end = rest.find(' ');
    if (url_end == std::string_view::npos)
        return request;  // no protocol version
    std::string_view url = rest.substr(0, url_end);
    auto question = url.find('?');
    std::string_view path = url.substr(0, question);
    if (question != std::string_view::npos)
        request.query = std::string(url.substr(question + 1));
    // Files are found by appending the path to a directory: a path that does
    // not begin with "/" would name a sibling of that directory.
    if (path.empty() || path.front() != '/')
        return request;
    request.path = std::string(path);
    if (climbs_out(path)) {
        request.status = 403;
        return request;
    }

    request.status = 200;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::string_view header = lines[i];
        if (auto v = header_value(header, "Content-Length: ")) {
            bool had_digits = false;
            std::int64_t length = text::leading_number(*v, &had_digits);
            // A negative length is not a length at all; a huge one is
            // refused by the body limit before anything is read.
            if (length < 0) {
                request.status = 400;
                return request;
            }
            request.content_length = had_digits ? length : 0;
        } else if (auto ct = header_value(header, "Content-Type: ")) {
            request.content_type = std::string(*ct);
        } else if (auto ims = header_value(header, "If-Modified-Since: ")) {
            request.if_modified_since = parse_http_date(*ims);
        } else if (auto ua = header_value(header, "User-Agent: ")) {
            request.user_agent = std::string(*ua);
        } else if (auto cookie = header_value(header, "Cookie: ")) {
            request.cookie = std::string(*cookie);
        } else if (auto auth = header_value(header, "Authorization: ")) {
            request.authorization = std::string(*auth);
        } else if (auto host = header_value(header, "Host: ")) {
            request.host = std::string(*host);
        } else if (auto origin = header_value(header, "Origin: ")) {
            request.origin = std::string(*origin);
        } else if (auto referer = header_value(header, "Referer: ")) {
            request.referer = std::string(*referer);
        } else if (auto site = header_value(header, "Sec-Fetch-Site: ")) {
            request.fetch_site = std::string(*site);
        }
    }
    return request;
}

std::time_t parse_http_date(std::string_view value)
{
    // Day: the first run of digits.
    std::size_t pos = value.find_first_of("0123456789");
    if (pos == std::string_view::npos)
        return 0;
    auto day = read_digits(value, pos);
    if (!day || *day < 1 || *day > 31)
        return 0;
    // The next word must begin with a month name; the fixed-field form has
    // blanks around it, so "06-Nov-94" or an asctime date fails here.
    if (pos >= value.size() || (value[pos] != ' ' && value[pos] != '\t'))
        return 0;
    int month = text::month_number(read_word(value, pos));
    if (month == 0)
        return 0;
    skip_blanks(value, pos);
    auto year = read_digits(value, pos);
    if (!year)
        return 0;
    int y = *year > 1900 ? *year - 1900 : *year;
    if (y > 138)
        return 0;
    skip_blanks(value, pos);
    auto hour = read_digits(value, pos);
    if (!hour || !read_char(value, pos, ':'))
        return 0;
    auto minute = read_digits(value, pos);
    if (!minute || !read_char(value, pos, ':'))
        return 0;
    auto second = read_digits(value, pos);
    if (!second || *hour > 23 || *minute > 59 || *second > 59)
        return 0;
    std::string_view zone = read_word(value, pos).substr(0, 8);

    std::tm tm{};
    tm.tm_mday = *day;
    tm.tm_mon = month - 1;
    tm.tm_year = y;
    tm.tm_hour = *hour;
    tm.tm_min = *minute;
    tm.tm_sec = *second;
    std::time_t t = ::timegm(&tm);
    if (t == -1)
        return 0;
    int offset = text::zone_offset(zone);
    t -= static_cast<std::time_t>(offset / 100) * 3600 + static_cast<std::time_t>(offset % 100) * 60;
    return t > 0 ? t : 0;
}

std::string format_http_date(std::time_t t)
{
    return platform::format_utc(t, "%a, %d %b %Y %H:%M:%S GMT");
}

}  // namespace corvane::webserver
