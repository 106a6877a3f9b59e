#include "engine/store/mime/parameters.h"

#include <map>

#include "common/text/strings.h"
#include "engine/store/mime/charset.h"
#include "engine/store/mime/encoded_words.h"

namespace corvane::mime {

namespace {

// RFC 2231 continuations beyond this many segments are ignored.
constexpr int kMaxSegments = 100;

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

struct Parameter {
    std::string_view name;
    std::string value;
    bool quoted = false;
};

// Walks the parameters of a structured value in order; visit returns true
// to stop. The leading token (the type or disposition) is skipped.
template <typename Visit>
void for_each_parameter(std::string_view v, Visit visit)
{
    std::size_t i = 0;
    const std::size_t n = v.size();
    while (i < n && v[i] != ';' && !is_blank(v[i]))
        ++i;
    while (i < n) {
        while (i < n && (v[i] == ';' || is_blank(v[i])))
            ++i;
        std::size_t name_start = i;
        while (i < n && v[i] != '=' && v[i] != ';')
            ++i;
        Parameter p;
        p.name = text::trim(v.substr(name_start, i - name_start));
        if (i >= n || v[i] == ';')
            continue;
        ++i;  // "="
        while (i < n && is_blank(v[i]))
            ++i;
        if (i < n && v[i] == '"') {
            p.quoted = true;
            ++i;
            while (i < n && v[i] != '"') {
                if (v[i] == '\\' && i + 1 < n)
                    ++i;
                p.value.push_back(v[i]);
                ++i;
            }
            while (i < n && v[i] != ';')
                ++i;
        } else {
            std::size_t value_start = i;
            while (i < n && v[i] != ';')
                ++i;
            p.value.assign(text::trim(v.substr(value_start, i - value_start)));
        }
        if (visit(p))
            return;
    }
}

std::string percent_decode(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && text::hex_value(s[i + 1]) >= 0 && text::hex_value(s[i + 2]) >= 0) {
            out.push_back(static_cast<char>(text::hex_value(s[i + 1]) * 16 + text::hex_value(s[i + 2])));
            i += 2;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

struct Found {
    std::string value;
    bool quoted = false;
};

// The plain parameter, else its RFC 2231 form assembled and converted.
std::optional<Found> find_parameter(std::string_view header_value, std::string_view name)
{
    std::optional<Found> plain;
    for_each_parameter(header_value, [&](Parameter& p) {
        if (!text::iequals(p.name, name))
            return false;
        plain = Found{std::move(p.value), p.quoted};
        return true;
    });
    if (plain)
        return plain;

    struct Segment {
        std::string value;
        bool extended = false;
    };
    std::map<int, Segment> segments;
    for_each_parameter(header_value, [&](Parameter& p) {
        if (p.name.size() <= name.size() || p.name[name.size()] != '*' ||
            !text::iequals(p.name.substr(0, name.size()), name))
            return false;
        std::string_view rest = p.name.substr(name.size() + 1);
        Segment segment;
        if (!rest.empty() && rest.back() == '*') {
            segment.extended = true;
            rest.remove_suffix(1);
        }
        int number = 0;
        if (rest.empty()) {
            segment.extended = true;  // "name*=": one extended value
        } else {
            if (rest.size() > 2)
                return false;
            for (char c : rest) {
                if (c < '0' || c > '9')
                    return false;
                number = number * 10 + (c - '0');
            }
        }
        if (number < kMaxSegments && !segments.contains(number)) {
            segment.value = std::move(p.value);
            segments.emplace(number, std::move(segment));
        }
        return false;
    });
    if (segments.empty() || !segments.contains(0))
        return std::nullopt;

    std::string charset;
    std::string bytes;
    for (int i = 0; i < kMaxSegments; ++i) {
        auto it = segments.find(i);
        if (it == segments.end())
            break;
        std::string_view value = it->second.value;
        if (!it->second.extended) {
            bytes.append(value);
            continue;
        }
        if (i == 0) {
            // charset'language'value
            std::size_t q1 = value.find('\'');
            std::size_t q2 = q1 == std::string_view::npos ? q1 : value.find('\'', q1 + 1);
            if (q2 != std::string_view::npos) {
                charset.assign(value.substr(0, q1));
                value = value.substr(q2 + 1);
            }
        }
        bytes.append(percent_decode(value));
    }
    Found found;
    found.value = charset.empty() ? bytes : to_utf8(charset, bytes);
    found.quoted = true;  // an extended value is never a bare token
    return found;
}

std::string field(std::string_view value)
{
    std::string out = text::bounded(value, kMaxPartField);
    blank_record_breakers(out);
    return out;
}

}  // namespace

std::string content_type_of(std::string_view content_type, std::size_t max)
{
    std::string_view t = text::trim_left(content_type);
    std::size_t end = 0;
    while (end < t.size() && t[end] != ';' && !is_blank(t[end]))
        ++end;
    std::string out = text::bounded(t.substr(0, end), max);
    blank_record_breakers(out);
    return out;
}

std::optional<std::string> parameter_of(std::string_view header_value, std::string_view name)
{
    auto found = find_parameter(header_value, name);
    if (!found)
        return std::nullopt;
    return std::move(found->value);
}

std::string file_name_of(std::string_view header_value, std::string_view parameter_name)
{
    auto found = find_parameter(header_value, parameter_name);
    return found ? field(text::trim(found->value)) : std::string();
}

std::string content_id_of(std::string_view content_id)
{
    std::string_view id = text::trim(content_id);
    if (std::size_t lt = id.find('<'); lt != std::string_view::npos)
        id.remove_prefix(lt + 1);
    if (std::size_t gt = id.rfind('>'); gt != std::string_view::npos)
        id = id.substr(0, gt);
    std::string out;
    for (char c : id) {
        if (!is_blank(c))
            out.push_back(c);
    }
    return field(out);
}

std::string transfer_encoding_of(std::string_view transfer_encoding)
{
    return field(text::trim(transfer_encoding));
}

std::string charset_of(std::string_view content_type)
{
    auto found = find_parameter(content_type, "charset");
    if (!found)
        return {};
    std::string_view value = text::trim(found->value);
    std::size_t end = 0;
    while (end < value.size() && !is_blank(value[end]))
        ++end;
    return field(value.substr(0, end));
}

std::optional<std::string> boundary_of(std::string_view content_type)
{
    auto found = find_parameter(content_type, "boundary");
    if (!found)
        return std::nullopt;
    std::string_view boundary = found->value;
    if (!found->quoted) {
        std::size_t end = 0;
        while (end < boundary.size() && !is_blank(boundary[end]) &&
               std::string_view("()<>@,;:\\\"/[]?=").find(boundary[end]) == std::string_view::npos)
            ++end;
        boundary = boundary.substr(0, end);
    }
    if (boundary.empty())
        return std::nullopt;
    std::string out = "--";
    out.append(boundary);
    return out;
}

}  // namespace corvane::mime
